// What the real-stack tests share about their virtual units: the requests as they reach a unit,
// the image its flash must hold after an update, a unit plugged in or pulled out (a failure
// recorded where it happens), and the end of the session asked for. The test's build names
// velquor_vunit.exe (VELQUOR_VUNIT_EXE).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "tests/win32/dialog_driver.h"
#include "tests/win32/virtual_unit/unit_process.h"

#ifndef VELQUOR_VUNIT_EXE
#error "the build names the unit program"
#endif

namespace dialog_driver {

// Requests as they reach the unit: command bytes.
constexpr uint8_t kStatus = 0x08, kLock = 0x0B, kBlock = 0x1B, kControllerInfo = 0x1D, kErase = 0x1E,
                  kAddress = 0x1F, kProtect = 0x20, kIdentity = 0x22;
const std::vector<uint8_t> kIdentification = {kStatus, kControllerInfo, kIdentity};
// The simulated unit's default controller, and its image's 48-byte blocks.
constexpr uint32_t kDefaultType = 0x110FA0D2;
constexpr size_t kImageBlocks = 2048;

// The requests of an update as they reach the unit: the identification, lock, protection off,
// erase, address, `blocks` blocks, and when `finished` protection on and the unlock.
inline std::vector<uint8_t> UpdateRequests(size_t blocks, bool finished)
{
    std::vector<uint8_t> requests = kIdentification;
    requests.insert(requests.end(), {kLock, kProtect, kErase, kAddress});
    requests.insert(requests.end(), blocks, kBlock);
    if (finished) requests.insert(requests.end(), {kProtect, kLock});
    return requests;
}

inline std::vector<uint8_t> Commands(const virtual_unit::UnitLog& log)
{
    std::vector<uint8_t> commands;
    for (const virtual_unit::UnitRequest& request : log.Requests) commands.push_back(request.Command);
    return commands;
}

// The image the programs carry for the default controller, as the catalogue selects it.
inline std::vector<uint8_t> DefaultImage()
{
    EXPECT_EQ(AdmitController(kDefaultType), ADMISSION_ADMITTED);
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(LookupImage(SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass), &bytes, &size));
    return bytes != nullptr ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>();
}

// The controller's flash holds the default image, and is erased behind it.
inline void ExpectFlashHoldsTheImage(const std::vector<uint8_t>& flash)
{
    const std::vector<uint8_t> image = DefaultImage();
    EXPECT_EQ((image.size() + 47) / 48, kImageBlocks);
    ASSERT_EQ(flash.size(), 128u * 1024u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "the flash differs from the image";
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<ptrdiff_t>(image.size()), flash.end(),
                            [](uint8_t b) { return b == 0xFF; }))
        << "the flash is not erased behind the image";
}

// Asks the windows of the test desktop whether the session may end, as the system does before a
// log-off: Wine's wineboot on that desktop, which sends them WM_QUERYENDSESSION and then
// WM_ENDSESSION (lParam 0: a shutdown), and ends the programs that agreed. Its exit code tells
// the answer: 0 when every window agreed, 1 when one refused.
inline bool AskToEndTheSession(ChildProgram* request, std::string* error)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return request->Start(std::wstring(folder, length) + L"\\wineboot.exe", nullptr, false, error,
                          L"--end-session --shutdown");
}

// Plugs `unit` in as unit `number`, its files named `files`; false after a recorded failure.
inline bool PlugInUnit(virtual_unit::UnitProcess& unit, uint32_t number, const virtual_unit::UnitSettings& settings,
                       const std::wstring& files)
{
    std::string error;
    bool ok = unit.Start(WindowsPath(VELQUOR_VUNIT_EXE), number, settings, files, &error);
    if (!ok) ADD_FAILURE() << error;
    return ok;
}

// Pulls unit `number` out and returns what it logged.
inline virtual_unit::UnitLog PullOutUnit(virtual_unit::UnitProcess& unit, uint32_t number)
{
    std::string error;
    EXPECT_TRUE(unit.Stop(&error)) << error;
    virtual_unit::UnitLog log = unit.ReadLog();
    EXPECT_TRUE(log.Read) << "unit " << number << " wrote no log";
    return log;
}

}  // namespace dialog_driver
