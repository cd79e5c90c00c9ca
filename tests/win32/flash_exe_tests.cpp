// velquor-flash.exe, the terminal front end, on Wine's real HID stack: virtual programming units
// (tests/win32/virtual_unit) are plugged into hid.dll/hidclass.sys and answer as the simulated
// unit does, while the unchanged program is started as a user starts it in a console (its
// arguments; its output and error streams into files; its exit status), next to the window
// VelquorUpdater.exe where one program must leave the unit to the other, and asked by the
// system to end the session. Each unit writes down every request it received and the
// controller's flash.
//
//   velquor_flash_exe_tests [gtest options]     (the window's language: LC_ALL=en_US.UTF-8)
//
// *RealTime* are the runs with a whole update in real time (about a minute each). The records
// the runs make are left in VELQUOR_RECORDS_OUT (<build>/win32-records), each with the line
// "# replay ARGS status N" that the corpus test and the replays after this test read.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "resources/resource_ids.h"
#include "tests/win32/console_driver.h"
#include "tests/win32/dialog_driver.h"
#include "tests/win32/dialog_steps.h"
#include "tests/win32/unit_steps.h"
#include "tests/win32/virtual_unit/unit_install.h"
#include "tests/win32/virtual_unit/unit_process.h"

#if !defined(VELQUOR_FLASH_EXE) || !defined(VELQUOR_UPDATER_EXE) || !defined(VELQUOR_VUNIT_EXE) || \
    !defined(VELQUOR_VUNIT_FILES) || !defined(VELQUOR_RECORDS_OUT)
#error "the build names the programs, the folder of the units' files and the folder of the records"
#endif

using namespace dialog_driver;
using console_driver::ConsoleProgram;
using console_driver::ReadText;
using virtual_unit::UnitLog;
using virtual_unit::UnitProcess;
using virtual_unit::UnitSettings;

namespace {

constexpr Seconds kStartLimit{60};
// A whole update in real time takes about 50 s, more on a busy machine.
constexpr Seconds kUpdateLimit{240};



bool AppendText(const std::wstring& path, const std::string& text)
{
    FILE* file = _wfopen(path.c_str(), L"ab");
    bool ok = file != nullptr && std::fputs(text.c_str(), file) >= 0;
    return file != nullptr && std::fclose(file) == 0 && ok;
}

// Whether `text` holds each of `parts`, in their order; names the first that is missing.
testing::AssertionResult HoldsInOrder(const std::string& text, const std::vector<std::string>& parts)
{
    size_t at = 0;
    for (const std::string& part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos) return testing::AssertionFailure() << "no '" << part << "' (in order) in:\n" << text;
        at += part.size();
    }
    return testing::AssertionSuccess();
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

std::wstring g_Desktop;  // the test desktop, where the programs' windows go


// ---------------------------------------------------------------------------------------------

class FlashExeTest : public testing::Test {
protected:
    bool PlugIn(uint32_t number, const char* scenario)
    {
        return PlugInUnit(m_Units[number], number, UnitSettings{scenario, -1, -1}, Files("unit" + std::to_string(number)));
    }

    UnitLog PullOut(uint32_t number) { return PullOutUnit(m_Units[number], number); }

    // Starts the window and waits until its hint begins with `hint` (a rejection's hint goes on
    // with the connection steps).
    HWND StartWindow(const std::wstring& hint)
    {
        std::string error;
        if (!m_Window.Start(WindowsPath(VELQUOR_UPDATER_EXE), nullptr, false, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        HWND dialog = m_Window.WaitForDialog(kStartLimit);
        if (dialog == nullptr) {
            ADD_FAILURE() << "the window is not shown; " << m_Window.DescribeWindows();
            return nullptr;
        }
        std::wstring shown;
        EXPECT_TRUE(WaitUntil([&] { return (shown = ControlText(dialog, IDC_HINTBOX)).rfind(hint, 0) == 0; }, kStartLimit))
            << Narrow(shown);
        return dialog;
    }

    void CloseWindow(HWND dialog)
    {
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        DWORD code = 1;
        ASSERT_TRUE(m_Window.WaitForExit(kBoxLimit, &code)) << m_Window.DescribeWindows();
    }

    // velquor-flash.exe started as from a console, in English, on the test desktop.
    bool StartFlash(const std::wstring& arguments)
    {
        bool started = m_Flash.Start(WindowsPath(VELQUOR_FLASH_EXE), L"--lang en " + arguments, Files("flash"), g_Desktop);
        if (!started) ADD_FAILURE() << "velquor-flash.exe can't be started, error " << GetLastError();
        return started;
    }

    // Waits until the program's output holds `part` (`count` times), or it ended.
    bool WaitForOut(const std::string& part, Seconds limit, size_t count = 1)
    {
        bool found = WaitUntil([&] { return Count(m_Flash.Out(), part) >= count || !m_Flash.Running(); }, limit) &&
                     Count(m_Flash.Out(), part) >= count;
        if (!found) ADD_FAILURE() << "velquor-flash.exe did not print '" << part << "':\n" << m_Flash.Out() << m_Flash.Err();
        return found;
    }

    std::wstring Files(const std::string& what) const
    {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return WindowsPath(VELQUOR_VUNIT_FILES) + L"\\flash-" + std::wstring(name.begin(), name.end()) + L"-" +
               std::wstring(what.begin(), what.end());
    }

    // Declared so that the programs end before their units are pulled out.
    UnitProcess m_Units[2];
    ChildProgram m_Window;
    ConsoleProgram m_Flash;
};

// ---- Commands run once against a unit ----------------------------------------------------------

constexpr char kUnitPath[] = "\\\\?\\hid#vid_21b8&pid_0002&in_60&out_60#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr char kSuccess[] = "The update of the ESC was successful!";
constexpr char kInUse[] = ": in use by another program; nothing was sent to it.";

struct RunCase {
    const char* Name;
    const char* Scenario;           // the unit's
    bool WindowFirst;               // the window is started first and holds the unit
    const wchar_t* Arguments;       // after --lang en and, with a record, --record FILE
    const char* Record;             // the record made, in VELQUOR_RECORDS_OUT, or null
    int64_t Status;
    std::vector<std::string> Out;   // in this order
    std::vector<std::string> Err;   // in this order
    std::vector<uint8_t> Received;  // at the unit, the window's requests included
    bool FlashHoldsTheImage;
};

const RunCase kRunCases[] = {
    {"List", "", false, L"list", nullptr, 0,
     {std::string(kUnitPath) + "\n    vendor 0x21b8  product 0x0002  reports in/out 60/60\n"
                               "    taken: the programming unit served\n",
      "\n    vendor 0x845e  product 0x0001  ", "not taken: not a programming unit\n"},
     {}, {}, false},
    {"Identify", "", false, L"identify", nullptr, 0,
     {"result: 0\nDeviceHandle: open\nDevicePath: " + std::string(kUnitPath) +
          "\nOutputReportLength: 0x0000003c\nInputReportLength: 0x0000003c\nUnitMode: 0x00\nUnitVersion: 0x00011900\n",
      "ControllerState: 0x0003\n", "ProductId: 0x0002\n"},
     {}, kIdentification, false},
    {"RealTimeUpdateRecorded", "", false, L"--yes update", "win32-flash-update", 0,
     {"SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24\n", "Answer: OK (--yes)", "ESC: 1.25\n\n" + std::string(kSuccess)},
     {"Firmware update in progress, please wait...\n", "100 %  2048/2048 blocks"},
     UpdateRequests(kImageBlocks, true), true},
    {"RefusedBlockRecorded", "fail=block#5:refuse:7", false, L"--yes update", "win32-flash-refused-block", 1,
     {"[Update failed!]\nError when writing last firmware data block. Update cancelled.\n"
      "The system shows following errorcode: 0x00000007-0x00000000"},
     {}, UpdateRequests(5, false), false},
    // The window holds the unit: nothing reaches it but the window's identification.
    {"IdentifyWhileTheWindowHoldsTheUnit", "", true, L"identify", nullptr, 5, {"result: -4\n"},
     {"velquor-flash: " + std::string(kUnitPath) + kInUse}, kIdentification, false},
    {"UpdateWhileTheWindowHoldsTheUnit", "", true, L"--yes update", nullptr, 5, {"programming unit: 0.0.0\n"},
     {"velquor-flash: " + std::string(kUnitPath) + kInUse}, kIdentification, false},
};

void PrintTo(const RunCase& row, std::ostream* out) { *out << row.Name; }

class RunTest : public FlashExeTest, public testing::WithParamInterface<RunCase> {};

TEST_P(RunTest, PrintsAndSendsWhatTheCommandDoes)
{
    const RunCase& c = GetParam();
    ASSERT_TRUE(PlugIn(0, c.Scenario));
    HWND window = c.WindowFirst ? StartWindow(TableText(LANGUAGE_ENGLISH, TEXT_READY_HINT)) : nullptr;
    if (c.WindowFirst) {
        ASSERT_NE(window, nullptr);
    }

    const std::wstring record = c.Record == nullptr ? L""
                                                    : WindowsPath(VELQUOR_RECORDS_OUT) + L"\\" +
                                                          std::wstring(c.Record, c.Record + std::strlen(c.Record)) + L".rec";
    DeleteFileW(record.c_str());
    ASSERT_TRUE(StartFlash((record.empty() ? L"" : L"--record \"" + record + L"\" ") + c.Arguments));
    const int64_t status = m_Flash.ExitWithin(kUpdateLimit);
    const std::string out = m_Flash.Out(), err = m_Flash.Err();
    EXPECT_EQ(status, c.Status) << out << err;
    EXPECT_TRUE(HoldsInOrder(out, c.Out));
    EXPECT_TRUE(HoldsInOrder(err, c.Err));
    if (window != nullptr) {
        EXPECT_EQ(ControlText(window, IDC_HINTBOX), TableText(LANGUAGE_ENGLISH, TEXT_READY_HINT)) << "the window let go";
        CloseWindow(window);
    }

    UnitLog log = PullOut(0);
    EXPECT_EQ(Commands(log), c.Received) << log.Text;
    if (c.FlashHoldsTheImage) {
        ExpectFlashHoldsTheImage(m_Units[0].ReadFlash());
        const size_t lock = kIdentification.size();
        if (log.Requests.size() == c.Received.size())
            std::printf("[ figures  ] velquor-flash.exe real-time update under Wine: lock to unlock %.0f ms for %zu "
                        "requests; block to block %.2f ms on average\n",
                        log.Requests.back().Ms - log.Requests[lock].Ms, log.Requests.size() - lock,
                        (log.Requests[lock + 4 + kImageBlocks - 1].Ms - log.Requests[lock + 4].Ms) /
                            static_cast<double>(kImageBlocks - 1));
    }

    if (record.empty()) return;
    // The record names the edge and the unit, carries no report descriptor (Windows' HID stack
    // shows none) and ends with the outcome; it replays with the arguments it was made with.
    const std::string text = ReadText(record);
    EXPECT_TRUE(HoldsInOrder(text, {"velquor-record 1\n", "\nfront-end velquor-flash.exe\nedge win32\ncommand update\n"
                                                          "unit 21b8:0002 input 60 output 60\n", " > 01 08 00 00",
                                    c.Status == 0 ? " outcome success firmware 1.25\n"
                                                  : " outcome failure block 0x00000007-0x00000000 firmware none\n"}));
    EXPECT_EQ(text.find("\ndescriptor "), std::string::npos);
    EXPECT_EQ(Count(text, " > "), c.Received.size()) << "a request the unit did not get, or one not recorded";
    EXPECT_TRUE(AppendText(record, "# velquor-flash.exe on Wine's HID stack, the virtual SETBOX (tests/win32/flash_exe_tests.cpp)\n"
                                   "# replay --lang en --yes update status " + std::to_string(status) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(FlashExe, RunTest, testing::ValuesIn(kRunCases),
                         [](const testing::TestParamInfo<RunCase>& row) { return std::string(row.param.Name); });

// ---- One program per unit, the other way round -------------------------------------------------

// velquor-flash.exe watches (and so holds) the unit; the window started then says that another
// program uses it, and sends it nothing.
TEST_F(FlashExeTest, WindowStartedWhileWatchHoldsTheUnitSaysItIsInUse)
{
    ASSERT_TRUE(PlugIn(0, ""));
    ASSERT_TRUE(StartFlash(L"watch"));
    ASSERT_TRUE(WaitForOut("--- Programming unit connected: " + std::string(kUnitPath) + "\nSETBOX: 1.25\n", kStartLimit));

    HWND window = StartWindow(TableText(LANGUAGE_ENGLISH, TEXT_UNIT_IN_USE_HINT));
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(ControlEnabled(window, IDC_UPDATE));
    CloseWindow(window);
    ASSERT_TRUE(m_Flash.SendControlEvent(CTRL_C_EVENT));
    EXPECT_EQ(m_Flash.ExitWithin(kStartLimit), 130);

    UnitLog log = PullOut(0);
    EXPECT_EQ(Commands(log), kIdentification) << "only velquor-flash.exe's identification: " << log.Text;
}

// ---- watch over a fleet: arrivals and removals from the system -------------------------------

TEST_F(FlashExeTest, RealTimeWatchUpdatesTheOlderEscAndLeavesTheOtherAlone)
{
    ASSERT_TRUE(StartFlash(L"--yes watch"));
    ASSERT_TRUE(WaitForOut("Waiting for programming units; Ctrl-C ends.\n", kStartLimit));
    const std::string second = "#vid_21b8&pid_0002&in_60&out_60#0001#";

    ASSERT_TRUE(PlugIn(0, ""));
    ASSERT_TRUE(WaitForOut("ESC 0x110fa0d2  1.24 -> 1.25  updated\n", kUpdateLimit));
    UnitLog first = PullOut(0);
    ASSERT_TRUE(WaitForOut("--- Programming unit removed: ", kStartLimit));
    ASSERT_TRUE(PlugIn(1, "fw=0x0119"));
    ASSERT_TRUE(WaitForOut("ESC 0x110fa0d2  1.25 -> 1.25  up to date, left alone\n", kStartLimit));
    UnitLog upToDate = PullOut(1);
    ASSERT_TRUE(WaitForOut("--- Programming unit removed: ", kStartLimit, 2));
    ASSERT_TRUE(m_Flash.SendControlEvent(CTRL_C_EVENT));
    EXPECT_EQ(m_Flash.ExitWithin(kStartLimit), 130);

    EXPECT_TRUE(HoldsInOrder(m_Flash.Out(),
                             {"--- Programming unit connected: " + std::string(kUnitPath) + "\n", kSuccess,
                              "ESC 0x110fa0d2  1.24 -> 1.25  updated\n",
                              "--- Programming unit removed: " + std::string(kUnitPath) + "\n",
                              "--- Programming unit connected: ", second, "ESC: 1.25\n",
                              "ESC 0x110fa0d2  1.25 -> 1.25  up to date, left alone\n",
                              "--- Programming unit removed: ", second}));
    EXPECT_EQ(Count(m_Flash.Out(), "--- Programming unit connected: "), 2u) << m_Flash.Out();
    EXPECT_EQ(Commands(first), UpdateRequests(kImageBlocks, true));
    ExpectFlashHoldsTheImage(m_Units[0].ReadFlash());
    EXPECT_EQ(Commands(upToDate), kIdentification) << "the ESC that is up to date was written to";
}

// ---- The end of the session --------------------------------------------------------------------

struct SessionEndCase {
    const char* Name;
    const char* Scenario;
    const wchar_t* Arguments;
    bool DuringTheFlash;   // asked once the transfer runs; else while watch waits
    bool ByWineboot;       // Wine's end of the session; else a log-off asked by this test
    int64_t Status;
    const char* Held;      // the line written when the end is held, or null
    std::vector<std::string> Out;
};

const SessionEndCase kSessionEndCases[] = {
    // Wine asks with lParam 0, which Windows sends for a shutdown.
    {"RealTimeShutdownWaitsForTheUpdate", "", L"--yes update", true, true, 143,
     "WM_QUERYENDSESSION (shutdown) received while the ESC is being written", {"ESC: 1.25\n\n" + std::string(kSuccess)}},
    {"LogOffWaitsForTheRefusedBlock", "fail=block#600:refuse:7", L"--yes update", true, false, 129,
     "WM_QUERYENDSESSION (log-off) received while the ESC is being written", {"errorcode: 0x00000007-0x00000000"}},
    // Outside the flash commands the session may end; the record is written first.
    {"ShutdownWhileWatchingEndsTheProgramWithItsRecord", "", L"watch", false, true, 143, nullptr,
     {"--- Programming unit connected: "}},
};

void PrintTo(const SessionEndCase& row, std::ostream* out) { *out << row.Name; }

class SessionEndTest : public FlashExeTest, public testing::WithParamInterface<SessionEndCase> {};

TEST_P(SessionEndTest, IsRefusedDuringTheFlashAndEndsTheProgramAfterIt)
{
    const SessionEndCase& c = GetParam();
    ASSERT_TRUE(PlugIn(0, c.Scenario));
    const std::wstring record = Files("record.rec");
    DeleteFileW(record.c_str());
    ASSERT_TRUE(StartFlash(L"--record \"" + record + L"\" " + c.Arguments));
    if (c.DuringTheFlash) {
        ASSERT_TRUE(WaitUntil([&] { return m_Flash.Err().find(" 10 %") != std::string::npos || !m_Flash.Running(); },
                              kStartLimit))
            << m_Flash.Err();
    } else {
        ASSERT_TRUE(WaitForOut("SETBOX: 1.25\n", kStartLimit));
    }

    // The session's end, asked as the system asks it; during the flash twice, told once.
    int64_t answer = -1;
    for (int ask = 0; ask < (c.DuringTheFlash ? 2 : 1); ++ask) {
        if (c.ByWineboot) {
            ChildProgram request;
            std::string error;
            DWORD code = 2;
            ASSERT_TRUE(AskToEndTheSession(&request, &error)) << error;
            ASSERT_TRUE(request.WaitForExit(kStartLimit, &code)) << "wineboot does not end";
            answer = code == 0 ? 1 : 0;
        } else {
            answer = console_driver::AskToLogOff(m_Flash.Id());
        }
        EXPECT_EQ(answer, c.DuringTheFlash ? 0 : 1) << "1: agreed, 0: refused, -1: no answer";
        if (!c.DuringTheFlash) break;
        Sleep(1000);
        EXPECT_TRUE(m_Flash.Running()) << "the program ended during the flash commands";
    }
    const int64_t status = m_Flash.ExitWithin(c.DuringTheFlash ? kUpdateLimit : Seconds(10));
    const std::string err = m_Flash.Err();
    EXPECT_EQ(status, c.Status) << err;
    EXPECT_TRUE(HoldsInOrder(m_Flash.Out(), c.Out));
    if (c.Held != nullptr) {
        EXPECT_EQ(Count(err, c.Held), 1u) << err;
    } else {
        EXPECT_EQ(err.find("received"), std::string::npos) << err;
    }
    // The record is whole: its unit, the identification, and under update the outcome.
    EXPECT_TRUE(HoldsInOrder(ReadText(record), {"\nedge win32\n", "\nunit 21b8:0002 input 60 output 60\n", " > 01 22 ",
                                                c.DuringTheFlash ? " outcome " : " < 02 22 "}));

    UnitLog log = PullOut(0);
    if (c.Status == 143 && c.DuringTheFlash) {
        EXPECT_EQ(Commands(log), UpdateRequests(kImageBlocks, true));
        ExpectFlashHoldsTheImage(m_Units[0].ReadFlash());
    }
}

INSTANTIATE_TEST_SUITE_P(FlashExe, SessionEndTest, testing::ValuesIn(kSessionEndCases),
                         [](const testing::TestParamInfo<SessionEndCase>& row) { return std::string(row.param.Name); });

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_ENGLISH) {
        std::fprintf(stderr, "velquor_flash_exe_tests: the window's texts are English (under Wine set LC_ALL=en_US.UTF-8)\n");
        return 2;
    }
    CreateDirectoryW(WindowsPath(VELQUOR_VUNIT_FILES).c_str(), nullptr);
    CreateDirectoryW(WindowsPath(VELQUOR_RECORDS_OUT).c_str(), nullptr);
    g_Desktop = EnterTestDesktop(1024, 768);
    int result = RUN_ALL_TESTS();
    LeaveTestDesktop();
    return result;
}
