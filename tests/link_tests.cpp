// Discovery, identification and the flash commands, driven through the simulated unit: which
// interfaces are opened, which requests are sent byte for byte, what each reply yields.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/app.h"
#include "link/device_link.h"
#include "link/flash_commands.h"
#include "catalogue/catalogue.h"
#include "resources/resource_ids.h"
#include "sim/sim_unit.h"
#include "tests/support/recording_ui.h"
#include "tests/support/sim_session.h"

namespace {

class Link : public ::testing::Test {
protected:
    void SetUp() override { ResetProcessState(); }
    void TearDown() override
    {
        CloseLink();
        EXPECT_EQ(SimOpenHandleCount(), 0u) << "a handle leaked";
        EXPECT_EQ(SimOpenListCount(), 0u) << "an interface list leaked";
        EXPECT_EQ(SimBadCloseCount(), 0u);
    }

    // Bytes 0..n-1 of request `index`.
    std::vector<uint8_t> Head(size_t index, size_t n)
    {
        std::vector<SentRequest> sent = SentRequests();
        if (index >= sent.size()) return {};
        return std::vector<uint8_t>(sent[index].Bytes.begin(), sent[index].Bytes.begin() + static_cast<long>(n));
    }

    // Discovers the unit and clears the traffic, ready for a flash command.
    void OpenUnit(const char* scenario)
    {
        UseScenario(scenario);
        ASSERT_EQ(DiscoverUnit(), LINK_OK);
        SimClearTraffic();
    }
};

bool IsNoDeviceRecord()
{
    if (g_Link.DeviceHandle != INVALID_PLATFORM_HANDLE || g_Link.DevicePath != nullptr) return false;
    DeviceLink zero;
    std::memset(&zero, 0, sizeof zero);
    zero.DeviceHandle = INVALID_PLATFORM_HANDLE;
    zero.DevicePath = nullptr;
    return g_Link.OutputReportLength == 0 && g_Link.InputReportLength == 0 && g_Link.UnitMode == 0 &&
           g_Link.UnitVersion == 0 && g_Link.ControllerState == 0 && g_Link.ProductId == 0 &&
           std::memcmp(g_Link.ControllerInfo, zero.ControllerInfo, sizeof zero.ControllerInfo) == 0 &&
           std::memcmp(g_Link.ControllerIdentity, zero.ControllerIdentity, sizeof zero.ControllerIdentity) == 0 &&
           g_Link.ModeInfoA == 0 && g_Link.ModeInfoC == 0 && g_Link.UnitVersionExtra == 0;
}

// --- Discovery ---

TEST_F(Link, DiscoversAndIdentifiesTheDefaultUnit)
{
    UseScenario("");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_EQ(g_Link.ProductId, PRODUCT_ID_SETBOX);
    EXPECT_EQ(std::u16string(g_Link.DevicePath), UnitPath());
    EXPECT_EQ(g_Link.InputReportLength, 60u);
    EXPECT_EQ(g_Link.OutputReportLength, 60u);
    EXPECT_EQ(g_Link.UnitMode, 0);
    EXPECT_EQ(g_Link.ControllerState, 3);
    EXPECT_EQ(g_Link.ControllerStateExtra, SIM_CONTROLLER_STATE_EXTRA);
    EXPECT_EQ(g_Link.UnitVersion, 0x00011900u);
    EXPECT_EQ(g_Link.UnitVersionExtra, SIM_UNIT_VERSION_EXTRA);
    EXPECT_EQ(ControllerTypeCode(), 0x110FA0D2u);
    EXPECT_EQ(ControllerFirmwareVersion(), 0x0118);
    EXPECT_EQ(ControllerBootloaderVersion(), 0x00000105u);
    // The type code arrives as reply bytes D2 A0 0F 11 and is kept as it came.
    const uint8_t typeBytes[4] = {0xD2, 0xA0, 0x0F, 0x11};
    EXPECT_EQ(0, std::memcmp(g_Link.ControllerIdentity, typeBytes, 4));
}

TEST_F(Link, ForeignAndAlienInterfacesAreOpenedClosedAndSkipped)
{
    UseScenario("others=2,alien=1");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    int32_t alien = SimInterfaceIndex(SIM_ROLE_ALIEN);
    ASSERT_GE(alien, 0);
    EXPECT_EQ(SimOpenCount(static_cast<uint32_t>(alien)), 1u);
    EXPECT_EQ(SimCloseCount(static_cast<uint32_t>(alien)), 1u);
    for (uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(SimInterfaceRole(i), SIM_ROLE_OTHER);
        EXPECT_EQ(SimOpenCount(i), 1u);
        EXPECT_EQ(SimCloseCount(i), 1u);
    }
    EXPECT_EQ(g_Link.ProductId, PRODUCT_ID_SETBOX);
}

TEST_F(Link, FirstOfTwoUnitsIsServedAndTheSecondNeverOpened)
{
    UseScenario("second=1");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(std::u16string(g_Link.DevicePath), UnitPath());
    EXPECT_EQ(SimOpenCount(static_cast<uint32_t>(SimInterfaceIndex(SIM_ROLE_SECOND))), 0u);
}

TEST_F(Link, DialpuckIsAProgrammingUnitToo)
{
    UseScenario("unit=dialpuck");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(g_Link.ProductId, PRODUCT_ID_DIALPUCK);
}

TEST_F(Link, DiscoveryFailures)
{
    struct Case {
        const char* Scenario;
        int32_t Result;
    } cases[] = {
        {"unit=none", LINK_NOT_FOUND},           {"unit=none,others=3,alien=1", LINK_NOT_FOUND},
        {"broken=list", LINK_NO_DEVICE},         {"broken=path", LINK_NOT_FOUND},
        {"broken=open", LINK_NOT_FOUND},         {"broken=ids", LINK_NOT_FOUND},
        {"broken=path,second=1", LINK_OK},       {"broken=ids,second=1", LINK_OK},
    };
    for (const Case& c : cases) {
        UseScenario(c.Scenario);
        EXPECT_EQ(DiscoverUnit(), c.Result) << c.Scenario;
        if (c.Result != LINK_OK) {
            EXPECT_TRUE(IsNoDeviceRecord()) << c.Scenario;
        }
        CloseLink();
    }
}

TEST_F(Link, DiscoveryWhileAUnitIsOpenClearsTheRecordEvenWhenNothingIsFound)
{
    UseScenario("");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    uint32_t unit = static_cast<uint32_t>(SimInterfaceIndex(SIM_ROLE_UNIT));
    SimUnplug();
    EXPECT_EQ(DiscoverUnit(), LINK_NOT_FOUND);
    EXPECT_TRUE(IsNoDeviceRecord());
    EXPECT_EQ(SimCloseCount(unit), 1u) << "the old handle was closed";
}

TEST_F(Link, StatusThatCannotBeWrittenLeavesTheUnitOpen)
{
    UseScenario("fail=status:write");
    EXPECT_EQ(DiscoverUnit(), LINK_WRITE_FAILED);
    EXPECT_TRUE(LinkIsOpen());
    EXPECT_NE(g_Link.DevicePath, nullptr);
    EXPECT_EQ(g_Link.ProductId, PRODUCT_ID_SETBOX);
    EXPECT_EQ(g_Link.InputReportLength, 60u);
    EXPECT_TRUE(SentRequests().empty());
}

TEST_F(Link, ReportLengthsThatDoNotFitAreRefusedBeforeAnythingIsSent)
{
    struct Case {
        const char* Scenario;
        int32_t Result;
    } cases[] = {
        {"inlen=61", LINK_NO_DEVICE},  {"inlen=65535", LINK_NO_DEVICE}, {"inlen=43", LINK_NO_DEVICE},
        {"outlen=61", LINK_NO_DEVICE}, {"outlen=51", LINK_NO_DEVICE},   {"inlen=1,outlen=1", LINK_NO_DEVICE},
        {"broken=caps", LINK_NO_DEVICE},
        {"inlen=44,outlen=52", LINK_OK}, {"inlen=60,outlen=60", LINK_OK},
    };
    for (const Case& c : cases) {
        UseScenario(c.Scenario);
        EXPECT_EQ(DiscoverUnit(), c.Result) << c.Scenario;
        if (c.Result != LINK_OK) {
            EXPECT_EQ(SimRequestCount(), 0u) << c.Scenario;
            EXPECT_TRUE(LinkIsOpen()) << "the caller decides what happens to the unit";
        }
        CloseLink();
    }
}

// --- Identification ---

TEST_F(Link, IdentificationBranches)
{
    struct Case {
        const char* Scenario;
        int32_t Result;
        std::vector<uint8_t> Commands;
    } cases[] = {
        {"", LINK_OK, {0x08, 0x1D, 0x22}},
        {"mode=1", LINK_OK, {0x08, 0x0A}},
        {"state=2", LINK_OK, {0x08}},
        {"state=0x103", LINK_OK, {0x08}},
        {"fail=info:refuse:5", 5, {0x08, 0x1D}},
        {"fail=info:refuse:0x00010000", LINK_OK, {0x08, 0x1D, 0x22}},  // only bytes 4..5 count
        {"fail=info:refuse:0x00070003", 3, {0x08, 0x1D}},
        {"fail=identity:refuse:9", 9, {0x08, 0x1D, 0x22}},
        {"fail=identity:refuse:0", LINK_OK, {0x08, 0x1D, 0x22}},
        {"fail=status:read", LINK_READ_FAILED, {0x08}},
        {"fail=status:hang", LINK_READ_FAILED, {0x08}},
        {"fail=memread:write,mode=4", LINK_WRITE_FAILED, {0x08}},
        {"fail=memread:read,mode=4", LINK_READ_FAILED, {0x08, 0x0A}},
        {"fail=info:write", LINK_WRITE_FAILED, {0x08}},
        {"fail=identity:read", LINK_READ_FAILED, {0x08, 0x1D, 0x22}},
        {"fail=status:refuse:7", LINK_OK, {0x08}},  // taken as data: controller state 7
    };
    for (const Case& c : cases) {
        UseScenario(c.Scenario);
        EXPECT_EQ(DiscoverUnit(), c.Result) << c.Scenario;
        std::vector<uint8_t> commands;
        for (const SentRequest& request : SentRequests()) commands.push_back(request.Bytes[1]);
        EXPECT_EQ(commands, c.Commands) << c.Scenario;
        CloseLink();
    }
}

TEST_F(Link, IdentificationRequestsCarryTheirExactBytes)
{
    UseScenario("");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(Head(0, 4), (std::vector<uint8_t>{0x01, 0x08, 0x00, 0x00}));
    EXPECT_EQ(Head(1, 12), (std::vector<uint8_t>{0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Head(2, 4), (std::vector<uint8_t>{0x01, 0x22, 0x00, 0x00}));
    CloseLink();
    UseScenario("mode=1");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(Head(1, 8), (std::vector<uint8_t>{0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08}));
}

TEST_F(Link, OtherModeStoresTheModeBlockAndTheVersionFromMemory)
{
    UseScenario("mode=1,unitver=0x02000103");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(g_Link.UnitMode, 1);
    EXPECT_EQ(g_Link.ModeInfoA, SIM_MODE_INFO_A);
    EXPECT_EQ(g_Link.ModeInfoB, SIM_MODE_INFO_B);
    EXPECT_EQ(g_Link.ModeInfoC, SIM_MODE_INFO_C);
    EXPECT_EQ(g_Link.ModeInfoD, SIM_MODE_INFO_D);
    EXPECT_EQ(g_Link.ModeInfoE, SIM_MODE_INFO_E);
    EXPECT_EQ(g_Link.UnitVersion, 0x02000103u);
    EXPECT_EQ(g_Link.ControllerState, 0);
    EXPECT_EQ(ControllerTypeCode(), 0u);
    EXPECT_EQ(ControllerFirmwareVersion(), 0);
}

TEST_F(Link, ControllerBlocksAfterRefusalsAndWithoutFirmware)
{
    UseScenario("fail=info:refuse:0x00010000");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(ControllerFirmwareVersion(), 0) << "a refusal with code 0 leaves the block zero";
    EXPECT_EQ(ControllerTypeCode(), 0x110FA0D2u);
    CloseLink();

    UseScenario("fail=identity:refuse:0");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(ControllerTypeCode(), 0u);
    EXPECT_EQ(ControllerFirmwareVersion(), 0x0118);
    CloseLink();

    UseScenario("fw=0xffff");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(ControllerFirmwareVersion(), FIRMWARE_VERSION_NONE);
    for (uint8_t byte : g_Link.ControllerInfo) EXPECT_EQ(byte, 0xFF);
}

TEST_F(Link, ReplyBufferCarriesTheReplyIdBeforeEveryRead)
{
    UseScenario("");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    uint32_t reads = 0;
    for (uint32_t i = 0; i < SimTrafficCount(); ++i) {
        const SimTraffic* entry = SimTrafficEntry(i);
        if (entry->Direction != SIM_DIR_READ) continue;
        ++reads;
        EXPECT_EQ(entry->FirstByteBefore, REPORT_ID_REPLY);
    }
    EXPECT_EQ(reads, 3u);
}

// --- Flash commands ---

constexpr LinkResult OK = LinkSucceeded();

TEST_F(Link, FlashCommandsSendTheirExactBytes)
{
    OpenUnit("");
    ASSERT_EQ(SetSystemLock(), OK);
    ASSERT_EQ(WriteProtectOff(), OK);
    ASSERT_EQ(EraseFirmware(), OK);
    ASSERT_EQ(SetWriteAddress(), OK);
    WriteProtectOn();
    ReleaseSystemLock();
    const std::vector<uint8_t> expected[] = {
        {0x01, 0x0B, 0x01, 0x01},
        {0x01, 0x20, 0x01, 0x00},
        {0x01, 0x1E, 0x04, 0x00, 0x34, 0x12, 0xDC, 0xFE},
        {0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE},
        {0x01, 0x20, 0x01, 0x01},
        {0x01, 0x0B, 0x01, 0x00},
    };
    ASSERT_EQ(SentRequests().size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(Head(i, expected[i].size()), expected[i]) << i;
}

TEST_F(Link, FlashCommandResults)
{
    struct Case {
        const char* Scenario;
        LinkResult (*Operation)();
        LinkResult Result;
    } cases[] = {
        {"", SetSystemLock, OK},
        {"fail=lock:state:0", SetSystemLock, UnitUnconfirmed()},
        {"fail=lock:state:2", SetSystemLock, UnitUnconfirmed()},
        {"fail=lock:refuse:4", SetSystemLock, UnitUnconfirmed()},  // the unit's code is not passed on
        {"fail=lock:state:1", SetSystemLock, OK},
        {"fail=protect-off:refuse:0", WriteProtectOff, OK},
        {"fail=lock:write", SetSystemLock, LinkFailed(LINK_WRITE_FAILED)},
        {"fail=lock:read", SetSystemLock, LinkFailed(LINK_READ_FAILED)},
        {"fail=protect-off:refuse:7", WriteProtectOff, UnitRefused(7)},
        {"fail=protect-off:state:1", WriteProtectOff, UnitUnconfirmed()},
        {"fail=erase:refuse:0x1234", EraseFirmware, UnitRefused(0x1234)},
        {"fail=erase:refuse:0xffffffff", EraseFirmware, UnitRefused(0xFFFFFFFF)},  // not "no device"
        {"fail=erase:refuse:0xfffffffe", EraseFirmware, UnitRefused(0xFFFFFFFE)},  // not "write failed",
        {"fail=address:refuse:5", SetWriteAddress, UnitRefused(5)},
        {"fail=address:state:9", SetWriteAddress, OK},
        {"fail=address:hang", SetWriteAddress, LinkFailed(LINK_READ_FAILED)},
    };
    for (const Case& c : cases) {
        OpenUnit(c.Scenario);
        // The commands before the one under test, so that the unit accepts it.
        if (c.Operation != SetSystemLock) {
            ASSERT_EQ(SetSystemLock(), OK);
        }
        if (c.Operation == EraseFirmware || c.Operation == SetWriteAddress) {
            ASSERT_EQ(WriteProtectOff(), OK);
        }
        if (c.Operation == SetWriteAddress) {
            ASSERT_EQ(EraseFirmware(), OK);
        }
        EXPECT_EQ(c.Operation(), c.Result) << c.Scenario;
        CloseLink();
    }
}

TEST_F(Link, EraseReadsItsReplyAfterOneSecond)
{
    OpenUnit("");
    ASSERT_EQ(SetSystemLock(), OK);
    ASSERT_EQ(WriteProtectOff(), OK);
    SimClearTraffic();
    ASSERT_EQ(EraseFirmware(), OK);
    ASSERT_EQ(SimTrafficCount(), 2u);
    EXPECT_EQ(SimTrafficEntry(0)->Direction, SIM_DIR_WRITE);
    EXPECT_GE(SimTrafficEntry(1)->TimeMs - SimTrafficEntry(0)->TimeMs, 1000u);
}

TEST_F(Link, DataBlocksCarryTheirWordsAndFF)
{
    OpenUnit("");
    ASSERT_EQ(SetSystemLock(), OK);
    ASSERT_EQ(WriteProtectOff(), OK);
    ASSERT_EQ(EraseFirmware(), OK);
    ASSERT_EQ(SetWriteAddress(), OK);
    SimClearTraffic();

    uint8_t data[60];
    for (uint8_t i = 0; i < 60; ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    struct Case {
        uint32_t Words;
        LinkResult Result;
    } cases[] = {{3, OK}, {0, OK}, {14, OK}, {15, LinkFailed(LINK_BAD_ARGUMENT)}, {1000, LinkFailed(LINK_BAD_ARGUMENT)}};
    uint32_t sentCount = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(WriteDataBlock(data, c.Words), c.Result) << c.Words;
        std::vector<SentRequest> sent = SentRequests();
        if (!IsOk(c.Result)) {
            EXPECT_EQ(sent.size(), sentCount) << "nothing sent for " << c.Words;
            continue;
        }
        ASSERT_EQ(sent.size(), ++sentCount);
        const std::vector<uint8_t>& bytes = sent.back().Bytes;
        EXPECT_EQ(bytes[0], 0x01);
        EXPECT_EQ(bytes[1], 0x1B);
        EXPECT_EQ(bytes[2], 4 * c.Words);
        for (uint32_t i = 0; i < 4 * c.Words; ++i) EXPECT_EQ(bytes[4 + i], data[i]) << c.Words << ":" << i;
        for (uint32_t i = 4 + 4 * c.Words; i < 60; ++i) EXPECT_EQ(bytes[i], 0xFF) << c.Words << ":" << i;
    }
    EXPECT_EQ(WriteDataBlock(nullptr, 3), LinkFailed(LINK_BAD_ARGUMENT));
    EXPECT_EQ(SentRequests().size(), sentCount);
    // The flash received 12 + 0 + 56 bytes in order.
    EXPECT_EQ(SimFlashBytesWritten(), 68u);
    EXPECT_EQ(0, std::memcmp(SimFlash(), data, 12));
    EXPECT_EQ(0, std::memcmp(SimFlash() + 12, data, 56));
}

TEST_F(Link, EveryOperationOnAClosedLinkSendsNothing)
{
    UseScenario("");
    uint8_t data[48] = {};
    EXPECT_EQ(SetSystemLock(), LinkFailed(LINK_NO_DEVICE));
    EXPECT_EQ(WriteProtectOff(), LinkFailed(LINK_NO_DEVICE));
    EXPECT_EQ(EraseFirmware(), LinkFailed(LINK_NO_DEVICE));
    EXPECT_EQ(SetWriteAddress(), LinkFailed(LINK_NO_DEVICE));
    EXPECT_EQ(WriteDataBlock(data, 12), LinkFailed(LINK_NO_DEVICE));
    WriteProtectOn();
    ReleaseSystemLock();
    EXPECT_EQ(ReadReportLengths(), LINK_NO_DEVICE);
    EXPECT_EQ(IdentifyUnit(), LINK_NO_DEVICE);
    uint8_t request[REPORT_BUFFER_SIZE] = {1, 8}, reply[REPORT_BUFFER_SIZE];
    EXPECT_EQ(ExchangeReports(request, reply, 0), LINK_NO_DEVICE);
    EXPECT_EQ(SimRequestCount(), 0u);
    EXPECT_EQ(SimNow(), 0u) << "not even the erase's pause is taken";
}

TEST_F(Link, CommandsAfterTheUnitWasPulledOutFailToWrite)
{
    OpenUnit("");
    SimUnplug();
    EXPECT_EQ(SetSystemLock(), LinkFailed(LINK_WRITE_FAILED));
    EXPECT_EQ(SimulatedLastError(), SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(LinkIsOpen()) << "a failed exchange changes nothing in the record";
}

TEST_F(Link, UnitThatHangsIsGivenUpAfterTheTimeLimit)
{
    OpenUnit("fail=lock:hang");
    uint64_t before = SimNow();
    EXPECT_EQ(SetSystemLock(), LinkFailed(LINK_READ_FAILED));
    EXPECT_GE(SimNow() - before, REPLY_TIMEOUT_MS);
    EXPECT_EQ(SimulatedLastError(), SYSTEM_ERROR_TIMEOUT);
}

// A reply is the first report with the reply's id that arrives after its request: a report of
// the unit's own is skipped, a second copy of a reply is thrown away before the next request.
// Either way the update ends exactly as it would without it, refusals included.
TEST_F(Link, RepliesBelongToTheirRequestWhateverElseTheUnitSends)
{
    const struct {
        const char* Scenario;
        bool Succeeds;
        uint32_t Discarded;  // reports thrown away before a request
    } kCases[] = {
        {"extra=block#5", true, 0},
        {"extra=block#5:after", true, 1},
        {"extra=block", true, 0},
        {"extra=block:after", true, 2048},
        {"extra=status:after", true, 1},
        {"extra=erase", true, 0},
        {"extra=block#5:after,fail=block#6:refuse:7", false, 1},
        {"extra=block#2048,fail=block#2048:refuse:7", false, 0},
        {"extra=protect-on:after,fail=unlock:refuse:3", true, 1},
    };
    RecordingUi ui;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Scenario);
        ResetProcessState();
        UseScenario(c.Scenario);
        StartRecording(&ui);
        MainDialogInit(TEST_MAIN_WINDOW);
        ASSERT_TRUE(ControlEnabled(IDC_UPDATE));
        UpdateOutcome outcome = UpdateSequence();
        const uint8_t* image = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(LookupImage(157, &image, &size));
        EXPECT_EQ(outcome.End == UPDATE_SUCCEEDED, c.Succeeds);
        EXPECT_EQ(SimFlashHolds(image, size), c.Succeeds);
        if (!c.Succeeds) {
            EXPECT_EQ(outcome.Result, UnitRefused(7));
        }
        EXPECT_EQ(SimDiscardedReports(), c.Discarded);
        CloseLink();
    }
}

TEST_F(Link, UnitHeldByAnotherProgramIsPassedOverAndNamed)
{
    UseScenario("busy=1");
    EXPECT_EQ(DiscoverUnit(), LINK_NOT_FOUND);
    EXPECT_EQ(LastDiscovery().UnitsInUse, 1u);
    EXPECT_EQ(std::u16string(LastDiscovery().FirstInUse), UnitPath());
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_TRUE(SentRequests().empty());

    // A second unit that nobody holds is served instead; a claim lasts as long as its handle.
    UseScenario("busy=1,second=1");
    EXPECT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(g_Link.ProductId, PRODUCT_ID_DIALPUCK);
    CloseLink();
    UseScenario("");
    ASSERT_EQ(DiscoverUnit(), LINK_OK);
    EXPECT_EQ(LastDiscovery().UnitsInUse, 0u);
    PlatformHandle other = kSimHidPlatform.Open(UnitPath().c_str());
    EXPECT_FALSE(kSimHidPlatform.Claim(other));
    EXPECT_EQ(kSimHidPlatform.LastError(), SYSTEM_ERROR_BUSY);
    CloseLink();
    EXPECT_TRUE(kSimHidPlatform.Claim(other));
    kSimHidPlatform.Close(other);
}

TEST_F(Link, StandardReplyCheck)
{
    uint8_t reply[REPORT_BUFFER_SIZE] = {};
    reply[0] = 2;
    EXPECT_EQ(StandardReplyCheck(reply), OK);
    reply[1] = 0xFE;
    reply[4] = 9;
    EXPECT_EQ(StandardReplyCheck(reply), OK) << "only 0xFF refuses";
    reply[1] = 0xFF;
    EXPECT_EQ(StandardReplyCheck(reply), UnitRefused(9));
    reply[4] = 0;
    EXPECT_EQ(StandardReplyCheck(reply), OK);
    reply[7] = 0x80;
    EXPECT_EQ(StandardReplyCheck(reply), UnitRefused(0x80000000u));
}

}  // namespace
