// Test equipment: the simulated programming unit (sim/) on a real Linux HID stack. Every
// interface of the simulator's list (foreign devices, the alien, the unit, a second unit) is
// plugged into the kernel through /dev/uhid with its ids and a report descriptor of its
// declared lengths (requests report id 1, replies report id 2, the unit's own input reports id
// 3). Each output report goes to the sim table's WriteReport on that interface, then its
// ReadReport as long as it yields reports, and each report read goes back to the kernel as an
// input report, in order. Faults come from the same scenario language: `hang` sends no reply,
// `unplug=OP` destroys the unit's device at OP, `extra=OP` sends a report of the unit's own
// before OP's reply or the reply twice.
//
//   velquor-uhid-unit [--scenario TEXT] [--flash FILE] [--log FILE] [--unnumbered]
//
// --unnumbered: the devices' descriptors give no report ids, so reports travel without them.
// Runs until SIGTERM or SIGINT, then unplugs every device still present, writes the
// controller's flash (SIM_FLASH_SIZE bytes) to FILE and the unit's traffic to the log file: a
// summary line "requests=N replies=N unplugged=0|1" (replies: every input report sent) and the
// requests in the order they came, equal neighbours counted, e.g.
// "order=status,info,identity,lock,protect-off,erase,address,block*2048,protect-on,unlock".
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "link/device_link.h"
#include "link/flash_commands.h"
#include "link/request_steps.h"
#include "sim/sim_unit.h"

namespace {

volatile sig_atomic_t g_Stop = 0;

void OnSignal(int) { g_Stop = 1; }

bool WriteEvent(int fd, const uhid_event& event)
{
    ssize_t written = write(fd, &event, sizeof event);
    if (written != static_cast<ssize_t>(sizeof event)) {
        std::fprintf(stderr, "uhid-unit: write to /dev/uhid failed: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// Whether the devices number their reports (--unnumbered: they don't).
bool g_Numbered = true;

// A device's report descriptor: a vendor collection with an output report (id 1) and two input
// reports (id 2, the replies, and id 3, the unit's own, of the same length) of 8-bit fields, or
// one output and one input report without ids; lengths counted with the id byte either way, as
// Windows counts them. (The kernel drops an input report whose id the descriptor does not
// declare, so the unit's own reports need theirs.)
uint32_t BuildDescriptor(uint8_t* out, uint16_t inputLength, uint16_t outputLength)
{
    const uint32_t outCount = outputLength - 1u, inCount = inputLength - 1u;
    const uint8_t head[] = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage 1
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum 0
        0x26, 0xFF, 0x00,  //   Logical Maximum 255
        0x75, 0x08,        //   Report Size 8
    };
    const uint8_t output[] = {
        0x09, 0x02,  // Usage 2
        0x96, static_cast<uint8_t>(outCount), static_cast<uint8_t>(outCount >> 8),  // Report Count
        0x91, 0x02,  // Output (Data, Variable, Absolute)
    };
    const uint8_t input[] = {
        0x09, 0x03,  // Usage 3
        0x96, static_cast<uint8_t>(inCount), static_cast<uint8_t>(inCount >> 8),  // Report Count
        0x81, 0x02,  // Input (Data, Variable, Absolute)
    };
    const uint8_t requestId[] = {0x85, REPORT_ID_REQUEST}, replyId[] = {0x85, REPORT_ID_REPLY},
                  ownId[] = {0x85, SIM_EXTRA_REPORT_ID}, end[] = {0xC0};
    uint32_t length = 0;
    auto put = [&](const uint8_t* bytes, uint32_t count) {
        std::memcpy(out + length, bytes, count);
        length += count;
    };
    put(head, sizeof head);
    if (g_Numbered) put(requestId, sizeof requestId);
    put(output, sizeof output);
    if (g_Numbered) put(replyId, sizeof replyId);
    put(input, sizeof input);
    if (g_Numbered) {
        put(ownId, sizeof ownId);
        put(input, sizeof input);
    }
    put(end, sizeof end);
    return length;
}

bool WriteFile(const char* path, const uint8_t* bytes, uint32_t size)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// One simulated interface plugged in through its own /dev/uhid file.
struct PluggedDevice {
    int Fd;
    PlatformHandle Handle;
    uint16_t InputLength;
    bool Present;
    bool IsUnit;
};

constexpr uint32_t MAX_DEVICES = SIM_MAX_OTHERS + 3;
// More input reports than one request ever makes the unit queue (a reply and one extra).
constexpr uint32_t MAX_INPUT_PER_REQUEST = 8;

// Creates the kernel's HID device for interface `index` of the simulator. False when the
// interface can't be plugged in (the reason is printed).
bool PlugIn(uint32_t index, PluggedDevice* device)
{
    const HidPlatform& sim = kSimHidPlatform;
    static uhid_event event;
    uint16_t vendorId = 0, productId = 0, inputLength = 0, outputLength = 0;
    device->Handle = sim.Open(SimInterfacePath(index));
    if (device->Handle == INVALID_PLATFORM_HANDLE || !sim.GetIds(device->Handle, &vendorId, &productId) ||
        !sim.GetReportLengths(device->Handle, &inputLength, &outputLength) || inputLength < 2 || outputLength < 2 ||
        inputLength > UHID_DATA_MAX || outputLength > UHID_DATA_MAX) {
        std::fprintf(stderr, "uhid-unit: interface %u can't be plugged in (lengths 2 to 4096 only)\n", index);
        return false;
    }
    device->Fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (device->Fd < 0) {
        std::fprintf(stderr, "uhid-unit: /dev/uhid: %s\n", std::strerror(errno));
        return false;
    }
    device->InputLength = inputLength;
    device->IsUnit = SimInterfaceRole(index) == SIM_ROLE_UNIT;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name,
                  "virtual HID %04x:%04x", vendorId, productId);
    event.u.create2.rd_size = static_cast<uint16_t>(BuildDescriptor(event.u.create2.rd_data, inputLength, outputLength));
    event.u.create2.bus = 0x03;  // BUS_USB
    event.u.create2.vendor = vendorId;
    event.u.create2.product = productId;
    device->Present = WriteEvent(device->Fd, event);
    return device->Present;
}

void Unplug(PluggedDevice* device)
{
    static uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_DESTROY;
    WriteEvent(device->Fd, event);
    device->Present = false;
}

// The unit's requests in order, as "name" or "name*count" for a run of equal ones.
constexpr uint32_t ORDER_SIZE = 4096;
char g_Order[ORDER_SIZE];
uint32_t g_OrderLength = 0;
bool g_OrderCut = false;
const char* g_LastName = nullptr;
uint32_t g_LastCount = 0;

const char* RequestName(const uint8_t* request, uint32_t size)
{
    if (size < 4) return "short";
    RequestStep step = RequestStepOf(request, size);
    return step == REQUEST_STEP_UNKNOWN ? "other" : RequestStepText(step);
}

// Ends the run of equal requests in g_Order (cut with "..." when it does not fit).
void FlushOrder()
{
    if (g_LastName == nullptr) return;
    char item[48];
    int length = g_LastCount == 1 ? std::snprintf(item, sizeof item, "%s%s", g_OrderLength == 0 ? "" : ",", g_LastName)
                                  : std::snprintf(item, sizeof item, "%s%s*%u", g_OrderLength == 0 ? "" : ",",
                                                  g_LastName, g_LastCount);
    if (length > 0 && g_OrderLength + static_cast<uint32_t>(length) + 4 < ORDER_SIZE) {
        std::memcpy(g_Order + g_OrderLength, item, static_cast<size_t>(length));
        g_OrderLength += static_cast<uint32_t>(length);
    } else if (!g_OrderCut) {
        std::memcpy(g_Order + g_OrderLength, "...", 3);
        g_OrderLength += 3;
        g_OrderCut = true;
    }
    g_Order[g_OrderLength] = '\0';
    g_LastName = nullptr;
    g_LastCount = 0;
}

void NoteRequest(const uint8_t* request, uint32_t size)
{
    const char* name = RequestName(request, size);
    if (g_LastName != nullptr && std::strcmp(g_LastName, name) != 0) FlushOrder();
    g_LastName = name;
    ++g_LastCount;
}

// Sends one input report of `device->InputLength` bytes (the report id in byte 0) to the kernel.
bool SendInput(PluggedDevice* device, const uint8_t* report)
{
    static uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_INPUT2;
    // Without ids a report is its data alone.
    uint32_t skip = g_Numbered ? 0 : 1;
    event.u.input2.size = static_cast<uint16_t>(device->InputLength - skip);
    std::memcpy(event.u.input2.data, report + skip, device->InputLength - skip);
    return WriteEvent(device->Fd, event);
}

// Answers the kernel's next event on a device. Counts the unit's requests and the input
// reports it sent.
void Serve(PluggedDevice* device, uint32_t* requests, uint32_t* replies)
{
    const HidPlatform& sim = kSimHidPlatform;
    static uhid_event event;
    static uint8_t reply[UHID_DATA_MAX];
    if (read(device->Fd, &event, sizeof event) <= 0) return;
    if (event.type == UHID_GET_REPORT || event.type == UHID_SET_REPORT) {
        // No interface has feature reports.
        bool get = event.type == UHID_GET_REPORT;
        uint32_t id = get ? event.u.get_report.id : event.u.set_report.id;
        std::memset(&event, 0, sizeof event);
        if (get) {
            event.type = UHID_GET_REPORT_REPLY;
            event.u.get_report_reply.id = id;
            event.u.get_report_reply.err = EIO;
        } else {
            event.type = UHID_SET_REPORT_REPLY;
            event.u.set_report_reply.id = id;
            event.u.set_report_reply.err = EIO;
        }
        WriteEvent(device->Fd, event);
        return;
    }
    if (event.type != UHID_OUTPUT || event.u.output.rtype != UHID_OUTPUT_REPORT) return;

    if (device->IsUnit) {
        ++*requests;
        NoteRequest(event.u.output.data, event.u.output.size);
    }
    // Without ids the kernel passes the report number 0 in byte 0; the unit reads it as a request.
    if (!g_Numbered && event.u.output.size > 0 && event.u.output.data[0] == 0) event.u.output.data[0] = REPORT_ID_REQUEST;
    if (!sim.WriteReport(device->Handle, event.u.output.data, event.u.output.size, 0)) {
        // Pulled out: the kernel removes the device and its node.
        if (sim.LastError() == SYSTEM_ERROR_DEVICE_NOT_CONNECTED) Unplug(device);
        return;
    }
    // Everything the request made the unit queue goes out, in order: its reply, and a report
    // of its own before it or a second copy after it (extra=). A hanging command has queued
    // nothing: the first read fails at once (time-out) and no reply goes out. A reply that
    // can't be read (fail=OP:read) is not sent, and the reports behind it still are.
    for (uint32_t taken = 0; taken < MAX_INPUT_PER_REQUEST; ++taken) {
        reply[0] = REPORT_ID_REPLY;
        if (!sim.ReadReport(device->Handle, reply, device->InputLength, 0)) {
            if (sim.LastError() == SYSTEM_ERROR_GEN_FAILURE) continue;
            break;
        }
        if (SendInput(device, reply) && device->IsUnit) ++*replies;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const char* scenarioText = "";
    const char* flashPath = nullptr;
    const char* logPath = nullptr;
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--unnumbered") == 0) {
            g_Numbered = false;
            --i;
        } else if (i + 1 >= argc) {
            std::fprintf(stderr, "uhid-unit: %s needs a value\n", argv[i]);
            return 2;
        } else if (std::strcmp(argv[i], "--scenario") == 0) {
            scenarioText = argv[i + 1];
        } else if (std::strcmp(argv[i], "--flash") == 0) {
            flashPath = argv[i + 1];
        } else if (std::strcmp(argv[i], "--log") == 0) {
            logPath = argv[i + 1];
        } else {
            std::fprintf(stderr, "uhid-unit: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    char error[200];
    if (SimConfigure(scenarioText, error, sizeof error) != 0) {
        std::fprintf(stderr, "uhid-unit: %s\n", error);
        return 2;
    }
    SimSetRealtime(true);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    static PluggedDevice devices[MAX_DEVICES];
    uint32_t count = SimInterfaceCount() < MAX_DEVICES ? SimInterfaceCount() : MAX_DEVICES;
    for (uint32_t i = 0; i < count; ++i) {
        if (!PlugIn(i, &devices[i])) return 2;
    }

    uint32_t requests = 0, replies = 0;
    bool unitUnplugged = false;
    while (!g_Stop) {
        struct pollfd entries[MAX_DEVICES];
        uint32_t polled[MAX_DEVICES];
        nfds_t used = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (!devices[i].Present) continue;
            entries[used] = {devices[i].Fd, POLLIN, 0};
            polled[used++] = i;
        }
        int ready = poll(entries, used, 100);
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t k = 0; ready > 0 && k < used; ++k) {
            if ((entries[k].revents & POLLIN) == 0) continue;
            PluggedDevice* device = &devices[polled[k]];
            Serve(device, &requests, &replies);
            if (device->IsUnit && !device->Present) unitUnplugged = true;
        }
    }

    for (uint32_t i = 0; i < count; ++i) {
        if (devices[i].Present) Unplug(&devices[i]);
        close(devices[i].Fd);
        kSimHidPlatform.Close(devices[i].Handle);
    }

    int status = 0;
    if (flashPath != nullptr && !WriteFile(flashPath, SimFlash(), SIM_FLASH_SIZE)) {
        std::fprintf(stderr, "uhid-unit: can't write %s\n", flashPath);
        status = 1;
    }
    if (logPath != nullptr) {
        FlushOrder();
        static char line[ORDER_SIZE + 96];
        int length = std::snprintf(line, sizeof line, "requests=%u replies=%u unplugged=%d\norder=%s\n", requests,
                                   replies, unitUnplugged ? 1 : 0, g_Order);
        if (!WriteFile(logPath, reinterpret_cast<const uint8_t*>(line), static_cast<uint32_t>(length))) status = 1;
    }
    return status;
}
