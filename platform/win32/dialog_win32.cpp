// The Windows edge of the dialog: carries out the portable dialog logic with USER32 and GDI.
#include "platform/win32/dialog_win32.h"

#include <commctrl.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include "app/app.h"
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
void (*g_WaitsPumpMessages)(bool on) = nullptr;  // the HID edge's switch, when it has one
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
    if (g_WaitsPumpMessages != nullptr) g_WaitsPumpMessages(on);
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
        MainDialogInit(reinterpret_cast<UiWindow>(window));
        return TRUE;
    }
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
    case WM_DEVICECHANGE:
        return HandleDeviceChange(static_cast<uint32_t>(wParam), reinterpret_cast<const void*>(lParam)) != 0 ? TRUE
                                                                                                             : FALSE;
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

int RunUpdaterDialog(HINSTANCE instance, void (*waitsPumpMessages)(bool on), const wchar_t* windowMark)
{
    RequestDpiAwareness();
    InitCommonControls();
    g_Instance = instance;
    g_WaitsPumpMessages = waitsPumpMessages;
    g_WindowMark = windowMark;
    ResetLinkRecord();
    SelectUiPlatform(&kWin32Ui);
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0);
    EndTaskbarProgress();
    // A dialog that could not even be created is no normal end.
    return result == -1 ? 1 : 0;
}
