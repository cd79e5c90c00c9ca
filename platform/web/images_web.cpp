// LookupImage for the page: the carried images lie beside it, one file images/<id>.bin each,
// and the page fetches only the one it is asked for, once; it keeps it for the page's life, as
// the programs keep theirs in their own file. A visitor who updates nothing loads no image.
#include <emscripten.h>

#include <cstdlib>

#include "catalogue/catalogue.h"

namespace {

// The image's size in bytes, or -1 when the page has no such image (or it could not be read).
EM_ASYNC_JS(int32_t, JsFetchImage, (uint32_t id), { return await VelquorPage.fetchImage(id); });

// Copies the image fetched last into `out`.
EM_JS(void, JsTakeImage, (uint8_t* out), { HEAPU8.set(VelquorPage.takeImage(), out); });

struct FetchedImage {
    uint16_t Id;
    const uint8_t* Bytes;
    uint32_t Size;
};

FetchedImage g_Fetched[IMAGE_COUNT];
uint32_t g_FetchedCount = 0;

bool Carried(uint16_t id)
{
    for (const ImageInfo& info : kImageSet)
        if (info.Id == id) return true;
    return false;
}

}  // namespace

bool LookupImage(uint16_t id, const uint8_t** bytes, uint32_t* size)
{
    *bytes = nullptr;
    *size = 0;
    for (uint32_t i = 0; i < g_FetchedCount; ++i) {
        if (g_Fetched[i].Id == id) {
            *bytes = g_Fetched[i].Bytes;
            *size = g_Fetched[i].Size;
            return true;
        }
    }
    if (!Carried(id) || g_FetchedCount == IMAGE_COUNT) return false;
    int32_t fetched = JsFetchImage(id);
    if (fetched <= 0) return false;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(fetched)));
    if (copy == nullptr) return false;
    JsTakeImage(copy);
    g_Fetched[g_FetchedCount++] = {id, copy, static_cast<uint32_t>(fetched)};
    *bytes = copy;
    *size = static_cast<uint32_t>(fetched);
    return true;
}
