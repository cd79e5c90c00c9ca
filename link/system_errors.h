// The platform's last-error codes that the edges other than Windows' own report, with the values
// Windows gives them, so that a failure reads the same on every edge (the failure box's second
// code, a record's "failed 0x..."): the simulated unit, the replaying unit and the page's WebHID.
// Windows' edge reports GetLastError() as it comes.
#pragma once

#include <cstdint>

constexpr uint32_t SYSTEM_ERROR_SUCCESS = 0;
constexpr uint32_t SYSTEM_ERROR_FILE_NOT_FOUND = 2;         // no interface with that path
constexpr uint32_t SYSTEM_ERROR_TOO_MANY_OPEN_FILES = 4;    // nothing more can be opened
constexpr uint32_t SYSTEM_ERROR_ACCESS_DENIED = 5;          // the interface may not be opened
constexpr uint32_t SYSTEM_ERROR_INVALID_HANDLE = 6;         // a handle or list that is not open
constexpr uint32_t SYSTEM_ERROR_GEN_FAILURE = 31;           // the device did not do what was asked
constexpr uint32_t SYSTEM_ERROR_INVALID_PARAMETER = 87;     // a buffer or length the call can't take
constexpr uint32_t SYSTEM_ERROR_BUSY = 170;                 // another program holds the unit
constexpr uint32_t SYSTEM_ERROR_DEVICE_NOT_CONNECTED = 1167;  // the unit is gone
constexpr uint32_t SYSTEM_ERROR_TIMEOUT = 1460;             // no report within the time limit
