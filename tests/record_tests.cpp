// The record of a run on the simulated unit: its header, every report the unit saw and every
// reply it gave, in order, and how the update ended.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "record/recorder.h"
#include "link/device_link.h"
#include "link/flash_commands.h"
#include "resources/resource_ids.h"
#include "resources/text_ids.h"
#include "resources/version.h"
#include "tests/support/recording_ui.h"
#include "tests/support/sim_session.h"

namespace {

uint32_t FakeDescriptor(PlatformHandle, uint8_t* descriptor, uint32_t capacity)
{
    static const uint8_t kDescriptor[] = {0x06, 0xa0, 0xff, 0x09, 0x01};
    if (capacity < sizeof kDescriptor) return 0;
    for (uint32_t i = 0; i < sizeof kDescriptor; ++i) descriptor[i] = kDescriptor[i];
    return sizeof kDescriptor;
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) text += {' ', kHex[byte >> 4], kHex[byte & 15]};
    return text;
}

struct RecordCase {
    const char* Scenario;
    const char* UnitLines;  // the header's unit and descriptor lines
    const char* Outcome;    // the outcome line without its time
};

class RecordTest : public ::testing::TestWithParam<RecordCase> {
protected:
    void TearDown() override
    {
        StopRecorder();
        CloseLink();
    }
    RecordingUi ui;
};

TEST_P(RecordTest, HoldsTheHeaderEveryReportAndTheOutcome)
{
    const RecordCase& row = GetParam();
    StartRecording(&ui);
    UseScenario(row.Scenario);
    StartRecorder(g_Hid, {"velquor-flash", "sim", row.Scenario, "update", FakeDescriptor, nullptr});
    SelectHidPlatform(&kRecorderHidPlatform);
    MainDialogInit(TEST_MAIN_WINDOW);
    MainDialogCommand(IDC_UPDATE);

    std::istringstream text(RecorderText(nullptr));
    std::string header, line;
    while (text.peek() != EOF && !std::isdigit(text.peek()) && std::getline(text, line)) header += line + "\n";
    EXPECT_EQ(header, std::string("velquor-record 1\nupdater ") + UpdaterVersion() +
                          "\nfirmware 1.25\nfront-end velquor-flash\nedge sim\nscenario " + row.Scenario +
                          "\ncommand update\n" + row.UnitLines);

    // The body against what the simulated unit itself saw, request by request.
    std::vector<SentRequest> sent = SentRequests();
    size_t written = 0, read = 0, pauses = 0;
    std::string outcome;
    while (std::getline(text, line)) {
        std::string event = line.substr(line.find(' ') + 1);
        if (event.compare(0, 2, "> ") == 0) {
            ASSERT_LT(written, sent.size());
            EXPECT_EQ(event.substr(1), Hex(sent[written].Bytes)) << "request " << written;
            ++written;
        } else if (event.compare(0, 2, "< ") == 0) {
            ++read;
        } else if (event.compare(0, 6, "pause ") == 0) {
            ++pauses;
        } else if (event.compare(0, 8, "outcome ") == 0) {
            outcome = event;
        }
    }
    EXPECT_EQ(written, sent.size());
    EXPECT_EQ(read, ReplyTimes().size());
    EXPECT_EQ(outcome, row.Outcome);
    // Each accepted block is followed by its pause.
    EXPECT_GE(pauses, CountRequests(CMD_WRITE_DATA));
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedUnit, RecordTest,
    ::testing::Values(
        RecordCase{"", "unit 21b8:0002 input 60 output 60\ndescriptor 06 a0 ff 09 01\n",
                   "outcome success firmware 1.25"},
        RecordCase{"unit=dialpuck,fail=block#5:refuse:7", "unit 21b8:0001 input 60 output 60\ndescriptor 06 a0 ff 09 01\n",
                   "outcome failure block 0x00000007-0x00000000 firmware none"},
        RecordCase{"unit=none", "unit none\n", "outcome failure no-unit 0xffffffff-0x00000000 firmware 0.0"}));

// A record kept within a bound over a long visit: the oldest looks at a unit are left out whole,
// the last three updates stay whole with the looks that led to them, and the text says so.
TEST(BoundedRecord, KeepsTheLastThreeUpdatesWhole)
{
    RecordingUi ui;
    StartRecording(&ui);
    UseScenario("");
    StartRecorder(g_Hid, {"VelquorUpdater", "sim", "", "window", nullptr, nullptr});
    KeepRecorderWithin(1);
    SelectHidPlatform(&kRecorderHidPlatform);
    const TestBroadcast arrival = {DEVTYP_DEVICEINTERFACE, u"\\\\?\\hid#any"};
    MainDialogInit(TEST_MAIN_WINDOW);
    for (int update = 1; update <= 5; ++update) {
        MainDialogCommand(IDC_UPDATE);
        ASSERT_EQ(ControlText(IDC_HINTBOX), TableText(TEXT_UPDATE_SUCCESS)) << "update " << update;
        const TestBroadcast removal = {DEVTYP_DEVICEINTERFACE, UnitPath()};
        UnplugUnit();
        HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE_, &removal);
        // A controller of the first firmware again, then the unit plugged in.
        UseScenario(update < 5 ? "" : "unit=none");
        SelectHidPlatform(&kRecorderHidPlatform);
        HandleDeviceChange(DBT_DEVICEARRIVAL_, &arrival);
    }
    const std::string text = RecorderText(nullptr);
    KeepRecorderWithin(0);
    StopRecorder();
    CloseLink();

    auto count = [&](const std::string& piece) {
        size_t n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(" outcome success firmware 1.25\n"), 3u);
    EXPECT_EQ(count(" > 01 08 "), 3u) << "the looks of the three updates (the last one found no unit)";
    EXPECT_EQ(count(" > 01 1b "), 3u * 2048u);
    const size_t note = text.find("\n# ");
    ASSERT_NE(note, std::string::npos);
    EXPECT_NE(text.find("of this visit were left out", note), std::string::npos) << text.substr(note, 200);
    // The body begins with the look at the third update's unit: its arrival.
    const size_t body = text.find('\n', note + 1) + 1;
    EXPECT_EQ(text.substr(text.find(' ', body), 9), " arrival\n");
}

}  // namespace
