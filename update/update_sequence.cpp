// The update: two confirmations, the image that fits the controller, the flash commands with
// their pauses, the data loop with its progress window, and success or a failure report.
#include <cstring>

#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "link/flash_commands.h"
#include "resources/resource_ids.h"

namespace {

constexpr uint32_t COMMAND_PAUSE_MS = 20;
constexpr uint32_t AFTER_ERASE_PAUSE_MS = 4000;
constexpr uint32_t BLOCK_BYTES = 48;
constexpr int32_t PROGRESS_WIDTH = 400;
constexpr int32_t PROGRESS_HEIGHT = 50;

// Loads the caption and `textId` and hands them to the failure report with the codes.
void Fail(uint32_t textId, int32_t resultCode, uint32_t systemError)
{
    char16_t caption[TEXT_BUFFER_SIZE];
    char16_t text[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_UPDATE_FAILED_CAPTION, caption, TEXT_BUFFER_SIZE);
    g_Ui->LoadText(textId, text, TEXT_BUFFER_SIZE);
    // The failure report's box handles device changes as they come, like every box.
    EndFlashCommands();
    FailureReport(text, caption, resultCode, systemError);
}

int32_t Ask(uint32_t captionId, uint32_t textId, uint32_t flags)
{
    char16_t caption[TEXT_BUFFER_SIZE];
    char16_t text[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(captionId, caption, TEXT_BUFFER_SIZE);
    g_Ui->LoadText(textId, text, TEXT_BUFFER_SIZE);
    return g_Ui->ShowMessageBox(g_MainWindow, text, caption, flags);
}

// Brings the main dialog and then the progress window to the top; the progress window ends up
// active.
void RaiseBoth(UiWindow progress)
{
    g_Ui->RaiseWindow(g_MainWindow);
    if (progress != 0) g_Ui->RaiseWindow(progress);
}

// The main dialog or the progress window (none is neither).
bool IsOneOf(UiWindow window, UiWindow progress)
{
    return window != 0 && (window == g_MainWindow || window == progress);
}

UiWindow OpenProgressWindow()
{
    UiRect rect = {0, 0, 0, 0};
    g_Ui->GetWindowRect(g_MainWindow, &rect);
    char16_t title[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_PROGRESS_TITLE, title, TEXT_BUFFER_SIZE);
    int32_t x = rect.Left + ((rect.Right - rect.Left) >> 1) - PROGRESS_WIDTH / 2;
    int32_t y = rect.Top + ((rect.Bottom - rect.Top) >> 1) - PROGRESS_HEIGHT / 2;
    UiWindow progress = g_Ui->CreateProgressWindow(g_MainWindow, title, x, y, PROGRESS_WIDTH, PROGRESS_HEIGHT);
    // A window that can't be created is no failure: the transfer runs without it.
    if (progress != 0) g_Ui->SetProgressPosition(progress, 0);
    RaiseBoth(progress);
    return progress;
}

// Sends the whole image in blocks of 48 bytes, the last one padded with 0xFF. Returns 0, or
// the failing block's result with the system error code in *systemError.
int32_t SendImage(const uint8_t* image, uint32_t imageSize, UiWindow progress, uint32_t* systemError)
{
    uint32_t remaining = imageSize;
    const uint8_t* position = image;
    UiWindow rememberedForeground = 0;
    while (remaining != 0) {
        int32_t result;
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
        if (result != LINK_OK) {
            *systemError = g_Hid->LastError();
            return result;
        }

        if (progress != 0) g_Ui->SetProgressPosition(progress, (imageSize - remaining) * 100u / imageSize);

        // Once, after the first block at which one of the two windows is in front, raise and
        // show both so that the progress stays visible.
        if (!IsOneOf(rememberedForeground, progress)) {
            UiWindow foreground = g_Ui->GetForegroundWindow();
            if (IsOneOf(foreground, progress)) {
                rememberedForeground = foreground;
                RaiseBoth(progress);
                g_Ui->ShowWindow(g_MainWindow);
                if (progress != 0) g_Ui->ShowWindow(progress);
            }
        }

        g_Hid->Sleep(COMMAND_PAUSE_MS);
    }
    return LINK_OK;
}

// The controller an update is started for, as it is when Update is pressed: its identity, the
// version it carries and the image the catalogue selects for it.
struct ControllerSnapshot {
    uint8_t Identity[CONTROLLER_IDENTITY_SIZE];
    uint16_t Firmware;
    uint16_t ImageId;
};

ControllerSnapshot TakeSnapshot()
{
    ControllerSnapshot snapshot;
    std::memcpy(snapshot.Identity, g_Link.ControllerIdentity, sizeof snapshot.Identity);
    snapshot.Firmware = ControllerFirmwareVersion();
    snapshot.ImageId = SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass);
    return snapshot;
}

bool SameController(const ControllerSnapshot& a, const ControllerSnapshot& b)
{
    return std::memcmp(a.Identity, b.Identity, sizeof a.Identity) == 0 && a.Firmware == b.Firmware &&
           a.ImageId == b.ImageId;
}

void RunUpdate()
{
    if (!LinkIsOpen()) {
        Fail(TEXT_UNIT_NOT_DETECTED, LINK_NO_DEVICE, g_Hid->LastError());
        return;
    }
    const ControllerSnapshot startedFor = TakeSnapshot();

    if (Ask(TEXT_WARNING_CAPTION, TEXT_WARNING, BOX_ICONWARNING | BOX_OKCANCEL) != ANSWER_OK) return;

    uint16_t carried = NewFirmwareVersionFor(ControllerTypeCode());
    uint16_t installed = ControllerFirmwareVersion();
    if (installed != FIRMWARE_VERSION_NONE && installed >= carried) {
        if (Ask(TEXT_NEWER_FIRMWARE_CAPTION, TEXT_OLDER_FIRMWARE_QUESTION, BOX_ICONWARNING | BOX_YESNO) != ANSWER_YES)
            return;
    }

    // While a box was open, the unit may have been pulled out and another plugged in: its
    // controller must never receive the image chosen for the first. (A unit that is simply gone
    // fails at the first command, as it always has.)
    if (LinkIsOpen() && !SameController(startedFor, TakeSnapshot())) {
        Fail(TEXT_CONTROLLER_CHANGED, LINK_NO_DEVICE, g_Hid->LastError());
        return;
    }

    // The image must be there before anything is sent: without it the controller would be
    // erased and left empty.
    const uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    if (!LookupImage(SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass), &image, &imageSize) ||
        imageSize == 0) {
        Fail(TEXT_NO_IMAGE_FOR_CONTROLLER, LINK_NO_DEVICE, g_Hid->LastError());
        return;
    }

    BeginFlashCommands();
    int32_t result = SetSystemLock();
    if (result != LINK_OK) {
        Fail(TEXT_LOCK_FAILED, result, g_Hid->LastError());
        return;
    }
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = WriteProtectOff();
    if (result != LINK_OK) {
        Fail(TEXT_PROTECT_OFF_FAILED_STEP, result, g_Hid->LastError());
        return;
    }
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = EraseFirmware();
    g_Hid->Sleep(AFTER_ERASE_PAUSE_MS);
    if (result != LINK_OK) {
        Fail(TEXT_ERASE_FAILED, result, g_Hid->LastError());
        return;
    }
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    result = SetWriteAddress();
    if (result != LINK_OK) {
        Fail(TEXT_ADDRESS_FAILED, result, g_Hid->LastError());
        return;
    }
    g_Hid->Sleep(COMMAND_PAUSE_MS);

    UiWindow progress = OpenProgressWindow();
    uint32_t systemError = 0;
    result = SendImage(image, imageSize, progress, &systemError);
    if (progress != 0) g_Ui->DestroyWindow(progress);
    if (result != LINK_OK) {
        Fail(TEXT_BLOCK_FAILED, result, systemError);
        return;
    }

    // Their outcome is not looked at: the image is written.
    WriteProtectOn();
    ReleaseSystemLock();

    SetControllerFirmwareVersion(NewFirmwareVersion);
    g_Ui->EnableControl(IDC_UPDATE, false);
    RefreshVersionPanel();
    char16_t text[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_UPDATE_SUCCESS, text, TEXT_BUFFER_SIZE);
    g_Ui->SetControlText(IDC_HINTBOX, text);
}

}  // namespace

void UpdateSequence()
{
    BeginUpdateRun();
    RunUpdate();
    EndUpdateRun();
}
