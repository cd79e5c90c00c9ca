// The console driver: a console program started with its streams in files, read back, ended
// and asked about the end of the session from outside.
#include "tests/win32/console_driver.h"

#include <algorithm>
#include <vector>

namespace console_driver {

std::string ReadText(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    // A console program's streams are in text mode: CR LF.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

ConsoleProgram::~ConsoleProgram()
{
    if (m_Process.hProcess == nullptr) return;
    if (Running()) TerminateProcess(m_Process.hProcess, 1);
    CloseHandle(m_Process.hProcess);
    CloseHandle(m_Process.hThread);
}

bool ConsoleProgram::Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& files,
                           const std::wstring& desktop)
{
    m_Files = files;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    auto create = [&](const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE out = create(files + L".out"), err = create(files + L".err");
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                             nullptr);
    std::wstring desktopName = desktop;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = err;
    startup.lpDesktop = desktopName.empty() ? nullptr : desktopName.data();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    bool started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE && nul != INVALID_HANDLE_VALUE &&
                   CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &m_Process);
    for (HANDLE handle : {out, err, nul})
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return started;
}

bool ConsoleProgram::Running() const { return WaitForSingleObject(m_Process.hProcess, 0) == WAIT_TIMEOUT; }

int64_t ConsoleProgram::ExitWithin(Seconds limit) const
{
    if (WaitForSingleObject(m_Process.hProcess, static_cast<DWORD>(limit.count() * 1000)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_Process.hProcess, &code);
    return code;
}

bool ConsoleProgram::SendControlEvent(DWORD event) const
{
    FARPROC routine = GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
    if (routine == nullptr) routine = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine");
    if (routine == nullptr) return false;
    HANDLE thread = CreateRemoteThread(m_Process.hProcess, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine)),
                                       reinterpret_cast<void*>(static_cast<uintptr_t>(event)), 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

int AskToLogOff(DWORD process)
{
    struct Found {
        DWORD Process;
        std::vector<HWND> Windows;
    } found = {process, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            Found* windows = reinterpret_cast<Found*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == windows->Process) windows->Windows.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    int agreed = found.Windows.empty() ? -1 : 1;
    for (HWND window : found.Windows) {
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer))
            return -1;
        if (answer == FALSE) agreed = 0;
    }
    for (HWND window : found.Windows)
        SendMessageTimeoutW(window, WM_ENDSESSION, agreed == 1, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, nullptr);
    return agreed;
}

}  // namespace console_driver
