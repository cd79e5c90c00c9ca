// The Windows HID table (kWin32HidPlatform) on virtual programming units in Wine's HID stack:
// unit 5 answers as the simulated unit does (served by velquor_vunit.exe), unit 6 never answers
// and is pulled out while a read waits on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/win32/hid_win32.h"
#include "tests/win32/dialog_driver.h"
#include "tests/win32/virtual_unit/unit_install.h"
#include "tests/win32/virtual_unit/unit_process.h"

#if !defined(VELQUOR_VUNIT_EXE) || !defined(VELQUOR_VUNIT_FILES)
#error "the build names the unit program and the folder of the units' files"
#endif

using dialog_driver::WindowsPath;
using virtual_unit::NowMs;
using virtual_unit::UnitIdentity;

namespace {

const HidPlatform& hid = kWin32HidPlatform;
constexpr uint32_t kServedUnit = 5;
constexpr uint32_t kSilentUnit = 6;
constexpr UnitIdentity kSetbox = {0x21B8, 2, 60, 60};

// Opens unit `number` through the table, as discovery finds it in the list.
PlatformHandle OpenUnit(uint32_t number)
{
    const std::wstring wanted = virtual_unit::FindInterfacePath(number, kSetbox);
    InterfaceList list = hid.OpenInterfaceList();
    PlatformHandle handle = INVALID_PLATFORM_HANDLE;
    for (uint32_t index = 0; list != 0 && handle == INVALID_PLATFORM_HANDLE; ++index) {
        char16_t path[1024];
        int32_t length = hid.GetInterfacePath(list, index, path, 1024);
        if (length == INTERFACE_LIST_END) break;
        if (length > 0 && std::wstring(reinterpret_cast<const wchar_t*>(path)) == wanted) handle = hid.Open(path);
    }
    hid.CloseInterfaceList(list);
    return handle;
}

TEST(Win32HidOnUnit, ListsTheUnitWithItsIdsAndReportLengths)
{
    PlatformHandle unit = OpenUnit(kServedUnit);
    ASSERT_NE(unit, INVALID_PLATFORM_HANDLE) << "the unit is not in the list or can't be opened";
    uint16_t vendorId = 0, productId = 0, inputLength = 0, outputLength = 0;
    EXPECT_TRUE(hid.GetIds(unit, &vendorId, &productId));
    EXPECT_EQ(vendorId, 0x21B8);
    EXPECT_EQ(productId, 2);
    EXPECT_TRUE(hid.GetReportLengths(unit, &inputLength, &outputLength));
    EXPECT_EQ(inputLength, 60);
    EXPECT_EQ(outputLength, 60);
    hid.Close(unit);
}

// The status request as the updater sends it, answered by the simulated unit through the whole
// stack; both calls leave the last error at 0. Many rounds as fast as they go: Wine's class
// driver leaves a reply that comes just as the read is queued in the handle's queue without
// ending the read, which the edge must ask again for well within the limit.
TEST(Win32HidOnUnit, WritesRequestsAndReadsTheReplies)
{
    PlatformHandle unit = OpenUnit(kServedUnit);
    ASSERT_NE(unit, INVALID_PLATFORM_HANDLE);
    double slowest = 0;
    for (int round = 0; round < 1000; ++round) {
        const uint8_t request[60] = {0x01, 0x08};
        uint8_t reply[60] = {0x02};
        const double start = NowMs();
        ASSERT_TRUE(hid.WriteReport(unit, request, sizeof request, 1000)) << "error " << hid.LastError();
        EXPECT_EQ(hid.LastError(), 0u);
        ASSERT_TRUE(hid.ReadReport(unit, reply, sizeof reply, 1000)) << "error " << hid.LastError();
        EXPECT_EQ(hid.LastError(), 0u);
        slowest = std::max(slowest, NowMs() - start);
        // Report 2, the command echoed, mode 0, controller state 3.
        EXPECT_EQ(reply[0], 0x02);
        EXPECT_EQ(reply[1], 0x08);
        EXPECT_EQ(reply[3], 0x00);
        EXPECT_EQ(reply[4], 0x03);
    }
    std::printf("[ figures  ] 1000 status exchanges through hid.dll, the slowest %.1f ms\n", slowest);
    hid.Close(unit);
}

TEST(Win32HidOnUnit, ReadGivesUpAfterItsTimeLimitWhenTheUnitSaysNothing)
{
    PlatformHandle unit = OpenUnit(kServedUnit);
    ASSERT_NE(unit, INVALID_PLATFORM_HANDLE);
    uint8_t reply[60] = {0x02};
    const double start = NowMs();
    EXPECT_FALSE(hid.ReadReport(unit, reply, sizeof reply, 150));
    const double elapsed = NowMs() - start;
    EXPECT_EQ(hid.LastError(), 1460u);  // ERROR_TIMEOUT
    EXPECT_GE(elapsed, 150.0);
    EXPECT_LT(elapsed, 2000.0);
    hid.Close(unit);
}

// Pulled out while a read waits: the read ends with an error long before its limit. Wine gives
// other codes than Windows here (see the figures); a write on the dead handle is recorded too.
TEST(Win32HidOnUnit, RemovalEndsAWaitingRead)
{
    std::string error;
    std::wstring program = WindowsPath(VELQUOR_VUNIT_EXE);
    std::wstring inf = program.substr(0, program.find_last_of(L'\\')) + L"\\velquor_vunit.inf";
    ASSERT_TRUE(virtual_unit::PlugIn(kSilentUnit, kSetbox, inf, 30000, &error)) << error;
    PlatformHandle unit = OpenUnit(kSilentUnit);
    ASSERT_NE(unit, INVALID_PLATFORM_HANDLE);

    bool read = true;
    uint32_t readError = 0;
    double readEnded = 0;
    std::thread reader([&] {
        uint8_t reply[60] = {0x02};
        read = hid.ReadReport(unit, reply, sizeof reply, 10000);
        readError = hid.LastError();
        readEnded = NowMs();
    });
    Sleep(300);
    const double pulled = NowMs();
    EXPECT_TRUE(virtual_unit::PullOut(kSilentUnit, 30000, &error)) << error;
    reader.join();
    EXPECT_FALSE(read);
    EXPECT_NE(readError, 0u);
    EXPECT_NE(readError, 1460u) << "the read ran into its limit instead of ending with the removal";
    EXPECT_LT(readEnded - pulled, 9000.0);

    const uint8_t request[60] = {0x01, 0x08};
    bool written = hid.WriteReport(unit, request, sizeof request, 1000);
    uint32_t writeError = hid.LastError();
    std::printf("[ figures  ] removal: the waiting read ended %.0f ms after the pull with error %u; a write on the "
                "removed unit then %s (error %u)\n",
                readEnded - pulled, readError, written ? "succeeded" : "failed", writeError);
    hid.Close(unit);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    CreateDirectoryW(WindowsPath(VELQUOR_VUNIT_FILES).c_str(), nullptr);
    virtual_unit::UnitProcess served;
    std::string error;
    if (!served.Start(WindowsPath(VELQUOR_VUNIT_EXE), kServedUnit, {"", -1, -1},
                      WindowsPath(VELQUOR_VUNIT_FILES) + L"\\hid-edge-unit5", &error)) {
        std::fprintf(stderr, "velquor_hid_win32_unit_tests: %s\n", error.c_str());
        return 1;
    }
    int result = RUN_ALL_TESTS();
    if (!served.Stop(&error)) {
        std::fprintf(stderr, "velquor_hid_win32_unit_tests: %s\n", error.c_str());
        result = 1;
    }
    return result;
}
