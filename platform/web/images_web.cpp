// LookupImage for the page: the carried images lie beside it, one file images/<id>.bin each,
// and the page fetches only the one it is asked for (from the page's store when its service
// worker has stored the version, else from the server). An image is kept for the page's life,
// as the programs keep theirs in their own file, only once it is the image the build carried:
// an answer that is not the image (a server's error page, a captive portal's login page, a
// damaged copy) is never kept, and the next try fetches again. A visitor who updates nothing
// loads no image.
#include <emscripten.h>

#include <cstdlib>

#include "catalogue/catalogue.h"

namespace {

// The image's size in bytes, or -1 when it could not be fetched (no network, an error status).
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
// The last answer of the right size that is not the carried image: lent to the update, which
// refuses it as damaged, and freed at the next lookup.
uint8_t* g_Refused = nullptr;

uint32_t CarriedSize(uint16_t id)
{
    for (const ImageInfo& info : kImageSet)
        if (info.Id == id) return info.Size;
    return 0;
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
    std::free(g_Refused);
    g_Refused = nullptr;
    const uint32_t carriedSize = CarriedSize(id);
    if (carriedSize == 0 || g_FetchedCount == IMAGE_COUNT) return false;
    // An answer of another size is not the image at all: the image could not be downloaded.
    int32_t fetched = JsFetchImage(id);
    if (fetched <= 0 || static_cast<uint32_t>(fetched) != carriedSize) return false;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(carriedSize));
    if (copy == nullptr) return false;
    JsTakeImage(copy);
    *bytes = copy;
    *size = carriedSize;
    if (!ImageMatchesItsDigest(id, copy, carriedSize)) {
        g_Refused = copy;
        return true;
    }
    g_Fetched[g_FetchedCount++] = {id, copy, carriedSize};
    return true;
}
