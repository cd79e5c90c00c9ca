// The dialog driver: child processes, window queries, clicks, keys and screenshots.
#include "tests/win32/dialog_driver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace dialog_driver {

namespace {

constexpr UINT kAnswerLimitMs = 10000;  // how long one WM_GETTEXT or WM_NULL may take

std::wstring g_DesktopName;
HDESK g_Desktop = nullptr;
HDESK g_PreviousDesktop = nullptr;
std::wstring g_ScreenshotFolder;

const wchar_t kDesktopSizesKey[] = L"Software\\Wine\\Explorer\\Desktops";

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (const char* p = text; *p != '\0'; ++p) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return wide;
}

bool StartsWithIgnoringCase(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

// EnumWindows over the top-level windows of this desktop, with a callable.
template <class Visit>
void ForEachTopLevelWindow(Visit visit)
{
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL { return (*reinterpret_cast<Visit*>(context))(window) ? TRUE : FALSE; },
        reinterpret_cast<LPARAM>(&visit));
}

DWORD ProcessOf(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

DWORD Milliseconds(Seconds limit) { return static_cast<DWORD>(std::chrono::milliseconds(limit).count()); }

// ---- Screen capture ----

struct ScreenPicture {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Pixels;  // 24-bit rows, bottom-up, each padded to 4 bytes
};

uint32_t RowBytes(int32_t width) { return (static_cast<uint32_t>(width) * 3u + 3u) & ~3u; }

// The screen's pixels in `area` (screen coordinates).
bool CaptureArea(const RECT& area, ScreenPicture* picture, std::string* error)
{
    const int32_t width = area.right - area.left;
    const int32_t height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        *error = "the area has no size";
        return false;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        *error = "GetDC(nullptr) failed";
        return false;
    }
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: bottom-up, as a .bmp file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = dib != nullptr ? CreateCompatibleDC(screen) : nullptr;
    bool copied = false;
    if (memory != nullptr) {
        HGDIOBJ previous = SelectObject(memory, dib);
        copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, previous);
    }
    if (copied) {
        const size_t size = static_cast<size_t>(RowBytes(width)) * static_cast<size_t>(height);
        picture->Width = width;
        picture->Height = height;
        picture->Pixels.assign(static_cast<const uint8_t*>(bits), static_cast<const uint8_t*>(bits) + size);
    } else {
        *error = dib == nullptr ? "CreateDIBSection failed" : memory == nullptr ? "CreateCompatibleDC failed" : "BitBlt failed";
    }
    if (memory != nullptr) DeleteDC(memory);
    if (dib != nullptr) DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return copied;
}

RECT WholeScreen() { return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

bool WriteBitmapFile(const std::wstring& path, const ScreenPicture& picture, std::string* error)
{
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = picture.Width;
    header.biHeight = picture.Height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(picture.Pixels.size());
    BITMAPFILEHEADER file;
    ZeroMemory(&file, sizeof file);
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = static_cast<DWORD>(sizeof file + sizeof header);
    file.bfSize = file.bfOffBits + header.biSizeImage;

    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = "can't create " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(handle, &file, sizeof file, &written, nullptr) && written == sizeof file &&
              WriteFile(handle, &header, sizeof header, &written, nullptr) && written == sizeof header &&
              WriteFile(handle, picture.Pixels.data(), header.biSizeImage, &written, nullptr) &&
              written == header.biSizeImage;
    CloseHandle(handle);
    if (!ok) *error = "can't write " + Narrow(path);
    return ok;
}

}  // namespace

std::wstring WindowsPath(const char* path)
{
    std::wstring result = Widen(path);
    if (!result.empty() && result[0] == L'/') {
        for (wchar_t& c : result) c = c == L'/' ? L'\\' : c;
        result = L"Z:" + result;
    }
    return result;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// ---- The desktop ----------------------------------------------------------------------------

std::wstring EnterTestDesktop(int width, int height)
{
    if (!RunningUnderWine() || g_Desktop != nullptr) return g_DesktopName;
    // Wine's explorer makes a desktop a virtual desktop when this key gives it a size; it reads
    // the key when the desktop's first window opens.
    std::wstring name = L"velquor-dialog-tests-" + std::to_wstring(GetCurrentProcessId());
    std::wstring size = std::to_wstring(width) + L"x" + std::to_wstring(height);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopSizesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return std::wstring();
    LONG set = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(size.c_str()),
                              static_cast<DWORD>((size.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) return std::wstring();

    HDESK previous = GetThreadDesktop(GetCurrentThreadId());
    HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr) {
        LeaveTestDesktop();
        return std::wstring();
    }
    if (!SetThreadDesktop(desktop)) {
        CloseDesktop(desktop);
        LeaveTestDesktop();
        return std::wstring();
    }
    g_Desktop = desktop;
    g_PreviousDesktop = previous;
    g_DesktopName = name;
    return g_DesktopName;
}

void LeaveTestDesktop()
{
    if (g_Desktop != nullptr) {
        // Only a thread without windows can change desktops; if it can't, the handle goes with
        // the process.
        if (g_PreviousDesktop != nullptr && SetThreadDesktop(g_PreviousDesktop)) CloseDesktop(g_Desktop);
        g_Desktop = nullptr;
        g_PreviousDesktop = nullptr;
    }
    std::wstring name = g_DesktopName.empty() ? L"velquor-dialog-tests-" + std::to_wstring(GetCurrentProcessId())
                                              : g_DesktopName;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopSizesKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, name.c_str());
        RegCloseKey(key);
    }
    g_DesktopName.clear();
}

// ---- The child ------------------------------------------------------------------------------

ChildProgram::~ChildProgram()
{
    if (m_Process == nullptr) return;
    if (Running()) {
        TerminateProcess(m_Process, 1);
        WaitForSingleObject(m_Process, 10000);
    }
    CloseHandle(m_Process);
}

bool ChildProgram::Start(const std::wstring& program, const char* scenario, bool realtime, std::string* error,
                         const std::wstring& arguments)
{
    if (m_Process != nullptr) {
        *error = "a child is already started";
        return false;
    }
    // This process's environment without the simulator's variables, then the requested ones.
    std::wstring environment;
    wchar_t* strings = GetEnvironmentStringsW();
    if (strings != nullptr) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
            if (StartsWithIgnoringCase(entry, L"VELQUOR_SIM=") || StartsWithIgnoringCase(entry, L"VELQUOR_SIM_REALTIME="))
                continue;
            environment.append(entry);
            environment.push_back(L'\0');
        }
        FreeEnvironmentStringsW(strings);
    }
    if (scenario != nullptr) {
        environment.append(L"VELQUOR_SIM=" + Widen(scenario));
        environment.push_back(L'\0');
    }
    if (realtime) {
        environment.append(L"VELQUOR_SIM_REALTIME=1");
        environment.push_back(L'\0');
    }
    environment.push_back(L'\0');

    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring desktop = g_DesktopName;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.empty() ? nullptr : desktop.data();
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &startup, &process)) {
        *error = "CreateProcessW(" + Narrow(program) + ") failed with error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    m_Process = process.hProcess;
    m_Id = process.dwProcessId;
    return true;
}

bool ChildProgram::Running() const
{
    return m_Process != nullptr && WaitForSingleObject(m_Process, 0) == WAIT_TIMEOUT;
}

bool ChildProgram::WaitForExit(Seconds limit, DWORD* exitCode)
{
    if (m_Process == nullptr || WaitForSingleObject(m_Process, Milliseconds(limit)) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(m_Process, &code);
    *exitCode = code;
    return true;
}

HWND ChildProgram::WaitForDialog(Seconds limit) const
{
    HWND dialog = nullptr;
    WaitUntil(
        [&] {
            ForEachTopLevelWindow([&](HWND window) {
                if (ProcessOf(window) == m_Id && GetWindow(window, GW_OWNER) == nullptr &&
                    ClassName(window) == L"#32770") {
                    dialog = window;
                    return false;
                }
                return true;
            });
            return dialog != nullptr || !Running();
        },
        limit);
    return dialog;
}

std::string ChildProgram::DescribeWindows() const
{
    std::string description;
    ForEachTopLevelWindow([&](HWND window) {
        if (ProcessOf(window) != m_Id) return true;
        char owner[32];
        std::snprintf(owner, sizeof owner, "%p", static_cast<void*>(GetWindow(window, GW_OWNER)));
        description += "\n  class '" + Narrow(ClassName(window)) + "' caption '" + Narrow(Caption(window)) +
                       "' owner " + owner + (IsWindowVisible(window) ? " visible" : " hidden");
        return true;
    });
    if (description.empty()) description = " none";
    return (Running() ? "child running; its windows:" : "child ended; its windows:") + description;
}

// ---- Reading windows ------------------------------------------------------------------------

std::wstring Caption(HWND window)
{
    wchar_t text[1024];
    int length = InternalGetWindowText(window, text, 1024);
    return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

std::wstring ControlText(HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr) return L"<no control " + std::to_wstring(controlId) + L">";
    const std::wstring noAnswer = L"<no answer from control " + std::to_wstring(controlId) + L">";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &length)) return noAnswer;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, static_cast<WPARAM>(buffer.size()),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL, kAnswerLimitMs, &copied))
        return noAnswer;
    if (copied > length) copied = length;
    return std::wstring(buffer.data(), static_cast<size_t>(copied));
}

bool ControlEnabled(HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

std::wstring WaitForControlText(HWND dialog, int controlId, const std::wstring& expected, Seconds limit)
{
    std::wstring text;
    WaitUntil(
        [&] {
            text = ControlText(dialog, controlId);
            return text == expected || !IsWindow(dialog);
        },
        limit);
    return text;
}

bool Synchronize(HWND window, Seconds limit)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, Milliseconds(limit), &result) != 0;
}

HWND FindOwnedWindow(HWND owner, const wchar_t* className)
{
    HWND found = nullptr;
    ForEachTopLevelWindow([&](HWND window) {
        if (GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window) && ClassName(window) == className) {
            found = window;
            return false;
        }
        return true;
    });
    return found;
}

HWND WaitForOwnedWindow(HWND owner, const wchar_t* className, Seconds limit)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindOwnedWindow(owner, className);
            return found != nullptr || !IsWindow(owner);
        },
        limit);
    return found;
}

bool WaitUntilGone(HWND window, Seconds limit)
{
    return WaitUntil([&] { return !IsWindow(window); }, limit);
}

MessageBoxView ReadMessageBox(HWND box)
{
    // The message box keeps its text in the static control 0xFFFF.
    return MessageBoxView{box, Caption(box), ControlText(box, 0xFFFF)};
}

// ---- Acting ---------------------------------------------------------------------------------

bool ClickButton(HWND window, int buttonId)
{
    HWND button = GetDlgItem(window, buttonId);
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool TypeKey(HWND window, WORD virtualKey)
{
    bool foreground = WaitUntil(
        [&] {
            if (GetForegroundWindow() == window) return true;
            SetForegroundWindow(window);
            return false;
        },
        Seconds(20));
    if (!foreground) return false;
    INPUT input[2];
    ZeroMemory(input, sizeof input);
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = virtualKey;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, input, sizeof(INPUT)) == 2;
}

// ---- Screenshots ----------------------------------------------------------------------------

void SetScreenshotFolder(const std::wstring& folder)
{
    g_ScreenshotFolder = folder;
    if (!folder.empty()) CreateDirectoryW(folder.c_str(), nullptr);
}

bool SaveScreenshot(const std::string& name, bool settle, std::string* error)
{
    return SaveScreenshotOf(name, WholeScreen(), settle, error);
}

bool ReadScreen(const RECT& area, ScreenColours* colours, std::string* error)
{
    ScreenPicture picture;
    if (!CaptureArea(area, &picture, error)) return false;
    colours->Width = picture.Width;
    colours->Height = picture.Height;
    colours->Colours.assign(static_cast<size_t>(picture.Width) * static_cast<size_t>(picture.Height), 0);
    for (int32_t y = 0; y < picture.Height; ++y) {
        const uint8_t* row = picture.Pixels.data() + static_cast<size_t>(RowBytes(picture.Width)) * (picture.Height - 1 - y);
        for (int32_t x = 0; x < picture.Width; ++x)
            colours->Colours[static_cast<size_t>(y) * picture.Width + x] =
                static_cast<uint32_t>(row[3 * x + 2]) << 16 | static_cast<uint32_t>(row[3 * x + 1]) << 8 | row[3 * x];
    }
    return true;
}

bool SaveScreenshotOf(const std::string& name, const RECT& area, bool settle, std::string* error)
{
    if (g_ScreenshotFolder.empty()) {
        *error = "no screenshot folder";
        return false;
    }
    ScreenPicture picture;
    if (!CaptureArea(area, &picture, error)) return false;
    if (settle) {
        // Painting is done when the screen stops changing; a window that keeps changing (a
        // moving progress bar) is taken as it is after a few seconds.
        for (int attempt = 0; attempt < 25; ++attempt) {
            Sleep(200);
            ScreenPicture next;
            if (!CaptureArea(area, &next, error)) return false;
            bool same = next.Pixels == picture.Pixels;
            picture = std::move(next);
            if (same) break;
        }
    }
    return WriteBitmapFile(g_ScreenshotFolder + L"\\" + Widen(name.c_str()) + L".bmp", picture, error);
}

bool WaitUntilScreenStill(const RECT& area, int32_t stillMs, Seconds limit, ScreenColours* colours)
{
    ScreenColours last, now;
    std::string error;
    if (!ReadScreen(area, &last, &error)) return false;
    int32_t still = 0;
    bool rested = WaitUntil(
        [&] {
            if (!ReadScreen(area, &now, &error)) return false;
            still = now.Colours == last.Colours ? still + 50 : 0;
            last = std::move(now);
            return still >= stillMs;
        },
        limit);
    if (colours != nullptr) *colours = std::move(last);
    return rested;
}

bool SetDisplayDpi(UINT dpi)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD value = dpi;
    LONG set = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

}  // namespace dialog_driver
