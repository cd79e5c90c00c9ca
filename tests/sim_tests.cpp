// The simulated programming unit, driven through its HID table the way the link drives it:
// the scenario text, the interface list, every command's reply bytes, the order the unit
// enforces on the flash commands, injected faults, unplugging, the clock and the traffic log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/flash_commands.h"
#include "sim/sim_unit.h"

namespace {

using Bytes = std::vector<uint8_t>;

const HidPlatform& Hid = kSimHidPlatform;

// Requests byte for byte as the link sends them (bytes 0..11; the rest of the 60 bytes is 0).
const Bytes STATUS = {0x01, 0x08, 0x00};
const Bytes MEMREAD = {0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08};
const Bytes INFO = {0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF};
const Bytes IDENTITY = {0x01, 0x22, 0x00};
const Bytes LOCK = {0x01, 0x0B, 0x01, 0x01};
const Bytes UNLOCK = {0x01, 0x0B, 0x01, 0x00};
const Bytes PROTECT_OFF = {0x01, 0x20, 0x01, 0x00};
const Bytes PROTECT_ON = {0x01, 0x20, 0x01, 0x01};
const Bytes ERASE = {0x01, 0x1E, 0x04, 0x00, 0x34, 0x12, 0xDC, 0xFE};
const Bytes ADDRESS = {0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE};

// A data request of `words` words from `data`, 0xFF after them.
Bytes Block(const uint8_t* data, uint32_t words)
{
    Bytes r(REPORT_BUFFER_SIZE, 0xFF);
    r[0] = 0x01;
    r[1] = 0x1B;
    r[2] = static_cast<uint8_t>(4 * words);
    r[3] = 0x00;
    std::memcpy(r.data() + 4, data, 4 * words);
    return r;
}

const uint8_t TWELVE_WORDS[48] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                  17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
                                  33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48};
const Bytes DATA = Block(TWELVE_WORDS, 12);

bool Write(PlatformHandle h, const Bytes& head)
{
    uint8_t report[REPORT_BUFFER_SIZE] = {};
    std::memcpy(report, head.data(), head.size() < sizeof report ? head.size() : sizeof report);
    return Hid.WriteReport(h, report, REPORT_BUFFER_SIZE, REPLY_TIMEOUT_MS);
}

bool Read(PlatformHandle h, uint8_t* reply)
{
    reply[0] = REPORT_ID_REPLY;
    return Hid.ReadReport(h, reply, REPORT_BUFFER_SIZE, REPLY_TIMEOUT_MS);
}

// One request and its reply; false when either fails.
bool Exchange(PlatformHandle h, const Bytes& request, uint8_t* reply)
{
    return Write(h, request) && Read(h, reply);
}

// The error code of a refusing reply, 0 for a reply that carried the command out.
uint32_t RefusalOf(const uint8_t* reply) { return reply[1] == REPLY_STATUS_ERROR ? ReadLe32(reply + 4) : 0; }

// Exchange, then the refusal code; 0xDEADBEEF when the exchange itself failed.
uint32_t Command(PlatformHandle h, const Bytes& request)
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    return Exchange(h, request, reply) ? RefusalOf(reply) : 0xDEADBEEFu;
}

std::string Hex(const uint8_t* p, uint32_t n)
{
    std::string s;
    char b[4];
    for (uint32_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X ", p[i]);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

std::u16string Widen(const char* s)
{
    std::u16string w;
    for (; *s != 0; ++s) w += static_cast<char16_t>(*s);
    return w;
}

class SimTest : public ::testing::Test {
protected:
    void TearDown() override { SimReset(); }

    void Configure(const char* scenario)
    {
        char error[160];
        ASSERT_EQ(SimConfigure(scenario, error, sizeof error), 0) << error;
    }

    PlatformHandle OpenUnit()
    {
        PlatformHandle h = Hid.Open(SimUnitPath());
        EXPECT_NE(h, INVALID_PLATFORM_HANDLE);
        return h;
    }

    // Lock, protection off, erase, start address: ready for data blocks.
    void StartWriting(PlatformHandle h)
    {
        ASSERT_EQ(Command(h, LOCK), 0u);
        ASSERT_EQ(Command(h, PROTECT_OFF), 0u);
        ASSERT_EQ(Command(h, ERASE), 0u);
        ASSERT_EQ(Command(h, ADDRESS), 0u);
    }
};

// ---- Scenario text ----

struct GoodScenario {
    const char* Text;
    void (*Check)(const SimScenario&);
};

const GoodScenario GOOD_SCENARIOS[] = {
    {"", [](const SimScenario& s) {
         EXPECT_EQ(s.Unit, SIM_UNIT_SETBOX);
         EXPECT_EQ(s.Others, 0u);
         EXPECT_FALSE(s.Alien);
         EXPECT_FALSE(s.Second);
         EXPECT_EQ(s.Mode, 0);
         EXPECT_EQ(s.ControllerState, 3);
         EXPECT_EQ(s.TypeCode, 0x110FA0D2u);
         EXPECT_EQ(s.Firmware, 0x0118);
         EXPECT_EQ(s.NewFirmware, 0x0119);
         EXPECT_EQ(s.Bootloader, 0x105u);
         EXPECT_EQ(s.UnitVersion, 0x11900u);
         EXPECT_EQ(s.InputLength, 60);
         EXPECT_EQ(s.OutputLength, 60);
         EXPECT_EQ(s.FaultCount, 0u);
         EXPECT_EQ(s.UnplugOp, REQUEST_STEP_UNKNOWN);
         EXPECT_EQ(s.Broken, 0);
     }},
    {"   ", [](const SimScenario& s) { EXPECT_EQ(s.Unit, SIM_UNIT_SETBOX); }},
    {"unit=dialpuck", [](const SimScenario& s) { EXPECT_EQ(s.Unit, SIM_UNIT_DIALPUCK); }},
    {"unit=none,others=8", [](const SimScenario& s) {
         EXPECT_EQ(s.Unit, SIM_UNIT_NONE);
         EXPECT_EQ(s.Others, 8u);
     }},
    {" others=2 , alien=1,second=1 ", [](const SimScenario& s) {
         EXPECT_EQ(s.Others, 2u);
         EXPECT_TRUE(s.Alien);
         EXPECT_TRUE(s.Second);
     }},
    {"mode=0xff,state=0x0002,fw=0xFFFF,newfw=290", [](const SimScenario& s) {
         EXPECT_EQ(s.Mode, 255);
         EXPECT_EQ(s.ControllerState, 2);
         EXPECT_EQ(s.Firmware, 0xFFFF);
         EXPECT_EQ(s.NewFirmware, 290);
     }},
    {"type=0x110FA0AA,boot=4294967295,unitver=0", [](const SimScenario& s) {
         EXPECT_EQ(s.TypeCode, 0x110FA0AAu);
         EXPECT_EQ(s.Bootloader, 0xFFFFFFFFu);
         EXPECT_EQ(s.UnitVersion, 0u);
     }},
    {"inlen=64,outlen=44", [](const SimScenario& s) {
         EXPECT_EQ(s.InputLength, 64);
         EXPECT_EQ(s.OutputLength, 44);
     }},
    {"fail=block#7:refuse:0x0e08", [](const SimScenario& s) {
         ASSERT_EQ(s.FaultCount, 1u);
         EXPECT_EQ(s.Faults[0].Op, REQUEST_STEP_BLOCK);
         EXPECT_EQ(s.Faults[0].Block, 7u);
         EXPECT_EQ(s.Faults[0].Kind, SIM_FAULT_REFUSE);
         EXPECT_EQ(s.Faults[0].Value, 0x0E08u);
     }},
    {"fail=lock:state:0,fail=protect-off:hang,fail=block:write,fail=unlock:read", [](const SimScenario& s) {
         ASSERT_EQ(s.FaultCount, 4u);
         EXPECT_EQ(s.Faults[0].Op, REQUEST_STEP_LOCK);
         EXPECT_EQ(s.Faults[0].Kind, SIM_FAULT_STATE);
         EXPECT_EQ(s.Faults[0].Value, 0u);
         EXPECT_EQ(s.Faults[1].Op, REQUEST_STEP_PROTECT_OFF);
         EXPECT_EQ(s.Faults[1].Kind, SIM_FAULT_HANG);
         EXPECT_EQ(s.Faults[2].Op, REQUEST_STEP_BLOCK);
         EXPECT_EQ(s.Faults[2].Block, 0u);
         EXPECT_EQ(s.Faults[2].Kind, SIM_FAULT_WRITE);
         EXPECT_EQ(s.Faults[3].Op, REQUEST_STEP_UNLOCK);
         EXPECT_EQ(s.Faults[3].Kind, SIM_FAULT_READ);
     }},
    {"unplug=block#3", [](const SimScenario& s) {
         EXPECT_EQ(s.UnplugOp, REQUEST_STEP_BLOCK);
         EXPECT_EQ(s.UnplugBlock, 3u);
     }},
    {"unplug=protect-on,broken=caps,broken=open", [](const SimScenario& s) {
         EXPECT_EQ(s.UnplugOp, REQUEST_STEP_PROTECT_ON);
         EXPECT_EQ(s.Broken, SIM_BROKEN_CAPS | SIM_BROKEN_OPEN);
     }},
    {"extra=block#5,busy=1,lost=1", [](const SimScenario& s) {
         EXPECT_EQ(s.ExtraOp, REQUEST_STEP_BLOCK);
         EXPECT_EQ(s.ExtraBlock, 5u);
         EXPECT_FALSE(s.ExtraAfter);
         EXPECT_TRUE(s.Busy);
         EXPECT_TRUE(s.EventsLost);
     }},
    {"extra=status:after", [](const SimScenario& s) {
         EXPECT_EQ(s.ExtraOp, REQUEST_STEP_STATUS);
         EXPECT_TRUE(s.ExtraAfter);
     }},
};

TEST(SimScenarioTest, GoodScenariosParse)
{
    for (const GoodScenario& c : GOOD_SCENARIOS) {
        SCOPED_TRACE(c.Text);
        SimScenario s;
        char error[160] = "untouched";
        ASSERT_EQ(SimParseScenario(c.Text, &s, error, sizeof error), 0) << error;
        EXPECT_STREQ(error, "");
        c.Check(s);
    }
}

struct BadScenario {
    const char* Text;
    const char* Part1;   // both must appear in the message
    const char* Part2;
};

const BadScenario BAD_SCENARIOS[] = {
    {"colour=red", "unknown key 'colour'", "'colour=red'"},
    {"mode=1,volume=3", "unknown key 'volume'", "'volume=3'"},
    {"mode", "not key=value", "'mode'"},
    {"mode=1,,state=3", "empty item", ""},
    {"mode=1,", "empty item", ""},
    {",mode=1", "empty item", ""},
    {"mode=256", "out of range", "'mode=256'"},
    {"mode=x1", "bad number", "'mode=x1'"},
    {"mode=", "bad number", "'mode='"},
    {"state=-1", "bad number", "'state=-1'"},
    {"state=0x10000", "out of range", "'state=0x10000'"},
    {"fw=0x1g", "bad number", "'fw=0x1g'"},
    {"type=0x100000000", "out of range", "'type=0x100000000'"},
    {"boot=99999999999999999999999", "out of range", "'boot="},
    {"inlen=0", "out of range", "'inlen=0'"},
    {"outlen=65536", "out of range", "'outlen=65536'"},
    {"others=9", "out of range", "'others=9'"},
    {"alien=2", "out of range", "'alien=2'"},
    {"unit=box", "unknown unit", "'unit=box'"},
    {"unit=SETBOX", "unknown unit", "'unit=SETBOX'"},
    {"fail=flash:write", "unknown operation 'flash'", "'fail=flash:write'"},
    {"fail=lock:boom", "unknown fault kind 'boom'", "'fail=lock:boom'"},
    {"fail=lock", "OP:KIND", "'fail=lock'"},
    {"fail=block#0:write", "bad block number", "'fail=block#0:write'"},
    {"fail=block#x:write", "bad block number", "'fail=block#x:write'"},
    {"fail=block#99999:refuse:7", "counted from 1 to 2731", "'fail=block#99999:refuse:7'"},
    {"unplug=block#2732", "counted from 1 to 2731", "'unplug=block#2732'"},
    {"fail=lock:refuse", "needs the unit's error code: refuse:CODE", "'fail=lock:refuse'"},
    {"fail=lock:state", "needs the reply's byte 3: state:N", "'fail=lock:state'"},
    {"fail=lock:refuse:abc", "bad error code", "'fail=lock:refuse:abc'"},
    {"fail=lock:refuse:", "bad error code", "'fail=lock:refuse:'"},
    {"fail=lock:state:256", "bad state byte", "'fail=lock:state:256'"},
    {"unplug=nowhere", "unknown operation 'nowhere'", "'unplug=nowhere'"},
    {"unplug=erase,unplug=lock", "repeated key 'unplug'", "'unplug=lock'"},
    {"mode=1,mode=2", "repeated key 'mode'", "'mode=2'"},
    {"unit=none,unit=setbox", "repeated key 'unit'", "'unit=setbox'"},
    {"broken=screen", "unknown platform call", "'broken=screen'"},
    {"extra=block#5:later", "OP:before or OP:after", "'extra=block#5:later'"},
    {"extra=lock,extra=erase", "repeated key 'extra'", "'extra=erase'"},
    {"busy=2", "out of range", "'busy=2'"},
};

TEST(SimScenarioTest, BadScenariosAreRefusedNamingTheItem)
{
    for (const BadScenario& c : BAD_SCENARIOS) {
        SCOPED_TRACE(c.Text);
        SimScenario s;
        char error[160] = "";
        ASSERT_EQ(SimParseScenario(c.Text, &s, error, sizeof error), -1);
        std::string message = error;
        EXPECT_NE(message.find(c.Part1), std::string::npos) << message;
        EXPECT_NE(message.find(c.Part2), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(SimScenarioTest, SeventeenFaultsAreTooMany)
{
    std::string text;
    for (int i = 0; i < 17; ++i) text += (i ? "," : "") + std::string("fail=status:read");
    char error[160];
    SimScenario s;
    EXPECT_EQ(SimParseScenario(text.substr(0, text.rfind(',')).c_str(), &s, error, sizeof error), 0) << error;
    EXPECT_EQ(s.FaultCount, 16u);
    ASSERT_EQ(SimParseScenario(text.c_str(), &s, error, sizeof error), -1);
    EXPECT_NE(std::string(error).find("too many faults"), std::string::npos) << error;
}

TEST(SimScenarioTest, MessageIsCutToTheCapacityAndTerminated)
{
    char error[12];
    std::memset(error, 'x', sizeof error);
    SimScenario s;
    ASSERT_EQ(SimParseScenario("colour=red", &s, error, 8), -1);
    EXPECT_EQ(std::strlen(error), 7u);
    EXPECT_EQ(error[8], 'x');
    EXPECT_EQ(SimParseScenario("colour=red", &s, nullptr, 0), -1);  // no buffer: still safe
}

TEST_F(SimTest, FailedConfigurationLeavesEveryDefault)
{
    Configure("unit=none");
    char error[160];
    EXPECT_EQ(SimConfigure("unit=none,mode=300", error, sizeof error), -1);
    ASSERT_NE(SimUnitPath(), nullptr);
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_EQ(reply[3], 0);
    EXPECT_EQ(ReadLe16(reply + 4), 3);
}

// ---- Interfaces and handles ----

TEST_F(SimTest, InterfacesComeInOrderWithTheirIdsAndDistinctPaths)
{
    Configure("others=2,alien=1,second=1");
    ASSERT_EQ(SimInterfaceCount(), 5u);
    const SimRole roles[] = {SIM_ROLE_OTHER, SIM_ROLE_OTHER, SIM_ROLE_ALIEN, SIM_ROLE_UNIT, SIM_ROLE_SECOND};
    const uint16_t vendors[] = {0x16C0, 0x16C0, 0x21B8, 0x21B8, 0x21B8};
    const uint16_t products[] = {0x05DF, 0x05E0, 3, 2, 1};

    InterfaceList list = Hid.OpenInterfaceList();
    ASSERT_NE(list, 0u);
    std::vector<std::u16string> paths;
    for (uint32_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(SimInterfaceRole(i), roles[i]);
        int32_t length = Hid.GetInterfacePath(list, i, nullptr, 0);
        ASSERT_GT(length, 0);
        std::vector<char16_t> path(static_cast<size_t>(length) + 1, u'?');
        EXPECT_EQ(Hid.GetInterfacePath(list, i, path.data(), static_cast<uint32_t>(length)), length);
        EXPECT_EQ(path[0], u'?');  // capacity not above the length: nothing copied
        EXPECT_EQ(Hid.GetInterfacePath(list, i, path.data(), static_cast<uint32_t>(length) + 1), length);
        EXPECT_EQ(path[static_cast<size_t>(length)], u'\0');
        paths.emplace_back(path.data());

        PlatformHandle h = Hid.Open(path.data());
        ASSERT_NE(h, INVALID_PLATFORM_HANDLE);
        uint16_t vendor = 0, product = 0;
        ASSERT_TRUE(Hid.GetIds(h, &vendor, &product));
        EXPECT_EQ(vendor, vendors[i]);
        EXPECT_EQ(product, products[i]);
        Hid.Close(h);
        EXPECT_EQ(SimOpenCount(i), 1u);
        EXPECT_EQ(SimCloseCount(i), 1u);
    }
    EXPECT_EQ(Hid.GetInterfacePath(list, 5, nullptr, 0), INTERFACE_LIST_END);
    for (size_t a = 0; a < paths.size(); ++a)
        for (size_t b = a + 1; b < paths.size(); ++b) EXPECT_NE(paths[a], paths[b]);
    EXPECT_EQ(paths[3], std::u16string(u"\\\\?\\hid#vid_21b8&pid_0002#7&1a2b3c4d&0&0000#"
                                       u"{4d1e55b2-f16f-11cf-88cb-001111000030}"));
    EXPECT_EQ(paths[3], std::u16string(SimUnitPath()));
    EXPECT_EQ(paths[3], Widen(SimUnitPathAscii()));
    EXPECT_EQ(SimOpenListCount(), 1u);
    Hid.CloseInterfaceList(list);
    EXPECT_EQ(SimOpenListCount(), 0u);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_EQ(SimBadCloseCount(), 0u);
}

TEST_F(SimTest, NoUnitMeansAnEmptyListAndNoPath)
{
    Configure("unit=none");
    InterfaceList list = Hid.OpenInterfaceList();
    EXPECT_EQ(Hid.GetInterfacePath(list, 0, nullptr, 0), INTERFACE_LIST_END);
    Hid.CloseInterfaceList(list);
    EXPECT_EQ(SimUnitPath(), nullptr);
    EXPECT_STREQ(SimUnitPathAscii(), "");
    EXPECT_EQ(SimInterfaceIndex(SIM_ROLE_UNIT), -1);
}

TEST_F(SimTest, OpenIgnoresCaseAndCountsEveryOpenAndClose)
{
    Configure("");
    std::u16string upper = SimUnitPath();
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    PlatformHandle a = Hid.Open(upper.c_str());
    PlatformHandle b = OpenUnit();
    ASSERT_NE(a, INVALID_PLATFORM_HANDLE);
    EXPECT_NE(a, b);
    EXPECT_EQ(SimOpenHandleCount(), 2u);
    Hid.Close(a);
    Hid.Close(a);  // a second close of the same handle is caught
    Hid.Close(INVALID_PLATFORM_HANDLE);  // accepted, nothing happens
    EXPECT_EQ(SimBadCloseCount(), 1u);
    EXPECT_EQ(SimOpenHandleCount(), 1u);
    uint16_t vendor, product;
    EXPECT_FALSE(Hid.GetIds(a, &vendor, &product));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_INVALID_HANDLE);
    Hid.Close(b);
    uint32_t unit = static_cast<uint32_t>(SimInterfaceIndex(SIM_ROLE_UNIT));
    EXPECT_EQ(SimOpenCount(unit), 2u);
    EXPECT_EQ(SimCloseCount(unit), 2u);
    EXPECT_EQ(Hid.Open(u"\\\\?\\hid#nothing"), INVALID_PLATFORM_HANDLE);
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_FILE_NOT_FOUND);
}

TEST_F(SimTest, HandlesOfAnEarlierConfigurationAreNotOpen)
{
    Configure("");
    PlatformHandle old = OpenUnit();
    Configure("");
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_FALSE(Write(old, STATUS));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_INVALID_HANDLE);
}

TEST_F(SimTest, ListsAreLimitedAndEachMustBeClosed)
{
    Configure("");
    InterfaceList lists[4];
    for (InterfaceList& l : lists) {
        l = Hid.OpenInterfaceList();
        ASSERT_NE(l, 0u);
    }
    EXPECT_EQ(Hid.OpenInterfaceList(), 0u);
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_TOO_MANY_OPEN_FILES);
    for (InterfaceList l : lists) Hid.CloseInterfaceList(l);
    Hid.CloseInterfaceList(0);
    Hid.CloseInterfaceList(lists[0]);
    EXPECT_EQ(SimBadCloseCount(), 1u);
    EXPECT_EQ(Hid.GetInterfacePath(lists[1], 0, nullptr, 0), INTERFACE_LIST_END);
}

struct BrokenCase {
    const char* Scenario;
    bool ListFails, PathFails, OpenFails, IdsFail, CapsFail;
    uint32_t Error;
};

TEST_F(SimTest, BrokenPlatformCallsFailForTheUnitOnly)
{
    const BrokenCase cases[] = {
        {"others=1,broken=list", true, false, false, false, false, SYSTEM_ERROR_GEN_FAILURE},
        {"others=1,broken=path", false, true, false, false, false, SYSTEM_ERROR_GEN_FAILURE},
        {"others=1,broken=open", false, false, true, false, false, SYSTEM_ERROR_ACCESS_DENIED},
        {"others=1,broken=ids", false, false, false, true, false, SYSTEM_ERROR_GEN_FAILURE},
        {"others=1,broken=caps", false, false, false, false, true, SYSTEM_ERROR_GEN_FAILURE},
    };
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.Scenario);
        Configure(c.Scenario);
        InterfaceList list = Hid.OpenInterfaceList();
        EXPECT_EQ(list == 0, c.ListFails);
        if (c.ListFails) {
            EXPECT_EQ(Hid.LastError(), c.Error);
            continue;
        }
        EXPECT_GT(Hid.GetInterfacePath(list, 0, nullptr, 0), 0);  // the foreign one is fine
        int32_t length = Hid.GetInterfacePath(list, 1, nullptr, 0);
        Hid.CloseInterfaceList(list);
        if (c.PathFails) {
            EXPECT_EQ(length, INTERFACE_NO_DETAIL);
            EXPECT_EQ(Hid.LastError(), c.Error);
            continue;
        }
        EXPECT_GT(length, 0);
        PlatformHandle h = Hid.Open(SimUnitPath());
        EXPECT_EQ(h == INVALID_PLATFORM_HANDLE, c.OpenFails);
        if (c.OpenFails) {
            EXPECT_EQ(Hid.LastError(), c.Error);
            continue;
        }
        uint16_t a = 0, b = 0;
        EXPECT_EQ(Hid.GetIds(h, &a, &b), !c.IdsFail);
        if (c.IdsFail) {
            EXPECT_EQ(Hid.LastError(), c.Error);
        }
        EXPECT_EQ(Hid.GetReportLengths(h, &a, &b), !c.CapsFail);
        if (c.CapsFail) {
            EXPECT_EQ(Hid.LastError(), c.Error);
        }
        Hid.Close(h);
    }
}

// ---- Identification replies ----

TEST_F(SimTest, StatusInNormalMode)
{
    Configure("state=3,unitver=0x00011900");
    PlatformHandle h = OpenUnit();
    uint16_t in = 0, out = 0;
    ASSERT_TRUE(Hid.GetReportLengths(h, &in, &out));
    EXPECT_EQ(in, 60);
    EXPECT_EQ(out, 60);
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    // mode 0, state 3, state extra, unit version 0x00011900, version extra.
    EXPECT_EQ(Hex(reply + 3, 13), "00 03 00 42 00 00 19 01 00 68 24 57 13");
    EXPECT_EQ(reply[0], 2);
    EXPECT_NE(reply[1], 0xFF);
}

TEST_F(SimTest, OtherModeSendsTheModeInfoGroupAndTheMemoryReadTheVersion)
{
    Configure("mode=1,unitver=0x00011a05");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_EQ(reply[3], 1);
    // 8-bit, 16-bit, two 32-bit values and an 8-bit value, packed without gaps.
    EXPECT_EQ(Hex(reply + 4, 12), "5A 34 12 EF CD AB 89 EE FF C0 00 A5");
    ASSERT_TRUE(Exchange(h, MEMREAD, reply));
    EXPECT_NE(reply[1], 0xFF);
    EXPECT_EQ(Hex(reply + 8, 4), "05 1A 01 00");
    // In the other mode the controller is not reachable.
    ASSERT_TRUE(Exchange(h, INFO, reply));
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_EQ(ReadLe16(reply + 4), SIM_UNIT_ERROR_WRONG_MODE);
}

TEST_F(SimTest, MemoryReadOfAnotherAddressIsRefused)
{
    Configure("");
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(Command(h, {0x01, 0x0A, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x08}), SIM_UNIT_ERROR_BAD_ADDRESS);
    EXPECT_EQ(Command(h, {0x01, 0x0A, 0x04, 0x00, 0x00, 0xFC, 0x01, 0x08}), SIM_UNIT_ERROR_BAD_LENGTH);
    EXPECT_EQ(Command(h, MEMREAD), 0u);
}

TEST_F(SimTest, ControllerBlocksCarryVersionTypeAndBootLoader)
{
    Configure("type=0x110FA0AA,fw=0x0119,boot=0x00000107");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, INFO, reply));
    EXPECT_NE(reply[1], 0xFF);
    EXPECT_EQ(Hex(reply + 8, 2), "19 01");
    ASSERT_TRUE(Exchange(h, IDENTITY, reply));
    EXPECT_NE(reply[1], 0xFF);
    EXPECT_EQ(Hex(reply + 4, 8), "AA A0 0F 11 07 01 00 00");
    EXPECT_EQ(reply[43], 0x80 + 39);  // the block fills bytes 4..43

    Configure("fw=0xffff");
    h = OpenUnit();
    ASSERT_TRUE(Exchange(h, INFO, reply));
    for (int i = 4; i < 36; ++i) EXPECT_EQ(reply[i], 0xFF) << i;
}

TEST_F(SimTest, ControllerRequestsWithoutAReadyControllerAreRefused)
{
    Configure("state=2");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_EQ(ReadLe16(reply + 4), 2);
    EXPECT_EQ(Command(h, INFO), SIM_UNIT_ERROR_NO_CONTROLLER);
    EXPECT_EQ(Command(h, IDENTITY), SIM_UNIT_ERROR_NO_CONTROLLER);
    // Malformed information requests are refused even with a controller.
    Configure("");
    h = OpenUnit();
    EXPECT_EQ(Command(h, {0x01, 0x1D, 0x08, 0x00, 0x10, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF}),
              SIM_UNIT_ERROR_BAD_PARAMETER);
    EXPECT_EQ(Command(h, {0x01, 0x22, 0x04}), SIM_UNIT_ERROR_BAD_LENGTH);
}

TEST_F(SimTest, SecondUnitIsADialpuckWithoutController)
{
    Configure("second=1");
    PlatformHandle h = Hid.Open(SimInterfacePath(static_cast<uint32_t>(SimInterfaceIndex(SIM_ROLE_SECOND))));
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_EQ(ReadLe16(reply + 4), 0);
    EXPECT_EQ(ReadLe32(reply + 8), SIM_SECOND_UNIT_VERSION);
    EXPECT_EQ(Command(h, INFO), SIM_UNIT_ERROR_NO_CONTROLLER);
    EXPECT_EQ(Command(h, LOCK), 0u);
    EXPECT_FALSE(SimUnitLocked());  // the first unit is another device
}

TEST_F(SimTest, InterfacesThatAreNotUnitsTakeNoRequests)
{
    Configure("alien=1");
    PlatformHandle h = Hid.Open(SimInterfacePath(static_cast<uint32_t>(SimInterfaceIndex(SIM_ROLE_ALIEN))));
    uint8_t report[9] = {1, 8};
    EXPECT_FALSE(Hid.WriteReport(h, report, 9, REPLY_TIMEOUT_MS));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_INVALID_PARAMETER);
    uint64_t before = SimNow();
    EXPECT_FALSE(Hid.ReadReport(h, report, 9, 500));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_TIMEOUT);
    EXPECT_EQ(SimNow() - before, 500u);
}

// ---- Flash ----

TEST_F(SimTest, LockAndProtectionReportTheirState)
{
    Configure("");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    EXPECT_TRUE(SimWriteProtected());
    ASSERT_TRUE(Exchange(h, LOCK, reply));
    EXPECT_EQ(reply[3], 1);
    EXPECT_TRUE(SimUnitLocked());
    ASSERT_TRUE(Exchange(h, PROTECT_OFF, reply));
    EXPECT_EQ(reply[3], 0);
    EXPECT_FALSE(SimWriteProtected());
    ASSERT_TRUE(Exchange(h, PROTECT_ON, reply));
    EXPECT_EQ(reply[3], 1);
    ASSERT_TRUE(Exchange(h, UNLOCK, reply));
    EXPECT_EQ(reply[3], 0);
    EXPECT_FALSE(SimUnitLocked());
    ASSERT_TRUE(Exchange(h, {0x01, 0x0B, 0x01, 0x02}, reply));
    EXPECT_EQ(RefusalOf(reply), SIM_UNIT_ERROR_BAD_PARAMETER);
    EXPECT_EQ(reply[3], 0);  // still unlocked
}

// Writes a whole image the way an update does, with its pauses; returns the virtual time used.
uint64_t WriteImage(PlatformHandle h, const std::vector<uint8_t>& image)
{
    uint64_t start = SimNow();
    uint32_t position = 0;
    while (position < image.size()) {
        uint32_t left = static_cast<uint32_t>(image.size()) - position;
        uint32_t words = left >= 48 ? 12 : left / 4;
        EXPECT_EQ(Command(h, Block(image.data() + position, words)), 0u) << position;
        position += 4 * words;
        Hid.Sleep(20);
    }
    return SimNow() - start;
}

std::vector<uint8_t> Image(uint32_t size)
{
    std::vector<uint8_t> image(size);
    uint32_t x = 12345;
    for (uint8_t& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

TEST_F(SimTest, AWholeUpdateLandsInTheFlashFastOnTheVirtualClock)
{
    Configure("");
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(SimFlash()[0], 0x5B);  // the old application is there
    auto realStart = std::chrono::steady_clock::now();
    StartWriting(h);
    std::vector<uint8_t> image = Image(98304);
    EXPECT_EQ(WriteImage(h, image), 2048u * 21u);  // 1 ms per request, 20 ms pause after each
    EXPECT_EQ(Command(h, PROTECT_ON), 0u);
    EXPECT_EQ(Command(h, UNLOCK), 0u);
    auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    EXPECT_LT(realMs.count(), 1000);

    EXPECT_TRUE(SimFlashHolds(image.data(), 98304));
    EXPECT_EQ(SimFlashBlocksWritten(), 2048u);
    EXPECT_EQ(SimFlashBytesWritten(), 98304u);
    EXPECT_FALSE(SimUnitLocked());
    EXPECT_TRUE(SimWriteProtected());
    EXPECT_EQ(SimControllerFirmware(), 0x0119);  // sealed: the controller reports the new version
    EXPECT_EQ(SimRequestCountOf(CMD_WRITE_DATA), 2048u);

    image[5000] ^= 1;
    EXPECT_FALSE(SimFlashHolds(image.data(), 98304));  // one bit off is seen
    image[5000] ^= 1;
    EXPECT_FALSE(SimFlashHolds(image.data(), 98300));  // so is a short count
}

TEST_F(SimTest, APartialLastBlockWritesOnlyItsWords)
{
    Configure("");
    PlatformHandle h = OpenUnit();
    StartWriting(h);
    std::vector<uint8_t> image = Image(36032);  // 750 blocks of 48, then 32 bytes
    WriteImage(h, image);
    EXPECT_EQ(SimFlashBlocksWritten(), 751u);
    EXPECT_TRUE(SimFlashHolds(image.data(), 36032));
    EXPECT_EQ(SimFlash()[36032], 0xFF);  // the 0xFF fill of the request is not written
}

TEST_F(SimTest, EraseRemovesTheApplication)
{
    Configure("");
    PlatformHandle h = OpenUnit();
    StartWriting(h);
    for (uint32_t i = 0; i < SIM_FLASH_SIZE; i += 4096) EXPECT_EQ(SimFlash()[i], 0xFF) << i;
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, INFO, reply));
    EXPECT_EQ(ReadLe16(reply + 8), 0xFFFF);
    // Sealed without data: still no application.
    EXPECT_EQ(Command(h, PROTECT_ON), 0u);
    EXPECT_EQ(SimControllerFirmware(), 0xFFFF);
}

struct OrderCase {
    const char* Name;
    std::vector<Bytes> Before;
    Bytes Request;
    uint32_t Code;
};

TEST_F(SimTest, TheUnitRefusesFlashCommandsOutOfOrderOrMalformed)
{
    const Bytes badMagicErase = {0x01, 0x1E, 0x04, 0x00, 0x34, 0x12, 0xDC, 0xFF};
    const Bytes badMagicAddress = {0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDD, 0xFE};
    const Bytes shortAddress = {0x01, 0x1F, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE};
    const Bytes addressParameter0 = {0x01, 0x1F, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE};
    const Bytes oddAddress = {0x01, 0x1F, 0x09, 0x01, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0xDC, 0xFE};
    const Bytes nearEnd = {0x01, 0x1F, 0x09, 0x01, 0xF8, 0xFF, 0x01, 0x00, 0x34, 0x12, 0xDC, 0xFE};
    Bytes fifteenWords = DATA;
    fifteenWords[2] = 60;
    Bytes oddLength = DATA;
    oddLength[2] = 47;
    const std::vector<Bytes> ready = {LOCK, PROTECT_OFF, ERASE, ADDRESS};

    const OrderCase cases[] = {
        {"data before the lock", {}, DATA, SIM_UNIT_ERROR_NOT_LOCKED},
        {"data with protection on", {LOCK}, DATA, SIM_UNIT_ERROR_PROTECTED},
        {"data before the erase", {LOCK, PROTECT_OFF}, DATA, SIM_UNIT_ERROR_NOT_ERASED},
        {"data before the address", {LOCK, PROTECT_OFF, ERASE}, DATA, SIM_UNIT_ERROR_NO_ADDRESS},
        {"data after the unlock", {LOCK, PROTECT_OFF, ERASE, ADDRESS, UNLOCK}, DATA, SIM_UNIT_ERROR_NOT_LOCKED},
        {"data in a new lock without erase", {LOCK, PROTECT_OFF, ERASE, ADDRESS, UNLOCK, LOCK}, DATA,
         SIM_UNIT_ERROR_NOT_ERASED},
        {"data after protection on", {LOCK, PROTECT_OFF, ERASE, ADDRESS, PROTECT_ON}, DATA, SIM_UNIT_ERROR_PROTECTED},
        {"data of 15 words", ready, fifteenWords, SIM_UNIT_ERROR_BAD_LENGTH},
        {"data length not whole words", ready, oddLength, SIM_UNIT_ERROR_BAD_LENGTH},
        {"data past the end of the flash", {LOCK, PROTECT_OFF, ERASE, nearEnd}, DATA, SIM_UNIT_ERROR_FLASH_FULL},
        {"protection off without lock", {}, PROTECT_OFF, SIM_UNIT_ERROR_NOT_LOCKED},
        {"erase without lock", {}, ERASE, SIM_UNIT_ERROR_NOT_LOCKED},
        {"erase with protection on", {LOCK}, ERASE, SIM_UNIT_ERROR_PROTECTED},
        {"erase with a wrong magic", {LOCK, PROTECT_OFF}, badMagicErase, SIM_UNIT_ERROR_BAD_MAGIC},
        {"address before the erase", {LOCK, PROTECT_OFF}, ADDRESS, SIM_UNIT_ERROR_NOT_ERASED},
        {"address with a wrong magic", {LOCK, PROTECT_OFF, ERASE}, badMagicAddress, SIM_UNIT_ERROR_BAD_MAGIC},
        {"address with length 8", {LOCK, PROTECT_OFF, ERASE}, shortAddress, SIM_UNIT_ERROR_BAD_LENGTH},
        {"address with parameter 0", {LOCK, PROTECT_OFF, ERASE}, addressParameter0, SIM_UNIT_ERROR_BAD_PARAMETER},
        {"address not on a word", {LOCK, PROTECT_OFF, ERASE}, oddAddress, SIM_UNIT_ERROR_BAD_ADDRESS},
        {"unknown command", {}, {0x01, 0x55, 0x00}, SIM_UNIT_ERROR_UNKNOWN_COMMAND},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Configure("");
        PlatformHandle h = OpenUnit();
        for (const Bytes& step : c.Before) ASSERT_EQ(Command(h, step), 0u) << Hex(step.data(), 4);
        uint8_t reply[REPORT_BUFFER_SIZE];
        ASSERT_TRUE(Exchange(h, c.Request, reply));
        EXPECT_EQ(reply[1], 0xFF);
        EXPECT_EQ(ReadLe32(reply + 4), c.Code);
        EXPECT_EQ(SimLastRefusal(), c.Code);
        EXPECT_EQ(SimFlashBytesWritten(), 0u);
    }
}

TEST_F(SimTest, ProtectionNeedsAControllerInNormalMode)
{
    Configure("state=1");
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(Command(h, LOCK), 0u);
    EXPECT_EQ(Command(h, PROTECT_OFF), SIM_UNIT_ERROR_NO_CONTROLLER);
    EXPECT_EQ(Command(h, ERASE), SIM_UNIT_ERROR_NO_CONTROLLER);
    EXPECT_EQ(SimFlash()[0], 0x5B);
}

// ---- Faults ----

TEST_F(SimTest, WriteFaultKeepsTheRequestFromTheUnit)
{
    Configure("fail=lock:write");
    PlatformHandle h = OpenUnit();
    EXPECT_FALSE(Write(h, LOCK));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_GEN_FAILURE);
    EXPECT_FALSE(SimUnitLocked());
    uint8_t reply[REPORT_BUFFER_SIZE];
    uint64_t before = SimNow();
    EXPECT_FALSE(Read(h, reply));  // nothing was queued
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_TIMEOUT);
    EXPECT_EQ(SimNow() - before, REPLY_TIMEOUT_MS);
    EXPECT_EQ(Command(h, STATUS), 0u);  // other commands are untouched
}

TEST_F(SimTest, ReadFaultLosesTheReplyOfACommandCarriedOut)
{
    Configure("fail=lock:read");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    EXPECT_TRUE(Write(h, LOCK));
    EXPECT_FALSE(Read(h, reply));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_GEN_FAILURE);
    EXPECT_TRUE(SimUnitLocked());
    ASSERT_TRUE(Exchange(h, STATUS, reply));  // the lost reply does not come later
    EXPECT_EQ(reply[1], CMD_GET_STATUS);
}

TEST_F(SimTest, HangWaitsTheWholeTimeOutAndDoesNothing)
{
    Configure("fail=erase:hang");
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(Command(h, LOCK), 0u);
    EXPECT_EQ(Command(h, PROTECT_OFF), 0u);
    uint8_t reply[REPORT_BUFFER_SIZE];
    EXPECT_TRUE(Write(h, ERASE));
    uint64_t before = SimNow();
    reply[0] = 2;
    EXPECT_FALSE(Hid.ReadReport(h, reply, REPORT_BUFFER_SIZE, 1234));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_TIMEOUT);
    EXPECT_EQ(SimNow() - before, 1234u);
    EXPECT_EQ(SimFlash()[0], 0x5B);  // not erased
}

TEST_F(SimTest, RefuseFaultRepliesWithTheCodeAndDoesNothing)
{
    Configure("fail=lock:refuse:0x1234,fail=protect-off:refuse:0");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, LOCK, reply));
    EXPECT_EQ(Hex(reply, 8), "02 FF 04 00 34 12 00 00");
    EXPECT_FALSE(SimUnitLocked());
    ASSERT_TRUE(Exchange(h, PROTECT_OFF, reply));
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_EQ(ReadLe32(reply + 4), 0u);
    EXPECT_EQ(reply[3], 1);  // the protection it did not switch off
    EXPECT_TRUE(SimWriteProtected());
}

TEST_F(SimTest, StateFaultIsTheTruthForLockAndProtection)
{
    Configure("fail=lock:state:0");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, LOCK, reply));
    EXPECT_EQ(reply[3], 0);
    EXPECT_NE(reply[1], 0xFF);
    EXPECT_FALSE(SimUnitLocked());
    EXPECT_EQ(Command(h, PROTECT_OFF), SIM_UNIT_ERROR_NOT_LOCKED);

    Configure("fail=protect-off:state:1");
    h = OpenUnit();
    EXPECT_EQ(Command(h, LOCK), 0u);
    ASSERT_TRUE(Exchange(h, PROTECT_OFF, reply));
    EXPECT_EQ(reply[3], 1);
    EXPECT_TRUE(SimWriteProtected());
    EXPECT_EQ(Command(h, ERASE), SIM_UNIT_ERROR_PROTECTED);

    Configure("fail=status:state:7,fail=address:state:9");
    h = OpenUnit();
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_EQ(reply[3], 7);
    EXPECT_EQ(ReadLe16(reply + 4), 3);  // the rest of the reply is as usual
    StartWriting(h);
    EXPECT_EQ(Command(h, DATA), 0u);  // the address was set all the same
}

TEST_F(SimTest, BlockFaultsHitTheirBlocksOnly)
{
    Configure("fail=block#2:refuse:5,fail=block:refuse:6,fail=block#9:refuse:7");
    PlatformHandle h = OpenUnit();
    StartWriting(h);
    // The first fault that fits wins: block 2 gets 5, every other block 6 (9 included).
    const uint32_t expected[] = {6, 5, 6, 6, 6, 6, 6, 6, 6};
    for (uint32_t code : expected) EXPECT_EQ(Command(h, DATA), code);
    EXPECT_EQ(SimFlashBytesWritten(), 0u);

    Configure("fail=block#3:write");
    h = OpenUnit();
    StartWriting(h);
    EXPECT_EQ(Command(h, DATA), 0u);
    EXPECT_EQ(Command(h, DATA), 0u);
    EXPECT_FALSE(Write(h, DATA));
    EXPECT_TRUE(Write(h, DATA));
    EXPECT_EQ(SimFlashBlocksWritten(), 3u);
}

// ---- Unplugging ----

TEST_F(SimTest, UnplugBeforeAnOperationFailsItAndEverythingAfter)
{
    Configure("unplug=erase");
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(Command(h, LOCK), 0u);
    EXPECT_EQ(Command(h, PROTECT_OFF), 0u);
    EXPECT_FALSE(Write(h, ERASE));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(SimFlash()[0], 0x5B);
    uint8_t reply[REPORT_BUFFER_SIZE];
    EXPECT_FALSE(Read(h, reply));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(Write(h, STATUS));
    uint16_t a, b;
    EXPECT_FALSE(Hid.GetIds(h, &a, &b));
    EXPECT_FALSE(SimUnitPresent());
    InterfaceList list = Hid.OpenInterfaceList();
    EXPECT_EQ(Hid.GetInterfacePath(list, 0, nullptr, 0), INTERFACE_LIST_END);
    Hid.CloseInterfaceList(list);
    EXPECT_EQ(Hid.Open(SimUnitPath()), INVALID_PLATFORM_HANDLE);
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_FILE_NOT_FOUND);
    Hid.Close(h);  // a dead handle still closes
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_EQ(SimBadCloseCount(), 0u);

    // Back again: fresh, the unplugging spent, the old handle still dead.
    SimPlugIn();
    EXPECT_TRUE(SimUnitPresent());
    EXPECT_FALSE(Write(h, STATUS));
    PlatformHandle fresh = OpenUnit();
    EXPECT_FALSE(SimUnitLocked());
    EXPECT_TRUE(SimWriteProtected());
    StartWriting(fresh);
    EXPECT_EQ(SimFlash()[0], 0xFF);
}

TEST_F(SimTest, UnplugAtTheKthBlockAndByHook)
{
    Configure("unplug=block#3");
    PlatformHandle h = OpenUnit();
    StartWriting(h);
    EXPECT_EQ(Command(h, DATA), 0u);
    EXPECT_EQ(Command(h, DATA), 0u);
    EXPECT_FALSE(Write(h, DATA));
    EXPECT_EQ(SimFlashBlocksWritten(), 2u);

    Configure("");
    h = OpenUnit();
    EXPECT_TRUE(Write(h, STATUS));
    SimUnplug();  // the pending reply goes with the unit
    uint8_t reply[REPORT_BUFFER_SIZE];
    EXPECT_FALSE(Read(h, reply));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    SimPlugIn();
    h = OpenUnit();
    EXPECT_EQ(Command(h, STATUS), 0u);
}

TEST_F(SimTest, ThePlugInKeepsTheFlashAndTheVersionWritten)
{
    Configure("newfw=0x0120");
    PlatformHandle h = OpenUnit();
    StartWriting(h);
    EXPECT_EQ(Command(h, DATA), 0u);
    EXPECT_EQ(Command(h, PROTECT_ON), 0u);
    SimUnplug();
    SimPlugIn();
    h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, INFO, reply));
    EXPECT_EQ(ReadLe16(reply + 8), 0x0120);
    EXPECT_EQ(std::memcmp(SimFlash(), TWELVE_WORDS, 48), 0);
}

// ---- Clock, report lengths, log ----

TEST_F(SimTest, TheClockIsVirtual)
{
    Configure("");
    EXPECT_EQ(SimNow(), 0u);
    Hid.Sleep(4000);
    EXPECT_EQ(Hid.Milliseconds(), 4000u);
    PlatformHandle h = OpenUnit();
    EXPECT_EQ(Command(h, STATUS), 0u);
    EXPECT_EQ(SimNow(), 4001u);  // one exchange, one millisecond

    // The erase's reply read one second after its request: the read's entry shows it.
    EXPECT_EQ(Command(h, LOCK), 0u);
    EXPECT_EQ(Command(h, PROTECT_OFF), 0u);
    SimClearTraffic();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Write(h, ERASE));
    Hid.Sleep(ERASE_REPLY_DELAY_MS);
    ASSERT_TRUE(Read(h, reply));
    ASSERT_EQ(SimTrafficCount(), 2u);
    EXPECT_EQ(SimTrafficEntry(1)->TimeMs - SimTrafficEntry(0)->TimeMs, 1000u);
}

TEST_F(SimTest, SwitchingRealTimeKeepsTheClockGoing)
{
    Configure("");
    Hid.Sleep(5000);
    SimSetRealtime(true);
    EXPECT_TRUE(SimRealtime());
    EXPECT_GE(SimNow(), 5000u);
    EXPECT_LT(SimNow(), 6000u);
    SimSetRealtime(false);
    uint64_t t = SimNow();
    EXPECT_GE(t, 5000u);
    Hid.Sleep(10);
    EXPECT_EQ(SimNow(), t + 10);
    SimReset();
    EXPECT_FALSE(SimRealtime());
}

TEST_F(SimTest, LongDeclaredReportsAreFilledExactlyToTheirLength)
{
    Configure("inlen=64,outlen=64");
    PlatformHandle h = OpenUnit();
    uint8_t request[80];
    std::memset(request, 0, sizeof request);
    request[0] = 1;
    request[1] = CMD_GET_STATUS;
    EXPECT_FALSE(Hid.WriteReport(h, request, 60, REPLY_TIMEOUT_MS));  // not the declared length
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Hid.WriteReport(h, request, 64, REPLY_TIMEOUT_MS));

    uint8_t buffer[80];
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_FALSE(Hid.ReadReport(h, buffer, 60, REPLY_TIMEOUT_MS));
    EXPECT_EQ(Hid.LastError(), SYSTEM_ERROR_INVALID_PARAMETER);
    for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);
    EXPECT_TRUE(Hid.ReadReport(h, buffer, 64, REPLY_TIMEOUT_MS));
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[4], 3);
    for (int i = 60; i < 64; ++i) EXPECT_EQ(buffer[i], 0) << i;
    for (int i = 64; i < 80; ++i) EXPECT_EQ(buffer[i], 0xAB) << i;
}

TEST_F(SimTest, ShortDeclaredReportsCutTheRequest)
{
    Configure("inlen=44,outlen=44");
    PlatformHandle h = OpenUnit();
    uint8_t request[44] = {1, CMD_GET_CONTROLLER_IDENTITY};
    uint8_t reply[64];
    std::memset(reply, 0xAB, sizeof reply);
    EXPECT_TRUE(Hid.WriteReport(h, request, 44, REPLY_TIMEOUT_MS));
    EXPECT_TRUE(Hid.ReadReport(h, reply, 44, REPLY_TIMEOUT_MS));
    EXPECT_EQ(ReadLe32(reply + 4), 0x110FA0D2u);
    EXPECT_EQ(reply[44], 0xAB);
    // A request with the wrong report id is not sent.
    request[0] = 2;
    EXPECT_FALSE(Hid.WriteReport(h, request, 44, REPLY_TIMEOUT_MS));
    EXPECT_FALSE(Hid.WriteReport(h, nullptr, 44, REPLY_TIMEOUT_MS));
    EXPECT_FALSE(Hid.ReadReport(h, nullptr, 44, 10));
}

TEST_F(SimTest, TheLogKeepsEveryReportWrittenAndRead)
{
    Configure("fail=identity:write");
    PlatformHandle h = OpenUnit();
    uint8_t reply[REPORT_BUFFER_SIZE];
    ASSERT_TRUE(Exchange(h, STATUS, reply));
    EXPECT_FALSE(Write(h, IDENTITY));
    ASSERT_EQ(SimTrafficCount(), 3u);

    const SimTraffic* w = SimTrafficEntry(0);
    EXPECT_EQ(w->Direction, SIM_DIR_WRITE);
    EXPECT_TRUE(w->Ok);
    EXPECT_EQ(w->Interface, SimInterfaceIndex(SIM_ROLE_UNIT));
    EXPECT_EQ(w->Length, 60u);
    EXPECT_EQ(Hex(w->Bytes, 4), "01 08 00 00");
    EXPECT_EQ(w->TimeMs, 1u);

    const SimTraffic* r = SimTrafficEntry(1);
    EXPECT_EQ(r->Direction, SIM_DIR_READ);
    EXPECT_TRUE(r->Ok);
    EXPECT_EQ(r->FirstByteBefore, 2);
    EXPECT_EQ(std::memcmp(r->Bytes, reply, 60), 0);

    const SimTraffic* failed = SimTrafficEntry(2);
    EXPECT_FALSE(failed->Ok);
    EXPECT_EQ(failed->Error, SYSTEM_ERROR_GEN_FAILURE);
    EXPECT_EQ(failed->Bytes[1], CMD_GET_CONTROLLER_IDENTITY);

    EXPECT_EQ(SimRequestCount(), 2u);
    EXPECT_EQ(SimRequest(1), failed);
    EXPECT_EQ(SimRequest(2), nullptr);
    EXPECT_EQ(SimRequestCountOf(CMD_GET_STATUS), 1u);
    EXPECT_EQ(SimRequestCountOf(CMD_GET_CONTROLLER_IDENTITY), 1u);
    SimClearTraffic();
    EXPECT_EQ(SimTrafficCount(), 0u);
    EXPECT_EQ(SimRequestCount(), 0u);
}

}  // namespace
