// The product, VelquorUpdater.exe, on Wine's real HID stack: virtual programming units
// (tests/win32/virtual_unit) are plugged into hid.dll/hidclass.sys and answer as the simulated
// unit does, while the unchanged program is started and driven from outside as a user drives it.
// Each unit writes down every request it received, with its arrival time, and the controller's
// flash; the tests check what the user sees and what reached the unit.
//
//   velquor_virtual_unit_tests [gtest options]       (English user interface: LC_ALL=en_US.UTF-8)
//
// RealTimeUpdateTest.* is the whole update in real time (about 50 s) and prints its figures.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "platform/win32/hid_win32.h"
#include "resources/resource_ids.h"
#include "resources/text_ids.h"
#include "tests/win32/dialog_steps.h"
#include "tests/win32/unit_steps.h"
#include "tests/win32/dialog_driver.h"
#include "tests/win32/virtual_unit/unit_install.h"
#include "tests/win32/virtual_unit/unit_process.h"

#if !defined(VELQUOR_UPDATER_EXE) || !defined(VELQUOR_VUNIT_EXE) || !defined(VELQUOR_VUNIT_FILES) || \
    !defined(VELQUOR_WIN32_RECORDS)
#error "the build names the product, the unit program, the folder of the units' files and that of the records"
#endif

using namespace dialog_driver;
using virtual_unit::NowMs;
using virtual_unit::UnitLog;
using virtual_unit::UnitProcess;
using virtual_unit::UnitRequest;
using virtual_unit::UnitSettings;

namespace {

constexpr Seconds kStartLimit{60};
constexpr Seconds kTransferLimit{240};
// The product's read time limit, and the longest a failure may take beyond it.
constexpr double kReplyTimeoutMs = 15000;
constexpr double kTimeoutSlackMs = 5000;

const std::wstring kNoVersion = L"0.0.0";

// The default unit as the driver declares it.
const virtual_unit::UnitIdentity kDefaultUnit = {0x21B8, 2, 60, 60};

std::wstring Text(uint32_t id) { return TableText(LANGUAGE_ENGLISH, id); }

std::wstring HintWithSteps(uint32_t statusId) { return dialog_driver::HintWithSteps(LANGUAGE_ENGLISH, statusId); }

std::wstring FailureMessage(uint32_t textId, const wchar_t* codes)
{
    std::wstring line = Text(TEXT_ERROR_CODE_LINE);
    size_t at = line.find(L"0x%08x-0x%08x");
    EXPECT_NE(at, std::wstring::npos) << Narrow(line);
    if (at != std::wstring::npos) line.replace(at, 13, codes);
    return Text(textId) + L"\r\n" + line;
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char cell[4];
    for (uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02x ", b);
        text += cell;
    }
    return text;
}


// Whether the dialog answers the system: pings with WM_NULL, as Windows does before it calls a
// window hung, and Windows' own verdict.
struct Liveness {
    int Pings = 0;
    int Answered = 0;
    int CalledHung = 0;
    double SlowestMs = 0;
    double FirstMissMs = -1;  // the first unanswered ping or hung verdict, after `since`

    void Ping(HWND dialog, double since)
    {
        DWORD_PTR result = 0;
        double start = NowMs();
        ++Pings;
        bool answered = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
        if (answered) ++Answered;
        SlowestMs = std::max(SlowestMs, NowMs() - start);
        bool hung = IsHungAppWindow(dialog) != FALSE;
        if (hung) ++CalledHung;
        if ((!answered || hung) && FirstMissMs < 0) FirstMissMs = start - since;
    }

    std::string Misses() const
    {
        return std::to_string(Pings - Answered) + " of " + std::to_string(Pings) + " pings unanswered, called hung " +
               std::to_string(CalledHung) + " times, the first " + std::to_string(FirstMissMs) + " ms in";
    }
};

// ---- The log of the visit, saved through the system menu ---------------------------------------

// The window's Save dialog: an owned dialog titled "Save log".
HWND FindSaveDialog(HWND dialog)
{
    struct Search {
        HWND Owner;
        std::wstring Title;
        HWND Found;
    } search = {dialog, Text(TEXT_SAVE_LOG_TITLE), nullptr};
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            Search* s = reinterpret_cast<Search*>(found);
            if (GetWindow(window, GW_OWNER) != s->Owner || !IsWindowVisible(window) || ClassName(window) != L"#32770" ||
                Caption(window) != s->Title)
                return TRUE;
            s->Found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The Save dialog's file name field: the explorer-style dialog's combo box, or the older edit.
HWND FileNameField(HWND save)
{
    HWND field = GetDlgItem(save, 0x047C);  // cmb13
    return field != nullptr ? field : GetDlgItem(save, 0x0480);  // edt1
}

// "Save log..." as the system menu sends it (under Wine a window's menu can't be read from
// another process, its command can be sent), answered in the Save dialog with `path`. Returns
// the name the dialog offered, or "" with a failure.
std::wstring SaveLogAs(HWND dialog, const std::wstring& path)
{
    DeleteFileW(path.c_str());
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_SAVE_LOG, 0);
    HWND save = nullptr;
    if (!WaitUntil([&] { return (save = FindSaveDialog(dialog)) != nullptr; }, kBoxLimit)) {
        ADD_FAILURE() << "no Save dialog";
        return L"";
    }
    HWND field = FileNameField(save);
    EXPECT_NE(field, nullptr) << "no file name in the Save dialog";
    wchar_t offered[MAX_PATH] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(field, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(offered), SMTO_ABORTIFHUNG, 5000, &copied);
    SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 5000, &copied);
    EXPECT_TRUE(ClickButton(save, IDOK));
    EXPECT_TRUE(WaitUntilGone(save, kBoxLimit)) << "the Save dialog stays open";
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, kBoxLimit))
        << "no log was written to " << Narrow(path);
    return offered;
}

std::string ReadText(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Where a saved log goes: the corpus's folder for the window's record of an update, the units'
// files for the others.
std::wstring RecordPath(const char* name)
{
    const bool corpus = std::strcmp(name, "win32-window-update") == 0;
    const std::wstring folder = WindowsPath(corpus ? VELQUOR_WIN32_RECORDS : VELQUOR_VUNIT_FILES);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + std::wstring(name, name + std::strlen(name)) + L".rec";
}

// The header the window writes for the default unit on Wine's HID stack.
const char kWindowHeader[] = "\nfirmware 1.25\nfront-end VelquorUpdater\nedge win32\ncommand window\n"
                             "unit 21b8:0002 input 60 output 60\n";

// The requests of a record, command bytes in order.
std::vector<uint8_t> RecordedCommands(const std::string& record)
{
    std::vector<uint8_t> commands;
    for (size_t at = record.find(" > 01 "); at != std::string::npos; at = record.find(" > 01 ", at + 1))
        commands.push_back(static_cast<uint8_t>(std::stoul(record.substr(at + 6, 2), nullptr, 16)));
    return commands;
}

// ---------------------------------------------------------------------------------------------

class VirtualUnitTest : public testing::Test {
protected:
    // Plugs unit `number` in; false after a recorded failure.
    bool PlugIn(uint32_t number, const UnitSettings& settings)
    {
        return PlugInUnit(m_Units[number], number, settings, Files(number));
    }

    // Pulls unit `number` out and returns what it logged.
    UnitLog PullOut(uint32_t number) { return PullOutUnit(m_Units[number], number); }

    // Starts the product and waits until its dialog is on the screen.
    HWND StartProduct()
    {
        std::string error;
        if (!m_Product.Start(WindowsPath(VELQUOR_UPDATER_EXE), nullptr, false, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        HWND dialog = m_Product.WaitForDialog(kStartLimit);
        if (dialog == nullptr || !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, kStartLimit)) {
            ADD_FAILURE() << "the dialog is not shown; " << m_Product.DescribeWindows();
            return nullptr;
        }
        return dialog;
    }

    HWND WaitForBox(HWND dialog, Seconds limit = kBoxLimit) { return dialog_driver::WaitForBox(m_Product, dialog, limit); }

    void Answer(HWND box, int buttonId) { AnswerBox(m_Product, box, buttonId); }

    // Update, the warning answered with OK (and the version question with Yes, if it comes).
    void StartUpdate(HWND dialog)
    {
        // The window shows before it looks at the unit: Update comes on once the look is done.
        ASSERT_TRUE(WaitUntil([&] { return ControlEnabled(dialog, IDC_UPDATE); }, kBoxLimit))
            << "Update never came on; the hint: " << Narrow(ControlText(dialog, IDC_HINTBOX));
        ASSERT_TRUE(ClickButton(dialog, IDC_UPDATE));
        HWND warning = WaitForBox(dialog);
        ASSERT_NE(warning, nullptr);
        EXPECT_EQ(ReadMessageBox(warning).Text, Text(TEXT_WARNING));
        ASSERT_NO_FATAL_FAILURE(Answer(warning, IDOK));
    }

    void ExpectPanel(HWND dialog, const std::wstring& unitLabel, const std::wstring& unit, const std::wstring& boot,
                     const std::wstring& controller, bool enabled)
    {
        EXPECT_EQ(ControlText(dialog, IDC_LABEL_UNIT), unitLabel);
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_UNIT), unit);
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_BOOTLOADER), boot);
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_CONTROLLER), controller);
        for (int control : {IDC_VALUE_UNIT, IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER})
            EXPECT_EQ(ControlEnabled(dialog, control), enabled) << "control " << control;
    }

    // No unit: versions 0.0.0 greyed out, Update disabled, `hint` in the hint box.
    void ExpectNoUnitLook(HWND dialog, const std::wstring& hint)
    {
        EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, hint, kBoxLimit), hint);
        EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
        for (int control : {IDC_VALUE_UNIT, IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER}) {
            EXPECT_EQ(ControlText(dialog, control), kNoVersion) << "control " << control;
            EXPECT_FALSE(ControlEnabled(dialog, control)) << "control " << control;
        }
    }

    void CloseProduct(HWND dialog)
    {
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        DWORD code = 1;
        ASSERT_TRUE(m_Product.WaitForExit(kBoxLimit, &code)) << m_Product.DescribeWindows();
        EXPECT_EQ(code, 0u);
    }

    std::wstring Files(uint32_t number) const
    {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return WindowsPath(VELQUOR_VUNIT_FILES) + L"\\" + std::wstring(name.begin(), name.end()) + L"-unit" +
               std::to_wstring(number);
    }

    // The product is declared last, so it ends before its units are pulled out.
    UnitProcess m_Units[2];
    ChildProgram m_Product;
};

// ---- What the dialog shows at start --------------------------------------------------------

struct StartCase {
    const char* Name;
    UnitSettings First;
    const char* SecondScenario;  // null: no second unit; else a SETBOX with this scenario
    bool Ready;                  // the ready look; else the no-unit look
    const wchar_t* UnitLabel;
    std::vector<uint8_t> FirstReceives;  // requests at the first unit
};

const StartCase kStartCases[] = {
    {"Setbox", {"", -1, -1}, nullptr, true, L"SETBOX", kIdentification},
    {"Dialpuck", {"unit=dialpuck", -1, -1}, nullptr, true, L"DIALPUCK", kIdentification},
    // Nothing is ever sent to an interface that is not a programming unit.
    {"ForeignVendorWithProductTwo", {"", 0x16C0, 2}, nullptr, false, nullptr, {}},
    {"ProductThree", {"", -1, 3}, nullptr, false, nullptr, {}},
    {"InputReportsTooShort", {"inlen=40", -1, -1}, nullptr, false, nullptr, {}},
    {"OutputReportsTooShort", {"outlen=50", -1, -1}, nullptr, false, nullptr, {}},
    // The second unit would show the wrong-mode hint if it were served.
    {"TwoUnitsTheFirstIsServed", {"", -1, -1}, "mode=1", true, L"SETBOX", kIdentification},
};

void PrintTo(const StartCase& row, std::ostream* out) { *out << row.Name; }

class StartTest : public VirtualUnitTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, ShowsWhatTheUnitsAnswer)
{
    const StartCase& c = GetParam();
    ASSERT_TRUE(PlugIn(0, c.First));
    if (c.SecondScenario != nullptr) {
        ASSERT_TRUE(PlugIn(1, {c.SecondScenario, -1, -1}));
        // Both declare the same; the system lists unit 0 first.
        int32_t first = virtual_unit::ListPosition(0, kDefaultUnit);
        int32_t second = virtual_unit::ListPosition(1, kDefaultUnit);
        ASSERT_GE(first, 0);
        ASSERT_GT(second, first);
    }
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(Synchronize(dialog, kBoxLimit));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Product.DescribeWindows();

    if (c.Ready) {
        EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_READY_HINT), kBoxLimit), Text(TEXT_READY_HINT));
        EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
        ExpectPanel(dialog, c.UnitLabel, L"1.25", L"1.5", L"1.24", true);
    } else {
        ExpectNoUnitLook(dialog, HintWithSteps(TEXT_NO_UNIT_HINT));
        EXPECT_EQ(ControlText(dialog, IDC_LABEL_UNIT), Text(TEXT_LABEL_UNIT));
    }
    CloseProduct(dialog);

    UnitLog first = PullOut(0);
    EXPECT_EQ(Hex(Commands(first)), Hex(c.FirstReceives)) << first.Text;
    if (c.SecondScenario != nullptr) {
        UnitLog second = PullOut(1);
        EXPECT_TRUE(second.Requests.empty()) << "the second unit was asked: " << second.Text;
    }
}

INSTANTIATE_TEST_SUITE_P(Product, StartTest, testing::ValuesIn(kStartCases),
                         [](const testing::TestParamInfo<StartCase>& row) { return std::string(row.param.Name); });

// ---- Failures --------------------------------------------------------------------------------

struct FailureCase {
    const char* Name;
    const char* Scenario;
    uint32_t TextId;
    const wchar_t* Codes;
    const char* Step;                    // the failed step as the log names it
    std::vector<uint8_t> FlashCommands;  // what reaches the unit after the identification
};

std::vector<uint8_t> WithBlocks(std::vector<uint8_t> head, size_t blocks)
{
    head.insert(head.end(), blocks, kBlock);
    return head;
}

const FailureCase kFailureCases[] = {
    {"BlockRefused", "fail=block#5:refuse:7", TEXT_BLOCK_FAILED, L"0x00000007-0x00000000", "block",
     WithBlocks({kLock, kProtect, kErase, kAddress}, 5)},
    {"EraseRefused", "fail=erase:refuse:0x1234", TEXT_ERASE_FAILED, L"0x00001234-0x00000000", "erase",
     {kLock, kProtect, kErase}},
    // The protection stays on: 1627, ERROR_FUNCTION_FAILED.
    {"ProtectionLeftOn", "fail=protect-off:state:1", TEXT_PROTECT_OFF_FAILED_STEP, L"0x0000065b-0x00000000",
     "protect-off", {kLock, kProtect}},
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.Name << " (" << row.Scenario << ")"; }

class FailureTest : public VirtualUnitTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ShowsTheStepAndBothCodesThenTheNoUnitLook)
{
    const FailureCase& c = GetParam();
    ASSERT_TRUE(PlugIn(0, {c.Scenario, -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));

    HWND failure = WaitForBox(dialog, Seconds(60));
    ASSERT_NE(failure, nullptr);
    MessageBoxView view = ReadMessageBox(failure);
    EXPECT_EQ(view.Caption, Text(TEXT_UPDATE_FAILED_CAPTION));
    EXPECT_EQ(view.Text, FailureMessage(c.TextId, c.Codes));
    // The log can be saved again once the flash commands have ended, the failure box still open.
    const std::wstring saved = RecordPath((std::string("failure-") + c.Name).c_str());
    SaveLogAs(dialog, saved);
    const std::string record = ReadText(saved);
    EXPECT_NE(record.find(std::string(" outcome failure ") + c.Step + " " + Narrow(c.Codes) + " firmware "),
              std::string::npos)
        << record.substr(record.size() > 300 ? record.size() - 300 : 0);
    ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
    ExpectNoUnitLook(dialog, Text(TEXT_FAILURE_HINT));
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    std::vector<uint8_t> expected = kIdentification;
    expected.insert(expected.end(), c.FlashCommands.begin(), c.FlashCommands.end());
    EXPECT_EQ(Hex(Commands(log)), Hex(expected)) << "nothing may follow the failing command";
}

INSTANTIATE_TEST_SUITE_P(Product, FailureTest, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<FailureCase>& row) { return std::string(row.param.Name); });

// A unit that takes the lock request and never answers: the read gives up after its time limit,
// and the dialog answers the system all the while.
TEST_F(VirtualUnitTest, SilentUnitFailsAfterTheReadTimeLimitAndTheDialogStaysResponsive)
{
    ASSERT_TRUE(PlugIn(0, {"fail=lock:hang", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));
    const double pressed = NowMs();

    Liveness live;
    HWND failure = nullptr;
    WaitUntil(
        [&] {
            failure = FindOwnedWindow(dialog, L"#32770");
            if (failure == nullptr) live.Ping(dialog, pressed);
            return failure != nullptr || !IsWindow(dialog);
        },
        Seconds(60));
    const double failed = NowMs();
    ASSERT_NE(failure, nullptr) << m_Product.DescribeWindows();
    EXPECT_EQ(ReadMessageBox(failure).Text, FailureMessage(TEXT_LOCK_FAILED, L"0xfffffffd-0x000005b4"));
    EXPECT_GE(live.Pings, 20);
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0) << live.Misses();
    ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
    ExpectNoUnitLook(dialog, Text(TEXT_FAILURE_HINT));
    live.Ping(dialog, pressed);
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0) << "after the failure: " << live.Misses();
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    ASSERT_FALSE(log.Requests.empty());
    const UnitRequest& lock = log.Requests.back();
    EXPECT_EQ(lock.Command, kLock);
    EXPECT_EQ(lock.Outcome, "silent");
    const double waited = failed - lock.Ms;
    EXPECT_GE(waited, kReplyTimeoutMs);
    EXPECT_LT(waited, kReplyTimeoutMs + kTimeoutSlackMs);
    std::printf("[ figures  ] silent unit: failure box %.0f ms after the lock request reached the unit "
                "(%.0f ms after the warning was answered); %d of %d pings answered, slowest %.1f ms\n",
                waited, failed - pressed, live.Answered, live.Pings, live.SlowestMs);
}

// Nothing is sent to the dialog while the update waits out the erase (5 s): the system calls a
// window hung when its thread has not looked at its messages for 5 s and is not waiting for
// them, so the first pings after that pause show whether the waits keep looking.
TEST_F(VirtualUnitTest, DialogIsNotCalledHungAfterTheQuietErasePause)
{
    ASSERT_TRUE(PlugIn(0, {"unplug=block#50", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));
    const double pressed = NowMs();
    // Found without sending the dialog anything.
    HWND progress = nullptr;
    while (progress == nullptr && NowMs() - pressed < 60000 && IsWindow(dialog)) {
        progress = FindOwnedWindow(dialog, L"msctls_progress32");
        Sleep(1);
    }
    ASSERT_NE(progress, nullptr) << m_Product.DescribeWindows();
    Liveness live;
    const double seen = NowMs();
    while (NowMs() - seen < 500) {
        live.Ping(dialog, seen);
        Sleep(2);
    }
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0)
        << live.Misses() << " (the progress window came " << seen - pressed << " ms after the warning's OK)";

    HWND failure = WaitForBox(dialog, Seconds(60));
    ASSERT_NE(failure, nullptr);
    ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
    CloseProduct(dialog);
}

// ---- Plugging in and pulling out --------------------------------------------------------------

TEST_F(VirtualUnitTest, FollowsAUnitPluggedInAndPulledOutWhileItRuns)
{
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ExpectNoUnitLook(dialog, HintWithSteps(TEXT_NO_UNIT_HINT));

    ASSERT_TRUE(PlugIn(0, {"", -1, -1}));
    const double listed = m_Units[0].ReadyMs();
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_READY_HINT), kBoxLimit), Text(TEXT_READY_HINT));
    const double ready = NowMs();
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.24", true);

    const double pulling = NowMs();
    UnitLog log = PullOut(0);
    ExpectNoUnitLook(dialog, HintWithSteps(TEXT_CONNECTION_LOST_HINT));
    const double lost = NowMs();
    EXPECT_EQ(Hex(Commands(log)), Hex(kIdentification));
    CloseProduct(dialog);
    std::printf("[ figures  ] plug-in: listed %.0f ms after the unit program began plugging in, ready hint %.0f ms "
                "after listing; pull-out: connection-lost hint %.0f ms after the pull began (removal took %.0f ms)\n",
                listed - log.Events["plug-start"], ready - listed, lost - pulling,
                log.Events["gone"] - log.Events["unplug-start"]);
}

// The unit is pulled out in the middle of the transfer. Wine reports this differently from
// Windows (a pending read ends with ERROR_ACCESS_DENIED, a write to the removed device may still
// succeed): the test records the codes shown and requires a failure report, never success.
TEST_F(VirtualUnitTest, UnitPulledOutDuringTheTransferIsReportedAsAFailure)
{
    ASSERT_TRUE(PlugIn(0, {"unplug=block#100", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));
    ASSERT_TRUE(m_Units[0].WaitForEnd(Seconds(120))) << "the unit was not pulled out";

    HWND failure = WaitForBox(dialog, Seconds(60));
    ASSERT_NE(failure, nullptr);
    const double shown = NowMs();
    UnitLog log = m_Units[0].ReadLog();
    EXPECT_EQ(log.End, "unplugged") << log.Text;
    const double pulled = log.Events["unplug-start"];
    MessageBoxView view = ReadMessageBox(failure);
    EXPECT_EQ(view.Caption, Text(TEXT_UPDATE_FAILED_CAPTION));
    const std::wstring step = Text(TEXT_BLOCK_FAILED) + L"\r\n";
    EXPECT_EQ(view.Text.substr(0, step.size()), step) << Narrow(view.Text);
    EXPECT_NE(ControlText(dialog, IDC_HINTBOX), Text(TEXT_UPDATE_SUCCESS));
    std::printf("[ figures  ] pulled out at block 100: '%s' seen %.0f ms after the removal began\n",
                Narrow(view.Text.substr(step.size())).c_str(), shown - pulled);
    ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
    ExpectNoUnitLook(dialog, Text(TEXT_FAILURE_HINT));
    CloseProduct(dialog);

    const std::vector<uint8_t> commands = Commands(log);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kBlock), 100);
}

// ---- Input reports that are not the request's reply --------------------------------------------

// The unit sends a report of its own (id 3) before a reply, or a reply a second time after it.
// Every request must still take its own reply: a program that takes whatever comes next reads
// every later reply one request late, and then shows the refusal of the last block as a refused
// protection, or sends a seventh block after the sixth was refused.
struct ExtraReportCase {
    const char* Name;
    const char* Scenario;
    const wchar_t* Codes;  // the failure box's codes; null: the update succeeds
    size_t Blocks;         // block requests that reach the unit
    size_t ExtraBlock;     // the block whose request is answered with two reports
};

const ExtraReportCase kExtraReportCases[] = {
    {"OwnReportBeforeBlockFive", "extra=block#5", nullptr, kImageBlocks, 5},
    {"BlockFiveAnsweredTwice", "extra=block#5:after", nullptr, kImageBlocks, 5},
    {"OwnReportBeforeTheLastBlockIsRefused", "extra=block#2048,fail=block#2048:refuse:7", L"0x00000007-0x00000000",
     kImageBlocks, kImageBlocks},
    {"BlockFiveAnsweredTwiceThenBlockSixRefused", "extra=block#5:after,fail=block#6:refuse:7",
     L"0x00000007-0x00000000", 6, 5},
};

void PrintTo(const ExtraReportCase& row, std::ostream* out) { *out << row.Name << " (" << row.Scenario << ")"; }

class ExtraReportTest : public VirtualUnitTest, public testing::WithParamInterface<ExtraReportCase> {};

TEST_P(ExtraReportTest, EveryRequestTakesItsOwnReply)
{
    const ExtraReportCase& c = GetParam();
    ASSERT_TRUE(PlugIn(0, {c.Scenario, -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));

    HWND failure = nullptr;
    bool succeeded = false;
    WaitUntil(
        [&] {
            failure = FindOwnedWindow(dialog, L"#32770");
            succeeded = ControlText(dialog, IDC_HINTBOX) == Text(TEXT_UPDATE_SUCCESS);
            return failure != nullptr || succeeded || !IsWindow(dialog);
        },
        kTransferLimit);
    if (c.Codes == nullptr) {
        EXPECT_TRUE(succeeded && failure == nullptr) << m_Product.DescribeWindows();
    } else {
        EXPECT_FALSE(succeeded);
        ASSERT_NE(failure, nullptr) << m_Product.DescribeWindows();
        EXPECT_EQ(ReadMessageBox(failure).Text, FailureMessage(TEXT_BLOCK_FAILED, c.Codes));
        ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
        ExpectNoUnitLook(dialog, Text(TEXT_FAILURE_HINT));
    }
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    const std::vector<uint8_t> commands = Commands(log);
    ASSERT_EQ(commands, UpdateRequests(c.Blocks, c.Codes == nullptr))
        << std::count(commands.begin(), commands.end(), kBlock) << " blocks; the last requests: "
        << Hex(std::vector<uint8_t>(commands.end() - std::min<ptrdiff_t>(8, std::ssize(commands)), commands.end()));
    const size_t extra = kIdentification.size() + 4 + c.ExtraBlock - 1;
    EXPECT_EQ(log.Requests[extra].Reports, 2u) << "the unit did not send the extra report";
    if (c.Codes == nullptr) ExpectFlashHoldsTheImage(m_Units[0].ReadFlash());
}

INSTANTIATE_TEST_SUITE_P(Product, ExtraReportTest, testing::ValuesIn(kExtraReportCases),
                         [](const testing::TestParamInfo<ExtraReportCase>& row) { return std::string(row.param.Name); });

// ---- One program per unit ----------------------------------------------------------------------

// A second start while the program runs shows nothing of its own: it brings the running
// window to the front, restored, and ends.
TEST_F(VirtualUnitTest, SecondStartBringsTheRunningWindowBackAndEnds)
{
    ASSERT_TRUE(PlugIn(0, {"", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_READY_HINT), kBoxLimit), Text(TEXT_READY_HINT));
    ShowWindow(dialog, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(dialog) != FALSE; }, kBoxLimit)) << "the dialog is not minimised";

    ChildProgram second;
    std::string error;
    ASSERT_TRUE(second.Start(WindowsPath(VELQUOR_UPDATER_EXE), nullptr, false, &error)) << error;
    DWORD code = 1;
    ASSERT_TRUE(second.WaitForExit(kStartLimit, &code)) << "the second start does not end; " << second.DescribeWindows();
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(dialog) == FALSE && GetForegroundWindow() == dialog; }, kBoxLimit))
        << "the running window is not brought back (minimised: " << (IsIconic(dialog) != FALSE)
        << ", foreground: " << Narrow(Caption(GetForegroundWindow())) << ")";
    EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), Text(TEXT_READY_HINT));
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    EXPECT_EQ(Hex(Commands(log)), Hex(kIdentification)) << "only the first program's identification";
}

// A unit that another program holds (here this test, through the product's own HID edge) is
// named with a hint of its own and sent nothing; once the other lets it go, the window takes it
// up by itself, without a replug.
TEST_F(VirtualUnitTest, UnitHeldByAnotherProgramIsNamedAndTakenUpOnceFree)
{
    ASSERT_TRUE(PlugIn(0, {"", -1, -1}));
    const std::wstring path = virtual_unit::FindInterfacePath(0, kDefaultUnit);
    ASSERT_FALSE(path.empty());
    PlatformHandle held = kWin32HidPlatform.Open(reinterpret_cast<const char16_t*>(path.c_str()));
    ASSERT_NE(held, INVALID_PLATFORM_HANDLE);
    ASSERT_TRUE(kWin32HidPlatform.Claim(held));

    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ExpectNoUnitLook(dialog, Text(TEXT_UNIT_IN_USE_HINT));
    // Looked at again every second meanwhile, and still held.
    Sleep(2500);
    EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), Text(TEXT_UNIT_IN_USE_HINT));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Product.DescribeWindows();

    kWin32HidPlatform.Close(held);
    const double freed = NowMs();
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_READY_HINT), kBoxLimit), Text(TEXT_READY_HINT));
    const double takenUp = NowMs() - freed;
    EXPECT_LT(takenUp, 2000.0) << "the unit was taken up " << takenUp << " ms after it was let go";
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.24", true);
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    EXPECT_EQ(Hex(Commands(log)), Hex(kIdentification)) << "nothing while held, then the identification once";
    std::printf("[ figures  ] held unit: taken up %.0f ms after the other program let it go\n", takenUp);
}

// ---- A unit that does not answer ---------------------------------------------------------------

// The unit takes the status request and never answers. The window is on the screen at once and
// answers the system throughout the read's time limit; then it says that the unit is there but
// does not answer.
struct SilentCase {
    const char* Name;
    bool AtStart;  // plugged in before the program starts; else once it runs
};

const SilentCase kSilentCases[] = {{"AtStart", true}, {"OnPlugIn", false}};

void PrintTo(const SilentCase& row, std::ostream* out) { *out << row.Name; }

class SilentUnitTest : public VirtualUnitTest, public testing::WithParamInterface<SilentCase> {};

TEST_P(SilentUnitTest, WindowAnswersThroughoutThenSaysTheUnitDoesNotAnswer)
{
    const UnitSettings silent = {"fail=status:hang", -1, -1};
    if (GetParam().AtStart) {
        ASSERT_TRUE(PlugIn(0, silent));
    }
    const double started = NowMs();
    std::string error;
    ASSERT_TRUE(m_Product.Start(WindowsPath(VELQUOR_UPDATER_EXE), nullptr, false, &error)) << error;
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = m_Product.WaitForDialog(Seconds(0))) != nullptr && IsWindowVisible(dialog); },
                          kStartLimit))
        << m_Product.DescribeWindows();
    const double visible = NowMs() - started;
    if (!GetParam().AtStart) {
        EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, HintWithSteps(TEXT_NO_UNIT_HINT), kBoxLimit),
                  HintWithSteps(TEXT_NO_UNIT_HINT));
        ASSERT_TRUE(PlugIn(0, silent));
    }
    const double looking = NowMs();
    Liveness live;
    WaitUntil(
        [&] {
            live.Ping(dialog, looking);
            return ControlText(dialog, IDC_HINTBOX) == Text(TEXT_UNIT_SILENT_HINT) || !IsWindow(dialog);
        },
        Seconds(60));
    const double told = NowMs() - looking;
    ExpectNoUnitLook(dialog, Text(TEXT_UNIT_SILENT_HINT));
    // Before the identification had ended, not after its 15 s.
    EXPECT_LT(visible, 5000.0) << "the window came " << visible << " ms after the start";
    EXPECT_GE(told, kReplyTimeoutMs - 1000);
    EXPECT_GE(live.Pings, 20);
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0) << live.Misses();
    CloseProduct(dialog);

    UnitLog log = PullOut(0);
    ASSERT_EQ(Hex(Commands(log)), Hex({kStatus})) << log.Text;
    EXPECT_EQ(log.Requests[0].Outcome, "silent");
    std::printf("[ figures  ] silent unit %s: window visible %.0f ms after the start; the hint %.0f ms after the look "
                "began; %d of %d pings answered, slowest %.1f ms\n",
                GetParam().Name, visible, told, live.Answered, live.Pings, live.SlowestMs);
}

// Close while the window waits for a unit that does not answer: the wait is cut short and the
// program ends at once, not after the read's time limit.
TEST_F(VirtualUnitTest, CloseDuringALookAtASilentUnitEndsAtOnce)
{
    ASSERT_TRUE(PlugIn(0, {"fail=status:hang", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    Sleep(1000);  // the status request is under way
    const double closed = NowMs();
    ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
    DWORD code = 1;
    ASSERT_TRUE(m_Product.WaitForExit(kBoxLimit, &code)) << m_Product.DescribeWindows();
    const double ended = NowMs() - closed;
    EXPECT_EQ(code, 0u);
    EXPECT_LT(ended, kReplyTimeoutMs / 3) << "the program waited for the unit";
    UnitLog log = PullOut(0);
    EXPECT_EQ(Hex(Commands(log)), Hex({kStatus})) << log.Text;
    std::printf("[ figures  ] Close during the look at a silent unit: the program ended %.0f ms later\n", ended);
}

INSTANTIATE_TEST_SUITE_P(Product, SilentUnitTest, testing::ValuesIn(kSilentCases),
                         [](const testing::TestParamInfo<SilentCase>& row) { return std::string(row.param.Name); });

// Ten plug-ins and pull-outs of an answering unit, one after another with the window open: each
// is identified once and shown ready, none is lost, and the window answers throughout.
TEST_F(VirtualUnitTest, PlugInsInARowAreEachIdentified)
{
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ExpectNoUnitLook(dialog, HintWithSteps(TEXT_NO_UNIT_HINT));
    Liveness live;
    double slowest = 0;
    for (int round = 1; round <= 10; ++round) {
        SCOPED_TRACE("plug-in " + std::to_string(round));
        ASSERT_TRUE(PlugIn(0, {"", -1, -1}));
        const double listed = m_Units[0].ReadyMs();
        bool ready = WaitUntil(
            [&] {
                live.Ping(dialog, listed);
                return ControlText(dialog, IDC_HINTBOX) == Text(TEXT_READY_HINT);
            },
            kBoxLimit);
        ASSERT_TRUE(ready) << "not identified; the hint: " << Narrow(ControlText(dialog, IDC_HINTBOX));
        slowest = std::max(slowest, NowMs() - listed);
        UnitLog log = PullOut(0);
        EXPECT_EQ(Hex(Commands(log)), Hex(kIdentification)) << log.Text;
        ExpectNoUnitLook(dialog, HintWithSteps(TEXT_CONNECTION_LOST_HINT));
    }
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0) << live.Misses();
    CloseProduct(dialog);
    std::printf("[ figures  ] ten plug-ins in a row: each ready at most %.0f ms after it was listed; %d of %d pings "
                "answered, slowest %.1f ms\n",
                slowest, live.Answered, live.Pings, live.SlowestMs);
}

// ---- The whole update in real time ------------------------------------------------------------

// Mandated pauses between one request's arrival and the next: 20 ms after every command, the
// erase's reply read 1000 ms after its request and 4000 ms after that, 20 ms after every block.
double MandatedGapMs(uint8_t command, uint8_t next)
{
    if (command == kErase) return 1000 + 4000 + 20;
    if (command == kProtect && next == kLock) return 0;  // protection on, then the unlock at once
    return 20;
}

// What the user and the system do to the program while it writes the controller, at these times
// after the progress window appeared. None of it may end, stop or delay the transfer.
enum class Disturbance {
    CloseMessage,     // WM_CLOSE to the dialog
    CancelCommand,    // Esc's command
    CloseButton,      // a click on Close
    CloseSysCommand,  // Alt+F4
    CloseBox,         // a click on the close box
    SystemLoops,      // the input that starts a loop of the system's own (kSystemLoopInput)
    SystemLoopsEnd,   // the input that ends such loops: the buttons released, Esc
    EndSession,       // the end of the session asked for
    SaveLog,          // "Save log..." chosen in the system menu: does nothing now
};

const struct {
    double AtMs;
    Disturbance What;
} kDisturbances[] = {
    {3000, Disturbance::CloseMessage},     {6000, Disturbance::CancelCommand},   {9000, Disturbance::CloseButton},
    {12000, Disturbance::CloseSysCommand}, {13500, Disturbance::CloseBox},       {15000, Disturbance::SystemLoops},
    {18000, Disturbance::SystemLoopsEnd},  {21000, Disturbance::EndSession},      {24000, Disturbance::SaveLog},
};

// Input that Wine's DefWindowProc answers with a loop that runs until the user lets go (each
// holds a window's thread until the buttons come up or Esc is pressed): moving the dialog or the
// progress window (the move command, a press on the caption), sizing, the close box's tracking,
// the system menu (the caption's right button, the taskbar's request), the hint box's scroll
// bar and its context menu (the right button's release).
#ifndef WM_POPUPSYSTEMMENU
#define WM_POPUPSYSTEMMENU 0x0313
#endif
enum LoopWindow { LOOP_DIALOG, LOOP_PROGRESS, LOOP_HINT_BOX };
const struct {
    LoopWindow Window;
    UINT Message;
    WPARAM Code;
} kSystemLoopInput[] = {
    {LOOP_DIALOG, WM_SYSCOMMAND, SC_MOVE},       {LOOP_PROGRESS, WM_SYSCOMMAND, SC_MOVE},
    {LOOP_DIALOG, WM_NCLBUTTONDOWN, HTCAPTION},  {LOOP_PROGRESS, WM_NCLBUTTONDOWN, HTCAPTION},
    {LOOP_DIALOG, WM_SYSCOMMAND, SC_SIZE},       {LOOP_DIALOG, WM_NCLBUTTONDOWN, HTCLOSE},
    {LOOP_DIALOG, WM_NCRBUTTONDOWN, HTCAPTION},  {LOOP_DIALOG, WM_POPUPSYSTEMMENU, 0},
    {LOOP_HINT_BOX, WM_NCLBUTTONDOWN, HTVSCROLL}, {LOOP_HINT_BOX, WM_RBUTTONUP, 0},
};

// A gap between two blocks this long means that the program's thread was held.
constexpr double kHeldBlockMs = 1000;

void StartSystemLoops(HWND dialog, HWND progress)
{
    for (const auto& input : kSystemLoopInput) {
        HWND window = input.Window == LOOP_DIALOG ? dialog : input.Window == LOOP_PROGRESS ? progress
                                                                                          : GetDlgItem(dialog, IDC_HINTBOX);
        RECT rect = {};
        GetWindowRect(window, &rect);
        // Non-client presses carry a screen point on the part they name, the others a point
        // inside the window.
        LPARAM point = input.Message == WM_NCLBUTTONDOWN || input.Message == WM_NCRBUTTONDOWN
                           ? MAKELPARAM(input.Code == HTVSCROLL ? rect.right - 4 : rect.left + 30, rect.top + 8)
                           : MAKELPARAM(4, 4);
        PostMessageW(window, input.Message, input.Code, point);
    }
}

// The releases and the Esc keys that end whatever such loop runs; the thread's loops take them
// from its queue whichever of its windows they are posted to. The progress window ignores them.
void EndSystemLoops(HWND progress)
{
    for (int round = 0; round < 4; ++round) {
        PostMessageW(progress, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        PostMessageW(progress, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
        PostMessageW(progress, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(progress, WM_KEYUP, VK_ESCAPE, 0);
    }
}


using RealTimeUpdateTest = VirtualUnitTest;

TEST_F(RealTimeUpdateTest, WritesTheImageWithEveryPauseWhateverTheUserAndTheSystemDo)
{
    ASSERT_TRUE(PlugIn(0, {"", -1, -1}));
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_READY_HINT), kBoxLimit), Text(TEXT_READY_HINT));
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.24", true);

    // The log before the update: the header and the identification, offered under a dated name.
    const std::wstring offered = SaveLogAs(dialog, RecordPath("window-before-update"));
    EXPECT_EQ(offered.substr(0, 12), L"velquor-log-") << Narrow(offered);
    EXPECT_EQ(offered.size(), std::wstring(L"velquor-log-2026-12-09-14-30-05.txt").size()) << Narrow(offered);
    const std::string before = ReadText(RecordPath("window-before-update"));
    EXPECT_EQ(before.substr(0, 15), "velquor-record ");
    EXPECT_NE(before.find(kWindowHeader), std::string::npos) << before.substr(0, 300);
    EXPECT_EQ(RecordedCommands(before), kIdentification);
    EXPECT_EQ(before.find(" outcome "), std::string::npos);

    ASSERT_NO_FATAL_FAILURE(StartUpdate(dialog));

    // From the warning's OK to the end of the transfer: pings; once the progress window is up,
    // also the bar's position and the disturbances on their schedule. The version question, if
    // it comes, is answered with Yes.
    const double updateStart = NowMs();
    Liveness live;
    HWND progress = nullptr;
    bool progressGone = false;
    std::vector<DWORD_PTR> positions;
    std::wstring progressTitle;
    double transferStart = 0, loopsStart = 0, loopsEnd = 0;
    size_t disturbed = 0;
    int saveDialogs = 0;
    ChildProgram endSessionDuring;
    std::string error;
    WaitUntil(
        [&] {
            live.Ping(dialog, updateStart);
            if (progress == nullptr) {
                progress = FindOwnedWindow(dialog, L"msctls_progress32");
                HWND question = FindOwnedWindow(dialog, L"#32770");
                if (progress != nullptr) {
                    transferStart = NowMs();
                    progressTitle = Caption(progress);
                } else if (question != nullptr && !ClickButton(question, IDYES)) return true;  // not the question
                return !IsWindow(dialog);
            }
            DWORD_PTR position = 0;
            if (SendMessageTimeoutW(progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position) != 0)
                positions.push_back(position);
            if (disturbed < std::size(kDisturbances) && NowMs() - transferStart > kDisturbances[disturbed].AtMs &&
                IsWindow(progress)) {
                switch (kDisturbances[disturbed++].What) {
                case Disturbance::CloseMessage: PostMessageW(dialog, WM_CLOSE, 0, 0); break;
                case Disturbance::CancelCommand: PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); break;
                case Disturbance::CloseButton: ClickButton(dialog, IDC_CLOSE); break;
                case Disturbance::CloseSysCommand: PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); break;
                case Disturbance::CloseBox:
                    PostMessageW(dialog, WM_NCLBUTTONDOWN, HTCLOSE, 0);
                    PostMessageW(dialog, WM_NCLBUTTONUP, HTCLOSE, 0);
                    break;
                case Disturbance::SystemLoops:
                    loopsStart = NowMs();
                    StartSystemLoops(dialog, progress);
                    break;
                case Disturbance::SystemLoopsEnd:
                    loopsEnd = NowMs();
                    EndSystemLoops(progress);
                    break;
                case Disturbance::EndSession: EXPECT_TRUE(AskToEndTheSession(&endSessionDuring, &error)) << error; break;
                case Disturbance::SaveLog: PostMessageW(dialog, WM_SYSCOMMAND, IDM_SAVE_LOG, 0); break;
                }
            }
            if (FindSaveDialog(dialog) != nullptr) ++saveDialogs;
            progressGone = !IsWindow(progress);
            return progressGone || !IsWindow(dialog);
        },
        kTransferLimit);
    ASSERT_TRUE(IsWindow(dialog)) << "the dialog ended during the update; " << m_Product.DescribeWindows();
    ASSERT_NE(progress, nullptr) << "no progress window; " << m_Product.DescribeWindows();
    ASSERT_TRUE(progressGone) << "the transfer does not end";
    EXPECT_EQ(progressTitle, Text(TEXT_PROGRESS_TITLE));
    EXPECT_EQ(disturbed, std::size(kDisturbances)) << "the transfer ended before every disturbance";
    DWORD refusal = 0;
    ASSERT_TRUE(endSessionDuring.WaitForExit(kStartLimit, &refusal)) << "the end-session request does not end";
    EXPECT_EQ(refusal, 1u) << "the end of the session was not refused during the transfer";

    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_UPDATE_SUCCESS), kStartLimit), Text(TEXT_UPDATE_SUCCESS));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Product.DescribeWindows();
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.25", true);
    // The close attempts were not kept for later either, nor the log asked for.
    Sleep(500);
    EXPECT_TRUE(IsWindow(dialog) && m_Product.Running()) << "the program ended after the transfer";
    EXPECT_EQ(saveDialogs, 0) << "a Save dialog came while the controller was written";
    EXPECT_EQ(FindSaveDialog(dialog), nullptr) << "the log asked for during the transfer was kept for later";

    // The log after the update, for the corpus: the same header, the identification and every
    // request of the update, and its outcome.
    SaveLogAs(dialog, RecordPath("win32-window-update"));
    const std::string after = ReadText(RecordPath("win32-window-update"));
    EXPECT_NE(after.find(kWindowHeader), std::string::npos) << after.substr(0, 300);
    EXPECT_EQ(RecordedCommands(after), UpdateRequests(kImageBlocks, true));
    EXPECT_NE(after.find(" outcome success firmware 1.25\n"), std::string::npos);

    EXPECT_GE(live.Pings, 20);
    EXPECT_TRUE(live.Answered == live.Pings && live.CalledHung == 0) << live.Misses();
    ASSERT_GE(positions.size(), 10u);
    EXPECT_LT(positions.front(), 50u);
    EXPECT_GT(positions.back(), 90u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the bar went back";

    // Once the controller is written, the end of the session is agreed to, and the program ends.
    ChildProgram endSessionAfter;
    ASSERT_TRUE(AskToEndTheSession(&endSessionAfter, &error)) << error;
    DWORD agreed = 1, ended = 1;
    ASSERT_TRUE(endSessionAfter.WaitForExit(kStartLimit, &agreed)) << "the end-session request does not end";
    EXPECT_EQ(agreed, 0u) << "the end of the session was refused after the transfer";
    EXPECT_TRUE(m_Product.WaitForExit(kBoxLimit, &ended)) << "the program outlives the session; "
                                                        << m_Product.DescribeWindows();

    // What reached the unit: the identification, then lock, protection off, erase, address,
    // every block, protection on, unlock; and the flash holds the image.
    UnitLog log = PullOut(0);
    const size_t blocks = kImageBlocks;
    ASSERT_EQ(Commands(log), UpdateRequests(blocks, true)) << "the requests differ from identification + lock .. unlock";
    const size_t first = kIdentification.size();
    EXPECT_EQ(log.Requests[first].Byte3, 1) << "lock";
    EXPECT_EQ(log.Requests[first + 1].Byte3, 0) << "protection off";
    EXPECT_EQ(log.Requests[log.Requests.size() - 2].Byte3, 1) << "protection on";
    EXPECT_EQ(log.Requests.back().Byte3, 0) << "unlock";
    ExpectFlashHoldsTheImage(m_Units[0].ReadFlash());

    // Every pause at least as long as mandated; while the system's loops were asked for, no
    // block was held back: a loop the program entered would hold the next block until the loop
    // ends, 3 s later. A block follows the last one after about 22 ms; the bound leaves room for
    // what other programs on a busy machine cost (gaps of 30 to 130 ms are seen then), and the
    // longest gap is printed.
    double blockGapSum = 0, blockGapMax = 0, shortest = 1e9, loopGapMax = 0;
    size_t loopBlocks = 0;
    int tooShort = 0;
    std::string firstShort;
    for (size_t i = first; i + 1 < log.Requests.size(); ++i) {
        const UnitRequest& a = log.Requests[i];
        const UnitRequest& b = log.Requests[i + 1];
        const double gap = b.Ms - a.Ms;
        const double mandated = MandatedGapMs(a.Command, b.Command);
        if (gap < mandated) {
            if (tooShort++ == 0)
                firstShort = "request " + std::to_string(i) + " to " + std::to_string(i + 1) + ": " +
                             std::to_string(gap) + " ms, at least " + std::to_string(mandated) + " ms";
        }
        if (a.Command == kBlock && b.Command == kBlock) {
            blockGapSum += gap;
            blockGapMax = std::max(blockGapMax, gap);
            shortest = std::min(shortest, gap);
            if (b.Ms >= loopsStart && a.Ms <= loopsEnd) {
                loopGapMax = std::max(loopGapMax, gap);
                ++loopBlocks;
            }
        }
    }
    EXPECT_EQ(tooShort, 0) << "pauses shorter than mandated, the first: " << firstShort;
    // A loop entered holds the transfer for its 3 s, which the longest gap below catches; this
    // only tells that the loops were asked for during the transfer at all (a busy machine sends
    // fewer blocks in that time).
    EXPECT_GT(loopBlocks, 10u) << "the loops were asked for outside the transfer";
    EXPECT_LT(loopGapMax, kHeldBlockMs) << "a block was held back while the loops were asked for";

    const double mandatedTotal = 5080.0 + 20.0 * static_cast<double>(blocks);
    const double lockToUnlock = log.Requests.back().Ms - log.Requests[first].Ms;
    const double overhead = lockToUnlock - mandatedTotal;
    const size_t flashRequests = log.Requests.size() - first;
    std::printf("[ figures  ] real-time update under Wine: lock to unlock %.0f ms against %.0f ms of mandated pauses "
                "(+%.0f ms, %.2f ms per request over %zu requests); block to block mean %.2f ms, shortest %.2f ms, "
                "longest %.2f ms\n",
                lockToUnlock, mandatedTotal, overhead, overhead / static_cast<double>(flashRequests - 1), flashRequests,
                blockGapSum / static_cast<double>(blocks - 1), shortest, blockGapMax);
    std::printf("[ figures  ] system loops asked for during %.0f ms (%zu block gaps): longest block to block %.2f ms "
                "(%s 30 ms)\n",
                loopsEnd - loopsStart, loopBlocks, loopGapMax, loopGapMax <= 30.0 ? "within" : "beyond");
    std::printf("[ figures  ] end of the session asked for: during the transfer wineboot ended with %lu (1: refused), "
                "after it with %lu (0: agreed), and the program ended with %lu\n",
                static_cast<unsigned long>(refusal), static_cast<unsigned long>(agreed),
                static_cast<unsigned long>(ended));
    std::printf("[ figures  ] liveness: %d of %d pings answered, slowest %.1f ms, called hung %d times; %zu bar "
                "positions read, %u .. %u\n",
                live.Answered, live.Pings, live.SlowestMs, live.CalledHung, positions.size(),
                static_cast<unsigned>(positions.front()), static_cast<unsigned>(positions.back()));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_ENGLISH) {
        std::fprintf(stderr, "velquor_virtual_unit_tests: the run expects an English user interface "
                             "(under Wine set LC_ALL=en_US.UTF-8)\n");
        return 2;
    }
    CreateDirectoryW(WindowsPath(VELQUOR_VUNIT_FILES).c_str(), nullptr);
    EnterTestDesktop(1024, 768);
    int result = RUN_ALL_TESTS();
    LeaveTestDesktop();
    return result;
}
