// What the real-stack tests share about their virtual units: one plugged in or pulled out, with a
// failure recorded where it happens. The test's build names velquor_vunit.exe (VELQUOR_VUNIT_EXE).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/win32/dialog_driver.h"
#include "tests/win32/virtual_unit/unit_process.h"

#ifndef VELQUOR_VUNIT_EXE
#error "the build names the unit program"
#endif

namespace dialog_driver {

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
