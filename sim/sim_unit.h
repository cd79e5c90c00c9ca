// The simulated programming unit: a SETBOX or DIALPUCK with an ORVANT QX controller attached,
// behind the same HID table (link/hid_platform.h) that the Windows edge fills. Tests, demos and
// the terminal front end select it instead of the real HID stack.
//
// What it models:
// - A list of HID interfaces: `others` foreign devices, an optional "alien" interface (vendor
//   0x21B8, product 3), the programming unit, an optional second unit (a DIALPUCK), in that order.
// - The unit answers every identification and flash command: status, memory read, controller
//   information, controller identity, system lock, write protection, erase, start address and
//   data blocks. It keeps the lock and the controller's write protection as state and models the
//   controller's flash memory (SIM_FLASH_SIZE bytes, erased = 0xFF). A command given in the wrong
//   order or in a malformed request is refused with one of the SIM_UNIT_ERROR_* codes.
// - A virtual clock: Sleep advances it at once, every request written costs 1 ms, Milliseconds
//   reads it. SimSetRealtime(true) makes it follow real time instead.
// - A traffic log of every report written and read, open and close counts per interface.
// - Faults injected by the scenario text (SimConfigure), and unplugging and plugging in again.
//
// Single-threaded, like the program it serves.
#pragma once

#include <cstdint>

#include "link/hid_platform.h"
#include "link/request_steps.h"
#include "link/system_errors.h"

// ---- The table ---------------------------------------------------------------------------

extern const HidPlatform kSimHidPlatform;

// ---- Last-error codes (link/system_errors.h: Windows values) -----------------------------
//
// Every call of the table that fails sets one, every call that succeeds SYSTEM_ERROR_SUCCESS:
//   SYSTEM_ERROR_FILE_NOT_FOUND         Open: no interface present with that path
//   SYSTEM_ERROR_TOO_MANY_OPEN_FILES    Open / OpenInterfaceList: all slots taken
//   SYSTEM_ERROR_ACCESS_DENIED          Open: broken=open
//   SYSTEM_ERROR_INVALID_HANDLE         a handle or list that is not open
//   SYSTEM_ERROR_GEN_FAILURE            fail=OP:write / OP:read; broken=list|path|ids|caps
//   SYSTEM_ERROR_INVALID_PARAMETER      null buffer, a length other than the declared report length,
//                                       report id other than 1, or a write to an interface that
//                                       takes no requests
//   SYSTEM_ERROR_DEVICE_NOT_CONNECTED   the unit was unplugged (also stale handles of a unit plugged
//                                       in again)
//   SYSTEM_ERROR_TIMEOUT                ReadReport: no reply within the time-out
//   SYSTEM_ERROR_BUSY                   Claim: another program holds the unit

// ---- The unit's own error codes, in a refusing reply (byte 1 = 0xFF, bytes 4..7) ----------
//
// All fit 16 bits, so that the two controller requests (which take bytes 4..5 only) see them too.
constexpr uint32_t SIM_UNIT_ERROR_UNKNOWN_COMMAND = 0x0E01;  // command code the unit doesn't know
constexpr uint32_t SIM_UNIT_ERROR_BAD_LENGTH = 0x0E02;       // request byte 2 wrong for the command
constexpr uint32_t SIM_UNIT_ERROR_BAD_PARAMETER = 0x0E03;    // byte 3 or a data value not allowed
constexpr uint32_t SIM_UNIT_ERROR_BAD_MAGIC = 0x0E04;        // erase/address without 34 12 DC FE
constexpr uint32_t SIM_UNIT_ERROR_BAD_ADDRESS = 0x0E05;      // memory read or start address out of range
constexpr uint32_t SIM_UNIT_ERROR_WRONG_MODE = 0x0E06;       // controller command while mode != 0
constexpr uint32_t SIM_UNIT_ERROR_NO_CONTROLLER = 0x0E07;    // controller command while state != 3
constexpr uint32_t SIM_UNIT_ERROR_NOT_LOCKED = 0x0E08;       // protection off / erase / address / data
                                                             // without the system lock
constexpr uint32_t SIM_UNIT_ERROR_PROTECTED = 0x0E09;        // erase / address / data with protection on
constexpr uint32_t SIM_UNIT_ERROR_NOT_ERASED = 0x0E0A;       // address / data before the erase
constexpr uint32_t SIM_UNIT_ERROR_NO_ADDRESS = 0x0E0B;       // data before the start address
constexpr uint32_t SIM_UNIT_ERROR_FLASH_FULL = 0x0E0C;       // data beyond the end of the flash

// ---- Fixed facts of the simulated hardware ----------------------------------------------

constexpr uint32_t SIM_FLASH_SIZE = 128 * 1024;
// The report id of the input reports the unit sends on its own (extra=OP).
constexpr uint8_t SIM_EXTRA_REPORT_ID = 3;
// Data blocks of 48 bytes the flash can take (the last one in part): block#K beyond it is refused.
constexpr uint32_t SIM_MAX_BLOCKS = (SIM_FLASH_SIZE + 47) / 48;
constexpr uint16_t SIM_OTHER_VENDOR_ID = 0x16C0;   // the foreign interfaces (others=N)
constexpr uint16_t SIM_OTHER_PRODUCT_ID = 0x05DF;  // + their index among the others
constexpr uint16_t SIM_ALIEN_PRODUCT_ID = 3;
// Values of the reply fields the updater stores but does not use.
constexpr uint16_t SIM_CONTROLLER_STATE_EXTRA = 0x0042;    // status bytes 6..7
constexpr uint32_t SIM_UNIT_VERSION_EXTRA = 0x13572468;    // status / memory read bytes 12..15
constexpr uint8_t SIM_MODE_INFO_A = 0x5A;                  // status bytes 4..15 in the other mode
constexpr uint16_t SIM_MODE_INFO_B = 0x1234;
constexpr uint32_t SIM_MODE_INFO_C = 0x89ABCDEF;
constexpr uint32_t SIM_MODE_INFO_D = 0x00C0FFEE;
constexpr uint8_t SIM_MODE_INFO_E = 0xA5;
constexpr uint32_t SIM_SECOND_UNIT_VERSION = 0x00011800;   // the second unit (no controller attached)
// Filler of the two controller blocks: byte i of the information block is 0xC0 + i (bytes 4..5
// are the firmware version), byte i of the identity block is 0x80 + i (bytes 0..7: type code,
// boot-loader version). Before the first erase the flash holds an old application: byte i is
// (i * 7 + 0x5B) & 0xFF, or 0xFF throughout when fw=0xffff.

// ---- Scenario ---------------------------------------------------------------------------
//
// One short text configures the simulator (see SimConfigure):
//
//   comma-separated key=value items; spaces around items are ignored; the empty text means
//   every default. Keys, words and operations are lower case; each key but fail once.
//   unit=setbox|dialpuck|none  the programming unit (product 2 or 1), or none    default setbox
//   others=N     N (0..8) foreign HID interfaces, listed before the unit         default 0
//   alien=0|1    an interface with vendor 0x21B8, product 3, listed before the unit
//   second=0|1   a second unit (a DIALPUCK without a controller) listed after the first
//   mode=N       the unit's mode (status byte 3), 0..255                         default 0
//   state=N      the controller state (status bytes 4..5), 16-bit                 default 3
//   type=N       the controller's type code, 32-bit                               default 0x110fa0d2
//   fw=N         the controller's application version, 16-bit; 0xffff: none       default 0x0118
//   newfw=N      the version the controller reports once a written image is sealed (erase,
//                start address, at least one block, protection on), 16-bit       default 0x0119
//   boot=N       the controller's boot-loader version, 32-bit                     default 0x00000105
//   unitver=N    the unit's firmware version, 32-bit                              default 0x00011900
//   inlen=N, outlen=N  the report lengths the unit declares, 1..65535              default 60, 60
//   fleet=N      controllers (1..64) that SimPlugInNextController brings one after another,
//                each fresh as the scenario describes it                          default 1
//   fail=OP:KIND a fault, repeatable (at most SIM_MAX_FAULTS; the first that fits a request wins)
//       OP: status memread info identity lock protect-off erase address block block#K
//           protect-on unlock   (block: every data block; block#K: the K-th since plug-in, from 1)
//       KIND: write      the request can't be written (31); the unit never sees it
//             read       the unit carries the command out, its reply can't be read (31)
//             hang       the unit takes the request and never answers: the read waits its whole
//                        time-out on the clock and fails (1460); the command is not carried out
//             refuse:C   the unit does not carry the command out and replies byte 1 = 0xFF,
//                        bytes 4..7 = C (32-bit; 0 allowed)
//             state:N    the unit carries the command out and replies byte 3 = N. For the lock
//                        and the protection byte 3 is the state itself, so the unit never lies:
//                        the lock (protection) is left set when N != 0 and clear when N == 0.
//                        Thus lock with state:0 leaves the unit unlocked, protect-off with state:1
//                        leaves the protection on, and later flash commands are refused.
//   unplug=OP    the unit is pulled out just before OP's request (its first occurrence): that
//                write and everything after it fails with 1167; the unit leaves the list
//   extra=OP[:before|:after]  the unit sends an input report of its own around OP's reply (every
//                block's for block): before it (default) a report with id SIM_EXTRA_REPORT_ID, as
//                a unit's own event report; after it, the reply a second time, as a reply that
//                comes late. A program that takes whatever report comes next as the reply reads
//                every later reply one request too late.
//   busy=0|1     another program holds the unit: Claim fails for it (with SYSTEM_ERROR_BUSY)
//   lost=0|1     watch: the fleet's plug-ins and pull-outs reach the program only as "events
//                were lost", as when the system's buffer for them overflowed
//   broken=WHAT  a platform call fails for the unit's interface, repeatable: list (no interface
//                list at all), path (its path can't be read), open, ids, caps
//   Numbers are decimal or 0x-prefixed hexadecimal.

constexpr uint32_t SIM_MAX_FAULTS = 16;
constexpr uint32_t SIM_MAX_FLEET = 64;
constexpr uint32_t SIM_MAX_OTHERS = 8;

enum SimUnitKind : uint8_t { SIM_UNIT_NONE, SIM_UNIT_SETBOX, SIM_UNIT_DIALPUCK };

enum SimFaultKind : uint8_t { SIM_FAULT_WRITE, SIM_FAULT_READ, SIM_FAULT_HANG, SIM_FAULT_REFUSE, SIM_FAULT_STATE };

// Bits of SimScenario::Broken.
constexpr uint8_t SIM_BROKEN_LIST = 1;
constexpr uint8_t SIM_BROKEN_PATH = 2;
constexpr uint8_t SIM_BROKEN_OPEN = 4;
constexpr uint8_t SIM_BROKEN_IDS = 8;
constexpr uint8_t SIM_BROKEN_CAPS = 16;

struct SimFault {
    RequestStep Op;
    uint32_t Block;      // REQUEST_STEP_BLOCK: 0 = every block, K = the K-th only
    SimFaultKind Kind;
    uint32_t Value;      // refuse: the error code; state: byte 3
};

struct SimScenario {
    SimUnitKind Unit;
    uint32_t Others;
    bool Alien;
    bool Second;
    uint8_t Mode;
    uint16_t ControllerState;
    uint32_t TypeCode;
    uint16_t Firmware;
    uint16_t NewFirmware;
    uint32_t Bootloader;
    uint32_t UnitVersion;
    uint16_t InputLength;
    uint16_t OutputLength;
    uint32_t Fleet;
    uint32_t FaultCount;
    SimFault Faults[SIM_MAX_FAULTS];
    RequestStep UnplugOp;        // REQUEST_STEP_UNKNOWN: never
    uint32_t UnplugBlock;  // REQUEST_STEP_BLOCK: 0 = the first block, K = the K-th
    RequestStep ExtraOp;         // REQUEST_STEP_UNKNOWN: never
    uint32_t ExtraBlock;   // REQUEST_STEP_BLOCK: 0 = every block, K = the K-th
    bool ExtraAfter;       // the extra report follows the reply (a second copy of it)
    bool Busy;             // another program holds the unit
    bool EventsLost;       // watch sees "events lost" instead of arrivals and removals
    uint8_t Broken;        // SIM_BROKEN_* bits
};

// Fills `out` with every default.
void SimDefaultScenario(SimScenario* out);

// Parses a scenario text into `out` (defaults first). 0, or -1 with a one-line message in
// `error` (always terminated when errorCapacity > 0; may be null) that names the offending item.
int32_t SimParseScenario(const char* scenario, SimScenario* out, char* error, uint32_t errorCapacity);

// Resets the whole simulator (interfaces, unit, flash, faults, handles, log, clock to 0) and
// applies the scenario. 0, or -1 with the parser's message; after -1 every default is in effect.
// The real-time switch is left as it is (it is a way of running, not part of a scenario).
int32_t SimConfigure(const char* scenario, char* error, uint32_t errorCapacity);

// The front ends' entry: SimConfigure, then select the simulated table for the link.
inline int32_t SimSelect(const char* scenario, char* error, uint32_t errorCapacity)
{
    int32_t result = SimConfigure(scenario, error, errorCapacity);
    if (result == 0) SelectHidPlatform(&kSimHidPlatform);
    return result;
}

// SimConfigure("") and the real-time switch off.
void SimReset();

// ---- Test hooks --------------------------------------------------------------------------

// The unit disappears: it leaves the interface list, every write and read on its handles fails
// with 1167, pending replies are lost. Nothing happens when there is no unit or it is out already.
void SimUnplug();
// The unit comes back, fresh: unlocked, protection on, no pending replies, block count from 1.
// Handles opened before the unplugging stay dead. The controller keeps its flash and the
// application version the last run left (flash memory keeps its content).
void SimPlugIn();
bool SimUnitPresent();
// lost=1: the events of plugging in and out are lost on their way to the program.
bool SimEventsLost();
// The next controller of the fleet (fleet=N): the unit, pulled out before, comes back with a
// fresh controller as the scenario describes it (its firmware and flash as at the start).
// False when the unit is still in, or the fleet has no controller left.
bool SimPlugInNextController();

// ---- Clock -------------------------------------------------------------------------------

uint64_t SimNow();  // what Milliseconds answers
// On: Sleep really sleeps, each write takes a real millisecond, a hang waits for real, and the
// clock follows real time from its present value. Off: the virtual clock goes on from there.
void SimSetRealtime(bool on);
bool SimRealtime();
// How real-time waits wait (null: the thread sleeps). A page in the browser must not block its
// thread: it gives a wait that yields to the page meanwhile.
void SimSetRealtimeWait(void (*wait)(uint32_t milliseconds));

// ---- Interfaces, handles ------------------------------------------------------------------

enum SimRole : uint8_t { SIM_ROLE_OTHER, SIM_ROLE_ALIEN, SIM_ROLE_UNIT, SIM_ROLE_SECOND };

uint32_t SimInterfaceCount();                  // interfaces configured (present or not)
SimRole SimInterfaceRole(uint32_t index);
int32_t SimInterfaceIndex(SimRole role);       // the first with that role, or -1
const char16_t* SimInterfacePath(uint32_t index);  // null beyond the count
const char16_t* SimUnitPath();                 // the unit's path, null when unit=none
const char* SimUnitPathAscii();                // the same in 8-bit characters, "" when none
uint32_t SimOpenCount(uint32_t index);         // successful Opens of that interface
uint32_t SimCloseCount(uint32_t index);        // Closes of handles of that interface
uint32_t SimOpenHandleCount();                 // handles open now (all interfaces)
uint32_t SimOpenListCount();                   // interface lists open now
uint32_t SimBadCloseCount();                   // Close / CloseInterfaceList of something not open
uint32_t SimClaimCount();                      // successful Claims of the unit since configuration
uint32_t SimDiscardedReports();                // input reports thrown away by DiscardInput

// ---- The unit and the controller's flash -------------------------------------------------

bool SimUnitLocked();
bool SimWriteProtected();
uint16_t SimControllerFirmware();              // what the information block reports now
uint32_t SimLastRefusal();                     // the code of the last refusing reply, 0 if none
const uint8_t* SimFlash();                     // SIM_FLASH_SIZE bytes
uint32_t SimFlashBytesWritten();               // data bytes written since the last erase
uint32_t SimFlashBlocksWritten();              // data blocks accepted since the last erase
// True when the flash holds exactly this image: erased, `size` bytes written, equal byte for
// byte from address 0, and 0xFF from there to the end.
bool SimFlashHolds(const uint8_t* image, uint32_t size);

// ---- Traffic log -------------------------------------------------------------------------

constexpr uint32_t SIM_TRAFFIC_BYTES = 64;
constexpr uint32_t SIM_TRAFFIC_CAPACITY = 16384;

enum SimDirection : uint8_t { SIM_DIR_WRITE, SIM_DIR_READ };

struct SimTraffic {
    uint64_t TimeMs;           // the clock when the call returned
    SimDirection Direction;
    bool Ok;                   // what the call returned
    int32_t Interface;         // index of the handle's interface, -1 for a handle not open
    uint32_t Length;           // the length the caller passed
    uint32_t Error;            // the last error the call left
    uint8_t FirstByteBefore;   // reads: the caller's byte 0 before the call
    uint8_t Bytes[SIM_TRAFFIC_BYTES];  // write: the request; read: the reply delivered (zero when
                                       // none); the first min(Length, 64) bytes, the rest zero
};

uint32_t SimTrafficCount();                    // entries kept (at most SIM_TRAFFIC_CAPACITY)
uint32_t SimTrafficDropped();                  // entries not kept because the log was full
const SimTraffic* SimTrafficEntry(uint32_t index);  // null beyond the count
uint32_t SimRequestCount();                    // write attempts kept, failed ones included
const SimTraffic* SimRequest(uint32_t index);  // the index-th write attempt, null beyond
uint32_t SimRequestCountOf(uint8_t command);   // write attempts with byte 1 = command
void SimClearTraffic();
