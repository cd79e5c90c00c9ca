// The simulated programming unit behind the HID table: interfaces, handles, the unit's protocol,
// the controller's flash, faults, the clock and the traffic log (sim_unit.h).
#include "sim/sim_unit.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/device_link.h"
#include "link/flash_commands.h"

namespace {

constexpr uint32_t MAX_INTERFACES = SIM_MAX_OTHERS + 3;
constexpr uint32_t MAX_HANDLES = 32;
constexpr uint32_t MAX_LISTS = 4;
constexpr uint32_t REPLY_QUEUE_SIZE = 32;   // input reports the HID stack keeps for a reader
constexpr uint32_t PATH_CAPACITY = 128;

// Interfaces that aren't programming units declare these report lengths.
constexpr uint16_t OTHER_REPORT_LENGTH = 8;
constexpr uint16_t ALIEN_REPORT_LENGTH = 9;

// Handle and list values: a tag, the configuration's generation and the slot, never 0 or all ones.
constexpr uintptr_t HANDLE_TAG = 0x40000000u;
constexpr uintptr_t LIST_TAG = 0x20000000u;

struct SimReply {
    bool Lost;                          // fail=OP:read: the read of this reply fails
    uint8_t Bytes[REPORT_BUFFER_SIZE];
};

// A programming unit: the first one (with the controller) or the second one (none attached).
struct SimDevice {
    bool Present;
    uint32_t Epoch;             // raised at each plug-in; handles of older epochs are dead
    uint8_t Mode;
    uint16_t ControllerState;
    uint32_t UnitVersion;
    bool Locked;
    bool Protected;
    bool Erased;                // the current write session: erased ...
    bool Addressed;             // ... and a start address set
    uint32_t WritePointer;
    uint32_t BlockRequests;     // data requests since plug-in (block#K counts these)
    SimReply Queue[REPLY_QUEUE_SIZE];
    uint32_t QueueHead;
    uint32_t QueueCount;
};

struct SimInterface {
    SimRole Role;
    uint16_t VendorId;
    uint16_t ProductId;
    uint16_t InputLength;
    uint16_t OutputLength;
    char16_t Path[PATH_CAPACITY];
    char PathAscii[PATH_CAPACITY];
    uint32_t PathLength;
    uint32_t Opens;
    uint32_t Closes;
};

struct SimHandle {
    bool InUse;
    bool Claimed;
    uint32_t Interface;
    uint32_t Epoch;
};

struct SimList {
    bool InUse;
    uint32_t Count;
    uint32_t Interfaces[MAX_INTERFACES];
};

// The one process-wide record of the simulator.
struct Simulator {
    bool Configured;            // false until the first SimConfigure
    SimScenario Scenario;
    uint32_t Generation;        // raised by every configuration; stale handle values don't match
    uint32_t ControllersLeft;   // of the fleet, after the one plugged in first
    SimInterface Interfaces[MAX_INTERFACES];
    uint32_t InterfaceCount;
    SimDevice Devices[2];       // 0: the unit, 1: the second unit
    SimHandle Handles[MAX_HANDLES];
    SimList Lists[MAX_LISTS];
    uint32_t BadCloses;
    uint32_t Claims;
    uint32_t Discarded;
    uint32_t LastError;
    uint32_t LastRefusal;
    bool UnplugDone;
    // The controller behind the unit.
    uint16_t Firmware;
    uint32_t FlashBytesWritten;
    uint32_t FlashBlocksWritten;
    // Clock.
    uint64_t VirtualMs;
    bool Realtime;
    std::chrono::steady_clock::time_point RealBase;
    uint64_t RealBaseMs;
    // Traffic log.
    uint32_t TrafficCount;
    uint32_t TrafficDropped;
    uint32_t RequestCount;
};

Simulator g_Sim;
uint8_t g_Flash[SIM_FLASH_SIZE];
SimTraffic g_Traffic[SIM_TRAFFIC_CAPACITY];
uint32_t g_RequestIndex[SIM_TRAFFIC_CAPACITY];

// ---- Clock ----

uint64_t NowMs()
{
    if (!g_Sim.Realtime) return g_Sim.VirtualMs;
    auto elapsed = std::chrono::steady_clock::now() - g_Sim.RealBase;
    return g_Sim.RealBaseMs +
           static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// How a real-time pause waits: the thread sleeps, unless the front end gave a way of its own.
void (*g_RealtimeWait)(uint32_t milliseconds) = nullptr;

void Advance(uint32_t ms)
{
    if (!g_Sim.Realtime) {
        g_Sim.VirtualMs += ms;
    } else if (g_RealtimeWait != nullptr) {
        g_RealtimeWait(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// ---- Traffic log ----

void LogTraffic(SimDirection direction, bool ok, int32_t interfaceIndex, const uint8_t* bytes, uint32_t length,
                uint8_t firstByteBefore)
{
    if (g_Sim.TrafficCount >= SIM_TRAFFIC_CAPACITY) {
        ++g_Sim.TrafficDropped;
        return;
    }
    SimTraffic& t = g_Traffic[g_Sim.TrafficCount];
    t = SimTraffic{};
    t.TimeMs = NowMs();
    t.Direction = direction;
    t.Ok = ok;
    t.Interface = interfaceIndex;
    t.Length = length;
    t.Error = g_Sim.LastError;
    t.FirstByteBefore = firstByteBefore;
    if (bytes != nullptr) std::memcpy(t.Bytes, bytes, length < SIM_TRAFFIC_BYTES ? length : SIM_TRAFFIC_BYTES);
    if (direction == SIM_DIR_WRITE) g_RequestIndex[g_Sim.RequestCount++] = g_Sim.TrafficCount;
    ++g_Sim.TrafficCount;
}

// ---- Interfaces and handles ----

SimDevice* DeviceOf(uint32_t interfaceIndex)
{
    SimRole role = g_Sim.Interfaces[interfaceIndex].Role;
    if (role == SIM_ROLE_UNIT) return &g_Sim.Devices[0];
    if (role == SIM_ROLE_SECOND) return &g_Sim.Devices[1];
    return nullptr;
}

bool InterfacePresent(uint32_t interfaceIndex)
{
    const SimDevice* device = DeviceOf(interfaceIndex);
    return device == nullptr || device->Present;
}

bool IsBroken(uint32_t interfaceIndex, uint8_t what)
{
    return g_Sim.Interfaces[interfaceIndex].Role == SIM_ROLE_UNIT && (g_Sim.Scenario.Broken & what) != 0;
}

void AddInterface(SimRole role, uint16_t vendorId, uint16_t productId, uint16_t inputLength, uint16_t outputLength,
                  uint32_t instance)
{
    SimInterface& i = g_Sim.Interfaces[g_Sim.InterfaceCount++];
    i = SimInterface{};
    i.Role = role;
    i.VendorId = vendorId;
    i.ProductId = productId;
    i.InputLength = inputLength;
    i.OutputLength = outputLength;
    int n = std::snprintf(i.PathAscii, sizeof i.PathAscii,
                          "\\\\?\\hid#vid_%04x&pid_%04x#7&%08lx&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                          static_cast<unsigned>(vendorId), static_cast<unsigned>(productId),
                          static_cast<unsigned long>(instance));
    i.PathLength = n > 0 && static_cast<uint32_t>(n) < PATH_CAPACITY ? static_cast<uint32_t>(n) : 0;
    for (uint32_t k = 0; k <= i.PathLength; ++k) i.Path[k] = static_cast<char16_t>(i.PathAscii[k]);
}

// The slot of an open handle, or -1.
int32_t HandleSlot(PlatformHandle handle)
{
    if ((handle & ~static_cast<uintptr_t>(0xFFFFFF)) != HANDLE_TAG) return -1;
    uint32_t slot = static_cast<uint32_t>(handle & 0xFF);
    uint32_t generation = static_cast<uint32_t>((handle >> 8) & 0xFFFF);
    if (slot >= MAX_HANDLES || generation != (g_Sim.Generation & 0xFFFF) || !g_Sim.Handles[slot].InUse) return -1;
    return static_cast<int32_t>(slot);
}

int32_t ListSlot(InterfaceList list)
{
    if ((list & ~static_cast<uintptr_t>(0xFFFFFF)) != LIST_TAG) return -1;
    uint32_t slot = static_cast<uint32_t>(list & 0xFF);
    uint32_t generation = static_cast<uint32_t>((list >> 8) & 0xFFFF);
    if (slot >= MAX_LISTS || generation != (g_Sim.Generation & 0xFFFF) || !g_Sim.Lists[slot].InUse) return -1;
    return static_cast<int32_t>(slot);
}

// A handle whose unit went away (unplugged, or plugged in again since the handle was opened).
bool HandleDead(int32_t slot)
{
    const SimHandle& h = g_Sim.Handles[slot];
    const SimDevice* device = DeviceOf(h.Interface);
    return device != nullptr && (!device->Present || device->Epoch != h.Epoch);
}

bool AsciiEqualNoCase(const char16_t* a, const char16_t* b)
{
    for (;; ++a, ++b) {
        char16_t x = *a;
        char16_t y = *b;
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// ---- The unit ----

void FillOldApplication()
{
    for (uint32_t i = 0; i < SIM_FLASH_SIZE; ++i)
        g_Flash[i] = g_Sim.Scenario.Firmware == FIRMWARE_VERSION_NONE ? 0xFF : static_cast<uint8_t>(i * 7 + 0x5B);
}

// The unit comes up: unlocked, protection on, nothing pending.
void PowerUp(SimDevice* d)
{
    d->Locked = false;
    d->Protected = true;
    d->Erased = false;
    d->Addressed = false;
    d->WritePointer = 0;
    d->BlockRequests = 0;
    d->QueueHead = 0;
    d->QueueCount = 0;
}

void Unplug()
{
    SimDevice& d = g_Sim.Devices[0];
    if (g_Sim.Scenario.Unit == SIM_UNIT_NONE || !d.Present) return;
    d.Present = false;
    d.QueueHead = 0;
    d.QueueCount = 0;
}

bool OpMatches(RequestStep wanted, uint32_t wantedBlock, RequestStep op, uint32_t blockNumber)
{
    if (wanted != op || op == REQUEST_STEP_UNKNOWN) return false;
    return op != REQUEST_STEP_BLOCK || wantedBlock == 0 || wantedBlock == blockNumber;
}

const SimFault* FaultFor(RequestStep op, uint32_t blockNumber)
{
    for (uint32_t i = 0; i < g_Sim.Scenario.FaultCount; ++i) {
        const SimFault& f = g_Sim.Scenario.Faults[i];
        if (OpMatches(f.Op, f.Block, op, blockNumber)) return &f;
    }
    return nullptr;
}

void Refuse(uint8_t* reply, uint32_t code, uint8_t stateByte)
{
    reply[1] = REPLY_STATUS_ERROR;
    reply[2] = 4;
    reply[3] = stateByte;
    WriteLe32(reply + 4, code);
    g_Sim.LastRefusal = code;
}

// Why a controller command can't run now (0: it can). `flash` adds the write-session checks
// common to protection off, erase, start address and data.
uint32_t ControllerCheck(const SimDevice& d)
{
    if (d.Mode != UNIT_MODE_NORMAL) return SIM_UNIT_ERROR_WRONG_MODE;
    if (d.ControllerState != CONTROLLER_STATE_READY) return SIM_UNIT_ERROR_NO_CONTROLLER;
    return 0;
}

uint32_t FlashCheck(const SimDevice& d)
{
    uint32_t code = ControllerCheck(d);
    if (code != 0) return code;
    if (!d.Locked) return SIM_UNIT_ERROR_NOT_LOCKED;
    if (d.Protected) return SIM_UNIT_ERROR_PROTECTED;
    return 0;
}

void EndWriteSession(SimDevice* d)
{
    d->Erased = false;
    d->Addressed = false;
}

// Carries out one request on a unit and builds its reply. `request` holds 60 bytes (what the
// report did not carry reads as 0). Returns false when the unit refused it.
bool Answer(SimDevice* d, bool withController, const uint8_t* request, uint8_t* reply)
{
    std::memset(reply, 0, REPORT_BUFFER_SIZE);
    reply[0] = REPORT_ID_REPLY;
    reply[1] = request[1];
    const uint8_t length = request[2];
    const uint8_t parameter = request[3];
    uint32_t code = 0;

    switch (request[1]) {
    case CMD_GET_STATUS:
        if (length != 0) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        reply[2] = 12;
        reply[3] = d->Mode;
        if (d->Mode == UNIT_MODE_NORMAL) {
            WriteLe16(reply + 4, d->ControllerState);
            WriteLe16(reply + 6, SIM_CONTROLLER_STATE_EXTRA);
            WriteLe32(reply + 8, d->UnitVersion);
            WriteLe32(reply + 12, SIM_UNIT_VERSION_EXTRA);
        } else {
            reply[4] = SIM_MODE_INFO_A;
            WriteLe16(reply + 5, SIM_MODE_INFO_B);
            WriteLe32(reply + 7, SIM_MODE_INFO_C);
            WriteLe32(reply + 11, SIM_MODE_INFO_D);
            reply[15] = SIM_MODE_INFO_E;
        }
        return true;

    case CMD_READ_MEMORY:
        if (length != 12) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        if (ReadLe32(request + 4) != UNIT_VERSION_ADDRESS) { Refuse(reply, SIM_UNIT_ERROR_BAD_ADDRESS, 0); return false; }
        reply[2] = 12;
        WriteLe32(reply + 4, UNIT_VERSION_ADDRESS);
        WriteLe32(reply + 8, d->UnitVersion);
        WriteLe32(reply + 12, SIM_UNIT_VERSION_EXTRA);
        return true;

    case CMD_READ_CONTROLLER_INFO:
        if (length != 8) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        if (ReadLe32(request + 4) != CONTROLLER_INFO_SIZE || ReadLe32(request + 8) != 0xFFFFFFE0u) {
            Refuse(reply, SIM_UNIT_ERROR_BAD_PARAMETER, 0);
            return false;
        }
        code = withController ? ControllerCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code != 0) { Refuse(reply, code, 0); return false; }
        reply[2] = static_cast<uint8_t>(CONTROLLER_INFO_SIZE);
        if (g_Sim.Firmware == FIRMWARE_VERSION_NONE) {
            std::memset(reply + 4, 0xFF, CONTROLLER_INFO_SIZE);
        } else {
            for (uint32_t i = 0; i < CONTROLLER_INFO_SIZE; ++i) reply[4 + i] = static_cast<uint8_t>(0xC0 + i);
            WriteLe16(reply + 8, g_Sim.Firmware);
        }
        return true;

    case CMD_GET_CONTROLLER_IDENTITY:
        if (length != 0) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        code = withController ? ControllerCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code != 0) { Refuse(reply, code, 0); return false; }
        reply[2] = static_cast<uint8_t>(CONTROLLER_IDENTITY_SIZE);
        for (uint32_t i = 0; i < CONTROLLER_IDENTITY_SIZE; ++i) reply[4 + i] = static_cast<uint8_t>(0x80 + i);
        WriteLe32(reply + 4, g_Sim.Scenario.TypeCode);
        WriteLe32(reply + 8, g_Sim.Scenario.Bootloader);
        return true;

    case CMD_SYSTEM_LOCK:
        if (length != 1) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, d->Locked ? 1 : 0); return false; }
        if (parameter > 1) { Refuse(reply, SIM_UNIT_ERROR_BAD_PARAMETER, d->Locked ? 1 : 0); return false; }
        d->Locked = parameter == 1;
        if (!d->Locked) EndWriteSession(d);
        reply[3] = d->Locked ? 1 : 0;
        return true;

    case CMD_WRITE_PROTECT:
        if (length != 1) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, d->Protected ? 1 : 0); return false; }
        if (parameter > 1) { Refuse(reply, SIM_UNIT_ERROR_BAD_PARAMETER, d->Protected ? 1 : 0); return false; }
        code = withController ? ControllerCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code == 0 && parameter == 0 && !d->Locked) code = SIM_UNIT_ERROR_NOT_LOCKED;
        if (code != 0) { Refuse(reply, code, d->Protected ? 1 : 0); return false; }
        if (parameter == 1) {
            // Protection on seals what was written: the controller now holds the new application.
            if (d->Erased && d->Addressed && g_Sim.FlashBytesWritten > 0) g_Sim.Firmware = g_Sim.Scenario.NewFirmware;
            EndWriteSession(d);
        }
        d->Protected = parameter == 1;
        reply[3] = d->Protected ? 1 : 0;
        return true;

    case CMD_ERASE_FIRMWARE:
        if (length != 4) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        if (ReadLe32(request + 4) != FLASH_COMMAND_MAGIC) { Refuse(reply, SIM_UNIT_ERROR_BAD_MAGIC, 0); return false; }
        code = withController ? FlashCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code != 0) { Refuse(reply, code, 0); return false; }
        std::memset(g_Flash, 0xFF, SIM_FLASH_SIZE);
        g_Sim.Firmware = FIRMWARE_VERSION_NONE;
        g_Sim.FlashBytesWritten = 0;
        g_Sim.FlashBlocksWritten = 0;
        d->Erased = true;
        d->Addressed = false;
        d->WritePointer = 0;
        return true;

    case CMD_SET_WRITE_ADDRESS: {
        if (length != 9) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        if (parameter != 1) { Refuse(reply, SIM_UNIT_ERROR_BAD_PARAMETER, 0); return false; }
        if (ReadLe32(request + 8) != FLASH_COMMAND_MAGIC) { Refuse(reply, SIM_UNIT_ERROR_BAD_MAGIC, 0); return false; }
        uint32_t address = ReadLe32(request + 4);
        if (address >= SIM_FLASH_SIZE || address % 4 != 0) { Refuse(reply, SIM_UNIT_ERROR_BAD_ADDRESS, 0); return false; }
        code = withController ? FlashCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code == 0 && !d->Erased) code = SIM_UNIT_ERROR_NOT_ERASED;
        if (code != 0) { Refuse(reply, code, 0); return false; }
        d->WritePointer = address;
        d->Addressed = true;
        return true;
    }

    case CMD_WRITE_DATA: {
        if (length % 4 != 0 || length > 4 * MAX_BLOCK_WORDS) { Refuse(reply, SIM_UNIT_ERROR_BAD_LENGTH, 0); return false; }
        code = withController ? FlashCheck(*d) : SIM_UNIT_ERROR_NO_CONTROLLER;
        if (code == 0 && !d->Erased) code = SIM_UNIT_ERROR_NOT_ERASED;
        if (code == 0 && !d->Addressed) code = SIM_UNIT_ERROR_NO_ADDRESS;
        if (code == 0 && length > SIM_FLASH_SIZE - d->WritePointer) code = SIM_UNIT_ERROR_FLASH_FULL;
        if (code != 0) { Refuse(reply, code, 0); return false; }
        std::memcpy(g_Flash + d->WritePointer, request + 4, length);
        d->WritePointer += length;
        g_Sim.FlashBytesWritten += length;
        ++g_Sim.FlashBlocksWritten;
        return true;
    }

    default:
        Refuse(reply, SIM_UNIT_ERROR_UNKNOWN_COMMAND, 0);
        return false;
    }
}

// The state byte a refusal of this request carries: the lock or protection state, else 0.
uint8_t StateByteOf(const SimDevice& d, RequestStep op)
{
    if (op == REQUEST_STEP_LOCK || op == REQUEST_STEP_UNLOCK) return d.Locked ? 1 : 0;
    if (op == REQUEST_STEP_PROTECT_OFF || op == REQUEST_STEP_PROTECT_ON) return d.Protected ? 1 : 0;
    return 0;
}

void QueueReply(SimDevice* d, const uint8_t* reply, bool lost)
{
    if (d->QueueCount == REPLY_QUEUE_SIZE) {  // the oldest report is dropped, as the HID stack does
        d->QueueHead = (d->QueueHead + 1) % REPLY_QUEUE_SIZE;
        --d->QueueCount;
    }
    SimReply& r = d->Queue[(d->QueueHead + d->QueueCount) % REPLY_QUEUE_SIZE];
    r.Lost = lost;
    std::memcpy(r.Bytes, reply, REPORT_BUFFER_SIZE);
    ++d->QueueCount;
}

// The unit's own input report (extra=OP:before): another id than a reply's, and bytes that
// would read as a success if it were taken for one.
void QueueOwnReport(SimDevice* d)
{
    uint8_t report[REPORT_BUFFER_SIZE] = {};
    report[0] = SIM_EXTRA_REPORT_ID;
    report[1] = 0x01;
    report[3] = 0x01;
    QueueReply(d, report, false);
}

// Queues a reply, with the extra report of the scenario around it when `extra`.
void QueueWithExtra(SimDevice* d, const uint8_t* reply, bool lost, bool extra)
{
    if (extra && !g_Sim.Scenario.ExtraAfter) QueueOwnReport(d);
    QueueReply(d, reply, lost);
    if (extra && g_Sim.Scenario.ExtraAfter) QueueReply(d, reply, false);
}

// A request reached a unit (the write succeeded): carry it out, faults included.
void Receive(SimDevice* d, bool isFirst, const uint8_t* request, RequestStep op, const SimFault* fault, bool extra)
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    if (fault != nullptr && fault->Kind == SIM_FAULT_HANG) return;
    if (fault != nullptr && fault->Kind == SIM_FAULT_REFUSE) {
        std::memset(reply, 0, sizeof reply);
        reply[0] = REPORT_ID_REPLY;
        Refuse(reply, fault->Value, StateByteOf(*d, op));
        QueueWithExtra(d, reply, false, extra);
        return;
    }
    bool done = Answer(d, isFirst, request, reply);
    if (fault != nullptr && fault->Kind == SIM_FAULT_STATE) {
        reply[3] = static_cast<uint8_t>(fault->Value);
        if (done && (op == REQUEST_STEP_LOCK || op == REQUEST_STEP_UNLOCK)) {
            d->Locked = fault->Value != 0;
            if (!d->Locked) EndWriteSession(d);
        }
        if (done && (op == REQUEST_STEP_PROTECT_OFF || op == REQUEST_STEP_PROTECT_ON)) {
            d->Protected = fault->Value != 0;
            if (d->Protected) EndWriteSession(d);
        }
    }
    QueueWithExtra(d, reply, fault != nullptr && fault->Kind == SIM_FAULT_READ, extra);
}

// ---- The table's functions ----

// A table used before any configuration runs the default scenario.
void Ready()
{
    if (!g_Sim.Configured) SimConfigure("", nullptr, 0);
}

InterfaceList SimOpenInterfaceList()
{
    Ready();
    if ((g_Sim.Scenario.Broken & SIM_BROKEN_LIST) != 0) {
        g_Sim.LastError = SYSTEM_ERROR_GEN_FAILURE;
        return 0;
    }
    for (uint32_t slot = 0; slot < MAX_LISTS; ++slot) {
        SimList& list = g_Sim.Lists[slot];
        if (list.InUse) continue;
        list.InUse = true;
        list.Count = 0;
        for (uint32_t i = 0; i < g_Sim.InterfaceCount; ++i)
            if (InterfacePresent(i)) list.Interfaces[list.Count++] = i;
        g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
        return LIST_TAG | (static_cast<uintptr_t>(g_Sim.Generation & 0xFFFF) << 8) | slot;
    }
    g_Sim.LastError = SYSTEM_ERROR_TOO_MANY_OPEN_FILES;
    return 0;
}

int32_t SimGetInterfacePath(InterfaceList list, uint32_t index, char16_t* path, uint32_t capacity)
{
    Ready();
    int32_t slot = ListSlot(list);
    if (slot < 0) {
        g_Sim.LastError = SYSTEM_ERROR_INVALID_HANDLE;
        return INTERFACE_LIST_END;
    }
    const SimList& l = g_Sim.Lists[slot];
    if (index >= l.Count) {
        g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
        return INTERFACE_LIST_END;
    }
    uint32_t interfaceIndex = l.Interfaces[index];
    if (IsBroken(interfaceIndex, SIM_BROKEN_PATH)) {
        g_Sim.LastError = SYSTEM_ERROR_GEN_FAILURE;
        return INTERFACE_NO_DETAIL;
    }
    const SimInterface& i = g_Sim.Interfaces[interfaceIndex];
    if (path != nullptr && capacity > i.PathLength) std::memcpy(path, i.Path, (i.PathLength + 1) * sizeof(char16_t));
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    return static_cast<int32_t>(i.PathLength);
}

void SimCloseInterfaceList(InterfaceList list)
{
    if (list == 0) return;
    int32_t slot = ListSlot(list);
    if (slot < 0) {
        ++g_Sim.BadCloses;
        return;
    }
    g_Sim.Lists[slot].InUse = false;
}

PlatformHandle SimOpen(const char16_t* path)
{
    Ready();
    if (path == nullptr) {
        g_Sim.LastError = SYSTEM_ERROR_INVALID_PARAMETER;
        return INVALID_PLATFORM_HANDLE;
    }
    for (uint32_t i = 0; i < g_Sim.InterfaceCount; ++i) {
        if (!InterfacePresent(i) || !AsciiEqualNoCase(path, g_Sim.Interfaces[i].Path)) continue;
        if (IsBroken(i, SIM_BROKEN_OPEN)) {
            g_Sim.LastError = SYSTEM_ERROR_ACCESS_DENIED;
            return INVALID_PLATFORM_HANDLE;
        }
        for (uint32_t slot = 0; slot < MAX_HANDLES; ++slot) {
            SimHandle& h = g_Sim.Handles[slot];
            if (h.InUse) continue;
            const SimDevice* device = DeviceOf(i);
            h.InUse = true;
            h.Claimed = false;
            h.Interface = i;
            h.Epoch = device != nullptr ? device->Epoch : 0;
            ++g_Sim.Interfaces[i].Opens;
            g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
            return HANDLE_TAG | (static_cast<uintptr_t>(g_Sim.Generation & 0xFFFF) << 8) | slot;
        }
        g_Sim.LastError = SYSTEM_ERROR_TOO_MANY_OPEN_FILES;
        return INVALID_PLATFORM_HANDLE;
    }
    g_Sim.LastError = SYSTEM_ERROR_FILE_NOT_FOUND;
    return INVALID_PLATFORM_HANDLE;
}

// Common checks of the calls on an open handle. The slot, or -1 with the last error set.
int32_t UsableHandle(PlatformHandle handle)
{
    int32_t slot = HandleSlot(handle);
    if (slot < 0) {
        g_Sim.LastError = SYSTEM_ERROR_INVALID_HANDLE;
        return -1;
    }
    if (HandleDead(slot)) {
        g_Sim.LastError = SYSTEM_ERROR_DEVICE_NOT_CONNECTED;
        return -1;
    }
    return slot;
}

bool SimGetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    int32_t slot = UsableHandle(handle);
    if (slot < 0) return false;
    uint32_t i = g_Sim.Handles[slot].Interface;
    if (IsBroken(i, SIM_BROKEN_IDS)) {
        g_Sim.LastError = SYSTEM_ERROR_GEN_FAILURE;
        return false;
    }
    if (vendorId == nullptr || productId == nullptr) {
        g_Sim.LastError = SYSTEM_ERROR_INVALID_PARAMETER;
        return false;
    }
    *vendorId = g_Sim.Interfaces[i].VendorId;
    *productId = g_Sim.Interfaces[i].ProductId;
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    return true;
}

bool SimGetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    int32_t slot = UsableHandle(handle);
    if (slot < 0) return false;
    uint32_t i = g_Sim.Handles[slot].Interface;
    if (IsBroken(i, SIM_BROKEN_CAPS)) {
        g_Sim.LastError = SYSTEM_ERROR_GEN_FAILURE;
        return false;
    }
    if (inputLength == nullptr || outputLength == nullptr) {
        g_Sim.LastError = SYSTEM_ERROR_INVALID_PARAMETER;
        return false;
    }
    *inputLength = g_Sim.Interfaces[i].InputLength;
    *outputLength = g_Sim.Interfaces[i].OutputLength;
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    return true;
}

bool SimWriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t /*timeoutMs*/)
{
    Ready();
    const uint8_t* logged = report;
    int32_t slot = HandleSlot(handle);
    int32_t interfaceIndex = slot < 0 ? -1 : static_cast<int32_t>(g_Sim.Handles[slot].Interface);
    auto fail = [&](uint32_t error) {
        g_Sim.LastError = error;
        LogTraffic(SIM_DIR_WRITE, false, interfaceIndex, logged, logged != nullptr ? length : 0, 0);
        return false;
    };

    if (slot < 0) return fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (HandleDead(slot)) return fail(SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    const SimInterface& itf = g_Sim.Interfaces[interfaceIndex];
    SimDevice* device = DeviceOf(static_cast<uint32_t>(interfaceIndex));
    if (report == nullptr || length == 0 || length != itf.OutputLength || device == nullptr)
        return fail(SYSTEM_ERROR_INVALID_PARAMETER);
    if (report[0] != REPORT_ID_REQUEST) return fail(SYSTEM_ERROR_INVALID_PARAMETER);

    // What the unit receives: the report, cut to the request buffer; absent bytes read as 0.
    uint8_t request[REPORT_BUFFER_SIZE] = {};
    std::memcpy(request, report, length < REPORT_BUFFER_SIZE ? length : REPORT_BUFFER_SIZE);
    bool isFirst = itf.Role == SIM_ROLE_UNIT;
    RequestStep op = RequestStepOf(request, REPORT_BUFFER_SIZE);
    if (op == REQUEST_STEP_BLOCK) ++device->BlockRequests;

    const SimFault* fault = nullptr;
    bool extra = false;
    if (isFirst) {
        if (!g_Sim.UnplugDone &&
            OpMatches(g_Sim.Scenario.UnplugOp, g_Sim.Scenario.UnplugBlock == 0 ? 1 : g_Sim.Scenario.UnplugBlock, op,
                      device->BlockRequests)) {
            g_Sim.UnplugDone = true;
            Unplug();
            return fail(SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
        }
        fault = FaultFor(op, device->BlockRequests);
        if (fault != nullptr && fault->Kind == SIM_FAULT_WRITE) return fail(SYSTEM_ERROR_GEN_FAILURE);
        extra = OpMatches(g_Sim.Scenario.ExtraOp, g_Sim.Scenario.ExtraBlock, op, device->BlockRequests);
    }

    Advance(1);  // the report travels in one USB frame
    Receive(device, isFirst, request, op, fault, extra);
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    LogTraffic(SIM_DIR_WRITE, true, interfaceIndex, report, length, 0);
    return true;
}

bool SimReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    Ready();
    uint8_t firstByte = report != nullptr && length > 0 ? report[0] : 0;
    int32_t slot = HandleSlot(handle);
    int32_t interfaceIndex = slot < 0 ? -1 : static_cast<int32_t>(g_Sim.Handles[slot].Interface);
    auto fail = [&](uint32_t error) {
        g_Sim.LastError = error;
        LogTraffic(SIM_DIR_READ, false, interfaceIndex, nullptr, length, firstByte);
        return false;
    };

    if (slot < 0) return fail(SYSTEM_ERROR_INVALID_HANDLE);
    if (HandleDead(slot)) return fail(SYSTEM_ERROR_DEVICE_NOT_CONNECTED);
    const SimInterface& itf = g_Sim.Interfaces[interfaceIndex];
    if (report == nullptr || length == 0 || length != itf.InputLength) return fail(SYSTEM_ERROR_INVALID_PARAMETER);

    SimDevice* device = DeviceOf(static_cast<uint32_t>(interfaceIndex));
    if (device == nullptr || device->QueueCount == 0) {
        // Nothing comes: the whole time-out passes.
        Advance(timeoutMs);
        return fail(SYSTEM_ERROR_TIMEOUT);
    }
    SimReply reply = device->Queue[device->QueueHead];
    device->QueueHead = (device->QueueHead + 1) % REPLY_QUEUE_SIZE;
    --device->QueueCount;
    if (reply.Lost) return fail(SYSTEM_ERROR_GEN_FAILURE);

    // Exactly `length` bytes: the reply, then zeros when the declared report is longer.
    uint32_t copied = length < REPORT_BUFFER_SIZE ? length : REPORT_BUFFER_SIZE;
    std::memcpy(report, reply.Bytes, copied);
    if (length > copied) std::memset(report + copied, 0, length - copied);
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    LogTraffic(SIM_DIR_READ, true, interfaceIndex, report, length, firstByte);
    return true;
}

void SimClose(PlatformHandle handle)
{
    if (handle == INVALID_PLATFORM_HANDLE) return;
    int32_t slot = HandleSlot(handle);
    if (slot < 0) {
        ++g_Sim.BadCloses;
        return;
    }
    g_Sim.Handles[slot].InUse = false;
    g_Sim.Handles[slot].Claimed = false;
    ++g_Sim.Interfaces[g_Sim.Handles[slot].Interface].Closes;
}

bool SimClaim(PlatformHandle handle)
{
    int32_t slot = UsableHandle(handle);
    if (slot < 0) return false;
    uint32_t i = g_Sim.Handles[slot].Interface;
    bool held = g_Sim.Interfaces[i].Role == SIM_ROLE_UNIT && g_Sim.Scenario.Busy;
    for (uint32_t other = 0; other < MAX_HANDLES; ++other) {
        const SimHandle& h = g_Sim.Handles[other];
        held = held || (h.InUse && h.Claimed && h.Interface == i && static_cast<int32_t>(other) != slot);
    }
    if (held) {
        g_Sim.LastError = SYSTEM_ERROR_BUSY;
        return false;
    }
    g_Sim.Handles[slot].Claimed = true;
    ++g_Sim.Claims;
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    return true;
}

bool SimDiscardInput(PlatformHandle handle)
{
    int32_t slot = UsableHandle(handle);
    if (slot < 0) return false;
    SimDevice* device = DeviceOf(g_Sim.Handles[slot].Interface);
    if (device != nullptr) {
        g_Sim.Discarded += device->QueueCount;
        device->QueueHead = 0;
        device->QueueCount = 0;
    }
    g_Sim.LastError = SYSTEM_ERROR_SUCCESS;
    return true;
}

bool SimIsSimulation() { return true; }

void SimSleep(uint32_t milliseconds) { Advance(milliseconds); }

uint32_t SimLastError() { return g_Sim.LastError; }

uint64_t SimMilliseconds() { return NowMs(); }

}  // namespace

const HidPlatform kSimHidPlatform = {
    SimOpenInterfaceList, SimGetInterfacePath, SimCloseInterfaceList, SimOpen,         SimGetIds,
    SimGetReportLengths,  SimClaim,            SimDiscardInput,       SimWriteReport,  SimReadReport,
    SimClose,             SimSleep,            SimLastError,          SimMilliseconds, SimIsSimulation,
};

// ---- Configuration ----

int32_t SimConfigure(const char* scenario, char* error, uint32_t errorCapacity)
{
    SimScenario parsed;
    int32_t result = SimParseScenario(scenario, &parsed, error, errorCapacity);
    if (result != 0) SimDefaultScenario(&parsed);

    bool realtime = g_Sim.Realtime;
    uint32_t generation = g_Sim.Generation + 1;
    g_Sim = Simulator{};
    g_Sim.Configured = true;
    g_Sim.Generation = generation;
    g_Sim.Scenario = parsed;
    g_Sim.Firmware = parsed.Firmware;
    g_Sim.ControllersLeft = parsed.Fleet > 0 ? parsed.Fleet - 1 : 0;
    g_Sim.Realtime = realtime;
    g_Sim.RealBase = std::chrono::steady_clock::now();
    g_Sim.RealBaseMs = 0;
    FillOldApplication();

    for (uint32_t k = 0; k < parsed.Others; ++k)
        AddInterface(SIM_ROLE_OTHER, SIM_OTHER_VENDOR_ID, static_cast<uint16_t>(SIM_OTHER_PRODUCT_ID + k),
                     OTHER_REPORT_LENGTH, OTHER_REPORT_LENGTH, 0x0F1E2D3Cu + k);
    if (parsed.Alien)
        AddInterface(SIM_ROLE_ALIEN, UNIT_VENDOR_ID, SIM_ALIEN_PRODUCT_ID, ALIEN_REPORT_LENGTH, ALIEN_REPORT_LENGTH,
                     0x3C4D5E6Fu);
    if (parsed.Unit != SIM_UNIT_NONE)
        AddInterface(SIM_ROLE_UNIT, UNIT_VENDOR_ID,
                     parsed.Unit == SIM_UNIT_SETBOX ? PRODUCT_ID_SETBOX : PRODUCT_ID_DIALPUCK, parsed.InputLength,
                     parsed.OutputLength, 0x1A2B3C4Du);
    if (parsed.Second)
        AddInterface(SIM_ROLE_SECOND, UNIT_VENDOR_ID, PRODUCT_ID_DIALPUCK, REPORT_BUFFER_SIZE, REPORT_BUFFER_SIZE,
                     0x2B3C4D5Eu);

    SimDevice& unit = g_Sim.Devices[0];
    unit.Present = parsed.Unit != SIM_UNIT_NONE;
    unit.Mode = parsed.Mode;
    unit.ControllerState = parsed.ControllerState;
    unit.UnitVersion = parsed.UnitVersion;
    PowerUp(&unit);
    SimDevice& second = g_Sim.Devices[1];
    second.Present = parsed.Second;
    second.Mode = UNIT_MODE_NORMAL;
    second.ControllerState = 0;
    second.UnitVersion = SIM_SECOND_UNIT_VERSION;
    PowerUp(&second);
    return result;
}

void SimReset()
{
    SimSetRealtime(false);
    SimConfigure("", nullptr, 0);
}

void SimUnplug() { Unplug(); }

void SimPlugIn()
{
    SimDevice& d = g_Sim.Devices[0];
    if (g_Sim.Scenario.Unit == SIM_UNIT_NONE || d.Present) return;
    d.Present = true;
    ++d.Epoch;
    PowerUp(&d);
}

bool SimPlugInNextController()
{
    SimDevice& d = g_Sim.Devices[0];
    if (g_Sim.Scenario.Unit == SIM_UNIT_NONE || d.Present || g_Sim.ControllersLeft == 0) return false;
    --g_Sim.ControllersLeft;
    g_Sim.Firmware = g_Sim.Scenario.Firmware;
    g_Sim.FlashBytesWritten = 0;
    g_Sim.FlashBlocksWritten = 0;
    FillOldApplication();
    SimPlugIn();
    return true;
}

bool SimEventsLost() { return g_Sim.Scenario.EventsLost; }

bool SimUnitPresent() { return g_Sim.Scenario.Unit != SIM_UNIT_NONE && g_Sim.Devices[0].Present; }

uint64_t SimNow() { return NowMs(); }

void SimSetRealtime(bool on)
{
    if (on == g_Sim.Realtime) return;
    if (on) {
        g_Sim.RealBaseMs = g_Sim.VirtualMs;
        g_Sim.RealBase = std::chrono::steady_clock::now();
    } else {
        g_Sim.VirtualMs = NowMs();
    }
    g_Sim.Realtime = on;
}

bool SimRealtime() { return g_Sim.Realtime; }

void SimSetRealtimeWait(void (*wait)(uint32_t milliseconds)) { g_RealtimeWait = wait; }

uint32_t SimInterfaceCount() { return g_Sim.InterfaceCount; }

SimRole SimInterfaceRole(uint32_t index)
{
    return index < g_Sim.InterfaceCount ? g_Sim.Interfaces[index].Role : SIM_ROLE_OTHER;
}

int32_t SimInterfaceIndex(SimRole role)
{
    for (uint32_t i = 0; i < g_Sim.InterfaceCount; ++i)
        if (g_Sim.Interfaces[i].Role == role) return static_cast<int32_t>(i);
    return -1;
}

const char16_t* SimInterfacePath(uint32_t index)
{
    return index < g_Sim.InterfaceCount ? g_Sim.Interfaces[index].Path : nullptr;
}

const char16_t* SimUnitPath()
{
    int32_t i = SimInterfaceIndex(SIM_ROLE_UNIT);
    return i < 0 ? nullptr : g_Sim.Interfaces[i].Path;
}

const char* SimUnitPathAscii()
{
    int32_t i = SimInterfaceIndex(SIM_ROLE_UNIT);
    return i < 0 ? "" : g_Sim.Interfaces[i].PathAscii;
}

uint32_t SimOpenCount(uint32_t index) { return index < g_Sim.InterfaceCount ? g_Sim.Interfaces[index].Opens : 0; }

uint32_t SimCloseCount(uint32_t index) { return index < g_Sim.InterfaceCount ? g_Sim.Interfaces[index].Closes : 0; }

uint32_t SimOpenHandleCount()
{
    uint32_t n = 0;
    for (const SimHandle& h : g_Sim.Handles) n += h.InUse ? 1 : 0;
    return n;
}

uint32_t SimOpenListCount()
{
    uint32_t n = 0;
    for (const SimList& l : g_Sim.Lists) n += l.InUse ? 1 : 0;
    return n;
}

uint32_t SimBadCloseCount() { return g_Sim.BadCloses; }

uint32_t SimClaimCount() { return g_Sim.Claims; }

uint32_t SimDiscardedReports() { return g_Sim.Discarded; }

bool SimUnitLocked() { return g_Sim.Devices[0].Locked; }

bool SimWriteProtected() { return g_Sim.Devices[0].Protected; }

uint16_t SimControllerFirmware() { return g_Sim.Firmware; }

uint32_t SimLastRefusal() { return g_Sim.LastRefusal; }

const uint8_t* SimFlash() { return g_Flash; }

uint32_t SimFlashBytesWritten() { return g_Sim.FlashBytesWritten; }

uint32_t SimFlashBlocksWritten() { return g_Sim.FlashBlocksWritten; }

bool SimFlashHolds(const uint8_t* image, uint32_t size)
{
    if (image == nullptr || size > SIM_FLASH_SIZE || g_Sim.FlashBytesWritten != size) return false;
    if (std::memcmp(g_Flash, image, size) != 0) return false;
    for (uint32_t i = size; i < SIM_FLASH_SIZE; ++i)
        if (g_Flash[i] != 0xFF) return false;
    return true;
}

uint32_t SimTrafficCount() { return g_Sim.TrafficCount; }

uint32_t SimTrafficDropped() { return g_Sim.TrafficDropped; }

const SimTraffic* SimTrafficEntry(uint32_t index) { return index < g_Sim.TrafficCount ? &g_Traffic[index] : nullptr; }

uint32_t SimRequestCount() { return g_Sim.RequestCount; }

const SimTraffic* SimRequest(uint32_t index)
{
    return index < g_Sim.RequestCount ? &g_Traffic[g_RequestIndex[index]] : nullptr;
}

uint32_t SimRequestCountOf(uint8_t command)
{
    uint32_t n = 0;
    for (uint32_t k = 0; k < g_Sim.RequestCount; ++k) {
        const SimTraffic& t = g_Traffic[g_RequestIndex[k]];
        if (t.Length > 1 && t.Bytes[1] == command) ++n;
    }
    return n;
}

void SimClearTraffic()
{
    g_Sim.TrafficCount = 0;
    g_Sim.TrafficDropped = 0;
    g_Sim.RequestCount = 0;
}
