// The Windows edge of the dialog: carries out the portable dialog logic with USER32 and GDI.
#include "platform/win32/dialog_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include "app/app.h"
#include "record/recorder.h"
#include "app/texts.h"
#include "link/device_link.h"
#include "platform/win32/display_win32.h"
#include "platform/win32/taskbar_win32.h"
#include "resources/resource_ids.h"
#include "resources/text_ids.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the wide API as it is");

namespace {

HINSTANCE g_Instance = nullptr;
HBRUSH g_RedRowBrush = nullptr;  // created at the first colour request, deleted with the dialog
ScaledLogo g_Logo = {nullptr, 0, 0};  // the logo at the size last drawn, deleted with the dialog
UINT g_DialogDpi = BASE_DPI;          // the main dialog's DPI, from its start and WM_DPICHANGED
DialogHidEdge g_HidEdge = {};         // the program's HID edge and its switches
const wchar_t* g_WindowMark = nullptr;           // the property that marks the dialog, if any
WNDPROC g_ProgressClassProc = nullptr;
// The progress window: its size at 96 DPI (the update's), its DPI, and whether the update has
// set its bar's first position (the one it gets as it opens; every later one follows a block).
struct ProgressLayout {
    int32_t Width96, Height96;
    UINT Dpi;
    bool Positioned;
};
ProgressLayout g_ProgressLayout = {0, 0, BASE_DPI, false};
// From the first flash command to the last (KeepResponsive): the program holds off the end of
// the session, sleep, and whatever would stall its thread.
bool g_FlashCommandsRunning = false;
// "Save log..." chosen while a unit was looked at: carried out once its waits are over.
bool g_SaveLogPending = false;

// The first look at the unit, posted by WM_INITDIALOG so that it runs once the window shows.
constexpr UINT WM_LOOK_AT_UNIT = WM_APP + 1;
// Every second, a unit that another program holds is looked at again (RecheckHeldUnit).
constexpr UINT_PTR RECHECK_TIMER = 1;
constexpr UINT RECHECK_MS = 1000;
// The log of the visit is kept within this many bytes: far more than three whole updates.
constexpr size_t LOG_BOUND_BYTES = 8u << 20;

#ifndef WM_POPUPSYSTEMMENU
#define WM_POPUPSYSTEMMENU 0x0313  // the taskbar's request for a window's system menu
#endif

HWND AsWindow(UiWindow window) { return reinterpret_cast<HWND>(window); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HWND Control(uint32_t controlId) { return GetDlgItem(AsWindow(g_MainWindow), static_cast<int>(controlId)); }

int32_t W32LoadText(uint32_t id, char16_t* buffer, int32_t capacity)
{
    if (capacity <= 0) return 0;
    int length = LoadStringW(g_Instance, id, reinterpret_cast<wchar_t*>(buffer), capacity);
    if (length <= 0) buffer[0] = 0;
    return length > 0 ? length : 0;
}

void W32SetControlText(uint32_t controlId, const char16_t* text) { SetWindowTextW(Control(controlId), Wide(text)); }

int32_t W32GetControlTextLength(uint32_t controlId) { return GetWindowTextLengthW(Control(controlId)); }

int32_t W32GetControlText(uint32_t controlId, char16_t* buffer, int32_t capacity)
{
    if (capacity <= 0) return 0;
    buffer[0] = 0;
    return GetWindowTextW(Control(controlId), reinterpret_cast<wchar_t*>(buffer), capacity);
}

void W32EnableControl(uint32_t controlId, bool enabled) { EnableWindow(Control(controlId), enabled ? TRUE : FALSE); }

void W32SetWindowTitle(UiWindow window, const char16_t* title)
{
    SendMessageW(AsWindow(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(title)));
}

int32_t W32ShowMessageBox(UiWindow owner, const char16_t* text, const char16_t* caption, uint32_t flags)
{
    // An update's failure turns its progress on the taskbar red while the box tells it.
    if (UpdateRunning() && (flags & BOX_ICON_MASK) == BOX_ICONERROR)
        ShowTaskbarProgress(AsWindow(g_MainWindow), TASKBAR_ERROR, 0);
    return MessageBoxW(AsWindow(owner), Wide(text), Wide(caption), flags);
}

bool W32GetWindowRect(UiWindow window, UiRect* rect)
{
    RECT r;
    if (!GetWindowRect(AsWindow(window), &r)) return false;
    *rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

// What DefWindowProc would answer with a loop of the system's own in the window's thread
// (moving, sizing, the system menu and the menu bar, the scroll bars, the help cursor, a
// context menu), which would hold every request back until the user lets go: refused while the
// flash commands run. The HID edge's waits also drop the input that starts such loops without
// a WM_SYSCOMMAND (presses on the caption buttons, and on the controls' frames).
bool RefusedDuringFlash(UINT message, WPARAM wParam)
{
    if (!g_FlashCommandsRunning) return false;
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MOVE:
        case SC_SIZE:
        case SC_KEYMENU:
        case SC_MOUSEMENU:
        case SC_VSCROLL:
        case SC_HSCROLL:
        case SC_CONTEXTHELP:
            return true;
        default:
            return false;
        }
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
    case WM_CONTEXTMENU:
    case WM_POPUPSYSTEMMENU:
        return true;
    default:
        return false;
    }
}

// The progress window's style, as the system completes it for an overlapped window.
constexpr DWORD PROGRESS_STYLE = WS_CAPTION | WS_CLIPSIBLINGS | WS_VISIBLE | PBS_SMOOTH;
constexpr DWORD PROGRESS_EX_STYLE = WS_EX_WINDOWEDGE;

// The progress window at the DPI of its layout, centred on the dialog as the update places it.
void PlaceProgressWindow(HWND progress)
{
    SIZE size = ScaledWindowSize(PROGRESS_STYLE, PROGRESS_EX_STYLE, g_ProgressLayout.Width96, g_ProgressLayout.Height96,
                                 g_ProgressLayout.Dpi);
    RECT owner;
    if (!GetWindowRect(AsWindow(g_MainWindow), &owner)) return;
    SetWindowPos(progress, nullptr, owner.left + ((owner.right - owner.left) >> 1) - size.cx / 2,
                 owner.top + ((owner.bottom - owner.top) >> 1) - size.cy / 2, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The progress window lives exactly as long as the transfer: a close request (its close box,
// Alt+F4) is ignored; the update destroys it itself. While the flash commands run it is not
// moved, and it speaks against the end of the session as the dialog does. On another DPI it
// takes the size for that DPI, centred on the dialog again.
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        MessageBeep(MB_ICONWARNING);
        return 0;
    }
    if (message == WM_DPICHANGED) {
        g_ProgressLayout.Dpi = LOWORD(wParam);
        PlaceProgressWindow(window);
        return 0;
    }
    if (RefusedDuringFlash(message, wParam)) return 0;
    if (message == WM_QUERYENDSESSION && g_FlashCommandsRunning) return FALSE;
    return CallWindowProcW(g_ProgressClassProc, window, message, wParam, lParam);
}

UiWindow W32CreateProgressWindow(UiWindow owner, const char16_t* title, int32_t x, int32_t y, int32_t width,
                                 int32_t height)
{
    // The update's size is the size at 96 DPI: at the dialog's DPI the client area grows with
    // the DPI, the frame is the system's for that DPI, and the centre stays where it chose.
    g_ProgressLayout = {width, height, g_DialogDpi, false};
    SIZE size = ScaledWindowSize(PROGRESS_STYLE, PROGRESS_EX_STYLE, width, height, g_DialogDpi);
    x += width / 2 - size.cx / 2;
    y += height / 2 - size.cy / 2;
    // WS_VISIBLE | PBS_SMOOTH, neither child nor pop-up: an owned top-level window whose title
    // bar shows the text.
    HWND window = CreateWindowExW(0, PROGRESS_CLASSW, Wide(title), WS_VISIBLE | PBS_SMOOTH, x, y, size.cx, size.cy,
                                  AsWindow(owner), nullptr, g_Instance, nullptr);
    if (window != nullptr) {
        g_ProgressClassProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressWindowProc)));
    }
    return reinterpret_cast<UiWindow>(window);
}

void W32SetProgressPosition(UiWindow progress, uint32_t position)
{
    SendMessageW(AsWindow(progress), PBM_SETPOS, position, 0);
    // The taskbar shows the blocks' share from the first block on.
    if (g_ProgressLayout.Positioned) ShowTaskbarProgress(AsWindow(g_MainWindow), TASKBAR_NORMAL, position);
    g_ProgressLayout.Positioned = true;
    // The transfer runs no message loop: paint the bar now, and whatever of the dialog behind
    // it needs painting (the place where the closed message box stood).
    UpdateWindow(AsWindow(progress));
    HWND owner = GetWindow(AsWindow(progress), GW_OWNER);
    if (owner != nullptr) RedrawWindow(owner, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void W32RaiseWindow(UiWindow window) { SetWindowPos(AsWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }
void W32ShowWindow(UiWindow window) { ShowWindow(AsWindow(window), SW_SHOW); }
UiWindow W32GetForegroundWindow() { return reinterpret_cast<UiWindow>(GetForegroundWindow()); }
void W32DestroyWindow(UiWindow window) { DestroyWindow(AsWindow(window)); }

UiNotification W32RegisterForDeviceChanges(UiWindow window)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    ZeroMemory(&filter, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    return reinterpret_cast<UiNotification>(
        RegisterDeviceNotificationW(AsWindow(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void W32UnregisterDeviceChanges(UiNotification notification)
{
    UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(notification));
}

void W32ReadBroadcast(const void* broadcast, DeviceBroadcast* fields)
{
    const DEV_BROADCAST_HDR* header = static_cast<const DEV_BROADCAST_HDR*>(broadcast);
    fields->DeviceType = header->dbch_devicetype;
    fields->Name = nullptr;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
        fields->Name = reinterpret_cast<const char16_t*>(
            reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name);
}

void W32EndDialog(UiWindow window, intptr_t result) { EndDialog(AsWindow(window), result); }

// While the flash commands run, a controller left half written would have no firmware: the
// end of the session is refused (WM_QUERYENDSESSION) with the reason the system shows the user,
// and the system is kept from sleeping.
void W32KeepResponsive(bool on)
{
    HWND main = AsWindow(g_MainWindow);
    // No log is saved while the controller is written (the Save dialog would hold the transfer).
    EnableMenuItem(GetSystemMenu(main, FALSE), IDM_SAVE_LOG, MF_BYCOMMAND | (on ? MF_GRAYED : MF_ENABLED));
    if (on && !g_FlashCommandsRunning) {
        ShowTaskbarProgress(main, TASKBAR_INDETERMINATE, 0);
        char16_t reason[MAX_STR_BLOCKREASON];  // the longest reason the system keeps
        W32LoadText(TEXT_FLASH_BLOCKS_SHUTDOWN, reason, MAX_STR_BLOCKREASON);
        ShutdownBlockReasonCreate(main, Wide(reason));
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    } else if (!on && g_FlashCommandsRunning) {
        ShutdownBlockReasonDestroy(main);
        SetThreadExecutionState(ES_CONTINUOUS);
    }
    g_FlashCommandsRunning = on;
    if (g_HidEdge.WaitsPumpMessages != nullptr) g_HidEdge.WaitsPumpMessages(on);
}

// While a unit is looked at, the waits dispatch the window's messages; closing the dialog then
// cuts them short. A log asked for meanwhile is saved once they are over.
void W32SetUnitWaits(UnitWaits waits)
{
    if (g_HidEdge.WaitsCutShort != nullptr) g_HidEdge.WaitsCutShort(waits == UNIT_WAITS_CUT_SHORT);
    if (g_HidEdge.WaitsPumpMessages != nullptr)
        g_HidEdge.WaitsPumpMessages(waits != UNIT_WAITS_PLAIN || g_FlashCommandsRunning);
    if (waits == UNIT_WAITS_PLAIN && g_SaveLogPending) {
        g_SaveLogPending = false;
        PostMessageW(AsWindow(g_MainWindow), WM_SYSCOMMAND, IDM_SAVE_LOG, 0);
    }
}

// Appends `value` with `digits` decimal digits (leading zeros).
wchar_t* PutDigits(wchar_t* out, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = static_cast<wchar_t>(L'0' + value % 10);
    return out + digits;
}

// "velquor-log-2026-12-09-14-30-05.txt", the local time now.
void DefaultLogName(wchar_t* name)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const wchar_t kPrefix[] = L"velquor-log-";
    for (const wchar_t* c = kPrefix; *c != L'\0'; ++c) *name++ = *c;
    const unsigned parts[] = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    for (size_t i = 0; i < 6; ++i) {
        if (i != 0) *name++ = L'-';
        name = PutDigits(name, parts[i], i == 0 ? 4 : 2);
    }
    for (const wchar_t* c = L".txt"; *c != L'\0'; ++c) *name++ = *c;
    *name = L'\0';
}

// Writes the log of the visit so far to `path`. False (and no file left behind) when it can't.
bool WriteLogFile(const wchar_t* path)
{
    size_t length = 0;
    const char* text = RecorderText(&length);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = true;
    for (size_t done = 0; written && done < length;) {
        DWORD piece = static_cast<DWORD>(length - done < (1u << 20) ? length - done : (1u << 20));
        DWORD wrote = 0;
        written = WriteFile(file, text + done, piece, &wrote, nullptr) && wrote == piece;
        done += wrote;
    }
    written = CloseHandle(file) && written;
    if (!written) DeleteFileW(path);
    return written;
}

// "Save log...": the common Save dialog, then the log of the visit so far into the chosen file.
void SaveLog(HWND window)
{
    char16_t title[TEXT_BUFFER_SIZE];
    char16_t type[TEXT_BUFFER_SIZE];
    W32LoadText(TEXT_SAVE_LOG_TITLE, title, TEXT_BUFFER_SIZE);
    int32_t typeLength = W32LoadText(TEXT_SAVE_LOG_FILE_TYPE, type, TEXT_BUFFER_SIZE - 8);
    // The filter: the type's name, its pattern, each ended by a null, and a null at the end.
    const char16_t kPattern[] = u"*.txt";
    for (int32_t i = 0; i < 6; ++i) type[typeLength + 1 + i] = kPattern[i];
    type[typeLength + 7] = u'\0';

    wchar_t path[4 * MAX_PATH];
    DefaultLogName(path);
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = Wide(type);
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path / sizeof path[0];
    dialog.lpstrTitle = Wide(title);
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return;  // cancelled
    if (WriteLogFile(path)) return;
    char16_t text[TEXT_BUFFER_SIZE];
    W32LoadText(TEXT_SAVE_LOG_FAILED, text, TEXT_BUFFER_SIZE);
    MessageBoxW(window, Wide(text), Wide(title), MB_ICONERROR | MB_OK);
}

// The system menu (behind the title bar's icon) gets "Save log...", below a separator.
void AddSaveLogToSystemMenu(HWND window)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    char16_t text[TEXT_BUFFER_SIZE];
    W32LoadText(TEXT_SAVE_LOG_MENU, text, TEXT_BUFFER_SIZE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_SAVE_LOG, Wide(text));
}

// A device-change broadcast kept beyond its message: the header, and an interface's name.
struct BroadcastCopy {
    union {
        DEV_BROADCAST_HDR Header;
        DEV_BROADCAST_DEVICEINTERFACE_W Interface;
    };
    wchar_t Room[1024];  // the interface name goes on into this
};

void CopyBroadcast(const DEV_BROADCAST_HDR* broadcast, BroadcastCopy* copy)
{
    ZeroMemory(copy, sizeof *copy);
    size_t size = broadcast->dbch_size;
    if (size < sizeof(DEV_BROADCAST_HDR)) size = sizeof(DEV_BROADCAST_HDR);
    // The last unit stays the terminator of a name cut to fit.
    if (size > sizeof *copy - sizeof(wchar_t)) size = sizeof *copy - sizeof(wchar_t);
    CopyMemory(copy, broadcast, size);
    copy->Header.dbch_size = static_cast<DWORD>(size);
}

// The logo, bitmap 121, beside the version group at the dialog's DPI: scaled to the size of
// its place (again only when that size changed) and drawn with its alpha.
void PaintLogo(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    LogoPlacement place = PlaceLogoAtDpi(window, GetDlgItem(window, IDC_VERSION_GROUP), g_DialogDpi);
    if (place.Draw && ScaleLogo(g_Instance, IDB_LOGO, place.Width, place.Height, &g_Logo))
        DrawScaledLogo(dc, g_Logo, place.X, place.Y);
    EndPaint(window, &paint);
}

}  // namespace

const UiPlatform kWin32Ui = {
    W32LoadText,        W32SetControlText,         W32GetControlTextLength, W32GetControlText,
    W32EnableControl,   W32SetWindowTitle,         W32ShowMessageBox,       W32GetWindowRect,
    W32CreateProgressWindow, W32SetProgressPosition, W32RaiseWindow,        W32ShowWindow,
    W32GetForegroundWindow,  W32DestroyWindow,       W32RegisterForDeviceChanges,
    W32UnregisterDeviceChanges, W32ReadBroadcast,  W32EndDialog,            W32KeepResponsive,
    W32SetUnitWaits,
};

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (RefusedDuringFlash(message, wParam)) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG: {
        if (g_WindowMark != nullptr) SetPropW(window, g_WindowMark, reinterpret_cast<HANDLE>(1));
        // The icons of this window (title bar, taskbar and task switcher), not of every
        // dialog, at its DPI.
        g_DialogDpi = WindowDpi(window);
        SetWindowIcons(window, g_Instance, IDI_APPLICATION_ICON, g_DialogDpi);
        // The unit is looked at once the window shows: its waits may take seconds, during which
        // the window answers.
        if (MainDialogOpen(reinterpret_cast<UiWindow>(window))) {
            AddSaveLogToSystemMenu(window);
            SetTimer(window, RECHECK_TIMER, RECHECK_MS, nullptr);
            PostMessageW(window, WM_LOOK_AT_UNIT, 0, 0);
        }
        return TRUE;
    }
    case WM_LOOK_AT_UNIT:
        // The dialog manager shows the window only once its queue has run empty, which a look at
        // a unit that does not answer would put off for seconds: it is shown and painted first.
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        EvaluateUnitAtStart();
        return TRUE;
    case WM_TIMER:
        if (wParam != RECHECK_TIMER) return FALSE;
        RecheckHeldUnit();
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_SAVE_LOG) return FALSE;
        // Never while the controller is written; after a look at the unit that is under way.
        if (EvaluationRunning()) {
            g_SaveLogPending = true;
        } else if (!g_FlashCommandsRunning) {
            SaveLog(window);
        }
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_PAINT:
        PaintLogo(window);
        return FALSE;
    case WM_DPICHANGED:
        // On a monitor of another scaling: the icons for the new DPI, and the logo laid out
        // again at the next paint. The dialog manager scales the dialog and its controls.
        g_DialogDpi = LOWORD(wParam);
        SetWindowIcons(window, g_Instance, IDI_APPLICATION_ICON, g_DialogDpi);
        InvalidateRect(window, nullptr, TRUE);
        return FALSE;
    case WM_COMMAND: {
        // Close, Esc, Alt+F4 and the close box all arrive as command 2; during an update they
        // are refused, and the user hears it.
        if (UpdateRunning() && (LOWORD(wParam) == IDC_CLOSE || LOWORD(wParam) == IDC_UPDATE))
            MessageBeep(MB_ICONWARNING);
        bool handled = MainDialogCommand(LOWORD(wParam));
        // An update has ended when its command returns: its progress leaves the taskbar.
        if (LOWORD(wParam) == IDC_UPDATE && !UpdateRunning()) ShowTaskbarProgress(window, TASKBAR_NONE, 0);
        return handled ? TRUE : FALSE;
    }
    case WM_CTLCOLORSTATIC:
        if (IsRedStatic(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 0, 0));
            SetBkMode(dc, TRANSPARENT);
            if (g_RedRowBrush == nullptr) g_RedRowBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(g_RedRowBrush);
        }
        return FALSE;
    case WM_DEVICECHANGE: {
        if ((wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) || lParam == 0)
            return HandleDeviceChange(static_cast<uint32_t>(wParam), reinterpret_cast<const void*>(lParam)) != 0;
        // The system's sender waits for the answer to its broadcast, and may hold back the very
        // device that was plugged in until it has it (its start, its first input reports): it
        // gets the answer at once, and the unit is looked at afterwards, from a copy.
        BroadcastCopy copy;
        CopyBroadcast(reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam), &copy);
        if (InSendMessage()) ReplyMessage(TRUE);
        HandleDeviceChange(static_cast<uint32_t>(wParam), &copy.Header);
        return TRUE;
    }
    case WM_QUERYENDSESSION:
        // No while the controller is written; otherwise the default answer, yes.
        if (!g_FlashCommandsRunning) return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case WM_POWERBROADCAST:
        // Only systems before Vista ask before they sleep; later ones are kept awake by the
        // execution state.
        if (!g_FlashCommandsRunning || wParam != PBT_APMQUERYSUSPEND) return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, BROADCAST_QUERY_DENY);
        return TRUE;
    case WM_DESTROY:
        KillTimer(window, RECHECK_TIMER);
        if (g_WindowMark != nullptr) RemovePropW(window, g_WindowMark);
        if (g_RedRowBrush != nullptr) {
            DeleteObject(g_RedRowBrush);
            g_RedRowBrush = nullptr;
        }
        FreeScaledLogo(&g_Logo);
        DestroyWindowIcons(window);
        return FALSE;
    default:
        return FALSE;
    }
}

int RunUpdaterDialog(HINSTANCE instance, const DialogHidEdge& edge, const wchar_t* windowMark)
{
    RequestDpiAwareness();
    InitCommonControls();
    g_Instance = instance;
    g_HidEdge = edge;
    g_WindowMark = windowMark;
    // The log of the visit: every report, pause and device change from the start, in memory.
    StartRecorder(edge.Table, {edge.FrontEnd, edge.Edge, edge.Scenario, RECORD_COMMAND_WINDOW, nullptr, nullptr});
    KeepRecorderWithin(LOG_BOUND_BYTES);
    SelectHidPlatform(&kRecorderHidPlatform);
    ResetLink();
    SelectUiPlatform(&kWin32Ui);
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0);
    EndTaskbarProgress();
    // A dialog that could not even be created is no normal end.
    return result == -1 ? 1 : 0;
}
