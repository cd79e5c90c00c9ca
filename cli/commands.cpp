// identify, status and update: each drives the core as the window would and prints what the
// window would show.
#include "cli/commands.h"

#include <cinttypes>

#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "cli/native_hid.h"
#include "cli/terminal.h"
#include "cli/terminal_texts.h"
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

// The link's fields in their order.
void PrintLinkFields(std::FILE* out)
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

// What the dialog keeps to itself about the unit just evaluated, in one line.
void PrintEvaluationNotice(std::FILE* out)
{
    const UnitEvaluation& evaluation = LastUnitEvaluation();
    if (evaluation.IdentificationFailed) {
        std::fprintf(out, TerminalText(TT_IDENTIFICATION_FAILED), static_cast<int>(evaluation.Result));
        std::fputc('\n', out);
    } else if (evaluation.ControllerIgnored) {
        std::fprintf(out, TerminalText(TT_IGNORED_CONTROLLER), static_cast<unsigned>(evaluation.TypeCode));
        std::fputc('\n', out);
    }
}

// One interface of the system's list: its path, ids and report lengths, and whether discovery
// takes it. `served` says whether a programming unit came before it.
void ListInterface(std::FILE* out, InterfaceList list, uint32_t index, int32_t pathLength, bool* served)
{
    char16_t* path = new char16_t[static_cast<uint32_t>(pathLength) + 1];
    if (g_Hid->GetInterfacePath(list, index, path, static_cast<uint32_t>(pathLength) + 1) != pathLength) {
        std::fprintf(out, "#%" PRIu32 "  %s\n", index, TerminalText(TT_LIST_NO_PATH));
        delete[] path;
        return;
    }
    PrintText(out, path);
    std::fputs("\n    ", out);
    PlatformHandle handle = g_Hid->Open(path);
    delete[] path;
    if (handle == INVALID_PLATFORM_HANDLE) {
        std::fprintf(out, TerminalText(TT_LIST_NOT_OPENED), static_cast<unsigned>(g_Hid->LastError()));
        std::fputc('\n', out);
        return;
    }
    uint16_t vendorId = 0, productId = 0, inputLength = 0, outputLength = 0;
    if (!g_Hid->GetIds(handle, &vendorId, &productId)) {
        std::fprintf(out, "%s\n", TerminalText(TT_LIST_NO_IDS));
        g_Hid->Close(handle);
        return;
    }
    bool lengthsRead = g_Hid->GetReportLengths(handle, &inputLength, &outputLength);
    g_Hid->Close(handle);

    std::fprintf(out, "%s 0x%04x  %s 0x%04x  %s ", TerminalText(TT_LIST_VENDOR), vendorId, TerminalText(TT_LIST_PRODUCT),
                 productId, TerminalText(TT_LIST_REPORTS));
    if (lengthsRead) {
        std::fprintf(out, "%u/%u", inputLength, outputLength);
    } else {
        std::fputs("?/?", out);
    }
    TerminalTextId reason = TT_LIST_NOT_A_UNIT;
    if (IsProgrammingUnit(vendorId, productId)) {
        // As discovery does: the first unit is taken, whatever follows.
        if (*served) {
            reason = TT_LIST_SECOND_UNIT;
        } else {
            *served = true;
            reason = lengthsRead && ReportLengthsFit(inputLength, outputLength) ? TT_LIST_TAKEN : TT_LIST_TAKEN_UNFIT;
        }
    }
    std::fprintf(out, "\n    %s\n", TerminalText(reason));
}

// The unit the last discovery passed over because another program holds it, named on the
// error stream.
void SayUnitInUse()
{
    char path[DISCOVERY_PATH_SIZE * 3];
    Utf16ToUtf8(LastDiscovery().FirstInUse, path, static_cast<int32_t>(sizeof path));
    std::fputs("velquor-flash: ", stderr);
    std::fprintf(stderr, TerminalText(TT_UNIT_IN_USE), path);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// A unit another program holds, when the evaluation found no other. True when it was said.
bool TellUnitInUse()
{
    const UnitEvaluation& evaluation = LastUnitEvaluation();
    if (evaluation.UnitFound || !evaluation.UnitInUse) return false;
    SayUnitInUse();
    return true;
}

}  // namespace

namespace {
const CommandListener* g_Listener = nullptr;

void TellUpdateEnded(const UpdateOutcome& outcome)
{
    if (g_Listener != nullptr && g_Listener->UpdateEnded != nullptr) g_Listener->UpdateEnded(outcome);
}
}  // namespace

void SetCommandListener(const CommandListener* listener) { g_Listener = listener; }

bool TellUnitRefusedByPermission()
{
    const char* refused = UnitRefusedByPermission();
    if (refused == nullptr) return false;
    std::fputs("velquor-flash: ", stderr);
    std::fprintf(stderr, TerminalText(TT_PERMISSION_REFUSED), refused);
    std::fprintf(stderr, "\n%s\n", TerminalText(TT_INSTALL_UDEV_RULE));
    std::fflush(stderr);
    return true;
}

namespace {

// What the window shows of an update's end says nothing of a unit left locked: the terminal
// adds it.
void PrintUnlockNotice(std::FILE* out, const UpdateOutcome& outcome)
{
    if (outcome.End != UPDATE_SUCCEEDED || !outcome.UnitLeftLocked) return;
    std::fprintf(out, "%s\n", TerminalText(TT_UNIT_LEFT_LOCKED));
    std::fflush(out);
}

// The window opens: title, labels, registration, the first look at the unit.
void OpenDialog()
{
    ResetLink();
    MainDialogInit(TERMINAL_MAIN_WINDOW);
}

// The window closes: Close does what the Close button does (unregister, close the link).
void CloseDialog()
{
    if (!TerminalDialog().DialogEnded) MainDialogCommand(IDC_CLOSE);
    CloseLink();
}

}  // namespace

int RunIdentify(std::FILE* out)
{
    ResetLink();
    int32_t result = DiscoverUnit();
    std::fprintf(out, "result: %" PRId32 "\n", result);
    PrintLinkFields(out);
    std::fflush(out);
    CloseLink();
    if (result == LINK_NOT_FOUND && LastDiscovery().UnitsInUse != 0) {
        SayUnitInUse();
        return EXIT_UNIT_IN_USE;
    }
    return result == LINK_OK ? EXIT_DONE : EXIT_FAILED;
}

int RunList(std::FILE* out)
{
    InterfaceList list = g_Hid->OpenInterfaceList();
    if (list == 0) {
        std::fprintf(out, "%s\n", TerminalText(TT_LIST_NO_LIST));
        return EXIT_FAILED;
    }
    bool served = false;
    uint32_t index = 0;
    for (;; ++index) {
        int32_t length = g_Hid->GetInterfacePath(list, index, nullptr, 0);
        if (length == INTERFACE_LIST_END) break;
        if (length <= 0) {
            std::fprintf(out, "#%" PRIu32 "  %s\n", index, TerminalText(TT_LIST_NO_PATH));
            continue;
        }
        ListInterface(out, list, index, length, &served);
    }
    g_Hid->CloseInterfaceList(list);
    if (index == 0) std::fprintf(out, "%s\n", TerminalText(TT_LIST_NONE));
    std::fflush(out);
    return EXIT_DONE;
}

int RunStatus(std::FILE* out)
{
    OpenDialog();
    PrintPanelAndHint(out);
    PrintEvaluationNotice(out);
    bool ready = TerminalControlEnabled(IDC_UPDATE);
    bool inUse = TellUnitInUse();
    CloseDialog();
    if (inUse) return EXIT_UNIT_IN_USE;
    return ready ? EXIT_DONE : EXIT_NOT_READY;
}

int RunUpdate(std::FILE* out)
{
    OpenDialog();
    PrintPanelAndHint(out);
    PrintEvaluationNotice(out);
    if (!TerminalControlEnabled(IDC_UPDATE)) {
        bool inUse = TellUnitInUse();
        CloseDialog();
        return inUse ? EXIT_UNIT_IN_USE : EXIT_NOT_READY;
    }
    std::fputc('\n', out);
    std::fflush(out);

    // What the Update button does; the exit status is how the engine's run ended.
    UpdateOutcome outcome = UpdateSequence();
    TellUpdateEnded(outcome);
    int status = EXIT_FAILED;
    switch (outcome.End) {
    case UPDATE_SUCCEEDED: status = EXIT_DONE; break;
    case UPDATE_DECLINED_AT_WARNING:
    case UPDATE_DECLINED_AT_REINSTALL: status = EXIT_DECLINED; break;
    case UPDATE_FAILED: status = EXIT_FAILED; break;
    }
    PrintPanelAndHint(out);
    PrintUnlockNotice(out, outcome);
    CloseDialog();
    // A signal held while the ESC was written ends the program now, with its own status.
    int held = HeldTerminationStatus();
    return held != 0 ? held : status;
}

namespace {

constexpr uint32_t WATCH_WAIT_MS = 1000;
constexpr uint32_t WATCH_PATH_SIZE = 1024;

void PrintVersionText(std::FILE* out, uint16_t version)
{
    if (version == FIRMWARE_VERSION_NONE) {
        std::fputs(TerminalText(TT_SUMMARY_NO_FIRMWARE), out);
        return;
    }
    char16_t text[32];
    FormatControllerVersion(version, text, 32);
    PrintText(out, text);
}

// "ESC 0x110fa0d2  1.24 -> 1.25  updated": one line per ESC that watch met. `leftAlone`: an ESC
// that was up to date and was not updated.
void PrintSummary(std::FILE* out, uint32_t typeCode, const UpdateOutcome& outcome, bool leftAlone)
{
    std::fprintf(out, "%s 0x%08x  ", TerminalText(TT_SUMMARY_ESC), static_cast<unsigned>(typeCode));
    PrintVersionText(out, outcome.FirmwareBefore);
    std::fputs(" -> ", out);
    PrintVersionText(out, outcome.FirmwareAfter);
    TerminalTextId word = TT_SUMMARY_FAILED;
    switch (outcome.End) {
    case UPDATE_SUCCEEDED: word = TT_SUMMARY_UPDATED; break;
    case UPDATE_DECLINED_AT_WARNING:
    case UPDATE_DECLINED_AT_REINSTALL: word = TT_SUMMARY_DECLINED; break;
    case UPDATE_FAILED: word = TT_SUMMARY_FAILED; break;
    }
    if (leftAlone) word = TT_SUMMARY_UP_TO_DATE;
    std::fprintf(out, "  %s", TerminalText(word));
    if (outcome.End == UPDATE_FAILED && !(outcome.Result == LinkFailed(LINK_NO_DEVICE)))
        std::fprintf(out, " (0x%08x-0x%08x)", static_cast<unsigned>(outcome.Result.Code),
                     static_cast<unsigned>(outcome.SystemError));
    std::fputc('\n', out);
}

// A controller whose firmware is the carried one or newer.
bool UpToDate()
{
    uint16_t installed = ControllerFirmwareVersion();
    return installed != FIRMWARE_VERSION_NONE && installed >= NewFirmwareVersionFor(ControllerTypeCode());
}

// A unit was evaluated: what the window would show, and the update when it is wanted and ready.
// False when an update failed.
bool ShowArrival(std::FILE* out, const char16_t* path, bool updateEach, bool reinstall)
{
    std::fprintf(out, "--- %s: ", TerminalText(TT_WATCH_ARRIVED));
    PrintText(out, path);
    std::fputs("\n", out);
    PrintPanelAndHint(out);
    PrintEvaluationNotice(out);
    std::fputc('\n', out);
    if (!updateEach || !TerminalControlEnabled(IDC_UPDATE)) return true;

    uint32_t typeCode = ControllerTypeCode();
    if (!reinstall && UpToDate()) {
        // Shown and left alone: nothing is erased for the same firmware again.
        UpdateOutcome untouched = {};
        untouched.End = UPDATE_SUCCEEDED;
        untouched.FirmwareBefore = untouched.FirmwareAfter = ControllerFirmwareVersion();
        PrintSummary(out, typeCode, untouched, true);
        std::fputc('\n', out);
        std::fflush(out);
        return true;
    }
    UpdateOutcome outcome = UpdateSequence();
    TellUpdateEnded(outcome);
    PrintPanelAndHint(out);
    PrintUnlockNotice(out, outcome);
    std::fputc('\n', out);
    PrintSummary(out, typeCode, outcome, false);
    std::fputc('\n', out);
    std::fflush(out);
    return outcome.End != UPDATE_FAILED;
}

// After an arrival that opened no unit: a unit that is there but can't be used, said once for
// that arrival.
void TellUnusableUnit()
{
    if (!TellUnitInUse()) TellUnitRefusedByPermission();
}

// Whether the interface at `path` is in the system's list now.
bool InterfacePresent(const char16_t* path)
{
    InterfaceList list = g_Hid->OpenInterfaceList();
    if (list == 0) return false;
    bool present = false;
    char16_t listed[WATCH_PATH_SIZE];
    for (uint32_t index = 0; !present; ++index) {
        int32_t length = g_Hid->GetInterfacePath(list, index, listed, WATCH_PATH_SIZE);
        if (length == INTERFACE_LIST_END) break;
        present = length > 0 && static_cast<uint32_t>(length) < WATCH_PATH_SIZE && TextEqualsIgnoringAsciiCase(listed, path);
    }
    g_Hid->CloseInterfaceList(list);
    return present;
}

}  // namespace

int RunWatch(std::FILE* out, const DeviceEvents* events, bool updateEach, bool reinstall)
{
    if (events == nullptr || !events->Open()) {
        std::fprintf(stderr, "velquor-flash: %s\n", TerminalText(TT_WATCH_NO_EVENTS));
        return EXIT_FAILED;
    }
    std::fprintf(out, "%s\n\n", TerminalText(TT_WATCH_WAITING));
    std::fflush(out);
    int status = EXIT_DONE;

    // The window's first look, then whatever is plugged in or pulled out. The unit last shown
    // is remembered, so that its removal is told even after a failure closed the link.
    char16_t shown[WATCH_PATH_SIZE] = u"";
    OpenDialog();
    if (LastUnitEvaluation().UnitFound) {
        CopyText(shown, static_cast<int32_t>(WATCH_PATH_SIZE), g_Link.DevicePath);
        if (!ShowArrival(out, shown, updateEach, reinstall)) status = EXIT_FAILED;
    } else {
        TellUnusableUnit();
    }
    char16_t path[WATCH_PATH_SIZE];
    int held = HeldTerminationStatus();
    while (held == 0) {
        DeviceEventKind kind = DEVICE_ARRIVED;
        int32_t waited = events->Wait(WATCH_WAIT_MS, &kind, path, WATCH_PATH_SIZE);
        if (waited == DEVICE_EVENTS_END) break;
        if (waited == DEVICE_EVENTS_LOST) {
            // What the lost events would have told is read off the present state: the unit shown
            // is gone when it is no longer listed (or its open link no longer answers), and a
            // unit present and not open is one that arrived.
            bool linkDead = LinkIsOpen() && !g_Hid->DiscardInput(g_Link.DeviceHandle);
            if (shown[0] != u'\0' && (linkDead || !InterfacePresent(shown))) {
                kind = DEVICE_REMOVED;
                CopyText(path, static_cast<int32_t>(WATCH_PATH_SIZE), shown);
            } else if (!LinkIsOpen()) {
                kind = DEVICE_ARRIVED;
                path[0] = u'\0';
            } else {
                continue;
            }
            waited = 1;
        }
        if (waited < 0) {
            status = EXIT_FAILED;
            break;
        }
        if (waited == 0) continue;

        DeviceBroadcast broadcast = {DEVTYP_DEVICEINTERFACE, path};
        uint32_t evaluations = LastUnitEvaluation().Serial;
        HandleDeviceChange(kind == DEVICE_ARRIVED ? DBT_DEVICEARRIVAL_ : DBT_DEVICEREMOVECOMPLETE_, &broadcast);
        bool evaluated = LastUnitEvaluation().Serial != evaluations;
        if (kind == DEVICE_ARRIVED && evaluated && LastUnitEvaluation().UnitFound) {
            CopyText(shown, static_cast<int32_t>(WATCH_PATH_SIZE), g_Link.DevicePath);
            if (!ShowArrival(out, shown, updateEach, reinstall)) status = EXIT_FAILED;
            held = HeldTerminationStatus();
        } else if (kind == DEVICE_ARRIVED && evaluated) {
            TellUnusableUnit();
        } else if (kind == DEVICE_REMOVED && shown[0] != u'\0' && TextEqualsIgnoringAsciiCase(shown, path)) {
            // Named as at its arrival: the system may spell the path of a removal otherwise.
            std::fprintf(out, "--- %s: ", TerminalText(TT_WATCH_REMOVED));
            PrintText(out, shown);
            std::fputs("\n\n", out);
            std::fflush(out);
            shown[0] = u'\0';
        }
    }
    events->Close();
    CloseDialog();
    return held != 0 ? held : status;
}
