// Which controllers this updater admits, which carried firmware image fits each, and the
// lookup of an image's bytes by id.
#pragma once

#include <cstdint>

// The type name and the version of the firmware this updater carries (1.25).
#define SUPPORTED_TYPE_NAME u"ORVANT QX"
constexpr uint16_t CARRIED_FIRMWARE_VERSION = 281;

// Selection codes, process-wide, zero at start; written only by admission (and
// NewFirmwareVersion also by NewFirmwareVersionFor).
extern uint16_t ControllerVoltageClass;
extern uint16_t ControllerCurrentClass;
extern uint16_t ControllerFamily;
extern uint16_t NewFirmwareVersion;
// All four back to zero, as at the program's start.
void ResetSelectionCodes();

enum AdmissionOutcome { ADMISSION_ADMITTED, ADMISSION_IGNORED, ADMISSION_INCOMPATIBLE };

// Compares the type code with the admission table; on Admitted writes all four selection codes.
AdmissionOutcome AdmitController(uint32_t typeCode);

// Sets NewFirmwareVersion to 281 for the six admitted type codes, leaves it otherwise; returns it.
uint16_t NewFirmwareVersionFor(uint32_t typeCode);

// The image id for a family and its classes; 122 when no row matches.
constexpr uint16_t FALLBACK_IMAGE_ID = 122;
uint16_t SelectImage(uint16_t family, uint16_t currentClass, uint16_t voltageClass);

// The carried image set.
constexpr uint32_t IMAGE_COUNT = 41;
struct ImageInfo {
    uint16_t Id;
    uint32_t Size;
};
extern const ImageInfo kImageSet[IMAGE_COUNT];

// Whether the set carries an image of that id.
bool ImageIsCarried(uint16_t id);

// The bytes and size of the image with that id. False, with null and 0, when the set carries
// no image of that id, or when an edge that fetches its images (the page) could not get it;
// ImageIsCarried tells the two apart. The bytes are read in place and never freed.
bool LookupImage(uint16_t id, const uint8_t** bytes, uint32_t* size);

// The SHA-256 of every carried image, taken by the build (generated, in the order of the set).
struct ImageDigest {
    uint16_t Id;
    uint8_t Sha256[32];
};
extern const ImageDigest kImageDigests[IMAGE_COUNT];

// Whether `size` bytes at `bytes` are image `id` as the build carried it.
bool ImageMatchesItsDigest(uint16_t id, const uint8_t* bytes, uint32_t size);

// Facts of the build: whether the carried images are the generated stand-ins (no folder of the
// maker's images was given), and whether this build may write stand-ins to a real unit (made
// only for the tests on real HID stacks).
bool CarriedImagesAreStandIns();
bool StandInImagesAllowedOnRealUnits();
