// The link: the one process-wide state of the open programming unit (DeviceLink), the report
// framing and the transport operations: discovery, report lengths, one request/reply exchange,
// closing.
#pragma once

#include <cstdint>

#include "link/hid_platform.h"

// Programming units: USB vendor 0x21B8, product 1 (DIALPUCK, the programming disc) or 2 (SETBOX).
constexpr uint16_t UNIT_VENDOR_ID = 0x21B8;
constexpr uint16_t PRODUCT_ID_DIALPUCK = 1;
constexpr uint16_t PRODUCT_ID_SETBOX = 2;

// Every request and reply is built in a buffer of this many bytes: 4 header bytes, 56 payload.
constexpr uint32_t REPORT_BUFFER_SIZE = 60;
constexpr uint8_t REPORT_ID_REQUEST = 1;
constexpr uint8_t REPORT_ID_REPLY = 2;
constexpr uint8_t REPLY_STATUS_ERROR = 0xFF;

// Report lengths a unit must declare for its reports to fit the buffers: replies carry data up
// to byte 43, data requests up to byte 51. A unit declaring anything else is refused.
constexpr uint32_t MIN_INPUT_REPORT_LENGTH = 44;
constexpr uint32_t MIN_OUTPUT_REPORT_LENGTH = 52;

// How long a read waits for the unit's reply before it counts as failed. The slowest command,
// the erase, is read 1 s after its request; this leaves the unit ample time.
constexpr uint32_t REPLY_TIMEOUT_MS = 15000;

// Results of every link operation (signed 32-bit). Any other value is the unit's own error code
// or ERROR_FUNCTION_FAILED.
constexpr int32_t LINK_OK = 0;
constexpr int32_t LINK_NO_DEVICE = -1;
constexpr int32_t LINK_WRITE_FAILED = -2;
constexpr int32_t LINK_READ_FAILED = -3;
constexpr int32_t LINK_NOT_FOUND = -4;
// Other causes that share -1 with "no device": callers see -1, the code says which it was.
constexpr int32_t LINK_NO_INTERFACE_LIST = LINK_NO_DEVICE;     // the system gave no interface list
constexpr int32_t LINK_NO_CAPABILITIES = LINK_NO_DEVICE;       // report lengths can't be read
constexpr int32_t LINK_LENGTHS_UNFIT = LINK_NO_DEVICE;         // report lengths don't fit the buffers
constexpr int32_t LINK_BAD_ARGUMENT = LINK_NO_DEVICE;          // a request that can't be built
#ifdef ERROR_FUNCTION_FAILED  // the Windows headers' own definition, of the same value
static_assert(ERROR_FUNCTION_FAILED == 1627);
#else
constexpr int32_t ERROR_FUNCTION_FAILED = 1627;
#endif

// The result of a flash command, with its kind kept: the link's own failure, the unit's refusal
// with its 32-bit code (whatever its value, 0xFFFFFFFF included), or a reply that does not
// confirm what was asked. Code holds the value the failure report shows first.
enum LinkResultKind : uint8_t {
    LINK_RESULT_OK,
    LINK_RESULT_LINK_FAILURE,  // Code: LINK_NO_DEVICE, LINK_WRITE_FAILED or LINK_READ_FAILED
    LINK_RESULT_REFUSED,       // Code: the unit's error code
    LINK_RESULT_UNCONFIRMED,   // Code: ERROR_FUNCTION_FAILED
};

struct LinkResult {
    LinkResultKind Kind;
    uint32_t Code;
};

constexpr LinkResult LinkSucceeded() { return {LINK_RESULT_OK, 0}; }
constexpr LinkResult LinkFailed(int32_t failure) { return {LINK_RESULT_LINK_FAILURE, static_cast<uint32_t>(failure)}; }
constexpr LinkResult UnitRefused(uint32_t unitCode) { return {LINK_RESULT_REFUSED, unitCode}; }
constexpr LinkResult UnitUnconfirmed() { return {LINK_RESULT_UNCONFIRMED, static_cast<uint32_t>(ERROR_FUNCTION_FAILED)}; }
// An exchange's result (LINK_OK or one of the link's failures) as a flash command's result.
constexpr LinkResult FromExchange(int32_t result) { return result == LINK_OK ? LinkSucceeded() : LinkFailed(result); }
constexpr bool IsOk(const LinkResult& result) { return result.Kind == LINK_RESULT_OK; }
constexpr bool operator==(const LinkResult& a, const LinkResult& b) { return a.Kind == b.Kind && a.Code == b.Code; }

// Unit mode 0 is the normal mode; controller state 3 means an updatable controller is attached.
constexpr uint8_t UNIT_MODE_NORMAL = 0;
constexpr uint16_t CONTROLLER_STATE_READY = 3;

constexpr uint32_t CONTROLLER_INFO_SIZE = 32;
constexpr uint32_t CONTROLLER_IDENTITY_SIZE = 40;
constexpr uint16_t FIRMWARE_VERSION_NONE = 0xFFFF;

struct DeviceLink {
    PlatformHandle DeviceHandle;        // all ones: no unit open
    char16_t* DevicePath;               // owned copy of the interface path, or null
    uint32_t OutputReportLength;        // bytes per request, report id included
    uint32_t InputReportLength;         // bytes per reply, report id included
    uint8_t UnitMode;                   // status reply byte 3
    uint32_t UnitVersion;
    uint32_t UnitVersionExtra;
    uint16_t ControllerState;           // normal mode only
    uint16_t ControllerStateExtra;
    uint8_t ModeInfoA;                  // other mode only: the packed block of status bytes 4..15
    uint16_t ModeInfoB;
    uint32_t ModeInfoC;
    uint32_t ModeInfoD;
    uint8_t ModeInfoE;
    uint8_t ControllerInfo[CONTROLLER_INFO_SIZE];          // bytes 4..5: application version
    uint8_t ControllerIdentity[CONTROLLER_IDENTITY_SIZE];  // bytes 0..3: type code, 4..7: boot loader
    uint16_t ProductId;
};

extern DeviceLink g_Link;

// Little-endian reads and writes of report and block bytes.
inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }
inline void WriteLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The values inside the two controller blocks.
inline uint16_t ControllerFirmwareVersion() { return ReadLe16(g_Link.ControllerInfo + 4); }
inline void SetControllerFirmwareVersion(uint16_t v) { WriteLe16(g_Link.ControllerInfo + 4, v); }
inline uint32_t ControllerTypeCode() { return ReadLe32(g_Link.ControllerIdentity + 0); }
inline uint32_t ControllerBootloaderVersion() { return ReadLe32(g_Link.ControllerIdentity + 4); }

inline bool LinkIsOpen() { return g_Link.DeviceHandle != INVALID_PLATFORM_HANDLE; }

// Puts the link into the no-device state without closing anything: for the program's start.
void ResetLink();

// Closes the handle if one is open, frees the path, zeroes every field, handle all ones.
void CloseLink();

// The rules by which discovery takes an interface: vendor 0x21B8 with product 1 or 2, and
// report lengths that fit the report buffers (else the unit is refused before anything is sent).
bool IsProgrammingUnit(uint16_t vendorId, uint16_t productId);
bool ReportLengthsFit(uint16_t inputLength, uint16_t outputLength);

// Closes the old unit, finds the first programming unit among the present HID interfaces that
// no other program holds, opens and claims it and identifies it. Returns -1 (no interface
// list), -4 (no unit), or IdentifyUnit's result; after a failed identification the unit stays
// open.
int32_t DiscoverUnit();

// What the last discovery passed over besides foreign interfaces: programming units that
// another program holds (they are skipped, as an interface that can't be opened is). The front
// ends say it in their own words.
constexpr uint32_t DISCOVERY_PATH_SIZE = 260;
struct DiscoveryReport {
    uint32_t UnitsInUse;                       // units found held by another program
    char16_t FirstInUse[DISCOVERY_PATH_SIZE];  // the first one's path, cut to fit; "" when none
};
const DiscoveryReport& LastDiscovery();

// Reads the unit's report lengths into the link. 0, or -1 when there is no unit, the
// capabilities can't be read, or the lengths don't fit the report buffers.
int32_t ReadReportLengths();

// Writes one request and reads one reply (byte 0 set to 2 before the read), with a pause of
// `waitMs` between them. 0, -1 (no unit), -2 (write failed) or -3 (read failed or timed out).
// Input reports that were waiting before the request are thrown away first, so that a reply
// can only be a report that arrived after its request. On a unit whose reports carry ids, a
// report with another id than the reply's is the unit's own and no reply: it is skipped and
// the read goes on within the same limit (at most MAX_SKIPPED_REPORTS of them).
constexpr uint32_t MAX_SKIPPED_REPORTS = 32;
int32_t ExchangeReports(const uint8_t request[REPORT_BUFFER_SIZE], uint8_t reply[REPORT_BUFFER_SIZE],
                        uint32_t waitMs);

// The standard reply check: a refusing reply (byte 1 = 0xFF) yields the unit's 32-bit code of
// bytes 4..7 (0 counts as success); any other reply succeeds.
LinkResult StandardReplyCheck(const uint8_t reply[REPORT_BUFFER_SIZE]);

// Identification of the unit just opened (status, then memory read or the two controller
// requests). Called by DiscoverUnit only.
int32_t IdentifyUnit();

// Identification commands.
constexpr uint8_t CMD_GET_STATUS = 0x08;
constexpr uint8_t CMD_READ_MEMORY = 0x0A;
constexpr uint8_t CMD_READ_CONTROLLER_INFO = 0x1D;
constexpr uint8_t CMD_GET_CONTROLLER_IDENTITY = 0x22;
constexpr uint32_t UNIT_VERSION_ADDRESS = 0x0801FC00;
