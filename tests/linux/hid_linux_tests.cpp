// The hidraw edge's file handling, time limits, clock and errors on the build machine, which
// has no hidraw devices: a FIFO stands in for a device node (a report written comes back as
// the next report read). The edge on real hidraw nodes is
// tested end to end in the VM (tests/linux/vm/).
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/linux/hid_linux.h"

namespace {

const HidPlatform& hid = kLinuxHidPlatform;

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class LinuxEdgeOnFifo : public testing::Test {
protected:
    void SetUp() override
    {
        // A non-ASCII name: the path goes through UTF-16 and back to UTF-8.
        path_ = testing::TempDir() + "velquor_fifo_\xC3\xBC_" + std::to_string(getpid());
        unlink(path_.c_str());
        ASSERT_EQ(0, mkfifo(path_.c_str(), 0600));
        std::u16string wide = Utf16(testing::TempDir() + "velquor_fifo_") + u"\u00FC_" + Utf16(std::to_string(getpid()));
        handle_ = hid.Open(wide.c_str());
        ASSERT_NE(INVALID_PLATFORM_HANDLE, handle_) << "errno " << hid.LastError();
    }
    void TearDown() override
    {
        hid.Close(handle_);
        unlink(path_.c_str());
    }
    std::string path_;
    PlatformHandle handle_ = INVALID_PLATFORM_HANDLE;
};

TEST_F(LinuxEdgeOnFifo, ReportWrittenIsReadBackWithLastErrorZero)
{
    const uint8_t report[6] = {1, 0x08, 0, 0, 0xAB, 0xCD};
    ASSERT_TRUE(hid.WriteReport(handle_, report, sizeof report, 100));
    EXPECT_EQ(0u, hid.LastError());
    uint8_t reply[6] = {};
    ASSERT_TRUE(hid.ReadReport(handle_, reply, sizeof reply, 100));
    EXPECT_EQ(0u, hid.LastError());
    EXPECT_EQ(0, std::memcmp(report, reply, sizeof report));
}

TEST_F(LinuxEdgeOnFifo, ShorterReportIsFilledWithZeros)
{
    const uint8_t report[3] = {2, 0x11, 0x22};
    ASSERT_TRUE(hid.WriteReport(handle_, report, sizeof report, 100));
    uint8_t reply[6];
    std::memset(reply, 0xEE, sizeof reply);
    ASSERT_TRUE(hid.ReadReport(handle_, reply, sizeof reply, 100));
    const uint8_t expected[6] = {2, 0x11, 0x22, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, reply, sizeof reply));
}

TEST_F(LinuxEdgeOnFifo, ReadGivesUpAtItsLimitWithTimedOut)
{
    uint8_t reply[4];
    uint64_t start = hid.Milliseconds();
    EXPECT_FALSE(hid.ReadReport(handle_, reply, sizeof reply, 120));
    uint64_t took = hid.Milliseconds() - start;
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), hid.LastError());
    EXPECT_GE(took, 120u);
    EXPECT_LT(took, 1000u);
}

TEST_F(LinuxEdgeOnFifo, DiscardInputEmptiesWhatWaitsWithoutWaiting)
{
    const uint8_t report[6] = {2, 0x08, 0, 0, 0xAB, 0xCD};
    ASSERT_TRUE(hid.WriteReport(handle_, report, sizeof report, 100));
    ASSERT_TRUE(hid.WriteReport(handle_, report, sizeof report, 100));
    uint64_t start = hid.Milliseconds();
    EXPECT_TRUE(hid.DiscardInput(handle_));
    EXPECT_TRUE(hid.DiscardInput(handle_));  // nothing left: returns at once all the same
    EXPECT_LT(hid.Milliseconds() - start, 50u);
    uint8_t reply[6];
    EXPECT_FALSE(hid.ReadReport(handle_, reply, sizeof reply, 30));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), hid.LastError());
}

TEST_F(LinuxEdgeOnFifo, OneClaimAtATimeUntilItsHolderCloses)
{
    std::u16string wide = Utf16(testing::TempDir() + "velquor_fifo_") + u"\u00FC_" + Utf16(std::to_string(getpid()));
    PlatformHandle second = hid.Open(wide.c_str());
    ASSERT_NE(INVALID_PLATFORM_HANDLE, second);
    ASSERT_TRUE(hid.Claim(handle_));
    EXPECT_FALSE(hid.Claim(second));
    EXPECT_EQ(static_cast<uint32_t>(EBUSY), hid.LastError());
    hid.Close(handle_);
    handle_ = INVALID_PLATFORM_HANDLE;
    EXPECT_TRUE(hid.Claim(second));
    hid.Close(second);
}

// Signals arriving every 7 ms, with a handler that does not restart system calls.
class SignalRain {
public:
    SignalRain()
    {
        struct sigaction action = {};
        action.sa_handler = [](int) { g_Signals = g_Signals + 1; };
        sigaction(SIGALRM, &action, &previous_);
        struct itimerval every = {{0, 7000}, {0, 7000}};
        setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~SignalRain()
    {
        struct itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }
    static inline volatile sig_atomic_t g_Signals = 0;

private:
    struct sigaction previous_;
};

TEST_F(LinuxEdgeOnFifo, SignalsShortenNoWait)
{
    uint8_t reply[4];
    SignalRain rain;
    int before = SignalRain::g_Signals;
    uint64_t start = hid.Milliseconds();
    EXPECT_FALSE(hid.ReadReport(handle_, reply, sizeof reply, 100));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), hid.LastError());
    uint64_t afterRead = hid.Milliseconds();
    hid.Sleep(100);
    uint64_t afterSleep = hid.Milliseconds();
    EXPECT_GE(afterRead - start, 100u);
    EXPECT_GE(afterSleep - afterRead, 100u);
    EXPECT_GT(SignalRain::g_Signals - before, 10);  // the waits were really interrupted
}

TEST_F(LinuxEdgeOnFifo, NotAHidrawNodeHasNoIdsNorLengths)
{
    uint16_t vendor = 0, product = 0, in = 0, out = 0;
    EXPECT_FALSE(hid.GetIds(handle_, &vendor, &product));
    EXPECT_EQ(static_cast<uint32_t>(ENOTTY), hid.LastError());
    EXPECT_FALSE(hid.GetReportLengths(handle_, &in, &out));
    EXPECT_EQ(static_cast<uint32_t>(ENOTTY), hid.LastError());
}

TEST(LinuxEdge, OpenFailuresCarryErrno)
{
    EXPECT_EQ(INVALID_PLATFORM_HANDLE, hid.Open(u"/nonexistent/hidraw9"));
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), hid.LastError());
    const char16_t unpaired[] = {u'/', 0xD800, u'x', 0};  // not UTF-16
    EXPECT_EQ(INVALID_PLATFORM_HANDLE, hid.Open(unpaired));
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), hid.LastError());
    hid.Close(INVALID_PLATFORM_HANDLE);  // accepted, does nothing
}

TEST(LinuxEdge, SleepWaitsItsTimeAndKeepsTheLastError)
{
    EXPECT_EQ(INVALID_PLATFORM_HANDLE, hid.Open(u"/nonexistent/hidraw9"));
    uint64_t start = hid.Milliseconds();
    hid.Sleep(40);
    uint64_t took = hid.Milliseconds() - start;
    EXPECT_GE(took, 40u);
    EXPECT_LT(took, 500u);
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), hid.LastError());
}

TEST(LinuxEdge, ListOfTheMachineHoldsOnlyHidrawNodes)
{
    InterfaceList list = hid.OpenInterfaceList();
    ASSERT_NE(0u, list);
    uint32_t index = 0;
    for (; index < 256; ++index) {
        int32_t length = hid.GetInterfacePath(list, index, nullptr, 0);
        if (length == INTERFACE_LIST_END) break;
        if (length == INTERFACE_NO_DETAIL) continue;
        std::u16string path(static_cast<size_t>(length) + 1, u'\0');
        ASSERT_EQ(length, hid.GetInterfacePath(list, index, path.data(), static_cast<uint32_t>(path.size())));
        EXPECT_EQ(0u, path.find(u"/dev/hidraw"));
    }
    EXPECT_LT(index, 256u);
    hid.CloseInterfaceList(list);
    EXPECT_EQ(nullptr, LinuxHidRefusedNode());
}

}  // namespace
