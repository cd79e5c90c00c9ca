// velquor_make_images <folder>: writes the stand-in firmware image set, one file <id>.bin per
// image of catalogue/image_set.inc, each of exactly the listed size. Used when the build is
// given no folder of the maker's images.
//
// Contents, a function of the id alone, so that every image differs from every other and a
// test can recompute any of them: the image is a sequence of 32-bit little-endian words.
// Word 0 is the id. The following words are the successive states of a xorshift32 generator
// (shifts 13, 17, 5) started at (id + 1) * 0x9E3779B9 modulo 2^32; word 1 is the first state
// after the start.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct ImageRow {
    uint16_t Id;
    uint32_t Size;
};

#define IMAGE(id, size) {(id), (size)},
constexpr ImageRow kImages[] = {
#include "catalogue/image_set.inc"
};
#undef IMAGE

constexpr bool AllSizesWholeWords()
{
    for (const ImageRow& image : kImages) {
        if (image.Size % 4 != 0) {
            return false;
        }
    }
    return true;
}
static_assert(AllSizesWholeWords(), "every image size must be a multiple of 4");

constexpr size_t PATH_BUFFER_SIZE = 4096;
constexpr uint32_t WORDS_PER_CHUNK = 1024;

uint32_t NextState(uint32_t state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void PutWord(uint8_t* out, uint32_t word)
{
    out[0] = static_cast<uint8_t>(word);
    out[1] = static_cast<uint8_t>(word >> 8);
    out[2] = static_cast<uint8_t>(word >> 16);
    out[3] = static_cast<uint8_t>(word >> 24);
}

// Writes one image; false (with a message on stderr) when the file cannot be written whole.
bool WriteImage(const char* folder, const ImageRow& image)
{
    char path[PATH_BUFFER_SIZE];
    int length = std::snprintf(path, sizeof path, "%s/%u.bin", folder, static_cast<unsigned>(image.Id));
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
        std::fprintf(stderr, "velquor_make_images: output path too long: %s\n", folder);
        return false;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "velquor_make_images: cannot create %s: %s\n", path, std::strerror(errno));
        return false;
    }

    uint8_t chunk[WORDS_PER_CHUNK * 4];
    uint32_t state = (static_cast<uint32_t>(image.Id) + 1u) * 0x9E3779B9u;
    uint32_t wordCount = image.Size / 4;
    bool ok = true;
    for (uint32_t first = 0; ok && first < wordCount; first += WORDS_PER_CHUNK) {
        uint32_t inChunk = wordCount - first < WORDS_PER_CHUNK ? wordCount - first : WORDS_PER_CHUNK;
        for (uint32_t i = 0; i < inChunk; ++i) {
            uint32_t word;
            if (first + i == 0) {
                word = image.Id;
            } else {
                state = NextState(state);
                word = state;
            }
            PutWord(chunk + 4 * i, word);
        }
        ok = std::fwrite(chunk, 4, inChunk, file) == inChunk;
    }
    if (std::fclose(file) != 0) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "velquor_make_images: cannot write %s\n", path);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velquor_make_images <output folder>\n");
        return 2;
    }
    for (const ImageRow& image : kImages) {
        if (!WriteImage(argv[1], image)) {
            return 1;
        }
    }
    return 0;
}
