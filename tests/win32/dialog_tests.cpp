// The Windows program end to end: VelquorUpdaterSim.exe (on the simulated unit, scenario in
// VELQUOR_SIM) and VelquorUpdater.exe (on the system's HID stack) started as child processes
// and driven from outside as a user drives them: the dialog's texts and buttons, the message
// boxes, the progress window and its taskbar button's progress, the keyboard and the exit code. Expected texts come from the
// core's string table in the language of the run; screenshots of the states go to the
// build's screenshots folder.
//
//   velquor_dialog_tests --language=en|de [gtest options]
//
// The language must be the user-interface language the system gives the process (under Wine:
// LC_ALL=en_US.UTF-8 or LC_ALL=de_DE.UTF-8); the programs started inherit it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "app/texts.h"
#include "resources/resource_ids.h"
#include "resources/text_ids.h"
#include "tests/win32/dialog_steps.h"
#include "tests/win32/dialog_driver.h"

#if !defined(VELQUOR_UPDATER_EXE) || !defined(VELQUOR_UPDATER_SIM_EXE) || !defined(VELQUOR_SCREENSHOT_DIR)
#error "the build names both programs and the screenshot folder"
#endif

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the string table's UTF-16 is the wide API's text");

using namespace dialog_driver;

namespace {

TextLanguage g_Language = LANGUAGE_ENGLISH;

// Every limit is far above what a healthy run needs; they only end a wait for something that
// does not come.
constexpr Seconds kStartLimit{60};      // the dialog appears and shows its first state
constexpr Seconds kExitLimit{30};       // the program ends after Close
constexpr Seconds kTransferLimit{240};  // a whole transfer on the simulator's real clock (about 46 s)

const std::wstring kTitle = L"VELQUOR ORVANT QX FW Updater 1.25 ";
const std::wstring kNoVersion = L"0.0.0";

// The texts of the dialog template, which the program never changes.
struct TemplateTexts {
    const wchar_t* Close;
    const wchar_t* Update;
    const wchar_t* HintCaption;
    const wchar_t* VersionGroup;
};
const TemplateTexts kEnglishTemplate = {L"Close", L"Update", L"Hint:", L"Installed firmware version"};
const TemplateTexts kGermanTemplate = {L"Beenden", L"Update", L"Hinweisfenster:", L"Installierte Firmware Versionen"};

const char* LanguageCode() { return g_Language == LANGUAGE_GERMAN ? "de" : "en"; }

std::wstring Text(uint32_t id) { return TableText(g_Language, id); }

std::wstring HintWithSteps(uint32_t statusId) { return dialog_driver::HintWithSteps(g_Language, statusId); }

std::wstring Replaced(std::wstring text, const std::wstring& placeholder, const std::wstring& value)
{
    size_t at = text.find(placeholder);
    EXPECT_NE(at, std::wstring::npos) << "no '" << Narrow(placeholder) << "' in '" << Narrow(text) << "'";
    if (at != std::wstring::npos) text.replace(at, placeholder.size(), value);
    return text;
}

// The failure box's text: the step's text, a line break, the code line with both codes.
std::wstring FailureMessage(uint32_t textId, const wchar_t* codes)
{
    return Text(textId) + L"\r\n" + Replaced(Text(TEXT_ERROR_CODE_LINE), L"0x%08x-0x%08x", codes);
}

// ---------------------------------------------------------------------------------------------

class DialogTest : public testing::Test {
protected:
    // Starts VelquorUpdaterSim.exe on `scenario`; its main dialog, shown or not yet (a box may
    // come first), or null after a failure has been recorded.
    HWND StartSimulated(const char* scenario, bool realtime = false)
    {
        return Start(WindowsPath(VELQUOR_UPDATER_SIM_EXE), scenario, realtime);
    }
    HWND StartProduct() { return Start(WindowsPath(VELQUOR_UPDATER_EXE), nullptr, false); }

    // True once the dialog is on the screen and its first look at the unit is done: the panel
    // no longer shows the template's text (the window shows before it looks).
    bool WaitShown(HWND dialog)
    {
        bool shown = WaitUntil(
            [&] { return IsWindowVisible(dialog) != FALSE && ControlText(dialog, IDC_VALUE_UNIT) != L"0.00.00"; },
            kStartLimit);
        if (!shown) ADD_FAILURE() << "the dialog is not shown; " << m_Child.DescribeWindows();
        return shown;
    }

    HWND StartSimulatedAndWaitShown(const char* scenario, bool realtime = false)
    {
        HWND dialog = StartSimulated(scenario, realtime);
        return dialog != nullptr && WaitShown(dialog) ? dialog : nullptr;
    }

    // The box that the dialog has open next, or null after a recorded failure.
    HWND WaitForBox(HWND dialog) { return dialog_driver::WaitForBox(m_Child, dialog); }

    // Presses `buttonId` in the box and waits until the box is gone.
    void Answer(HWND box, int buttonId) { AnswerBox(m_Child, box, buttonId); }

    // Presses Update and returns the warning that must come first (caption and text checked);
    // null, with a failure, when none comes.
    HWND PressUpdateForWarning(HWND dialog)
    {
        if (!ClickButton(dialog, IDC_UPDATE)) {
            ADD_FAILURE() << "Update can't be pressed";
            return nullptr;
        }
        HWND warning = WaitForBox(dialog);
        if (warning == nullptr) {
            ADD_FAILURE() << "no warning; " << m_Child.DescribeWindows();
            return nullptr;
        }
        MessageBoxView view = ReadMessageBox(warning);
        EXPECT_EQ(view.Caption, Text(TEXT_WARNING_CAPTION));
        EXPECT_EQ(view.Text, Text(TEXT_WARNING));
        return warning;
    }

    void Screenshot(const char* state, bool settle = true)
    {
        std::string error;
        EXPECT_TRUE(SaveScreenshot(std::string(LanguageCode()) + "-" + state, settle, &error)) << error;
    }

    // The version panel: row labels, the three values and whether the rows are enabled.
    void ExpectPanel(HWND dialog, const std::wstring& unitLabel, const std::wstring& unit, const std::wstring& boot,
                     const std::wstring& controller, bool enabled)
    {
        EXPECT_EQ(ControlText(dialog, IDC_LABEL_UNIT), unitLabel);
        EXPECT_EQ(ControlText(dialog, IDC_LABEL_BOOTLOADER), Text(TEXT_LABEL_BOOTLOADER));
        EXPECT_EQ(ControlText(dialog, IDC_LABEL_CONTROLLER), Text(TEXT_LABEL_CONTROLLER));
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_UNIT), unit);
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_BOOTLOADER), boot);
        EXPECT_EQ(ControlText(dialog, IDC_VALUE_CONTROLLER), controller);
        for (int control : {IDC_LABEL_UNIT, IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER, IDC_VALUE_UNIT,
                            IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER})
            EXPECT_EQ(ControlEnabled(dialog, control), enabled) << "control " << control;
    }

    void ExpectExit(DWORD expectedCode)
    {
        DWORD code = 0;
        ASSERT_TRUE(m_Child.WaitForExit(kExitLimit, &code)) << "the program does not end; " << m_Child.DescribeWindows();
        EXPECT_EQ(code, expectedCode);
    }

    void CloseAndExpectExitZero(HWND dialog)
    {
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        ExpectExit(0);
    }

    ChildProgram m_Child;  // terminated at the end of the test if it still runs

private:
    HWND Start(const std::wstring& program, const char* scenario, bool realtime)
    {
        std::string error;
        if (!m_Child.Start(program, scenario, realtime, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        HWND dialog = m_Child.WaitForDialog(kStartLimit);
        if (dialog == nullptr) ADD_FAILURE() << "no dialog; " << m_Child.DescribeWindows();
        return dialog;
    }
};

// ---- Title and fixed texts ------------------------------------------------------------------

TEST_F(DialogTest, ShowsTitleAndTemplateTextsOfItsLanguage)
{
    HWND dialog = StartSimulatedAndWaitShown("");
    ASSERT_NE(dialog, nullptr);

    // The same title in both languages, ending in a blank.
    EXPECT_EQ(Caption(dialog), kTitle);
    EXPECT_EQ(FindWindowW(L"#32770", kTitle.c_str()), dialog);
    // The icon belongs to this window, not to the dialog class that every box shares. (Wine
    // does not answer WM_GETICON across processes; the screenshots show the window's icon.)
    EXPECT_EQ(GetClassLongPtrW(dialog, GCLP_HICON), 0);

    const TemplateTexts& texts = g_Language == LANGUAGE_GERMAN ? kGermanTemplate : kEnglishTemplate;
    EXPECT_EQ(ControlText(dialog, IDC_CLOSE), texts.Close);
    EXPECT_EQ(ControlText(dialog, IDC_UPDATE), texts.Update);
    EXPECT_EQ(ControlText(dialog, IDC_HINT_CAPTION), texts.HintCaption);
    EXPECT_EQ(ControlText(dialog, IDC_VERSION_GROUP), texts.VersionGroup);

    CloseAndExpectExitZero(dialog);
}

// ---- The states after start ---------------------------------------------------------------

struct StartCase {
    const char* Name;
    const char* Scenario;
    uint32_t BoxCaption;   // a box before the dialog shows; 0: none
    uint32_t BoxText;      // its text, a format with the type name for "%s"
    uint32_t Hint;         // 0: the hint box stays empty
    bool HintWithSteps;    // status text + empty line + instructions, or the text alone
    bool UpdateEnabled;
    const wchar_t* UnitLabel;  // null: string 40039, the label the dialog starts with
    const wchar_t* Unit;
    const wchar_t* Bootloader;
    const wchar_t* Controller;
    bool PanelEnabled;
    const char* BoxScreenshot;  // null: none
    const char* Screenshot;     // null: none
};

const StartCase kStartCases[] = {
    {"NoUnit", "unit=none", 0, 0, TEXT_NO_UNIT_HINT, true, false, nullptr, L"0.0.0", L"0.0.0", L"0.0.0", false,
     nullptr, "no-unit"},
    {"UnitInWrongMode", "mode=1", 0, 0, TEXT_WRONG_MODE_HINT, true, false, nullptr, L"0.0.0", L"0.0.0", L"0.0.0",
     false, nullptr, nullptr},
    {"NoUpdatableController", "state=2", 0, 0, TEXT_NO_CONTROLLER_HINT, true, false, nullptr, L"0.0.0", L"0.0.0",
     L"0.0.0", false, nullptr, nullptr},
    {"IncompatibleController", "type=0x110fa0d3", TEXT_INCOMPATIBLE_CAPTION, TEXT_INCOMPATIBLE_MESSAGE,
     TEXT_INCOMPATIBLE_HINT, true, false, nullptr, L"0.0.0", L"0.0.0", L"0.0.0", false, "incompatible-box",
     "incompatible"},
    {"Ready", "", 0, 0, TEXT_READY_HINT, false, true, L"SETBOX", L"1.25", L"1.5", L"1.24", true, nullptr, "ready"},
    {"ReadyOnDialpuck", "unit=dialpuck", 0, 0, TEXT_READY_HINT, false, true, L"DIALPUCK", L"1.25", L"1.5", L"1.24",
     true, nullptr, nullptr},
    {"IgnoredController", "type=0x0a0640fa", 0, 0, 0, false, false, L"SETBOX", L"1.25", L"1.5", L"1.24", true,
     nullptr, nullptr},
};

void PrintTo(const StartCase& row, std::ostream* out) { *out << row.Name << " (VELQUOR_SIM=" << row.Scenario << ")"; }

class StartStateTest : public DialogTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartStateTest, ShowsHintButtonAndVersions)
{
    const StartCase& c = GetParam();
    HWND dialog = StartSimulated(c.Scenario);
    ASSERT_NE(dialog, nullptr);

    if (c.BoxCaption != 0) {
        HWND box = WaitForBox(dialog);
        ASSERT_NE(box, nullptr);
        MessageBoxView view = ReadMessageBox(box);
        EXPECT_EQ(view.Caption, Text(c.BoxCaption));
        EXPECT_EQ(view.Text, Replaced(Text(c.BoxText), L"%s", L"ORVANT QX"));
        EXPECT_NE(view.Text.find(L"'ORVANT QX'"), std::wstring::npos) << Narrow(view.Text);
        // The hint comes only once the box is closed.
        EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), L"");
        if (c.BoxScreenshot != nullptr) Screenshot(c.BoxScreenshot);
        ASSERT_NO_FATAL_FAILURE(Answer(box, IDOK));
    }
    ASSERT_TRUE(WaitShown(dialog));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << "a message box is open; " << m_Child.DescribeWindows();

    EXPECT_EQ(Caption(dialog), kTitle);
    std::wstring hint = c.Hint == 0 ? std::wstring() : c.HintWithSteps ? HintWithSteps(c.Hint) : Text(c.Hint);
    EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), hint);
    EXPECT_EQ(ControlEnabled(dialog, IDC_UPDATE), c.UpdateEnabled);
    ExpectPanel(dialog, c.UnitLabel != nullptr ? std::wstring(c.UnitLabel) : Text(TEXT_LABEL_UNIT), c.Unit,
                c.Bootloader, c.Controller, c.PanelEnabled);
    if (c.Screenshot != nullptr) Screenshot(c.Screenshot);

    CloseAndExpectExitZero(dialog);
}

INSTANTIATE_TEST_SUITE_P(Dialog, StartStateTest, testing::ValuesIn(kStartCases),
                         [](const testing::TestParamInfo<StartCase>& row) { return std::string(row.param.Name); });

// ---- Update ---------------------------------------------------------------------------------

using UpdateTest = DialogTest;

TEST_F(UpdateTest, CancelledWarningChangesNothing)
{
    HWND dialog = StartSimulatedAndWaitShown("");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ControlEnabled(dialog, IDC_UPDATE));

    HWND warning = PressUpdateForWarning(dialog);
    ASSERT_NE(warning, nullptr);
    ASSERT_NO_FATAL_FAILURE(Answer(warning, IDCANCEL));

    // Once the dialog has handled what came before, no further box or window may be open and
    // nothing may have changed.
    ASSERT_TRUE(Synchronize(dialog, kBoxLimit));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Child.DescribeWindows();
    EXPECT_EQ(FindOwnedWindow(dialog, L"msctls_progress32"), nullptr) << m_Child.DescribeWindows();
    EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), Text(TEXT_READY_HINT));
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.24", true);

    CloseAndExpectExitZero(dialog);
}

TEST_F(UpdateTest, FailingBlockShowsBothCodesAndDropsTheUnit)
{
    HWND dialog = StartSimulatedAndWaitShown("fail=block#5:refuse:7");
    ASSERT_NE(dialog, nullptr);

    HWND warning = PressUpdateForWarning(dialog);
    ASSERT_NE(warning, nullptr);
    ASSERT_NO_FATAL_FAILURE(Answer(warning, IDOK));

    // The controller has 1.24, below the carried 1.25: no question; the failure box follows.
    HWND failure = WaitForBox(dialog);
    ASSERT_NE(failure, nullptr);
    MessageBoxView view = ReadMessageBox(failure);
    EXPECT_EQ(view.Caption, Text(TEXT_UPDATE_FAILED_CAPTION));
    EXPECT_EQ(view.Text, FailureMessage(TEXT_BLOCK_FAILED, L"0x00000007-0x00000000"));
    // While the box is open the progress window is gone and the dialog already has its
    // no-unit look.
    EXPECT_EQ(FindOwnedWindow(dialog, L"msctls_progress32"), nullptr) << m_Child.DescribeWindows();
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, L"SETBOX", kNoVersion, kNoVersion, kNoVersion, false);
    Screenshot("failure-box");
    ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));

    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_FAILURE_HINT), kBoxLimit), Text(TEXT_FAILURE_HINT));
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, L"SETBOX", kNoVersion, kNoVersion, kNoVersion, false);
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Child.DescribeWindows();
    Screenshot("failure");

    CloseAndExpectExitZero(dialog);
}

// The whole update with the simulator's pauses taking real time, as on a real unit, so that the
// progress window stays long enough to be seen (about 46 s). A CTest test of its own.
using RealTimeUpdateTest = DialogTest;

TEST_F(RealTimeUpdateTest, ShowsProgressWindowAndSucceeds)
{
    // The controller already has 1.25: the version question comes after the warning.
    HWND dialog = StartSimulatedAndWaitShown("fw=0x0119", true);
    ASSERT_NE(dialog, nullptr);
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.25", true);

    HWND warning = PressUpdateForWarning(dialog);
    ASSERT_NE(warning, nullptr);
    Screenshot("warning");
    ASSERT_NO_FATAL_FAILURE(Answer(warning, IDOK));

    HWND question = WaitForBox(dialog);
    ASSERT_NE(question, nullptr);
    MessageBoxView view = ReadMessageBox(question);
    EXPECT_EQ(view.Caption, Text(TEXT_NEWER_FIRMWARE_CAPTION));
    EXPECT_EQ(view.Text, Text(TEXT_OLDER_FIRMWARE_QUESTION));
    Screenshot("question");
    ASSERT_NO_FATAL_FAILURE(Answer(question, IDYES));

    // Lock, protection off, erase (5 s), start address, then the transfer with its window.
    HWND progress = WaitForOwnedWindow(dialog, L"msctls_progress32", kStartLimit);
    ASSERT_NE(progress, nullptr) << "no progress window; " << m_Child.DescribeWindows();
    EXPECT_EQ(Caption(progress), Text(TEXT_PROGRESS_TITLE));
    // An overlapped window of its own, 400 x 50, centred on the dialog.
    EXPECT_EQ(GetWindowLongPtrW(progress, GWL_STYLE) & (WS_CHILD | WS_POPUP), 0);
    RECT dialogRect, progressRect;
    ASSERT_TRUE(GetWindowRect(dialog, &dialogRect));
    ASSERT_TRUE(GetWindowRect(progress, &progressRect));
    EXPECT_EQ(progressRect.right - progressRect.left, 400);
    EXPECT_EQ(progressRect.bottom - progressRect.top, 50);
    EXPECT_EQ(progressRect.left, dialogRect.left + ((dialogRect.right - dialogRect.left) >> 1) - 200);
    EXPECT_EQ(progressRect.top, dialogRect.top + ((dialogRect.bottom - dialogRect.top) >> 1) - 25);
    // The button keeps its state while the transfer runs.
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    // A moment later, so that the picture shows the bar part of the way (the bar keeps moving,
    // so the picture is taken without waiting for the screen to settle).
    Sleep(3000);
    Screenshot("updating", false);

    ASSERT_TRUE(WaitUntilGone(progress, kTransferLimit)) << "the transfer does not end";
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, Text(TEXT_UPDATE_SUCCESS), kStartLimit),
              Text(TEXT_UPDATE_SUCCESS));
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << "no box after success; " << m_Child.DescribeWindows();
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    // The unit stays open and the controller row shows the written version.
    ExpectPanel(dialog, L"SETBOX", L"1.25", L"1.5", L"1.25", true);
    Screenshot("success");

    CloseAndExpectExitZero(dialog);
}

// ---- The taskbar ----------------------------------------------------------------------------

// The update's progress on the taskbar button, as the program hands it to the system: the
// simulated build writes every change to the file named by VELQUOR_TASKBAR_LOG (Wine's taskbar
// shows none of it). A running bar from the first flash command, then the blocks' share, red
// while a failure's box is open, and nothing once the update has ended.
struct TaskbarCase {
    const char* Name;
    const char* Scenario;
    bool Confirm;           // OK at the warning; Cancel declines
    int32_t LastShare;      // the share of the last block written, in percent; -1: none written
    uint32_t FailureText;   // the failure box's text; 0: the update succeeds
};

const TaskbarCase kTaskbarCases[] = {
    {"Success", "", true, 100, 0},
    // Blocks 1 to 4 of 2048 are written: each is less than one percent.
    {"RefusedBlock", "fail=block#5:refuse:7", true, 0, TEXT_BLOCK_FAILED},
    {"RefusedErase", "fail=erase:refuse:3", true, -1, TEXT_ERASE_FAILED},
    {"Declined", "", false, -1, 0},
};

void PrintTo(const TaskbarCase& row, std::ostream* out) { *out << row.Name << " (VELQUOR_SIM=" << row.Scenario << ")"; }

class TaskbarTest : public DialogTest, public testing::WithParamInterface<TaskbarCase> {
protected:
    // The program started next (in this folder, with this environment) writes its log here.
    void SetUp() override { ASSERT_TRUE(SetEnvironmentVariableA("VELQUOR_TASKBAR_LOG", m_Log.c_str())); }
    void TearDown() override
    {
        SetEnvironmentVariableA("VELQUOR_TASKBAR_LOG", nullptr);
        DeleteFileA(m_Log.c_str());
    }

    // The lines written so far.
    std::string Log() const
    {
        std::ifstream file(m_Log, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    const std::string m_Log = "velquor-taskbar-" + std::to_string(GetCurrentProcessId()) + ".log";
};

TEST_P(TaskbarTest, ShowsTheUpdatesProgressOnTheTaskbarButton)
{
    const TaskbarCase& c = GetParam();
    HWND dialog = StartSimulatedAndWaitShown(c.Scenario);
    ASSERT_NE(dialog, nullptr);
    HWND warning = PressUpdateForWarning(dialog);
    ASSERT_NE(warning, nullptr);
    ASSERT_NO_FATAL_FAILURE(Answer(warning, c.Confirm ? IDOK : IDCANCEL));

    std::string expected;
    if (c.Confirm) {
        expected = "indeterminate\n";
        for (int32_t share = 0; share <= c.LastShare; ++share) expected += "normal " + std::to_string(share) + "\n";
    }
    if (c.FailureText != 0) {
        HWND failure = WaitForBox(dialog);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(ReadMessageBox(failure).Text.rfind(Text(c.FailureText), 0), 0u);
        expected += "error\n";
        EXPECT_EQ(Log(), expected) << "while the failure's box is open";
        ASSERT_NO_FATAL_FAILURE(Answer(failure, IDOK));
    }
    const std::wstring hint = c.FailureText != 0 ? Text(TEXT_FAILURE_HINT) : c.Confirm ? Text(TEXT_UPDATE_SUCCESS)
                                                                                      : Text(TEXT_READY_HINT);
    EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, hint, kBoxLimit), hint);
    CloseAndExpectExitZero(dialog);
    if (c.Confirm) expected += "none\n";
    EXPECT_EQ(Log(), expected);
}

INSTANTIATE_TEST_SUITE_P(Dialog, TaskbarTest, testing::ValuesIn(kTaskbarCases),
                         [](const testing::TestParamInfo<TaskbarCase>& row) { return std::string(row.param.Name); });

// ---- Ending the program ---------------------------------------------------------------------

enum class CloseWay { CloseButton, EscapeKey, EnterKey, CloseBox };

struct CloseCase {
    const char* Name;
    CloseWay Way;
};

const CloseCase kCloseCases[] = {
    {"CloseButton", CloseWay::CloseButton},
    {"EscapeKey", CloseWay::EscapeKey},
    // Close is the default button and has the focus when the dialog opens.
    {"EnterKey", CloseWay::EnterKey},
    {"CloseBox", CloseWay::CloseBox},
};

void PrintTo(const CloseCase& row, std::ostream* out) { *out << row.Name; }

class ClosingTest : public DialogTest, public testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingTest, EndsTheProgramWithExitCodeZero)
{
    // With a unit open, which closing has to give up.
    HWND dialog = StartSimulatedAndWaitShown("");
    ASSERT_NE(dialog, nullptr);
    switch (GetParam().Way) {
    case CloseWay::CloseButton:
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        break;
    case CloseWay::EscapeKey:
        ASSERT_TRUE(TypeKey(dialog, VK_ESCAPE)) << "the key can't be typed into the dialog";
        break;
    case CloseWay::EnterKey:
        ASSERT_TRUE(TypeKey(dialog, VK_RETURN)) << "the key can't be typed into the dialog";
        break;
    case CloseWay::CloseBox:
        ASSERT_TRUE(PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
        break;
    }
    ExpectExit(0);
}

INSTANTIATE_TEST_SUITE_P(Dialog, ClosingTest, testing::ValuesIn(kCloseCases),
                         [](const testing::TestParamInfo<CloseCase>& row) { return std::string(row.param.Name); });

// ---- The product on the system's HID stack ----------------------------------------------------

// Wine lists HID interfaces of its own (a mouse and a keyboard of vendor 0x845E): none of them
// is a programming unit.
TEST_F(DialogTest, ProductFindsNoUnitAmongTheSystemsHidDevices)
{
    HWND dialog = StartProduct();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitShown(dialog));
    EXPECT_EQ(Caption(dialog), kTitle);
    EXPECT_EQ(FindOwnedWindow(dialog, L"#32770"), nullptr) << m_Child.DescribeWindows();
    EXPECT_EQ(ControlText(dialog, IDC_HINTBOX), HintWithSteps(TEXT_NO_UNIT_HINT));
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    ExpectPanel(dialog, Text(TEXT_LABEL_UNIT), kNoVersion, kNoVersion, kNoVersion, false);
    Screenshot("product-no-unit");

    CloseAndExpectExitZero(dialog);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--language=de") == 0) {
            g_Language = LANGUAGE_GERMAN;
        } else if (std::strcmp(argv[i], "--language=en") == 0) {
            g_Language = LANGUAGE_ENGLISH;
        } else {
            std::fprintf(stderr, "velquor_dialog_tests: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    // The programs take the user-interface language from the system, as this process does.
    LANGID system = GetUserDefaultUILanguage();
    bool german = system == MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    bool english = PRIMARYLANGID(system) == LANG_ENGLISH;
    if (g_Language == LANGUAGE_GERMAN ? !german : !english) {
        std::fprintf(stderr,
                     "velquor_dialog_tests: the run expects %s user interface, the system gives 0x%04x "
                     "(under Wine set LC_ALL=%s)\n",
                     g_Language == LANGUAGE_GERMAN ? "a German (Germany)" : "an English", system,
                     g_Language == LANGUAGE_GERMAN ? "de_DE.UTF-8" : "en_US.UTF-8");
        return 2;
    }

    SetScreenshotFolder(WindowsPath(VELQUOR_SCREENSHOT_DIR));
    std::wstring desktop = EnterTestDesktop(1024, 768);
    std::printf("desktop: %s\n", desktop.empty() ? "the default one" : Narrow(desktop).c_str());
    int result = RUN_ALL_TESTS();
    LeaveTestDesktop();
    return result;
}
