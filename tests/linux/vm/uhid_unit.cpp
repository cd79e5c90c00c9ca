// Test equipment: a virtual programming unit on a real Linux HID stack. It plugs a HID device
// into the kernel through /dev/uhid with the unit's ids and a report descriptor of the
// lengths the scenario declares (requests report id 1, replies report id 2), and answers each
// output report with the simulated unit (sim/): the sim table's WriteReport, then its
// ReadReport, and the reply goes back to the kernel as an input report. Faults come from the
// same scenario language: `hang` sends no reply, `unplug=OP` destroys the device at OP.
//
//   velquor-uhid-unit [--scenario TEXT] [--flash FILE] [--log FILE]
//
// Runs until SIGTERM or SIGINT, then unplugs the device (if still present), writes the
// controller's flash (SIM_FLASH_SIZE bytes) to FILE and a summary line ("requests=N replies=N
// unplugged=0|1") to the log file.
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "link/device_link.h"
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

// The unit's report descriptor: a vendor collection with an output report (id 1) and an input
// report (id 2) of 8-bit fields, lengths counted with the id byte.
uint32_t BuildDescriptor(uint8_t* out, uint16_t inputLength, uint16_t outputLength)
{
    const uint32_t outCount = outputLength - 1u, inCount = inputLength - 1u;
    const uint8_t descriptor[] = {
        0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
        0x09, 0x01,              // Usage 1
        0xA1, 0x01,              // Collection (Application)
        0x15, 0x00,              //   Logical Minimum 0
        0x26, 0xFF, 0x00,        //   Logical Maximum 255
        0x75, 0x08,              //   Report Size 8
        0x85, REPORT_ID_REQUEST, //   Report ID 1
        0x09, 0x02,              //   Usage 2
        0x96, static_cast<uint8_t>(outCount), static_cast<uint8_t>(outCount >> 8),  // Report Count
        0x91, 0x02,              //   Output (Data, Variable, Absolute)
        0x85, REPORT_ID_REPLY,   //   Report ID 2
        0x09, 0x03,              //   Usage 3
        0x96, static_cast<uint8_t>(inCount), static_cast<uint8_t>(inCount >> 8),    // Report Count
        0x81, 0x02,              //   Input (Data, Variable, Absolute)
        0xC0,                    // End Collection
    };
    std::memcpy(out, descriptor, sizeof descriptor);
    return sizeof descriptor;
}

bool WriteFile(const char* path, const uint8_t* bytes, uint32_t size)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* scenarioText = "";
    const char* flashPath = nullptr;
    const char* logPath = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--scenario") == 0) {
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
    SimScenario scenario;
    if (SimParseScenario(scenarioText, &scenario, error, sizeof error) != 0 ||
        SimConfigure(scenarioText, error, sizeof error) != 0) {
        std::fprintf(stderr, "uhid-unit: %s\n", error);
        return 2;
    }
    if (scenario.Unit == SIM_UNIT_NONE || scenario.InputLength < 2 || scenario.OutputLength < 2 ||
        scenario.InputLength > UHID_DATA_MAX || scenario.OutputLength > UHID_DATA_MAX) {
        std::fputs("uhid-unit: the scenario needs a unit with report lengths of 2 to 4096\n", stderr);
        return 2;
    }
    SimSetRealtime(true);
    const HidPlatform& sim = kSimHidPlatform;
    PlatformHandle unit = sim.Open(SimUnitPath());
    if (unit == INVALID_PLATFORM_HANDLE) {
        std::fputs("uhid-unit: the simulated unit does not open\n", stderr);
        return 2;
    }

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "uhid-unit: /dev/uhid: %s\n", std::strerror(errno));
        return 2;
    }
    static uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    bool setbox = scenario.Unit == SIM_UNIT_SETBOX;
    std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "VELQUOR %s (virtual)",
                  setbox ? "SETBOX" : "DIALPUCK");
    event.u.create2.rd_size = static_cast<uint16_t>(
        BuildDescriptor(event.u.create2.rd_data, scenario.InputLength, scenario.OutputLength));
    event.u.create2.bus = 0x03;  // BUS_USB
    event.u.create2.vendor = UNIT_VENDOR_ID;
    event.u.create2.product = setbox ? PRODUCT_ID_SETBOX : PRODUCT_ID_DIALPUCK;
    if (!WriteEvent(fd, event)) return 2;

    uint32_t requests = 0, replies = 0;
    bool present = true;
    static uint8_t reply[UHID_DATA_MAX];
    while (!g_Stop) {
        struct pollfd entry = {fd, POLLIN, 0};
        int ready = poll(&entry, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0 || !present) continue;
        if (read(fd, &event, sizeof event) <= 0) continue;
        if (event.type == UHID_GET_REPORT || event.type == UHID_SET_REPORT) {
            // The unit has no feature reports.
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
            WriteEvent(fd, event);
            continue;
        }
        if (event.type != UHID_OUTPUT || event.u.output.rtype != UHID_OUTPUT_REPORT) continue;

        ++requests;
        if (!sim.WriteReport(unit, event.u.output.data, event.u.output.size, 0)) {
            if (sim.LastError() == SIM_ERROR_DEVICE_NOT_CONNECTED) {
                // Pulled out: the kernel removes the device and its node.
                std::memset(&event, 0, sizeof event);
                event.type = UHID_DESTROY;
                WriteEvent(fd, event);
                present = false;
            }
            continue;
        }
        reply[0] = REPORT_ID_REPLY;
        // A hanging command has queued nothing: the read fails at once and no reply goes out.
        if (!sim.ReadReport(unit, reply, scenario.InputLength, 0)) continue;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_INPUT2;
        event.u.input2.size = scenario.InputLength;
        std::memcpy(event.u.input2.data, reply, scenario.InputLength);
        if (WriteEvent(fd, event)) ++replies;
    }

    if (present) {
        std::memset(&event, 0, sizeof event);
        event.type = UHID_DESTROY;
        WriteEvent(fd, event);
    }
    close(fd);
    sim.Close(unit);

    int status = 0;
    if (flashPath != nullptr && !WriteFile(flashPath, SimFlash(), SIM_FLASH_SIZE)) {
        std::fprintf(stderr, "uhid-unit: can't write %s\n", flashPath);
        status = 1;
    }
    if (logPath != nullptr) {
        char line[96];
        int length = std::snprintf(line, sizeof line, "requests=%u replies=%u unplugged=%d\n", requests, replies,
                                   present ? 0 : 1);
        if (!WriteFile(logPath, reinterpret_cast<const uint8_t*>(line), static_cast<uint32_t>(length))) status = 1;
    }
    return status;
}
