// The update sequence and the failure report, driven through the simulated unit and the
// recording user interface: what is sent, in which order and at which time, what the user sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "link/flash_commands.h"
#include "resources/resource_ids.h"
#include "sim/sim_unit.h"
#include "tests/support/recording_ui.h"
#include "tests/support/sim_session.h"

namespace {

class UpdateSequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartRecording(&ui);
    }
    void TearDown() override { CloseLink(); }

    // Opens the dialog on `scenario` and expects it ready; clears the traffic so far.
    void Ready(const char* scenario)
    {
        UseScenario(scenario);
        MainDialogInit(TEST_MAIN_WINDOW);
        ASSERT_TRUE(ControlEnabled(IDC_UPDATE)) << ControlText(IDC_HINTBOX);
        SimClearTraffic();
        ui.Boxes.clear();
        ui.Events.clear();
    }

    // The unit pulled out at `path`, and the removal broadcast the dialog then receives.
    static void PullOut(const std::u16string& path)
    {
        UnplugUnit();
        TestBroadcast removal = {DEVTYP_DEVICEINTERFACE, path};
        HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE_, &removal);
    }

    // The one failure box: caption, text and code line.
    void ExpectFailure(uint32_t textId, const char* codeLine)
    {
        ASSERT_FALSE(ui.Boxes.empty());
        const RecordedBox& box = ui.Boxes.back();
        EXPECT_EQ(box.Caption, "Update failed!");
        EXPECT_EQ(box.Flags, 0x10u);
        EXPECT_EQ(box.Owner, TEST_MAIN_WINDOW);
        std::string expected = TableText(textId);
        if (codeLine != nullptr) expected += std::string("\r\n") + codeLine;
        EXPECT_EQ(box.Text, expected);
        EXPECT_FALSE(LinkIsOpen());
        EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_FAILURE_HINT));
        EXPECT_EQ(ControlText(IDC_VALUE_UNIT), "0.0.0");
        EXPECT_FALSE(ControlEnabled(IDC_VALUE_UNIT));
    }

    // Commands in the order they were sent, one letter each: L lock, O protection off, E erase,
    // A address, B data block (runs collapsed to one), P protection on, U unlock.
    std::string CommandTrail()
    {
        std::string trail;
        for (const SentRequest& request : SentRequests()) {
            char letter = '?';
            switch (request.Bytes[1]) {
            case CMD_SYSTEM_LOCK: letter = request.Bytes[3] == 1 ? 'L' : 'U'; break;
            case CMD_WRITE_PROTECT: letter = request.Bytes[3] == 0 ? 'O' : 'P'; break;
            case CMD_ERASE_FIRMWARE: letter = 'E'; break;
            case CMD_SET_WRITE_ADDRESS: letter = 'A'; break;
            case CMD_WRITE_DATA: letter = 'B'; break;
            }
            if (letter == 'B' && !trail.empty() && trail.back() == 'B') continue;
            trail += letter;
        }
        return trail;
    }

    RecordingUi ui;
};

TEST_F(UpdateSequenceTest, WritesTheSelectedImageAndEndsInSuccess)
{
    Ready("");
    MainDialogCommand(IDC_UPDATE);

    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Caption, "important note");
    EXPECT_EQ(ui.Boxes[0].Flags, 0x31u);
    EXPECT_EQ(CommandTrail(), "LOEABPU");
    EXPECT_EQ(CountRequests(CMD_WRITE_DATA), 2048u);

    const uint8_t* image = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(LookupImage(157, &image, &size));
    ASSERT_EQ(size, 98304u);
    EXPECT_TRUE(SimFlashHolds(image, size));

    EXPECT_EQ(ControlText(IDC_HINTBOX), "The update of the ESC was successful!");
    EXPECT_FALSE(ControlEnabled(IDC_UPDATE));
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_EQ(ControlText(IDC_VALUE_CONTROLLER), "1.25");
    EXPECT_EQ(ControllerFirmwareVersion(), 281);
    EXPECT_FALSE(SimUnitLocked());
    EXPECT_TRUE(SimWriteProtected());
}

TEST_F(UpdateSequenceTest, RequestsCarryTheirExactBytes)
{
    Ready("");
    MainDialogCommand(IDC_UPDATE);
    std::vector<SentRequest> sent = SentRequests();
    ASSERT_EQ(sent.size(), 2048u + 6u);
    struct Row {
        size_t Index;
        std::vector<uint8_t> Head;
    } rows[] = {
        {0, {0x01, 0x0B, 0x01, 0x01}},
        {1, {0x01, 0x20, 0x01, 0x00}},
        {2, {0x01, 0x1E, 0x04, 0x00, 0x34, 0x12, 0xDC, 0xFE}},
        {3, {0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE}},
        {4, {0x01, 0x1B, 0x30}},
        {2052, {0x01, 0x20, 0x01, 0x01}},
        {2053, {0x01, 0x0B, 0x01, 0x00}},
    };
    for (const Row& row : rows)
        for (size_t i = 0; i < row.Head.size(); ++i)
            EXPECT_EQ(sent[row.Index].Bytes[i], row.Head[i]) << "request " << row.Index << " byte " << i;
}

TEST_F(UpdateSequenceTest, PausesFollowTheFixedTimetable)
{
    Ready("");
    uint64_t start = VirtualNow();
    MainDialogCommand(IDC_UPDATE);
    std::vector<SentRequest> sent = SentRequests();
    ASSERT_EQ(sent.size(), 2054u);
    // Lock -> protection off -> erase: 20 ms apart at least.
    EXPECT_GE(sent[1].TimeMs - sent[0].TimeMs, 20u);
    EXPECT_GE(sent[2].TimeMs - sent[1].TimeMs, 20u);
    // The erase's reply is read 1000 ms after its request; the address follows 4000 + 20 later.
    std::vector<uint64_t> replies = ReplyTimes();
    ASSERT_GE(replies.size(), 3u);
    EXPECT_GE(replies[2] - sent[2].TimeMs, 1000u);
    EXPECT_GE(sent[3].TimeMs - replies[2], 4020u);
    for (size_t i = 5; i < 2052; ++i) ASSERT_GE(sent[i].TimeMs - sent[i - 1].TimeMs, 20u) << i;
    // The closing commands follow the last block's pause with no pause between them.
    EXPECT_GE(sent[2052].TimeMs - sent[2051].TimeMs, 20u);
    EXPECT_LT(sent[2053].TimeMs - sent[2052].TimeMs, 20u);
    uint64_t total = VirtualNow() - start;
    EXPECT_GE(total, 1000u + 4000u + 4 * 20u + 2048 * 20u);
    EXPECT_LT(total, 1000u + 4000u + 4 * 20u + 2048 * 20u + 3 * 2054u);
}

TEST_F(UpdateSequenceTest, ProgressWindowIsPlacedRaisedAdvancedAndDestroyed)
{
    Ready("");
    ui.MainRect = {100, 50, 707, 473};
    MainDialogCommand(IDC_UPDATE);
    EXPECT_EQ(ui.ProgressX, 100 + (607 >> 1) - 200);
    EXPECT_EQ(ui.ProgressY, 50 + (423 >> 1) - 25);
    EXPECT_EQ(ui.ProgressWidth, 400);
    EXPECT_EQ(ui.ProgressHeight, 50);
    EXPECT_EQ(ui.ProgressOwner, TEST_MAIN_WINDOW);
    EXPECT_EQ(ui.ProgressTitle, "Firmware update in progress, please wait...");
    EXPECT_FALSE(ui.ProgressOpen);
    ASSERT_EQ(ui.ProgressPositions.size(), 2049u);
    EXPECT_EQ(ui.ProgressPositions.front(), 0u);
    EXPECT_EQ(ui.ProgressPositions.back(), 100u);
    EXPECT_EQ(ui.ProgressPositions[1024], 50u);
    for (size_t i = 1; i < ui.ProgressPositions.size(); ++i)
        ASSERT_GE(ui.ProgressPositions[i], ui.ProgressPositions[i - 1]);
    // Raised at creation, then raised and shown once more when it is first seen in front.
    std::vector<std::string> expected = {"box:important note", "progress:create", "raise:main", "raise:progress",
                                         "raise:main", "raise:progress", "show:main", "show:progress",
                                         "progress:destroy"};
    EXPECT_EQ(ui.Events, expected);
}

TEST_F(UpdateSequenceTest, WindowsAreNotRaisedAgainWhileAnotherProgramIsInFront)
{
    Ready("");
    ui.Foreground = 0x9999;  // another program's window
    MainDialogCommand(IDC_UPDATE);
    std::vector<std::string> expected = {"box:important note", "progress:create", "raise:main", "raise:progress",
                                         "progress:destroy"};
    EXPECT_EQ(ui.Events, expected);
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
}

TEST_F(UpdateSequenceTest, PartialLastBlockIsPaddedWithFF)
{
    Ready("");
    // Family 200 with current class 200 selects image 120 of 36,032 bytes.
    ControllerFamily = 200;
    ControllerCurrentClass = 200;
    MainDialogCommand(IDC_UPDATE);
    std::vector<SentRequest> sent = SentRequests();
    ASSERT_EQ(CountRequests(CMD_WRITE_DATA), 751u);
    const SentRequest& last = sent[sent.size() - 3];
    ASSERT_EQ(last.Bytes[1], CMD_WRITE_DATA);
    EXPECT_EQ(last.Bytes[2], 32);
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(LookupImage(120, &image, &size));
    ASSERT_EQ(size, 36032u);
    EXPECT_EQ(0, std::memcmp(last.Bytes.data() + 4, image + 750 * 48, 32));
    for (size_t i = 36; i < 60; ++i) EXPECT_EQ(last.Bytes[i], 0xFF) << i;
    EXPECT_TRUE(SimFlashHolds(image, size));
    EXPECT_EQ(ui.ProgressPositions.back(), 100u);
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
}

TEST_F(UpdateSequenceTest, SelectionWithoutACarriedImageSendsNothing)
{
    Ready("");
    ControllerCurrentClass = 220;  // family 250, class 220 names image 150, which is not carried
    MainDialogCommand(IDC_UPDATE);
    EXPECT_TRUE(SentRequests().empty());
    ExpectFailure(TEXT_NO_IMAGE_FOR_CONTROLLER, nullptr);
    EXPECT_NE(ui.Boxes.back().Text.find("no firmware"), std::string::npos);
    EXPECT_EQ(ControlText(IDC_HINTBOX).find("successful"), std::string::npos);
}

TEST_F(UpdateSequenceTest, UpdateWithoutAUnitReportsWithoutCodesOrWarning)
{
    UseScenario("unit=none");
    MainDialogInit(TEST_MAIN_WINDOW);
    SimClearTraffic();
    MainDialogCommand(IDC_UPDATE);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    ExpectFailure(TEXT_UNIT_NOT_DETECTED, nullptr);
    EXPECT_TRUE(SentRequests().empty());
}

TEST_F(UpdateSequenceTest, WarningAnsweredOtherwiseThanOkChangesNothing)
{
    for (int32_t answer : {ANSWER_CANCEL, 0, ANSWER_NO}) {
        Ready("");
        ui.Answers = {answer};
        MainDialogCommand(IDC_UPDATE);
        EXPECT_EQ(ui.Boxes.size(), 1u);
        EXPECT_TRUE(SentRequests().empty());
        EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
        EXPECT_TRUE(LinkIsOpen());
        EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_READY_HINT));
        CloseLink();
    }
}

TEST_F(UpdateSequenceTest, VersionQuestionOnlyForTheSameOrANewerInstalledVersion)
{
    struct Case {
        const char* Scenario;
        bool Asked;
    } cases[] = {{"fw=0x0119", true}, {"fw=0x011a", true}, {"fw=0xfffe", true},
                 {"fw=0x0118", false}, {"fw=0xffff", false}, {"fw=0", false}};
    for (const Case& c : cases) {
        Ready(c.Scenario);
        ui.Answers = {ANSWER_OK, ANSWER_NO};
        MainDialogCommand(IDC_UPDATE);
        if (c.Asked) {
            ASSERT_EQ(ui.Boxes.size(), 2u) << c.Scenario;
            EXPECT_EQ(ui.Boxes[1].Caption, "Newer firmware found.");
            EXPECT_EQ(ui.Boxes[1].Flags, 0x34u);
            EXPECT_EQ(ui.Boxes[1].Text, TableText(TEXT_OLDER_FIRMWARE_QUESTION));
            EXPECT_TRUE(SentRequests().empty()) << c.Scenario;
        } else {
            EXPECT_EQ(ui.Boxes.size(), 1u) << c.Scenario;
            EXPECT_EQ(CommandTrail(), "LOEABPU") << c.Scenario;
        }
        CloseLink();
    }
}

TEST_F(UpdateSequenceTest, VersionQuestionAnsweredYesUpdates)
{
    Ready("fw=0x0119");
    ui.Answers = {ANSWER_OK, ANSWER_YES};
    MainDialogCommand(IDC_UPDATE);
    EXPECT_EQ(CommandTrail(), "LOEABPU");
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
}

// Every failing step: its text, its codes, and nothing sent after it.
struct FailureCase {
    const char* Fault;
    uint32_t TextId;
    const char* CodeLine;  // null: no code line
    const char* Trail;     // commands sent, the failing one included when it was written
};

class UpdateFailure : public UpdateSequenceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailure, ReportsTheStepAndStops)
{
    Ready(GetParam().Fault);
    MainDialogCommand(IDC_UPDATE);
    ASSERT_EQ(ui.Boxes.size(), 2u);
    ExpectFailure(GetParam().TextId, GetParam().CodeLine);
    EXPECT_EQ(CommandTrail(), GetParam().Trail);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdateFailure,
    ::testing::Values(
        FailureCase{"fail=lock:write", TEXT_LOCK_FAILED, "The system shows following errorcode: 0xfffffffe-0x0000001f", ""},
        FailureCase{"fail=lock:read", TEXT_LOCK_FAILED, "The system shows following errorcode: 0xfffffffd-0x0000001f", "L"},
        FailureCase{"fail=lock:hang", TEXT_LOCK_FAILED, "The system shows following errorcode: 0xfffffffd-0x000005b4", "L"},
        FailureCase{"fail=lock:state:0", TEXT_LOCK_FAILED, "The system shows following errorcode: 0x0000065b-0x00000000", "L"},
        FailureCase{"fail=lock:refuse:9", TEXT_LOCK_FAILED, "The system shows following errorcode: 0x0000065b-0x00000000", "L"},
        FailureCase{"fail=protect-off:refuse:7", TEXT_PROTECT_OFF_FAILED_STEP, "The system shows following errorcode: 0x00000007-0x00000000", "LO"},
        FailureCase{"fail=protect-off:state:1", TEXT_PROTECT_OFF_FAILED_STEP, "The system shows following errorcode: 0x0000065b-0x00000000", "LO"},
        FailureCase{"fail=protect-off:write", TEXT_PROTECT_OFF_FAILED_STEP, "The system shows following errorcode: 0xfffffffe-0x0000001f", "L"},
        FailureCase{"fail=erase:refuse:0x80000001", TEXT_ERASE_FAILED, "The system shows following errorcode: 0x80000001-0x00000000", "LOE"},
        FailureCase{"fail=erase:read", TEXT_ERASE_FAILED, "The system shows following errorcode: 0xfffffffd-0x0000001f", "LOE"},
        FailureCase{"fail=address:refuse:5", TEXT_ADDRESS_FAILED, "The system shows following errorcode: 0x00000005-0x00000000", "LOEA"},
        FailureCase{"fail=block#5:refuse:7", TEXT_BLOCK_FAILED, "The system shows following errorcode: 0x00000007-0x00000000", "LOEAB"},
        FailureCase{"fail=block#2048:write", TEXT_BLOCK_FAILED, "The system shows following errorcode: 0xfffffffe-0x0000001f", "LOEAB"},
        FailureCase{"fail=block#1:hang", TEXT_BLOCK_FAILED, "The system shows following errorcode: 0xfffffffd-0x000005b4", "LOEAB"},
        FailureCase{"unplug=erase", TEXT_ERASE_FAILED, "The system shows following errorcode: 0xfffffffe-0x0000048f", "LO"},
        FailureCase{"unplug=block", TEXT_BLOCK_FAILED, "The system shows following errorcode: 0xfffffffe-0x0000048f", "LOEA"}));

// The outcome keeps the kind of a failure: a unit's code is never taken for one of the link's.
TEST_F(UpdateSequenceTest, OutcomeKeepsTheUnitsCodeApartFromTheLinksFailures)
{
    const struct {
        const char* Fault;
        UpdateStep Step;
        uint32_t TextId;
        LinkResult Result;
        const char* CodeLine;
    } kCases[] = {
        {"fail=erase:refuse:0xffffffff", UPDATE_STEP_ERASE, TEXT_ERASE_FAILED, UnitRefused(0xFFFFFFFFu), "0xffffffff-0x00000000"},
        {"fail=erase:refuse:0xfffffffe", UPDATE_STEP_ERASE, TEXT_ERASE_FAILED, UnitRefused(0xFFFFFFFEu), "0xfffffffe-0x00000000"},
        {"fail=erase:write", UPDATE_STEP_ERASE, TEXT_ERASE_FAILED, LinkFailed(LINK_WRITE_FAILED), "0xfffffffe-0x0000001f"},
        {"fail=lock:state:0", UPDATE_STEP_LOCK, TEXT_LOCK_FAILED, UnitUnconfirmed(), "0x0000065b-0x00000000"},
        {"fail=block#3:refuse:0xffffffff", UPDATE_STEP_BLOCK, TEXT_BLOCK_FAILED, UnitRefused(0xFFFFFFFFu), "0xffffffff-0x00000000"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Fault);
        Ready(c.Fault);
        UpdateOutcome outcome = UpdateSequence();
        EXPECT_EQ(outcome.End, UPDATE_FAILED);
        EXPECT_EQ(outcome.FailedStep, c.Step);
        EXPECT_EQ(outcome.Result, c.Result);
        ExpectFailure(c.TextId, (std::string("The system shows following errorcode: ") + c.CodeLine).c_str());
    }
    // How other runs end, as the outcome tells it.
    Ready("");
    ui.Answers = {ANSWER_CANCEL};
    EXPECT_EQ(UpdateSequence().End, UPDATE_DECLINED_AT_WARNING);
    Ready("fw=0x0119");
    ui.Answers = {ANSWER_OK, ANSWER_NO};
    EXPECT_EQ(UpdateSequence().End, UPDATE_DECLINED_AT_REINSTALL);
    Ready("fw=0x0100");
    UpdateOutcome success = UpdateSequence();
    EXPECT_EQ(success.End, UPDATE_SUCCEEDED);
    EXPECT_EQ(success.BlocksSent, 2048u);
    EXPECT_EQ(success.BlockCount, 2048u);
    EXPECT_EQ(success.FirmwareBefore, 0x0100);
    EXPECT_EQ(success.FirmwareAfter, 0x0119);
}

TEST_F(UpdateSequenceTest, RefusalsWithoutACodeCountAsSuccessAndTheSequenceGoesOn)
{
    // The unit did not carry the refused command out, so the next step meets a unit that
    // refuses for its own reason (the order it enforces); the sequence itself went on.
    struct Case {
        const char* Fault;
        const char* Trail;
        uint32_t TextId;  // 0: success
        const char* CodeLine;
    } cases[] = {
        {"fail=protect-off:refuse:0", "LOE", TEXT_ERASE_FAILED, "The system shows following errorcode: 0x00000e09-0x00000000"},
        {"fail=erase:refuse:0", "LOEA", TEXT_ADDRESS_FAILED, "The system shows following errorcode: 0x00000e0a-0x00000000"},
        {"fail=address:refuse:0", "LOEAB", TEXT_BLOCK_FAILED, "The system shows following errorcode: 0x00000e0b-0x00000000"},
        {"fail=address:state:7", "LOEABPU", 0, nullptr},
        {"fail=block:refuse:0", "LOEABPU", 0, nullptr},
    };
    for (const Case& c : cases) {
        Ready(c.Fault);
        MainDialogCommand(IDC_UPDATE);
        EXPECT_EQ(CommandTrail(), c.Trail) << c.Fault;
        if (c.TextId == 0) {
            EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS)) << c.Fault;
            EXPECT_EQ(ui.Boxes.size(), 1u) << c.Fault;
        } else {
            ExpectFailure(c.TextId, c.CodeLine);
        }
        CloseLink();
    }
}

// Protection on seals the written image: its failure is the run's, and the unlock is still
// sent. The unlock's failure alone leaves a sealed controller: a success that says the unit
// stays locked.
TEST_F(UpdateSequenceTest, ClosingCommandsAreChecked)
{
    const struct {
        const char* Fault;
        const char* CodeLine;  // null: success
        bool UnitLeftLocked;
    } kCases[] = {
        {"fail=protect-on:refuse:5", "0x00000005-0x00000000", false},
        {"fail=protect-on:write", "0xfffffffe-0x0000001f", false},
        {"unplug=protect-on", "0xfffffffe-0x0000048f", true},
        {"fail=protect-on:hang,fail=unlock:read", "0xfffffffd-0x000005b4", true},
        {"fail=unlock:refuse:3", nullptr, true},
        {"fail=unlock:write", nullptr, true},
        {"fail=protect-on:refuse:0", nullptr, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Fault);
        Ready(c.Fault);
        UpdateOutcome outcome = UpdateSequence();
        EXPECT_EQ(outcome.UnitLeftLocked, c.UnitLeftLocked);
        // The unlock is the last request tried, written or not (a unit pulled out gets none).
        ASSERT_GT(SimRequestCount(), 0u);
        if (SimUnitPresent()) {
            EXPECT_EQ(SimRequest(SimRequestCount() - 1)->Bytes[1], CMD_SYSTEM_LOCK);
            EXPECT_EQ(SimRequest(SimRequestCount() - 1)->Bytes[3], 0);
        }
        if (c.CodeLine == nullptr) {
            EXPECT_EQ(outcome.End, UPDATE_SUCCEEDED);
            EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
            EXPECT_EQ(ControlText(IDC_VALUE_CONTROLLER), "1.25");
            EXPECT_TRUE(LinkIsOpen());
        } else {
            EXPECT_EQ(outcome.End, UPDATE_FAILED);
            EXPECT_EQ(outcome.FailedStep, UPDATE_STEP_PROTECT_ON);
            EXPECT_EQ(outcome.FirmwareAfter, FIRMWARE_VERSION_NONE);
            ExpectFailure(TEXT_PROTECT_ON_FAILED_STEP,
                          (std::string("The system shows following errorcode: ") + c.CodeLine).c_str());
            EXPECT_NE(SimControllerFirmware(), 0x0119) << "the controller was never sealed";
        }
        CloseLink();
    }
}

TEST_F(UpdateSequenceTest, FailingBlockDestroysTheProgressWindowBeforeTheBox)
{
    Ready("fail=block#5:refuse:7");
    MainDialogCommand(IDC_UPDATE);
    ASSERT_GE(ui.Events.size(), 2u);
    EXPECT_EQ(ui.Events[ui.Events.size() - 2], "progress:destroy");
    EXPECT_EQ(ui.Events.back(), "box:Update failed!");
    EXPECT_EQ(ui.ProgressPositions.back(), 0u) << "4 blocks of 2048 are 0 %";
    EXPECT_TRUE(SimUnitLocked()) << "the failed step leaves the lock as it was";
    EXPECT_FALSE(SimWriteProtected());
}

TEST_F(UpdateSequenceTest, EraseFailureIsShownOnlyAfterTheLongPause)
{
    Ready("fail=erase:refuse:9");
    uint64_t shownAt = 0;
    ui.WhileBoxOpen = [&](const RecordedBox&) { shownAt = VirtualNow(); };
    MainDialogCommand(IDC_UPDATE);
    std::vector<SentRequest> sent = SentRequests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_GE(shownAt - sent[2].TimeMs, 5000u);
}

TEST_F(UpdateSequenceTest, UnitPulledOutWhileTheWarningIsOpenFailsAtTheLockWithoutCodes)
{
    Ready("");
    std::u16string path = UnitPath();
    ui.WhileBoxOpen = [&](const RecordedBox& box) {
        if (box.Caption == "important note") PullOut(path);
    };
    MainDialogCommand(IDC_UPDATE);
    ASSERT_EQ(ui.Boxes.size(), 2u);
    ExpectFailure(TEXT_LOCK_FAILED, nullptr);
    EXPECT_TRUE(SentRequests().empty());
}

// Another unit plugged in while the warning is open: only the controller the update was
// started for may be written.
TEST_F(UpdateSequenceTest, ControllerSwappedWhileTheWarningIsOpen)
{
    const struct {
        const char* Replacement;
        bool Refused;
    } kCases[] = {
        {"", false},                   // the same unit plugged in again
        {"type=0x0a0640fa", true},     // an ignored controller: it would take the first one's image
        {"type=0x140fa0fa", true},     // another admitted controller
        {"fw=0x0117", true},           // the same type with other firmware than was asked about
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Replacement);
        Ready("");
        std::u16string path = UnitPath();
        ui.WhileBoxOpen = [&](const RecordedBox& box) {
            if (box.Caption != "important note") return;
            PullOut(path);
            UseScenario(c.Replacement);
            TestBroadcast arrival = {DEVTYP_DEVICEINTERFACE, UnitPath()};
            HandleDeviceChange(DBT_DEVICEARRIVAL_, &arrival);
            SimClearTraffic();
        };
        MainDialogCommand(IDC_UPDATE);
        ui.WhileBoxOpen = nullptr;
        if (c.Refused) {
            ExpectFailure(TEXT_CONTROLLER_CHANGED, nullptr);
            EXPECT_TRUE(SentRequests().empty());
        } else {
            EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
        }
        CloseLink();
    }
}

// While the flash commands run the dialog answers messages: what arrives then must neither
// start nor end anything, and device changes wait until the flash commands have ended. A unit
// pulled out and plugged in anew meanwhile is taken up afterwards, after a failure too.
TEST_F(UpdateSequenceTest, MessagesDuringTheFlashCommandsWaitForTheirEnd)
{
    const struct {
        const char* Scenario;
        uint32_t BoxesAfterWarning;  // the failure box
        uint32_t FinalHint;
    } kCases[] = {
        {"", 0, TEXT_READY_HINT},
        {"fail=block#5:refuse:7", 1, TEXT_FAILURE_HINT},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Scenario);
        Ready(c.Scenario);
        ui.Responsive.clear();
        std::u16string path = UnitPath();
        bool closeHandled = false, updateHandled = false, keptOpen = false;
        ui.WhileResponsive = [&] {
            TestBroadcast removal = {DEVTYP_DEVICEINTERFACE, path};
            TestBroadcast arrival = {DEVTYP_DEVICEINTERFACE, path};
            EXPECT_EQ(HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE_, &removal), 1);
            EXPECT_EQ(HandleDeviceChange(DBT_DEVICEARRIVAL_, &arrival), 1);
            keptOpen = LinkIsOpen();
            closeHandled = MainDialogCommand(IDC_CLOSE);
            updateHandled = MainDialogCommand(IDC_UPDATE);
        };
        bool unitBackUnderBox = false;
        ui.WhileBoxOpen = [&](const RecordedBox&) { unitBackUnderBox = LinkIsOpen() && ControlEnabled(IDC_UPDATE); };
        MainDialogCommand(IDC_UPDATE);
        ui.WhileResponsive = nullptr;
        ui.WhileBoxOpen = nullptr;
        EXPECT_TRUE(keptOpen) << "the removal is kept for later";
        EXPECT_TRUE(closeHandled && updateHandled);
        EXPECT_FALSE(ui.DialogEnded);
        EXPECT_EQ(CountRequests(CMD_SYSTEM_LOCK, 1), 1u) << "one update, not two";
        EXPECT_EQ(ui.Responsive, (std::vector<bool>{true, false}));
        EXPECT_EQ(ui.Boxes.size(), 1u + c.BoxesAfterWarning);
        if (c.BoxesAfterWarning != 0) {
            EXPECT_TRUE(unitBackUnderBox) << "taken up before the failure box";
        }
        // The unit plugged in anew is open and ready again, whatever became of the update.
        EXPECT_TRUE(LinkIsOpen());
        EXPECT_TRUE(ControlEnabled(IDC_UPDATE));
        EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(c.FinalHint));
        CloseLink();
    }
    // Afterwards Close works again.
    EXPECT_TRUE(MainDialogCommand(IDC_CLOSE));
    EXPECT_TRUE(ui.DialogEnded);
}

TEST_F(UpdateSequenceTest, ProgressWindowThatCannotBeCreatedIsNoFailure)
{
    Ready("");
    ui.ProgressCreationFails = true;
    MainDialogCommand(IDC_UPDATE);
    EXPECT_TRUE(ui.ProgressPositions.empty());
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS));
}

TEST_F(UpdateSequenceTest, PausesRunOnThePlatformClock)
{
    Ready("");
    uint64_t start = VirtualNow();
    MainDialogCommand(IDC_UPDATE);
    // 41 seconds of pauses passed on the simulated unit's clock, none of them for real.
    EXPECT_GE(VirtualNow() - start, 46000u);
}

// The generated stand-in images never reach a real unit: a table that is no simulation stands
// for one. Such a build still identifies the unit and shows it ready.
TEST_F(UpdateSequenceTest, StandInImagesAreRefusedForARealUnit)
{
    static HidPlatform realStack = kSimHidPlatform;
    realStack.IsSimulation = [] { return false; };
    Ready("");
    SelectHidPlatform(&realStack);
    const bool refused = CarriedImagesAreStandIns() && !StandInImagesAllowedOnRealUnits();
    UpdateOutcome outcome = UpdateSequence();
    SelectHidPlatform(&kSimHidPlatform);
    if (refused) {
        EXPECT_EQ(outcome.FailedStep, UPDATE_STEP_TEST_IMAGES);
        ASSERT_EQ(ui.Boxes.size(), 1u) << "no warning is asked first";
        ExpectFailure(TEXT_TEST_IMAGES_REFUSED, nullptr);
        EXPECT_TRUE(SentRequests().empty());
    } else {
        EXPECT_EQ(outcome.End, UPDATE_SUCCEEDED);
    }
}

// --- The failure report on its own ---

TEST_F(UpdateSequenceTest, FailureReportFormatsBothCodesAsEightHexDigits)
{
    struct Case {
        LinkResult Result;
        uint32_t System;
        const char* Line;
    } cases[] = {{LinkFailed(LINK_WRITE_FAILED), 31, "0xfffffffe-0x0000001f"},
                 {UnitUnconfirmed(), 0, "0x0000065b-0x00000000"},
                 {UnitRefused(0x80000001u), 0xdeadbeef, "0x80000001-0xdeadbeef"},
                 {UnitRefused(0xFFFFFFFFu), 0, "0xffffffff-0x00000000"},  // a unit's code, not "no device"
                 {UnitRefused(5), 1167, "0x00000005-0x0000048f"}};
    for (const Case& c : cases) {
        ui.Boxes.clear();
        FailureReport(u"Something failed.", u"Caption", c.Result, c.System);
        ASSERT_EQ(ui.Boxes.size(), 1u);
        EXPECT_EQ(ui.Boxes[0].Text, std::string("Something failed.\r\nThe system shows following errorcode: ") + c.Line);
        EXPECT_EQ(ui.Boxes[0].Caption, "Caption");
    }
}

TEST_F(UpdateSequenceTest, FailureReportClosesTheLinkBeforeTheBoxAndHintsAfterIt)
{
    Ready("");
    bool linkOpen = true;
    std::string panel, hint;
    ui.WhileBoxOpen = [&](const RecordedBox&) {
        linkOpen = LinkIsOpen();
        panel = ControlText(IDC_VALUE_UNIT);
        hint = ControlText(IDC_HINTBOX);
    };
    FailureReport(u"Text", u"Caption", LinkFailed(LINK_NO_DEVICE), 0);
    EXPECT_FALSE(linkOpen);
    EXPECT_EQ(panel, "0.0.0");
    EXPECT_EQ(hint, TableText(TEXT_READY_HINT));
    EXPECT_EQ(ui.Boxes.back().Text, "Text");
    EXPECT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_FAILURE_HINT));
    EXPECT_EQ(SimOpenHandleCount(), 0u);
}

TEST_F(UpdateSequenceTest, GermanFailureBox)
{
    Ready("fail=address:refuse:5");
    SetTextLanguage(LANGUAGE_GERMAN);
    MainDialogCommand(IDC_UPDATE);
    ASSERT_EQ(ui.Boxes.size(), 2u);
    EXPECT_EQ(ui.Boxes[0].Caption, "Wichtiger Hinweis");
    EXPECT_EQ(ui.Boxes[1].Caption, "Update fehlgeschlagen!");
    EXPECT_EQ(ui.Boxes[1].Text,
              "Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. "
              "Das Update wird abgebrochen\r\nDas System meldet Fehlercode 0x00000005-0x00000000");
    SetTextLanguage(LANGUAGE_ENGLISH);
}

}  // namespace
