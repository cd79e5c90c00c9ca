// The main dialog's decisions: title, labels, command routing, the red row, the logo's place.
#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"

const UiPlatform* g_Ui = nullptr;
UiWindow g_MainWindow = 0;

namespace {
constexpr int32_t TITLE_BUFFER_SIZE = 256;
}

void ResetProcessState()
{
    ResetLink();
    ResetSelectionCodes();
    g_MainWindow = 0;
    NotificationHandle = 0;
    ResetMonitorState();
    ResetTransferWindows();
}

void FormatWindowTitle(char16_t* out, int32_t capacity)
{
    // The carried version's two bytes, 1 and 25, printed as two numbers.
    FormatArg args[4] = {TextArg(SUPPORTED_TYPE_NAME), NumberArg(CARRIED_FIRMWARE_VERSION >> 8),
                         NumberArg(CARRIED_FIRMWARE_VERSION & 0xFF), TextArg(u"")};
    FormatText(out, capacity, u"VELQUOR %s FW Updater %u.%u %s", args, 4);
}

void MainDialogInit(UiWindow window)
{
    if (MainDialogOpen(window)) EvaluateUnitAtStart();
}

bool MainDialogOpen(UiWindow window)
{
    g_MainWindow = window;

    char16_t title[TITLE_BUFFER_SIZE];
    FormatWindowTitle(title, TITLE_BUFFER_SIZE);
    g_Ui->SetWindowTitle(window, title);

    static const struct {
        uint32_t Control;
        uint32_t Text;
    } kLabels[] = {{IDC_LABEL_UNIT, TEXT_LABEL_UNIT},
                   {IDC_LABEL_BOOTLOADER, TEXT_LABEL_BOOTLOADER},
                   {IDC_LABEL_CONTROLLER, TEXT_LABEL_CONTROLLER}};
    char16_t text[TEXT_BUFFER_SIZE];
    for (const auto& label : kLabels) {
        g_Ui->LoadText(label.Text, text, TEXT_BUFFER_SIZE);
        g_Ui->SetControlText(label.Control, text);
    }

    return RegisterPresenceMonitor(window);
}

bool MainDialogCommand(uint32_t commandId)
{
    // An update runs: its flash commands wait for the unit while the dialog answers messages,
    // and nothing may start a second one or end the program under it.
    if (UpdateRunning() && (commandId == IDC_CLOSE || commandId == IDC_UPDATE)) return true;
    // A unit is being looked at, and the dialog answers meanwhile: Update waits for the look's
    // end (it can't be on before it anyway), Close ends the look at once and then the dialog.
    if (EvaluationRunning() && (commandId == IDC_CLOSE || commandId == IDC_UPDATE)) {
        if (commandId == IDC_CLOSE) CloseAfterEvaluation();
        return true;
    }
    switch (commandId) {
    case IDC_CLOSE:
        if (NotificationHandle != 0) {
            g_Ui->UnregisterDeviceChanges(NotificationHandle);
            NotificationHandle = 0;
        }
        CloseLink();
        g_Ui->EndDialog(g_MainWindow, 2);
        return true;
    case IDC_UPDATE:
        UpdateSequence();
        return true;
    default:
        return false;
    }
}

bool IsRedStatic(int32_t controlId)
{
    return controlId == IDC_LABEL_CONTROLLER || controlId == IDC_VALUE_CONTROLLER;
}

LogoPlacement PlaceLogo(int32_t bitmapWidth, int32_t bitmapHeight, const UiRect& window,
                        const UiRect& groupBox, int32_t cxDialogFrame, int32_t cyCaption)
{
    LogoPlacement placement = {false, 0, 0, 0, 0};
    int32_t halfWidth = bitmapWidth >> 1;
    int32_t roomRight = window.Right - groupBox.Right - 45;
    placement.Width = halfWidth < roomRight ? halfWidth : roomRight;
    if (placement.Width <= 0 || bitmapWidth <= 0) return placement;
    // Single precision, truncated toward zero, as the bitmap's aspect ratio is kept.
    float scale = static_cast<float>(placement.Width) / static_cast<float>(bitmapWidth);
    placement.Height = static_cast<int32_t>(scale * static_cast<float>(bitmapHeight));
    placement.X = groupBox.Right - cxDialogFrame - window.Left + 20;
    placement.Y = groupBox.Top - cyCaption - window.Top;
    placement.Draw = true;
    return placement;
}
