// velquor-flash.exe ended from outside as Windows ends a console program: the console's close,
// log-off and shutdown events, delivered the way Windows delivers them (a thread of the program
// started at CtrlRoutine, which calls its control handlers). During the flash commands each is
// held until they end (here: at the refused erase, 5 s in), and the exit status tells which
// came; outside them the program ends at once, as it always did.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/win32/dialog_driver.h"

#ifndef VELQUOR_FLASH_EXE
#error "the build names velquor-flash.exe"
#endif

using namespace dialog_driver;

namespace {

// The program's standard output and input are the NUL device, its error stream a file.
struct Flash {
    PROCESS_INFORMATION Process = {};
    std::wstring ErrPath;

    Flash() = default;
    Flash(const Flash&) = delete;
    Flash& operator=(const Flash&) = delete;
    ~Flash()
    {
        if (Process.hProcess == nullptr) return;
        if (WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(Process.hProcess, 1);
        CloseHandle(Process.hProcess);
        CloseHandle(Process.hThread);
    }

    bool Start(const std::wstring& arguments, const std::wstring& name)
    {
        wchar_t folder[MAX_PATH];
        DWORD length = GetTempPathW(MAX_PATH, folder);
        ErrPath = std::wstring(folder, length) + L"velquor_terminal_" + name + L".err";
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        HANDLE err = CreateFileW(ErrPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                 OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = nul;
        startup.hStdError = err;
        const std::wstring program = WindowsPath(VELQUOR_FLASH_EXE);
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        bool started = err != INVALID_HANDLE_VALUE && nul != INVALID_HANDLE_VALUE &&
                       CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &Process);
        if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
        if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
        return started;
    }

    std::string Err() const
    {
        std::string text;
        HANDLE file = CreateFileW(ErrPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return text;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
        CloseHandle(file);
        return text;
    }

    bool Running() const { return WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT; }

    // The exit status, or -1 when the program is still running after `limit`.
    int64_t ExitWithin(Seconds limit) const
    {
        if (WaitForSingleObject(Process.hProcess, static_cast<DWORD>(limit.count() * 1000)) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(Process.hProcess, &code);
        return code;
    }
};

// A console control event for the program, as Windows sends it.
bool SendControlEvent(const Flash& flash, DWORD event)
{
    FARPROC routine = GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
    if (routine == nullptr) routine = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine");
    if (routine == nullptr) return false;
    HANDLE thread = CreateRemoteThread(flash.Process.hProcess, nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine)),
                                       reinterpret_cast<void*>(static_cast<uintptr_t>(event)), 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

// The lock request as the trace shows it: the flash commands have begun.
constexpr char kLockWritten[] = "> 01 0b 01 01";

TEST(TerminalWin32, CloseLogOffAndShutdownWaitForTheFlashCommands)
{
    const struct {
        DWORD Event;
        const wchar_t* Name;
        int64_t Status;
        const char* Told;
    } kCases[] = {
        {CTRL_CLOSE_EVENT, L"close", 129, "CTRL_CLOSE_EVENT received"},
        {CTRL_LOGOFF_EVENT, L"logoff", 129, "CTRL_LOGOFF_EVENT received"},
        {CTRL_SHUTDOWN_EVENT, L"shutdown", 143, "CTRL_SHUTDOWN_EVENT received"},
    };
    std::vector<Flash> flashes(std::size(kCases));
    for (size_t i = 0; i < flashes.size(); ++i)
        ASSERT_TRUE(flashes[i].Start(L"--sim fail=erase:refuse:9 --realtime --trace --lang en --yes update", kCases[i].Name));
    for (size_t i = 0; i < flashes.size(); ++i) {
        ASSERT_TRUE(WaitUntil([&] { return flashes[i].Err().find(kLockWritten) != std::string::npos; }, Seconds(20)))
            << flashes[i].Err();
        ASSERT_TRUE(SendControlEvent(flashes[i], kCases[i].Event));
    }
    Sleep(1500);
    for (const Flash& flash : flashes) EXPECT_TRUE(flash.Running()) << "held while the ESC is written";
    for (size_t i = 0; i < flashes.size(); ++i) {
        SCOPED_TRACE(kCases[i].Told);
        EXPECT_EQ(flashes[i].ExitWithin(Seconds(20)), kCases[i].Status);
        const std::string err = flashes[i].Err();
        EXPECT_NE(err.find(kCases[i].Told), std::string::npos) << err;
        EXPECT_NE(err.find("< 02 ff"), std::string::npos) << "the erase's refusal was read: " << err;
    }
}

TEST(TerminalWin32, CloseOutsideTheFlashCommandsEndsAtOnce)
{
    Flash flash;
    ASSERT_TRUE(flash.Start(L"--sim fail=status:hang --realtime --trace --lang en status", L"idle"));
    ASSERT_TRUE(WaitUntil([&] { return flash.Err().find("> 01 08") != std::string::npos; }, Seconds(20))) << flash.Err();
    ASSERT_TRUE(SendControlEvent(flash, CTRL_CLOSE_EVENT));
    // Well before the status request's 15 s read limit.
    EXPECT_NE(flash.ExitWithin(Seconds(5)), -1) << "the program waits for the unit";
    EXPECT_EQ(flash.Err().find("received"), std::string::npos) << flash.Err();
}

}  // namespace
