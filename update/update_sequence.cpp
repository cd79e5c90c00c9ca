// The update engine: the two confirmations, the image that fits the controller, the flash
// commands with their pauses and the data loop; the outcome goes back to the caller.
#include <cstring>

#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "link/flash_commands.h"
#include "update/update.h"

namespace {

constexpr uint32_t COMMAND_PAUSE_MS = 20;
constexpr uint32_t AFTER_ERASE_PAUSE_MS = 4000;
constexpr uint32_t BLOCK_BYTES = 48;

// The controller a run is started for, as it is when Update is pressed: its identity, the
// version it carries and the image the catalogue selects for it.
struct ControllerSnapshot {
    uint8_t Identity[CONTROLLER_IDENTITY_SIZE];
    uint16_t Firmware;
    uint16_t ImageId;
};

uint16_t SelectedImageId() { return SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass); }

ControllerSnapshot TakeSnapshot()
{
    ControllerSnapshot snapshot;
    std::memcpy(snapshot.Identity, g_Link.ControllerIdentity, sizeof snapshot.Identity);
    snapshot.Firmware = ControllerFirmwareVersion();
    snapshot.ImageId = SelectedImageId();
    return snapshot;
}

bool SameController(const ControllerSnapshot& a, const ControllerSnapshot& b)
{
    return std::memcmp(a.Identity, b.Identity, sizeof a.Identity) == 0 && a.Firmware == b.Firmware &&
           a.ImageId == b.ImageId;
}

// Ends the outcome as a failure of `step`, taking the system's last error now.
UpdateOutcome& Failed(UpdateOutcome& outcome, UpdateStep step, LinkResult result)
{
    outcome.End = UPDATE_FAILED;
    outcome.FailedStep = step;
    outcome.Result = result;
    outcome.SystemError = g_Hid->LastError();
    // Once the erase was sent, the controller's application may be gone or incomplete.
    outcome.FirmwareAfter = step >= UPDATE_STEP_ERASE ? FIRMWARE_VERSION_NONE : ControllerFirmwareVersion();
    return outcome;
}

// Sends the whole image in blocks of 48 bytes, the last one padded with 0xFF. Returns the
// first failing block's result (the system error taken at once into the outcome), or success.
LinkResult SendImage(const uint8_t* image, uint32_t imageSize, const UpdateFrontEnd& frontEnd,
                     UpdateOutcome& outcome)
{
    uint32_t remaining = imageSize;
    const uint8_t* position = image;
    while (remaining != 0) {
        LinkResult result;
        if (remaining >= BLOCK_BYTES) {
            result = WriteDataBlock(position, BLOCK_BYTES / 4);
            position += BLOCK_BYTES;
            remaining -= BLOCK_BYTES;
        } else {
            uint8_t lastBlock[BLOCK_BYTES];
            std::memset(lastBlock, 0xFF, sizeof lastBlock);
            std::memcpy(lastBlock, position, remaining);
            result = WriteDataBlock(lastBlock, remaining / 4);
            remaining = 0;
        }
        if (!IsOk(result)) {
            outcome.SystemError = g_Hid->LastError();
            return result;
        }
        ++outcome.BlocksSent;
        frontEnd.BlockSent((imageSize - remaining) * 100u / imageSize);
        g_Hid->Sleep(COMMAND_PAUSE_MS);
    }
    return LinkSucceeded();
}

}  // namespace

uint32_t TransferBlockCount(uint32_t imageSize) { return (imageSize + BLOCK_BYTES - 1) / BLOCK_BYTES; }

uint32_t PlannedTransferBlocks()
{
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!LookupImage(SelectedImageId(), &image, &size)) return 0;
    return TransferBlockCount(size);
}

UpdateOutcome RunUpdate(const UpdateFrontEnd& frontEnd)
{
    UpdateOutcome outcome = {UPDATE_SUCCEEDED, UPDATE_STEP_NONE, LinkSucceeded(), 0, 0, 0, 0, 0, false};
    outcome.FirmwareBefore = ControllerFirmwareVersion();
    outcome.FirmwareAfter = outcome.FirmwareBefore;
    if (!LinkIsOpen()) return Failed(outcome, UPDATE_STEP_NO_UNIT, LinkFailed(LINK_NO_DEVICE));
    // Nothing to confirm: this build can't update a real controller at all.
    if (!CarriedImagesMayBeWritten()) return Failed(outcome, UPDATE_STEP_TEST_IMAGES, LinkFailed(LINK_NO_DEVICE));
    const ControllerSnapshot startedFor = TakeSnapshot();

    if (!frontEnd.ConfirmWarning()) {
        outcome.End = UPDATE_DECLINED_AT_WARNING;
        return outcome;
    }

    uint16_t carried = NewFirmwareVersionFor(ControllerTypeCode());
    uint16_t installed = ControllerFirmwareVersion();
    if (installed != FIRMWARE_VERSION_NONE && installed >= carried && !frontEnd.ConfirmReinstall()) {
        outcome.End = UPDATE_DECLINED_AT_REINSTALL;
        return outcome;
    }

    // While a box was open, the unit may have been pulled out and another plugged in: its
    // controller must never receive the image chosen for the first. (A unit that is simply gone
    // fails at the first command, as it always has.)
    if (LinkIsOpen() && !SameController(startedFor, TakeSnapshot()))
        return Failed(outcome, UPDATE_STEP_CONTROLLER_CHANGED, LinkFailed(LINK_NO_DEVICE));

    // The image must be there before anything is sent: without it the controller would be
    // erased and left empty.
    const uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    if (!LookupImage(SelectedImageId(), &image, &imageSize) || imageSize == 0) {
        const UpdateStep step = ImageIsCarried(SelectedImageId()) ? UPDATE_STEP_IMAGE_UNAVAILABLE : UPDATE_STEP_NO_IMAGE;
        return Failed(outcome, step, LinkFailed(LINK_NO_DEVICE));
    }
    // Nor may a damaged one be written: the bytes must be those the build carried.
    if (!ImageMatchesItsDigest(SelectedImageId(), image, imageSize))
        return Failed(outcome, UPDATE_STEP_IMAGE_DAMAGED, LinkFailed(LINK_NO_DEVICE));
    outcome.BlockCount = TransferBlockCount(imageSize);

    frontEnd.FlashCommandsStarting();
    LinkResult result = SetSystemLock();
    if (!IsOk(result)) return Failed(outcome, UPDATE_STEP_LOCK, result);
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = WriteProtectOff();
    if (!IsOk(result)) return Failed(outcome, UPDATE_STEP_PROTECT_OFF, result);
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = EraseFirmware();
    g_Hid->Sleep(AFTER_ERASE_PAUSE_MS);
    // The system error is taken after the pause, as the erase's failure is only known then.
    if (!IsOk(result)) return Failed(outcome, UPDATE_STEP_ERASE, result);
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = SetWriteAddress();
    if (!IsOk(result)) return Failed(outcome, UPDATE_STEP_ADDRESS, result);
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    frontEnd.TransferStarting();
    result = SendImage(image, imageSize, frontEnd, outcome);
    frontEnd.TransferEnded();
    if (!IsOk(result)) {
        outcome.End = UPDATE_FAILED;
        outcome.FailedStep = UPDATE_STEP_BLOCK;
        outcome.Result = result;  // the system error was taken at the block
        outcome.FirmwareAfter = FIRMWARE_VERSION_NONE;
        return outcome;
    }

    // Protection on seals what was written; without it the controller is not finished. The
    // unlock follows either way, and its failure alone leaves the unit locked but the
    // controller sealed.
    LinkResult sealed = WriteProtectOn();
    uint32_t sealError = g_Hid->LastError();
    outcome.UnitLeftLocked = !IsOk(ReleaseSystemLock());
    if (!IsOk(sealed)) {
        Failed(outcome, UPDATE_STEP_PROTECT_ON, sealed);
        outcome.SystemError = sealError;
        return outcome;
    }

    SetControllerFirmwareVersion(NewFirmwareVersion);
    outcome.FirmwareAfter = NewFirmwareVersion;
    return outcome;
}

bool CarriedImagesMayBeWritten()
{
    return !CarriedImagesAreStandIns() || StandInImagesAllowedOnRealUnits() || g_Hid->IsSimulation();
}
