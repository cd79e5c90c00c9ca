// Test equipment: writes the firmware image that the updater selects for a controller type
// code to a file, so that the end-to-end test can compare the unit's flash with it.
//
//   velquor-expected-image TYPE_CODE FILE
#include <cstdio>
#include <cstdlib>

#include "catalogue/catalogue.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: velquor-expected-image TYPE_CODE FILE\n", stderr);
        return 2;
    }
    uint32_t typeCode = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0));
    if (AdmitController(typeCode) != ADMISSION_ADMITTED) {
        std::fprintf(stderr, "velquor-expected-image: type 0x%08x is not admitted\n", typeCode);
        return 1;
    }
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!LookupImage(SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass), &bytes, &size))
        return 1;
    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) return 1;
    bool ok = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
