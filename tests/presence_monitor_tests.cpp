// The presence monitor and the main dialog's decisions, driven through the simulated unit and
// the recording user interface.
#include <gtest/gtest.h>

#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"
#include "sim/sim_unit.h"
#include "tests/support/recording_ui.h"
#include "tests/support/sim_session.h"

namespace {

constexpr uint32_t DBT_DEVNODES_CHANGED = 0x0007;
constexpr uint32_t DBT_DEVTYP_VOLUME = 2;

class PresenceMonitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartRecording(&ui);
    }
    void TearDown() override { CloseLink(); }

    // Opens the dialog on `scenario`: title, labels and the first evaluation.
    void OpenDialog(const char* scenario)
    {
        UseScenario(scenario);
        MainDialogInit(TEST_MAIN_WINDOW);
    }

    std::string Hint(uint32_t statusId) { return TableText(statusId) + "\r\n\r\n" + TableText(TEXT_CONNECTION_STEPS); }

    void ExpectNoUnitPanel()
    {
        for (uint32_t control : {IDC_VALUE_UNIT, IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER}) {
            EXPECT_EQ(ControlText(control), "0.0.0") << control;
            EXPECT_FALSE(ControlEnabled(control)) << control;
        }
        for (uint32_t control : {IDC_LABEL_UNIT, IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER})
            EXPECT_FALSE(ControlEnabled(control)) << control;
    }

    int32_t Arrival() { return HandleDeviceChange(DBT_DEVICEARRIVAL_, &interfaceBroadcast); }
    int32_t Removal(const std::u16string& path)
    {
        TestBroadcast broadcast = {DEVTYP_DEVICEINTERFACE, path};
        return HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE_, &broadcast);
    }

    RecordingUi ui;
    TestBroadcast interfaceBroadcast = {DEVTYP_DEVICEINTERFACE, u"\\\\?\\hid#vid_045e&pid_0040#other"};
};

TEST_F(PresenceMonitor, TitleAndLabelsAreSetWhenTheDialogOpens)
{
    OpenDialog("unit=none");
    EXPECT_EQ(Utf8(ui.Title), "VELQUOR ORVANT QX FW Updater 1.25 ");
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "programming unit");
    EXPECT_EQ(ControlText(IDC_LABEL_BOOTLOADER), "ESC-bootloader");
    EXPECT_EQ(ControlText(IDC_LABEL_CONTROLLER), "ESC");
    EXPECT_EQ(ui.Registrations, 1);
}

// Every rejection at start-up: the link closed, Update disabled, the hint with the steps, the
// no-unit panel.
struct RejectCase {
    const char* Scenario;
    uint32_t HintId;
};

class StartRejection : public PresenceMonitor, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(StartRejection, ShowsItsHintWithTheConnectionSteps)
{
    OpenDialog(GetParam().Scenario);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(GetParam().HintId));
    ExpectNoUnitPanel();
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "programming unit");
    EXPECT_TRUE(ui.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StartRejection,
                         ::testing::Values(RejectCase{"unit=none", TEXT_NO_UNIT_HINT},
                                           RejectCase{"unit=none,others=3", TEXT_NO_UNIT_HINT},
                                           RejectCase{"fail=identity:refuse:5", TEXT_NO_UNIT_HINT},
                                           RejectCase{"inlen=64", TEXT_NO_UNIT_HINT},
                                           RejectCase{"mode=1", TEXT_WRONG_MODE_HINT},
                                           RejectCase{"state=2", TEXT_NO_CONTROLLER_HINT},
                                           RejectCase{"state=0", TEXT_NO_CONTROLLER_HINT}));

TEST_F(PresenceMonitor, AdmittedControllerMakesTheDialogReady)
{
    OpenDialog("");
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    // The ready text alone, without the connection steps.
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "SETBOX");
    EXPECT_EQ(ControlText(IDC_VALUE_UNIT), "1.25");
    EXPECT_EQ(ControlText(IDC_VALUE_BOOTLOADER), "1.5");
    EXPECT_EQ(ControlText(IDC_VALUE_CONTROLLER), "1.24");
    EXPECT_TRUE(ControlEnabled(IDC_VALUE_CONTROLLER));
    EXPECT_EQ(ControllerFamily, 250);
    EXPECT_EQ(ControllerCurrentClass, 210);
    EXPECT_EQ(ControllerVoltageClass, 17);
    EXPECT_EQ(NewFirmwareVersion, 281);
}

TEST_F(PresenceMonitor, DialpuckNamesTheFirstRowAndKeepsTheNameWhenRemoved)
{
    OpenDialog("unit=dialpuck,fw=0xffff");
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "DIALPUCK");
    EXPECT_EQ(ControlText(IDC_VALUE_CONTROLLER), "----------");
    std::u16string path = UnitPath();
    UnplugUnit();
    EXPECT_EQ(Removal(path), 1);
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "DIALPUCK");
    EXPECT_FALSE(ControlEnabled(IDC_LABEL_UNIT));
}

TEST_F(PresenceMonitor, IgnoredControllerAtStartLeavesHintAndButtonAlone)
{
    OpenDialog("type=0x0a0640fa");
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_HINTBOX), "");
    EXPECT_EQ(ControlText(IDC_VALUE_UNIT), "1.25");
    EXPECT_TRUE(ui.Boxes.empty());
}

TEST_F(PresenceMonitor, IncompatibleControllerShowsItsBoxBeforeItsHint)
{
    std::string hintWhileBoxOpen = "unset";
    bool linkOpenWhileBoxOpen = true;
    ui.WhileBoxOpen = [&](const RecordedBox&) {
        hintWhileBoxOpen = ControlText(IDC_HINTBOX);
        linkOpenWhileBoxOpen = LinkIsOpen();
    };
    OpenDialog("type=0x110fa0d3");
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Caption, "ESC incompatible");
    EXPECT_EQ(ui.Boxes[0].Flags, 0x40u);
    EXPECT_EQ(ui.Boxes[0].Owner, TEST_MAIN_WINDOW);
    EXPECT_NE(ui.Boxes[0].Text.find("with the type 'ORVANT QX'. Other models are not supported."), std::string::npos);
    EXPECT_EQ(ui.Boxes[0].Text.find("%s"), std::string::npos);
    EXPECT_EQ(hintWhileBoxOpen, "");
    EXPECT_FALSE(linkOpenWhileBoxOpen);
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_INCOMPATIBLE_HINT));
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectNoUnitPanel();
}

TEST_F(PresenceMonitor, RegistrationFailureEndsTheDialogWithoutDiscovery)
{
    ui.RegistrationFails = true;
    OpenDialog("");
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Caption, "Error in the application.");
    EXPECT_EQ(ui.Boxes[0].Text,
              "Failed to register Windows Device Manager. New devices on USB port cannot be detected.The program is closed.");
    EXPECT_EQ(ui.Boxes[0].Flags, 0x10u);
    EXPECT_TRUE(ui.DialogEnded);
    EXPECT_EQ(ui.DialogResult, 1);
    EXPECT_TRUE(SentRequests().empty());
    EXPECT_EQ(ControlText(IDC_VALUE_UNIT), "0.00.00");  // the panel was never refreshed
}

TEST_F(PresenceMonitor, ArrivalWhileAUnitIsOpenChangesNothing)
{
    OpenDialog("");
    size_t before = SentRequests().size();
    std::string hint = ControlText(IDC_HINTBOX);
    EXPECT_EQ(Arrival(), 1);
    EXPECT_EQ(SentRequests().size(), before);
    EXPECT_EQ(ControlText(IDC_HINTBOX), hint);
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
}

TEST_F(PresenceMonitor, ArrivalOfAnotherDeviceWhileNoUnitChangesNothing)
{
    OpenDialog("unit=none,others=2");
    std::string hint = ControlText(IDC_HINTBOX);
    EXPECT_EQ(Arrival(), 1);
    EXPECT_EQ(ControlText(IDC_HINTBOX), hint);
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    ExpectNoUnitPanel();
}

TEST_F(PresenceMonitor, ArrivalOfAnAdmittedUnitMakesTheDialogReady)
{
    OpenDialog("");
    std::u16string path = UnitPath();
    UnplugUnit();
    Removal(path);
    ASSERT_FALSE(LinkIsOpen());
    UseScenario("unit=dialpuck");
    EXPECT_EQ(Arrival(), 1);
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "DIALPUCK");
}

TEST_F(PresenceMonitor, ArrivalRejectionsShowTheirHints)
{
    OpenDialog("unit=none");
    UseScenario("mode=2");
    Arrival();
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_WRONG_MODE_HINT));
    EXPECT_FALSE(LinkIsOpen());
    UseScenario("type=0");
    Arrival();
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_INCOMPATIBLE_HINT));
}

TEST_F(PresenceMonitor, IgnoredControllerOnArrivalShowsItsVersions)
{
    OpenDialog("unit=none");
    std::string hint = ControlText(IDC_HINTBOX);
    UseScenario("type=0x0a0640fa");
    Arrival();
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_EQ(ControlText(IDC_HINTBOX), hint);
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_VALUE_UNIT), "1.25");
    EXPECT_TRUE(ControlEnabled(IDC_VALUE_UNIT));
}

// A unit that is there but can't be used now: its own text alone (not "no unit was found"), the
// link closed, the no-unit look; at start and on arrival alike.
struct PresentUnitCase {
    const char* Scenario;
    bool OnArrival;
    uint32_t HintId;
};

class PresentUnit : public PresenceMonitor, public ::testing::WithParamInterface<PresentUnitCase> {};

TEST_P(PresentUnit, IsNamedWithWhatToDo)
{
    const PresentUnitCase& c = GetParam();
    OpenDialog(c.OnArrival ? "unit=none" : c.Scenario);
    if (c.OnArrival) {
        UseScenario(c.Scenario);
        Arrival();
    }
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(c.HintId));
    ExpectNoUnitPanel();
    // Its next arrival is evaluated afresh.
    UseScenario("");
    Arrival();
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
}

INSTANTIATE_TEST_SUITE_P(Cases, PresentUnit,
                         ::testing::Values(PresentUnitCase{"fail=status:write", false, TEXT_UNIT_SILENT_HINT},
                                           PresentUnitCase{"fail=status:hang", false, TEXT_UNIT_SILENT_HINT},
                                           PresentUnitCase{"fail=info:read", true, TEXT_UNIT_SILENT_HINT},
                                           PresentUnitCase{"fail=identity:hang", true, TEXT_UNIT_SILENT_HINT},
                                           PresentUnitCase{"busy=1", false, TEXT_UNIT_IN_USE_HINT},
                                           PresentUnitCase{"busy=1", true, TEXT_UNIT_IN_USE_HINT}));

// The unit another program holds is looked at again: nothing changes while it is held, it is taken
// up once free, and a unit gone meanwhile is no unit.
TEST_F(PresenceMonitor, HeldUnitIsTakenUpOnceFree)
{
    OpenDialog("busy=1");
    ui.Controls[IDC_HINTBOX].Text = u"unchanged";
    RecheckHeldUnit();
    EXPECT_EQ(ControlText(IDC_HINTBOX), "unchanged");
    EXPECT_EQ(SimRequestCount(), 0u);
    UseScenario("");
    RecheckHeldUnit();
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
    RecheckHeldUnit();  // a unit open is never looked at again
    EXPECT_EQ(SimRequestCount(), 3u);

    OpenDialog("busy=1");
    UseScenario("unit=none");
    RecheckHeldUnit();
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_NO_UNIT_HINT));
}

// While an evaluation waits for the unit, the dialog answers; what comes meanwhile is kept in
// order (device changes), does nothing (Update) or ends the look and then the dialog (Close).
TEST_F(PresenceMonitor, WhatComesDuringAnEvaluationsWaits)
{
    UseScenario("");
    const std::u16string unit = UnitPath();
    int looks = 0;
    ui.WhileAnswering = [&] {
        if (looks++ != 0) return;
        MainDialogCommand(IDC_UPDATE);
        Removal(unit);
        Arrival();
    };
    MainDialogInit(TEST_MAIN_WINDOW);
    EXPECT_TRUE(ui.Boxes.empty()) << "Update started a run";
    // Identified; then the removal kept meanwhile lets it go, and the arrival after it takes it up.
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
    EXPECT_EQ(SimRequestCount(), 6u);
    EXPECT_EQ(ui.Waits, (std::vector<UnitWaits>{UNIT_WAITS_ANSWERING, UNIT_WAITS_PLAIN, UNIT_WAITS_ANSWERING,
                                                UNIT_WAITS_PLAIN}));

    UnplugUnit();
    Removal(unit);
    ui.Waits.clear();
    UseScenario("");
    ui.WhileAnswering = [&] { MainDialogCommand(IDC_CLOSE); };
    Arrival();
    EXPECT_EQ(ui.Waits, (std::vector<UnitWaits>{UNIT_WAITS_ANSWERING, UNIT_WAITS_CUT_SHORT, UNIT_WAITS_PLAIN}));
    EXPECT_TRUE(ui.DialogEnded);
    EXPECT_EQ(ui.DialogResult, 2);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_CONNECTION_LOST_HINT)) << "nothing more was shown";
}

TEST_F(PresenceMonitor, RemovalOfTheOpenUnitMatchesItsPathIgnoringCase)
{
    OpenDialog("");
    std::u16string path = UnitPath();
    for (char16_t& c : path)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    UnplugUnit();
    EXPECT_EQ(Removal(path), 1);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_CONNECTION_LOST_HINT));
    ExpectNoUnitPanel();
}

TEST_F(PresenceMonitor, RemovalOfAnotherDeviceChangesNothing)
{
    OpenDialog("");
    EXPECT_EQ(Removal(u"\\\\?\\hid#vid_045e&pid_0040#other"), 1);
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
}

TEST_F(PresenceMonitor, BroadcastsOfOtherKindsAreHandledOrIgnoredWithoutEffect)
{
    OpenDialog("");
    size_t before = SentRequests().size();
    TestBroadcast volume = {DBT_DEVTYP_VOLUME, UnitPath()};
    EXPECT_EQ(HandleDeviceChange(DBT_DEVICEARRIVAL_, &volume), 1);
    EXPECT_EQ(HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE_, &volume), 1);
    EXPECT_TRUE(LinkIsOpen());
    // Not handled, and the (null) broadcast is not read.
    EXPECT_EQ(HandleDeviceChange(DBT_DEVNODES_CHANGED, nullptr), 0);
    EXPECT_EQ(HandleDeviceChange(0x8001, nullptr), 0);
    EXPECT_EQ(SentRequests().size(), before);
}

TEST_F(PresenceMonitor, SecondUnitIsTakenUpOnlyAtTheNextArrival)
{
    OpenDialog("second=1");
    std::u16string first = UnitPath();
    ASSERT_EQ(g_Link.ProductId, PRODUCT_ID_SETBOX);
    int32_t second = SimInterfaceIndex(SIM_ROLE_SECOND);
    ASSERT_GE(second, 0);
    EXPECT_EQ(SimOpenCount(static_cast<uint32_t>(second)), 0u);
    UnplugUnit();
    Removal(first);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_EQ(SimOpenCount(static_cast<uint32_t>(second)), 0u) << "removal runs no discovery";
    Arrival();
    EXPECT_EQ(SimOpenCount(static_cast<uint32_t>(second)), 1u);
    // The second unit has no controller attached.
    EXPECT_EQ(ControlText(IDC_HINTBOX), Hint(TEXT_NO_CONTROLLER_HINT));
}

// --- The main dialog's own decisions ---

TEST_F(PresenceMonitor, CloseUnregistersClosesTheLinkAndEndsWithTwo)
{
    OpenDialog("");
    EXPECT_TRUE(MainDialogCommand(IDC_CLOSE));
    EXPECT_EQ(ui.Unregistrations, 1);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_TRUE(ui.DialogEnded);
    EXPECT_EQ(ui.DialogResult, 2);
}

TEST_F(PresenceMonitor, OnlyCloseAndUpdateCommandsAreHandled)
{
    OpenDialog("unit=none");
    for (uint32_t id : {1u, 0u, 40004u, 40007u, 1005u}) EXPECT_FALSE(MainDialogCommand(id)) << id;
    EXPECT_FALSE(ui.DialogEnded);
}

TEST(MainDialog, OnlyTheControllerRowIsRed)
{
    for (int32_t id : {40010, 1005, 40013, 40014, -1, 40004}) EXPECT_FALSE(IsRedStatic(id)) << id;
    EXPECT_TRUE(IsRedStatic(40011));
    EXPECT_TRUE(IsRedStatic(40015));
}

TEST(MainDialog, TitleIsFormattedFromTheCarriedVersion)
{
    char16_t title[256];
    FormatWindowTitle(title, 256);
    EXPECT_EQ(Utf8(title), "VELQUOR ORVANT QX FW Updater 1.25 ");
    char16_t shortTitle[8];
    FormatWindowTitle(shortTitle, 8);
    EXPECT_EQ(Utf8(shortTitle), "VELQUOR");
}

TEST(MainDialog, LogoPlacement)
{
    struct Case {
        UiRect Window, Group;
        int32_t Frame, Caption;
        LogoPlacement Expected;
    } cases[] = {
        // The window's right edge limits the width; the height keeps the aspect, truncated.
        {{100, 50, 707, 472}, {130, 95, 340, 210}, 3, 19, {true, 257, 26, 322, 47}},
        // A wide window: half the bitmap's width.
        {{0, 0, 2000, 500}, {20, 40, 300, 160}, 3, 19, {true, 317, 21, 886, 131}},
        // 45 pixels or less to the right: nothing drawn.
        {{0, 0, 345, 300}, {10, 10, 300, 100}, 3, 19, {false, 0, 0, 0, 0}},
        {{0, 0, 346, 300}, {10, 10, 300, 100}, 3, 19, {true, 317, -9, 1, 0}},
    };
    for (const Case& c : cases) {
        LogoPlacement p = PlaceLogo(1772, 263, c.Window, c.Group, c.Frame, c.Caption);
        EXPECT_EQ(p.Draw, c.Expected.Draw);
        if (!p.Draw) continue;
        EXPECT_EQ(p.Width, c.Expected.Width);
        EXPECT_EQ(p.Height, c.Expected.Height);
        EXPECT_EQ(p.X, c.Expected.X);
        EXPECT_EQ(p.Y, c.Expected.Y);
        if (p.Width < 886) {
            EXPECT_EQ(p.X + p.Width, c.Window.Right - c.Window.Left - c.Frame - 25);
        }
    }
}

}  // namespace
