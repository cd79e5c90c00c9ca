// The dialog's side of an update: the two confirmation boxes, the progress window and its
// stacking, and what the dialog shows of the engine's outcome.
#include "app/app.h"
#include "record/recorder.h"
#include "app/texts.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"
#include "update/update.h"

namespace {

constexpr int32_t PROGRESS_WIDTH = 400;
constexpr int32_t PROGRESS_HEIGHT = 50;

// The progress window of the transfer under way, and the window remembered in front.
struct TransferWindows {
    UiWindow Progress;
    UiWindow RememberedForeground;
};

TransferWindows g_Transfer = {0, 0};

int32_t Ask(uint32_t captionId, uint32_t textId, uint32_t flags)
{
    char16_t caption[TEXT_BUFFER_SIZE];
    char16_t text[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(captionId, caption, TEXT_BUFFER_SIZE);
    g_Ui->LoadText(textId, text, TEXT_BUFFER_SIZE);
    return g_Ui->ShowMessageBox(g_MainWindow, text, caption, flags);
}

bool ConfirmWarning() { return Ask(TEXT_WARNING_CAPTION, TEXT_WARNING, BOX_ICONWARNING | BOX_OKCANCEL) == ANSWER_OK; }

bool ConfirmReinstall()
{
    return Ask(TEXT_NEWER_FIRMWARE_CAPTION, TEXT_OLDER_FIRMWARE_QUESTION, BOX_ICONWARNING | BOX_YESNO) == ANSWER_YES;
}

// Brings the main dialog and then the progress window to the top; the progress window ends up
// active.
void RaiseBoth()
{
    g_Ui->RaiseWindow(g_MainWindow);
    if (g_Transfer.Progress != 0) g_Ui->RaiseWindow(g_Transfer.Progress);
}

// The main dialog or the progress window (none is neither).
bool IsOneOf(UiWindow window)
{
    return window != 0 && (window == g_MainWindow || window == g_Transfer.Progress);
}

void OpenProgressWindow()
{
    UiRect rect = {0, 0, 0, 0};
    g_Ui->GetWindowRect(g_MainWindow, &rect);
    char16_t title[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_PROGRESS_TITLE, title, TEXT_BUFFER_SIZE);
    int32_t x = rect.Left + ((rect.Right - rect.Left) >> 1) - PROGRESS_WIDTH / 2;
    int32_t y = rect.Top + ((rect.Bottom - rect.Top) >> 1) - PROGRESS_HEIGHT / 2;
    g_Transfer.Progress = g_Ui->CreateProgressWindow(g_MainWindow, title, x, y, PROGRESS_WIDTH, PROGRESS_HEIGHT);
    g_Transfer.RememberedForeground = 0;
    // A window that can't be created is no failure: the transfer runs without it.
    if (g_Transfer.Progress != 0) g_Ui->SetProgressPosition(g_Transfer.Progress, 0);
    RaiseBoth();
}

void ShowBlockSent(uint32_t percent)
{
    if (g_Transfer.Progress != 0) g_Ui->SetProgressPosition(g_Transfer.Progress, percent);

    // Once, after the first block at which one of the two windows is in front, raise and show
    // both so that the progress stays visible.
    if (!IsOneOf(g_Transfer.RememberedForeground)) {
        UiWindow foreground = g_Ui->GetForegroundWindow();
        if (IsOneOf(foreground)) {
            g_Transfer.RememberedForeground = foreground;
            RaiseBoth();
            g_Ui->ShowWindow(g_MainWindow);
            if (g_Transfer.Progress != 0) g_Ui->ShowWindow(g_Transfer.Progress);
        }
    }
}

void CloseProgressWindow()
{
    if (g_Transfer.Progress != 0) g_Ui->DestroyWindow(g_Transfer.Progress);
    g_Transfer = {0, 0};
}

const UpdateFrontEnd kDialogFrontEnd = {
    ConfirmWarning, ConfirmReinstall, BeginFlashCommands, OpenProgressWindow, ShowBlockSent, CloseProgressWindow,
};

uint32_t FailureText(UpdateStep step)
{
    switch (step) {
    case UPDATE_STEP_NO_UNIT: return TEXT_UNIT_NOT_DETECTED;
    case UPDATE_STEP_CONTROLLER_CHANGED: return TEXT_CONTROLLER_CHANGED;
    case UPDATE_STEP_NO_IMAGE: return TEXT_NO_IMAGE_FOR_CONTROLLER;
    case UPDATE_STEP_LOCK: return TEXT_LOCK_FAILED;
    case UPDATE_STEP_PROTECT_OFF: return TEXT_PROTECT_OFF_FAILED_STEP;
    case UPDATE_STEP_ERASE: return TEXT_ERASE_FAILED;
    case UPDATE_STEP_ADDRESS: return TEXT_ADDRESS_FAILED;
    case UPDATE_STEP_TEST_IMAGES: return TEXT_TEST_IMAGES_REFUSED;
    case UPDATE_STEP_IMAGE_DAMAGED: return TEXT_IMAGE_DAMAGED;
    case UPDATE_STEP_IMAGE_UNAVAILABLE: return TEXT_IMAGE_NOT_DOWNLOADED;
    case UPDATE_STEP_PROTECT_ON: return TEXT_PROTECT_ON_FAILED_STEP;
    case UPDATE_STEP_BLOCK:
    case UPDATE_STEP_NONE: break;
    }
    return TEXT_BLOCK_FAILED;
}

void ShowOutcome(const UpdateOutcome& outcome)
{
    switch (outcome.End) {
    case UPDATE_SUCCEEDED: {
        g_Ui->EnableControl(IDC_UPDATE, false);
        RefreshVersionPanel();
        char16_t text[TEXT_BUFFER_SIZE];
        g_Ui->LoadText(TEXT_UPDATE_SUCCESS, text, TEXT_BUFFER_SIZE);
        g_Ui->SetControlText(IDC_HINTBOX, text);
        break;
    }
    case UPDATE_FAILED: {
        char16_t caption[TEXT_BUFFER_SIZE];
        char16_t text[TEXT_BUFFER_SIZE];
        g_Ui->LoadText(TEXT_UPDATE_FAILED_CAPTION, caption, TEXT_BUFFER_SIZE);
        g_Ui->LoadText(FailureText(outcome.FailedStep), text, TEXT_BUFFER_SIZE);
        // An image the page could not download: nothing was sent and the unit is as it was, so
        // it stays open and Update stays on, for the next try once the network is there.
        if (outcome.FailedStep == UPDATE_STEP_IMAGE_UNAVAILABLE) {
            g_Ui->ShowMessageBox(g_MainWindow, text, caption, BOX_ICONERROR | BOX_OK);
            break;
        }
        // The report gives the unit up first, then lets the device changes kept during the
        // flash commands be handled, so that a unit plugged in anew meanwhile is taken up.
        FailureReport(text, caption, outcome.Result, outcome.SystemError);
        break;
    }
    case UPDATE_DECLINED_AT_WARNING:
    case UPDATE_DECLINED_AT_REINSTALL:
        // Declined: nothing changes.
        break;
    }
}

}  // namespace

void ResetTransferWindows() { g_Transfer = {0, 0}; }

UpdateOutcome UpdateSequence()
{
    BeginUpdateRun();
    UpdateOutcome outcome = RunUpdate(kDialogFrontEnd);
    RecordUpdateOutcome(outcome);
    ShowOutcome(outcome);
    EndUpdateRun();
    return outcome;
}
