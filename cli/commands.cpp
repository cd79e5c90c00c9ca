// identify, status and update: each drives the core as the window would and prints what the
// window would show.
#include "cli/commands.h"

#include <cinttypes>

#include "app/app.h"
#include "app/texts.h"
#include "cli/terminal_ui.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"

namespace {

void PrintHex(std::FILE* out, const char* name, uint32_t value, int digits)
{
    std::fprintf(out, "%s: 0x%0*" PRIx32 "\n", name, digits, value);
}

void PrintBlock(std::FILE* out, const char* name, const uint8_t* bytes, uint32_t count)
{
    std::fprintf(out, "%s: ", name);
    for (uint32_t i = 0; i < count; ++i) std::fprintf(out, "%02x", bytes[i]);
    std::fputc('\n', out);
}

// The record in its field order.
void PrintLinkRecord(std::FILE* out)
{
    std::fprintf(out, "DeviceHandle: %s\n", LinkIsOpen() ? "open" : "none");
    std::fputs("DevicePath: ", out);
    PrintText(out, g_Link.DevicePath);
    std::fputc('\n', out);
    PrintHex(out, "OutputReportLength", g_Link.OutputReportLength, 8);
    PrintHex(out, "InputReportLength", g_Link.InputReportLength, 8);
    PrintHex(out, "UnitMode", g_Link.UnitMode, 2);
    PrintHex(out, "UnitVersion", g_Link.UnitVersion, 8);
    PrintHex(out, "UnitVersionExtra", g_Link.UnitVersionExtra, 8);
    PrintHex(out, "ControllerState", g_Link.ControllerState, 4);
    PrintHex(out, "ControllerStateExtra", g_Link.ControllerStateExtra, 4);
    PrintHex(out, "ModeInfoA", g_Link.ModeInfoA, 2);
    PrintHex(out, "ModeInfoB", g_Link.ModeInfoB, 4);
    PrintHex(out, "ModeInfoC", g_Link.ModeInfoC, 8);
    PrintHex(out, "ModeInfoD", g_Link.ModeInfoD, 8);
    PrintHex(out, "ModeInfoE", g_Link.ModeInfoE, 2);
    PrintBlock(out, "ControllerInfo", g_Link.ControllerInfo, CONTROLLER_INFO_SIZE);
    PrintBlock(out, "ControllerIdentity", g_Link.ControllerIdentity, CONTROLLER_IDENTITY_SIZE);
    PrintHex(out, "ProductId", g_Link.ProductId, 4);
}

// The three rows of the version panel as "label: value", then the hint after an empty line.
void PrintPanelAndHint(std::FILE* out)
{
    static const uint32_t kRows[][2] = {{IDC_LABEL_UNIT, IDC_VALUE_UNIT},
                                        {IDC_LABEL_BOOTLOADER, IDC_VALUE_BOOTLOADER},
                                        {IDC_LABEL_CONTROLLER, IDC_VALUE_CONTROLLER}};
    for (const auto& row : kRows) {
        PrintText(out, TerminalControlText(row[0]));
        std::fputs(": ", out);
        PrintText(out, TerminalControlText(row[1]));
        std::fputc('\n', out);
    }
    const char16_t* hint = TerminalControlText(IDC_HINTBOX);
    if (hint[0] != u'\0') {
        std::fputc('\n', out);
        PrintText(out, hint);
        std::fputc('\n', out);
    }
    std::fflush(out);
}

// The window opens: title, labels, registration, the first look at the unit.
void OpenDialog()
{
    ResetLinkRecord();
    MainDialogInit(TERMINAL_MAIN_WINDOW);
}

// The window closes: Close does what the Close button does (unregister, close the link).
void CloseDialog()
{
    if (!TerminalRecord().DialogEnded) MainDialogCommand(IDC_CLOSE);
    CloseLink();
}

}  // namespace

int RunIdentify(std::FILE* out)
{
    ResetLinkRecord();
    int32_t result = DiscoverUnit();
    std::fprintf(out, "result: %" PRId32 "\n", result);
    PrintLinkRecord(out);
    std::fflush(out);
    CloseLink();
    return result == LINK_OK ? EXIT_DONE : EXIT_FAILED;
}

int RunStatus(std::FILE* out)
{
    OpenDialog();
    PrintPanelAndHint(out);
    bool ready = TerminalControlEnabled(IDC_UPDATE);
    CloseDialog();
    return ready ? EXIT_DONE : EXIT_NOT_READY;
}

int RunUpdate(std::FILE* out)
{
    OpenDialog();
    PrintPanelAndHint(out);
    if (!TerminalControlEnabled(IDC_UPDATE)) {
        CloseDialog();
        return EXIT_NOT_READY;
    }
    std::fputc('\n', out);
    std::fflush(out);

    // What the Update button does; the exit status is how the engine's run ended.
    UpdateOutcome outcome = UpdateSequence();
    int status = EXIT_FAILED;
    switch (outcome.End) {
    case UPDATE_SUCCEEDED: status = EXIT_DONE; break;
    case UPDATE_DECLINED_AT_WARNING:
    case UPDATE_DECLINED_AT_REINSTALL: status = EXIT_DECLINED; break;
    case UPDATE_FAILED: status = EXIT_FAILED; break;
    }
    PrintPanelAndHint(out);
    CloseDialog();
    return status;
}
