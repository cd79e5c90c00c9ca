// The Windows HID table against the HID interfaces that the system really lists (under Wine:
// Wine's own virtual mouse and keyboard). Nothing here assumes a programming unit.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/win32/hid_win32.h"

namespace {

const HidPlatform& hid = kWin32HidPlatform;

constexpr uint32_t PATH_CAPACITY = 1024;
constexpr char16_t FILL = 0xA5A5;

// The first interface whose path can be read: its index and length. False when none.
bool FirstReadablePath(InterfaceList list, uint32_t* index, int32_t* length)
{
    for (uint32_t i = 0; i < 64; ++i) {
        int32_t n = hid.GetInterfacePath(list, i, nullptr, 0);
        if (n == INTERFACE_LIST_END) return false;
        if (n > 0) {
            *index = i;
            *length = n;
            return true;
        }
    }
    return false;
}

bool AllFill(const char16_t* buffer, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; ++i)
        if (buffer[i] != FILL) return false;
    return true;
}

TEST(Win32HidList, ListsDevicePathsUntilTheEnd)
{
    InterfaceList list = hid.OpenInterfaceList();
    ASSERT_NE(list, 0u);
    int32_t readable = 0;
    uint32_t index = 0;
    for (; index < 256; ++index) {
        char16_t path[PATH_CAPACITY];
        int32_t length = hid.GetInterfacePath(list, index, path, PATH_CAPACITY);
        if (length == INTERFACE_LIST_END) break;
        if (length == INTERFACE_NO_DETAIL) continue;
        ASSERT_GT(length, 4);
        ASSERT_LT(static_cast<uint32_t>(length), PATH_CAPACITY);
        // \\?\ : a device interface path, terminated right after its length.
        EXPECT_EQ(path[0], u'\\');
        EXPECT_EQ(path[1], u'\\');
        EXPECT_EQ(path[2], u'?');
        EXPECT_EQ(path[3], u'\\');
        EXPECT_EQ(path[length], u'\0');
        for (int32_t i = 0; i < length; ++i) ASSERT_NE(path[i], u'\0') << "at " << i;
        ++readable;
    }
    EXPECT_LT(index, 256u) << "the enumeration never ended";
    EXPECT_GT(readable, 0) << "the system lists no HID interface (Wine lists its mouse and keyboard)";
    // Past the end stays the end.
    EXPECT_EQ(hid.GetInterfacePath(list, index + 1, nullptr, 0), INTERFACE_LIST_END);
    EXPECT_EQ(hid.GetInterfacePath(list, 100000, nullptr, 0), INTERFACE_LIST_END);
    hid.CloseInterfaceList(list);
}

TEST(Win32HidList, CopiesThePathOnlyWhenCapacityExceedsItsLength)
{
    InterfaceList list = hid.OpenInterfaceList();
    ASSERT_NE(list, 0u);
    uint32_t index = 0;
    int32_t length = 0;
    ASSERT_TRUE(FirstReadablePath(list, &index, &length));
    ASSERT_LT(static_cast<uint32_t>(length) + 2, PATH_CAPACITY);
    const uint32_t n = static_cast<uint32_t>(length);
    char16_t buffer[PATH_CAPACITY];

    // Capacity 0, even with a buffer: the length, nothing written.
    for (char16_t& c : buffer) c = FILL;
    EXPECT_EQ(hid.GetInterfacePath(list, index, buffer, 0), length);
    EXPECT_TRUE(AllFill(buffer, 0, PATH_CAPACITY));

    // Room for the path but not its terminator: the length, nothing written.
    EXPECT_EQ(hid.GetInterfacePath(list, index, buffer, n), length);
    EXPECT_TRUE(AllFill(buffer, 0, PATH_CAPACITY));

    // Exactly enough: path and terminator, and not one unit more.
    EXPECT_EQ(hid.GetInterfacePath(list, index, buffer, n + 1), length);
    EXPECT_EQ(buffer[0], u'\\');
    EXPECT_NE(buffer[n - 1], u'\0');
    EXPECT_EQ(buffer[n], u'\0');
    EXPECT_TRUE(AllFill(buffer, n + 1, PATH_CAPACITY));

    // The same path again from a fresh list.
    InterfaceList again = hid.OpenInterfaceList();
    ASSERT_NE(again, 0u);
    char16_t second[PATH_CAPACITY];
    ASSERT_EQ(hid.GetInterfacePath(again, index, second, PATH_CAPACITY), length);
    for (uint32_t i = 0; i <= n; ++i) ASSERT_EQ(second[i], buffer[i]) << "at " << i;
    hid.CloseInterfaceList(again);
    hid.CloseInterfaceList(list);
}

TEST(Win32HidDevice, OpenedInterfacesAnswerIdsAndReportLengths)
{
    InterfaceList list = hid.OpenInterfaceList();
    ASSERT_NE(list, 0u);
    int32_t opened = 0;
    for (uint32_t index = 0; index < 64; ++index) {
        char16_t path[PATH_CAPACITY];
        int32_t length = hid.GetInterfacePath(list, index, path, PATH_CAPACITY);
        if (length == INTERFACE_LIST_END) break;
        if (length <= 0) continue;
        // Windows keeps keyboards and mice to itself; whatever opens must answer.
        PlatformHandle handle = hid.Open(path);
        if (handle == INVALID_PLATFORM_HANDLE) continue;
        ++opened;
        uint16_t vendorId = 0, productId = 0;
        EXPECT_TRUE(hid.GetIds(handle, &vendorId, &productId));
        EXPECT_NE(vendorId, 0u);
        uint16_t inputLength = 0, outputLength = 0;
        EXPECT_TRUE(hid.GetReportLengths(handle, &inputLength, &outputLength));
        EXPECT_GT(inputLength + outputLength, 0);
        hid.Close(handle);
    }
    hid.CloseInterfaceList(list);
    // Wine always lists (and opens) its own mouse and keyboard: none opened is a fault, no skip.
    ASSERT_GT(opened, 0) << "no HID interface can be opened here";
}

// A device that sends nothing: the read gives up after its time limit, not before, and says so.
TEST(Win32HidDevice, ReadGivesUpAfterItsTimeLimit)
{
    InterfaceList list = hid.OpenInterfaceList();
    ASSERT_NE(list, 0u);
    PlatformHandle handle = INVALID_PLATFORM_HANDLE;
    uint16_t inputLength = 0;
    for (uint32_t index = 0; index < 64 && handle == INVALID_PLATFORM_HANDLE; ++index) {
        char16_t path[PATH_CAPACITY];
        int32_t length = hid.GetInterfacePath(list, index, path, PATH_CAPACITY);
        if (length == INTERFACE_LIST_END) break;
        if (length <= 0) continue;
        handle = hid.Open(path);
        uint16_t outputLength = 0;
        if (handle != INVALID_PLATFORM_HANDLE &&
            (!hid.GetReportLengths(handle, &inputLength, &outputLength) || inputLength == 0 || inputLength > 64)) {
            hid.Close(handle);
            handle = INVALID_PLATFORM_HANDLE;
        }
    }
    hid.CloseInterfaceList(list);
    ASSERT_NE(handle, INVALID_PLATFORM_HANDLE) << "no HID interface with input reports can be opened here";

    uint8_t report[64] = {};
    uint64_t start = hid.Milliseconds();
    bool read = hid.ReadReport(handle, report, inputLength, 150);
    uint64_t elapsed = hid.Milliseconds() - start;
    uint32_t error = hid.LastError();
    hid.Close(handle);
    if (read) GTEST_SKIP() << "the device sent a report";
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(error, 1460u);  // ERROR_TIMEOUT
}

TEST(Win32HidDevice, FailuresReportAnErrorAndCleanupIsHarmless)
{
    PlatformHandle handle = hid.Open(u"\\\\?\\hid#vid_21b8&pid_7777#no-such-device#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(handle, INVALID_PLATFORM_HANDLE);
    uint32_t openError = hid.LastError();
    EXPECT_NE(openError, 0u);

    // Closing nothing neither fails nor disturbs the last error.
    hid.Close(INVALID_PLATFORM_HANDLE);
    hid.CloseInterfaceList(0);
    EXPECT_EQ(hid.LastError(), openError);

    EXPECT_EQ(hid.Open(nullptr), INVALID_PLATFORM_HANDLE);
    EXPECT_NE(hid.LastError(), 0u);

    uint16_t a = 0, b = 0;
    EXPECT_FALSE(hid.GetIds(INVALID_PLATFORM_HANDLE, &a, &b));
    EXPECT_FALSE(hid.GetReportLengths(INVALID_PLATFORM_HANDLE, &a, &b));
    uint8_t report[60] = {1};
    EXPECT_FALSE(hid.WriteReport(INVALID_PLATFORM_HANDLE, report, sizeof report, 1000));
    EXPECT_NE(hid.LastError(), 0u);
    uint64_t start = hid.Milliseconds();
    EXPECT_FALSE(hid.ReadReport(INVALID_PLATFORM_HANDLE, report, sizeof report, 5000));
    EXPECT_NE(hid.LastError(), 0u);
    EXPECT_LT(hid.Milliseconds() - start, 1000u) << "a read that can't start must not wait";

    // A real list closed keeps the last error too.
    hid.Open(nullptr);
    uint32_t error = hid.LastError();
    InterfaceList list = hid.OpenInterfaceList();
    hid.Open(nullptr);
    hid.CloseInterfaceList(list);
    EXPECT_EQ(hid.LastError(), error);
}

// Lower bounds only: how much longer a pause takes depends on the machine.
TEST(Win32HidClock, SleepNeverReturnsEarly)
{
    for (int32_t run = 0; run < 10; ++run) {
        uint64_t start = hid.Milliseconds();
        hid.Sleep(20);
        uint64_t elapsed = hid.Milliseconds() - start;
        EXPECT_GE(elapsed, 20u) << "run " << run;
    }
    uint64_t start = hid.Milliseconds();
    hid.Sleep(1);
    EXPECT_GE(hid.Milliseconds() - start, 1u);
}

TEST(Win32HidClock, SleepKeepsTheLastErrorAndMillisecondsAdvance)
{
    hid.Open(nullptr);
    uint32_t error = hid.LastError();
    ASSERT_NE(error, 0u);
    hid.Sleep(2);
    EXPECT_EQ(hid.LastError(), error);

    uint64_t previous = hid.Milliseconds();
    for (int32_t i = 0; i < 1000; ++i) {
        uint64_t now = hid.Milliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
    uint64_t start = hid.Milliseconds();
    hid.Sleep(0);
    EXPECT_LT(hid.Milliseconds() - start, 50u);
}

}  // namespace
