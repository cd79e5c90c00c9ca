// Admission of controllers by type code, selection of the image that fits an admitted
// controller, and the list of carried images. The bytes themselves come from LookupImage,
// which the program links from wherever it carries them (embedded data or resources).
#include "catalogue/catalogue.h"

#include <cstring>

#include "catalogue/sha256.h"

uint16_t ControllerVoltageClass = 0;
uint16_t ControllerCurrentClass = 0;
uint16_t ControllerFamily = 0;
uint16_t NewFirmwareVersion = 0;

void ResetSelectionCodes()
{
    ControllerVoltageClass = 0;
    ControllerCurrentClass = 0;
    ControllerFamily = 0;
    NewFirmwareVersion = 0;
}

namespace {

// Admission: the type code is compared as a whole with each row, in order; the first equal
// row decides. An admitted row's classes are written as they stand here, never taken apart
// from the code.
struct AdmissionRow {
    uint32_t TypeCode;
    AdmissionOutcome Outcome;
    uint16_t VoltageClass;
    uint16_t CurrentClass;
    uint16_t Family;
    uint16_t FirmwareVersion;
};

constexpr AdmissionRow kAdmissionTable[] = {
    // type code   outcome              voltage current family version
    {0x110FA0AA, ADMISSION_ADMITTED, 17, 170, 250, CARRIED_FIRMWARE_VERSION},
    {0x110FA0D2, ADMISSION_ADMITTED, 17, 210, 250, CARRIED_FIRMWARE_VERSION},
    {0x110FA0FA, ADMISSION_ADMITTED, 17, 250, 250, CARRIED_FIRMWARE_VERSION},
    {0x140FA0AA, ADMISSION_ADMITTED, 20, 170, 250, CARRIED_FIRMWARE_VERSION},
    {0x140FA0D2, ADMISSION_ADMITTED, 20, 210, 250, CARRIED_FIRMWARE_VERSION},
    {0x140FA0FA, ADMISSION_ADMITTED, 20, 250, 250, CARRIED_FIRMWARE_VERSION},
    {0x0A0640FA, ADMISSION_IGNORED, 0, 0, 0, 0},
};

const AdmissionRow* FindAdmissionRow(uint32_t typeCode)
{
    for (const AdmissionRow& row : kAdmissionTable) {
        if (row.TypeCode == typeCode) {
            return &row;
        }
    }
    return nullptr;
}

// Selection: exact equality on family and current class, and on the voltage class where the
// row names one. ANY_VOLTAGE_CLASS marks the rows that take every voltage class.
constexpr uint16_t ANY_VOLTAGE_CLASS = 0xFFFF;

struct SelectionRow {
    uint16_t Family;
    uint16_t CurrentClass;
    uint16_t VoltageClass;
    uint16_t ImageId;
};

constexpr SelectionRow kSelectionTable[] = {
    // family current voltage            image
    {3,   90,  ANY_VOLTAGE_CLASS, 200},
    {101, 40,  ANY_VOLTAGE_CLASS, 126},
    {101, 55,  ANY_VOLTAGE_CLASS, 127},
    {101, 70,  ANY_VOLTAGE_CLASS, 128},
    {101, 90,  ANY_VOLTAGE_CLASS, 130},
    {200, 160, ANY_VOLTAGE_CLASS, 119},
    {200, 200, ANY_VOLTAGE_CLASS, 120},
    {201, 200, ANY_VOLTAGE_CLASS, 152},
    {202, 200, ANY_VOLTAGE_CLASS, 153},
    {245, 160, ANY_VOLTAGE_CLASS, 154},
    {245, 200, ANY_VOLTAGE_CLASS, 155},
    {245, 300, ANY_VOLTAGE_CLASS, 156},
    {246, 200, 21,                178},
    {247, 200, 21,                179},
    {250, 170, 17,                158},
    {250, 170, 20,                174},
    {250, 210, 17,                157},
    {250, 210, 20,                173},
    {250, 220, 17,                150}, // the set carries no image 150
    {250, 220, 20,                150},
    {250, 250, 17,                151},
    {250, 250, 20,                172},
    {275, 200, ANY_VOLTAGE_CLASS, 159},
    {300, 80,  ANY_VOLTAGE_CLASS, 124},
    {300, 120, ANY_VOLTAGE_CLASS, 125},
    {400, 30,  ANY_VOLTAGE_CLASS, 131},
    {400, 40,  ANY_VOLTAGE_CLASS, 132},
    {400, 55,  ANY_VOLTAGE_CLASS, 133},
    {500, 60,  ANY_VOLTAGE_CLASS, 140},
    {500, 90,  ANY_VOLTAGE_CLASS, 141},
    {500, 140, ANY_VOLTAGE_CLASS, 142},
    {550, 90,  ANY_VOLTAGE_CLASS, 146},
    {550, 120, ANY_VOLTAGE_CLASS, 147},
    {550, 140, ANY_VOLTAGE_CLASS, 148},
    {600, 80,  ANY_VOLTAGE_CLASS, 160},
    {700, 60,  ANY_VOLTAGE_CLASS, 170},
    {700, 90,  ANY_VOLTAGE_CLASS, 171},
    {800, 180, 21,                177},
    {800, 220, 21,                176},
    {800, 260, 21,                175},
};

// The number of rows of image_set.inc, and a check of each row's size: the flash write
// command counts 32-bit words.
#define IMAGE(id, size) +1
constexpr uint32_t IMAGE_SET_ROWS = 0
#include "catalogue/image_set.inc"
    ;
#undef IMAGE
static_assert(IMAGE_SET_ROWS == IMAGE_COUNT, "image_set.inc must list IMAGE_COUNT images");

#define IMAGE(id, size) static_assert((size) % 4 == 0, "image " #id ": size not a multiple of 4");
#include "catalogue/image_set.inc"
#undef IMAGE

} // namespace

#define IMAGE(id, size) {(id), (size)},
const ImageInfo kImageSet[IMAGE_COUNT] = {
#include "catalogue/image_set.inc"
};
#undef IMAGE

AdmissionOutcome AdmitController(uint32_t typeCode)
{
    const AdmissionRow* row = FindAdmissionRow(typeCode);
    if (row == nullptr) {
        return ADMISSION_INCOMPATIBLE;
    }
    if (row->Outcome == ADMISSION_ADMITTED) {
        ControllerVoltageClass = row->VoltageClass;
        ControllerCurrentClass = row->CurrentClass;
        ControllerFamily = row->Family;
        NewFirmwareVersion = row->FirmwareVersion;
    }
    return row->Outcome;
}

uint16_t NewFirmwareVersionFor(uint32_t typeCode)
{
    const AdmissionRow* row = FindAdmissionRow(typeCode);
    if (row != nullptr && row->Outcome == ADMISSION_ADMITTED) {
        NewFirmwareVersion = row->FirmwareVersion;
    }
    return NewFirmwareVersion;
}

uint16_t SelectImage(uint16_t family, uint16_t currentClass, uint16_t voltageClass)
{
    for (const SelectionRow& row : kSelectionTable) {
        if (row.Family == family && row.CurrentClass == currentClass &&
            (row.VoltageClass == ANY_VOLTAGE_CLASS || row.VoltageClass == voltageClass)) {
            return row.ImageId;
        }
    }
    return FALLBACK_IMAGE_ID;
}

bool ImageIsCarried(uint16_t id)
{
    for (const ImageInfo& info : kImageSet)
        if (info.Id == id) return true;
    return false;
}

bool ImageMatchesItsDigest(uint16_t id, const uint8_t* bytes, uint32_t size)
{
    for (const ImageDigest& carried : kImageDigests) {
        if (carried.Id != id) continue;
        uint8_t digest[SHA256_DIGEST_SIZE];
        Sha256(bytes, size, digest);
        return std::memcmp(digest, carried.Sha256, SHA256_DIGEST_SIZE) == 0;
    }
    return false;
}
