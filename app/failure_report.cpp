// The end of every failed update: the link is given up, the dialog shows no unit, the user
// reads what failed with two codes, and a standing hint remains.
#include "app/app.h"
#include "app/texts.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"

void FailureReport(const char16_t* text, const char16_t* caption, LinkResult result, uint32_t systemError)
{
    CloseLink();
    g_Ui->EnableControl(IDC_UPDATE, false);
    RefreshVersionPanel();
    // What was plugged in or out while the flash commands ran is handled now that the failed
    // unit is given up: a unit plugged in anew is evaluated, and stays open for the next try.
    EndFlashCommands();

    char16_t message[TEXT_BUFFER_SIZE];
    CopyText(message, TEXT_BUFFER_SIZE, text);
    // Only the link's "no device" carries no codes; a unit's refusal is always shown with its
    // code, whatever its value.
    if (!(result == LinkFailed(LINK_NO_DEVICE))) {
        char16_t format[TEXT_BUFFER_SIZE];
        char16_t codeLine[TEXT_BUFFER_SIZE];
        g_Ui->LoadText(TEXT_ERROR_CODE_LINE, format, TEXT_BUFFER_SIZE);
        FormatArg codes[2] = {NumberArg(result.Code), NumberArg(systemError)};
        FormatText(codeLine, TEXT_BUFFER_SIZE, format, codes, 2);
        AppendText(message, TEXT_BUFFER_SIZE, u"\r\n");
        AppendText(message, TEXT_BUFFER_SIZE, codeLine);
    }
    g_Ui->ShowMessageBox(g_MainWindow, message, caption, BOX_ICONERROR | BOX_OK);

    char16_t hint[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_FAILURE_HINT, hint, TEXT_BUFFER_SIZE);
    g_Ui->SetControlText(IDC_HINTBOX, hint);
}
