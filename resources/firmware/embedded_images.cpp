// LookupImage over the images embedded by the generated images.S: each image lies between
// velquor_image_<id> and velquor_image_<id>_end in read-only data.
#include "catalogue/catalogue.h"

#define IMAGE(id, size) extern "C" const uint8_t velquor_image_##id[], velquor_image_##id##_end[];
#include "catalogue/image_set.inc"
#undef IMAGE

namespace {

struct EmbeddedImage {
    uint16_t Id;
    const uint8_t* Begin;
    const uint8_t* End;
};

#define IMAGE(id, size) {(id), velquor_image_##id, velquor_image_##id##_end},
const EmbeddedImage kEmbeddedImages[] = {
#include "catalogue/image_set.inc"
};
#undef IMAGE

} // namespace

bool LookupImage(uint16_t id, const uint8_t** bytes, uint32_t* size)
{
    for (const EmbeddedImage& image : kEmbeddedImages) {
        if (image.Id == id) {
            *bytes = image.Begin;
            *size = static_cast<uint32_t>(image.End - image.Begin);
            return true;
        }
    }
    *bytes = nullptr;
    *size = 0;
    return false;
}
