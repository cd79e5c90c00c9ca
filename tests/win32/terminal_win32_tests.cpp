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

#include "tests/win32/console_driver.h"
#include "tests/win32/dialog_driver.h"

#ifndef VELQUOR_FLASH_EXE
#error "the build names velquor-flash.exe"
#endif

using console_driver::ConsoleProgram;
using dialog_driver::Seconds;
using dialog_driver::WaitUntil;

namespace {

// velquor-flash.exe with its streams in the temporary folder.
bool StartFlash(ConsoleProgram* flash, const std::wstring& arguments, const std::wstring& name)
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    return flash->Start(dialog_driver::WindowsPath(VELQUOR_FLASH_EXE), arguments,
                        std::wstring(folder, length) + L"velquor_terminal_" + name);
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
    std::vector<ConsoleProgram> flashes(std::size(kCases));
    for (size_t i = 0; i < flashes.size(); ++i)
        ASSERT_TRUE(StartFlash(&flashes[i], L"--sim fail=erase:refuse:9 --realtime --trace --lang en --yes update",
                               kCases[i].Name));
    for (size_t i = 0; i < flashes.size(); ++i) {
        ASSERT_TRUE(WaitUntil([&] { return flashes[i].Err().find(kLockWritten) != std::string::npos; }, Seconds(20)))
            << flashes[i].Err();
        ASSERT_TRUE(flashes[i].SendControlEvent(kCases[i].Event));
    }
    Sleep(1500);
    for (const ConsoleProgram& flash : flashes) EXPECT_TRUE(flash.Running()) << "held while the ESC is written";
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
    ConsoleProgram flash;
    ASSERT_TRUE(StartFlash(&flash, L"--sim fail=status:hang --realtime --trace --lang en status", L"idle"));
    ASSERT_TRUE(WaitUntil([&] { return flash.Err().find("> 01 08") != std::string::npos; }, Seconds(20))) << flash.Err();
    ASSERT_TRUE(flash.SendControlEvent(CTRL_CLOSE_EVENT));
    // Well before the status request's 15 s read limit.
    EXPECT_NE(flash.ExitWithin(Seconds(5)), -1) << "the program waits for the unit";
    EXPECT_EQ(flash.Err().find("received"), std::string::npos) << flash.Err();
}

}  // namespace
