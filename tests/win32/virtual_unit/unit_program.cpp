// velquor_vunit.exe: the virtual programming unit's user-mode half (test equipment). It plugs
// units into Wine's HID stack through velquor_vunit.sys and answers for them exactly as the
// simulated unit (sim/sim_unit.h) answers: every output report the updater writes goes to the
// simulator, and the simulator's reply goes back as an input report.
//
//   velquor_vunit plug N [identity]      plugs unit N in and returns once its HID interface is listed
//   velquor_vunit unplug N               pulls unit N out
//   velquor_vunit serve N [options]      plugs unit N in, answers until stopped, pulls it out
//   velquor_vunit run N [options] -- PROGRAM [ARGUMENTS]
//                                        serves while PROGRAM runs; PROGRAM's exit code
//   velquor_vunit check                  plugs unit 7 in, exchanges a status request with it
//                                        through hid.dll (answered with the unit's own report,
//                                        id 3, and then the reply), pulls it out: the stack works
//
// identity: --vendor V --product P --in I --out O (V, P hexadecimal or decimal). For serve and
// run, the product defaults to the scenario's unit (setbox 2, dialpuck 1) and the lengths to its
// inlen and outlen; the vendor to 0x21B8.
// options:  --scenario TEXT   the simulator's scenario (sim/sim_unit.h), "" by default
//           --files PREFIX    at the end, PREFIX.flash (the controller's flash) and PREFIX.log
//           --limit SECONDS   the longest time served (default 900)
//
// Serving ends when the named event VelquorUnitStopN is set (the unit is then pulled out, as a
// user pulls a unit out), when the device is removed from outside, when the scenario unplugs the
// unit (unplug=OP: at that request the device is removed with DIF_REMOVE instead of answered),
// or at the limit. The named event VelquorUnitReadyN is set once the unit is listed and served.
//
// After each request, every input report the simulated unit queued goes back, in its order: the
// reply, and what the scenario adds around it (extra=OP: a report of the unit's own, id 3,
// before the reply, or the reply a second time after it).
//
// The log has one line per event and per request, times in milliseconds of the performance
// counter (the same clock in every process of the machine); a request's time is when the driver
// received it, and the number of input reports sent back for it follows:
//   event plug-start|present|unplug-start|gone|removed|stopped|limit <ms>
//   request <ms> <command byte, hex> <byte 2, hex> <byte 3, hex> answered|silent|unplugged <reports>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

extern "C" {
#include <hidsdi.h>
}

#include "sim/sim_unit.h"
#include "tests/win32/virtual_unit/unit_install.h"

using namespace virtual_unit;

namespace {

constexpr uint32_t kPlugLimitMs = 30000;
constexpr uint16_t kUnitVendorId = 0x21B8;
constexpr uint32_t kCheckUnit = 7;

enum class EndReason { Stopped, Removed, Unplugged, Limit, Failed };

const char* ReasonName(EndReason reason)
{
    switch (reason) {
    case EndReason::Stopped: return "stopped";
    case EndReason::Removed: return "removed";
    case EndReason::Unplugged: return "unplugged";
    case EndReason::Limit: return "limit";
    case EndReason::Failed: return "failed";
    }
    return "?";
}

struct Request {
    double Ms;
    uint8_t Bytes[4];
    const char* Outcome;
    uint32_t Reports;  // input reports sent back for it
};

// The most input reports one request is answered with; a simulated unit queues at most three.
constexpr uint32_t kMaxReportsPerRequest = 8;

struct Options {
    uint32_t Number = 0;
    std::string Scenario;
    int32_t VendorId = -1;  // -1: the default
    int32_t ProductId = -1;
    int32_t InputLength = -1;
    int32_t OutputLength = -1;
    std::wstring Files;
    uint32_t LimitSeconds = 900;
    std::wstring Program;  // run: the command line after "--"
};

// Everything the serving thread shares with the main thread. The simulator is touched by the
// serving thread only, and by the main thread once that has ended.
struct Server {
    Options Settings;
    UnitIdentity Identity = {};
    PlatformHandle SimUnit = INVALID_PLATFORM_HANDLE;
    HANDLE Control = INVALID_HANDLE_VALUE;
    HANDLE Quit = nullptr;    // set by the main thread: stop serving
    HANDLE Thread = nullptr;
    EndReason Reason = EndReason::Stopped;
    std::vector<Request> Requests;
    std::vector<std::pair<std::string, double>> Events;
    std::string Error;
};

std::wstring Widen(const char* text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(static_cast<size_t>(size > 0 ? size - 1 : 0), L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), size);
    return result;
}

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring EventName(const wchar_t* kind, uint32_t number)
{
    return std::wstring(L"VelquorUnit") + kind + std::to_wstring(number);
}

// The driver package lies next to this program.
std::wstring InfPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? L"." : folder.substr(0, slash);
    return folder + L"\\velquor_vunit.inf";
}

bool ParseNumber(const char* text, int32_t* value)
{
    char* end = nullptr;
    long number = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || number < 0 || number > 0xFFFF) return false;
    *value = static_cast<int32_t>(number);
    return true;
}

// Parses argv[2..] into `options`; false with a message on stderr.
bool ParseOptions(int argc, wchar_t** argv, Options* options, bool withNumber)
{
    int i = 2;
    if (withNumber) {
        int32_t number = 0;
        if (argc <= i || !ParseNumber(Narrow(argv[i]).c_str(), &number) || number >= VUNIT_MAX_UNITS) {
            std::fprintf(stderr, "velquor_vunit: a unit number 0..%d is needed\n", VUNIT_MAX_UNITS - 1);
            return false;
        }
        options->Number = static_cast<uint32_t>(number);
        ++i;
    }
    for (; i < argc; ++i) {
        std::string option = Narrow(argv[i]);
        if (option == "--") {
            for (++i; i < argc; ++i) {
                if (!options->Program.empty()) options->Program += L' ';
                options->Program += L"\"" + std::wstring(argv[i]) + L"\"";
            }
            break;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "velquor_vunit: %s needs a value\n", option.c_str());
            return false;
        }
        std::string value = Narrow(argv[++i]);
        int32_t number = 0;
        bool ok = true;
        if (option == "--scenario") options->Scenario = value;
        else if (option == "--files") options->Files = Widen(value.c_str());
        else if (option == "--vendor") ok = ParseNumber(value.c_str(), &options->VendorId);
        else if (option == "--product") ok = ParseNumber(value.c_str(), &options->ProductId);
        else if (option == "--in") ok = ParseNumber(value.c_str(), &options->InputLength);
        else if (option == "--out") ok = ParseNumber(value.c_str(), &options->OutputLength);
        else if (option == "--limit") {
            ok = ParseNumber(value.c_str(), &number);
            options->LimitSeconds = static_cast<uint32_t>(number);
        } else {
            std::fprintf(stderr, "velquor_vunit: unknown option %s\n", option.c_str());
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "velquor_vunit: %s %s is not a number\n", option.c_str(), value.c_str());
            return false;
        }
    }
    return true;
}

// The identity to plug in: the options where given, else what the scenario declares.
UnitIdentity IdentityFor(const Options& options, const SimScenario& scenario)
{
    UnitIdentity identity;
    identity.VendorId = static_cast<uint16_t>(options.VendorId >= 0 ? options.VendorId : kUnitVendorId);
    identity.ProductId = static_cast<uint16_t>(options.ProductId >= 0 ? options.ProductId
                                               : scenario.Unit == SIM_UNIT_DIALPUCK ? 1
                                                                                    : 2);
    identity.InputLength = static_cast<uint16_t>(options.InputLength >= 0 ? options.InputLength : scenario.InputLength);
    identity.OutputLength =
        static_cast<uint16_t>(options.OutputLength >= 0 ? options.OutputLength : scenario.OutputLength);
    return identity;
}

void Note(Server* server, const char* event) { server->Events.emplace_back(event, NowMs()); }

// ---- Serving ----------------------------------------------------------------------------------

// Waits for the next output report; false with the reason when serving ends instead.
bool NextOutput(Server* server, VUNIT_REPORT_RECORD* record, EndReason* reason)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD bytes = 0;
    bool got = false;
    if (!DeviceIoControl(server->Control, IOCTL_VUNIT_GET_OUTPUT, nullptr, 0, record, sizeof *record, nullptr,
                         &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        HANDLE waits[2] = {overlapped.hEvent, server->Quit};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) CancelIoEx(server->Control, &overlapped);
    }
    got = GetOverlappedResult(server->Control, &overlapped, &bytes, TRUE) && bytes == sizeof *record;
    DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    if (got) return true;
    // Cancelled: the main thread ends serving. Anything else: the device has gone (Wine turns
    // STATUS_DELETE_PENDING into ERROR_ACCESS_DENIED, STATUS_DEVICE_NOT_CONNECTED into 1167).
    *reason = error == ERROR_OPERATION_ABORTED ? EndReason::Stopped : EndReason::Removed;
    return false;
}

bool PushInput(Server* server, const uint8_t* report, uint32_t length)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD bytes = 0;
    bool ok = DeviceIoControl(server->Control, IOCTL_VUNIT_PUSH_INPUT, const_cast<uint8_t*>(report), length, nullptr,
                              0, nullptr, &overlapped) ||
              GetLastError() == ERROR_IO_PENDING;
    ok = ok && GetOverlappedResult(server->Control, &overlapped, &bytes, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok;
}

DWORD WINAPI ServeReports(void* context)
{
    Server* server = static_cast<Server*>(context);
    const HidPlatform& sim = kSimHidPlatform;
    const uint32_t outputLength = server->Identity.OutputLength;
    const uint32_t inputLength = server->Identity.InputLength;
    for (;;) {
        VUNIT_REPORT_RECORD record;
        EndReason reason = EndReason::Stopped;
        if (!NextOutput(server, &record, &reason)) {
            server->Reason = reason;
            if (reason == EndReason::Removed) Note(server, "removed");
            return 0;
        }
        // Arrival: when the driver received the report.
        const double arrival = record.Frequency != 0 ? static_cast<double>(record.Counter) * 1000.0 /
                                                           static_cast<double>(record.Frequency)
                                                     : NowMs();
        Request request = {arrival, {0, 0, 0, 0}, "answered", 0};
        std::memcpy(request.Bytes, record.Bytes, sizeof request.Bytes);

        // The simulated unit takes the report as the updater wrote it, cut or padded to the
        // length it declares itself.
        uint8_t report[VUNIT_MAX_REPORT] = {};
        std::memcpy(report, record.Bytes, record.Length < sizeof report ? record.Length : sizeof report);
        uint32_t simOutput = outputLength <= sizeof report ? outputLength : static_cast<uint32_t>(sizeof report);
        if (!sim.WriteReport(server->SimUnit, report, simOutput, 0)) {
            if (!SimUnitPresent()) {
                // unplug=OP: the unit goes instead of answering.
                request.Outcome = "unplugged";
                server->Requests.push_back(request);
                Note(server, "unplug-start");
                std::string error;
                if (!PullOut(server->Settings.Number, kPlugLimitMs, &error)) server->Error = error;
                Note(server, "gone");
                server->Reason = EndReason::Unplugged;
                return 0;
            }
            // A write the simulated unit refuses: the real unit never sees it, and never answers.
            request.Outcome = "silent";
            server->Requests.push_back(request);
            continue;
        }
        // Whatever the simulated unit queued is there at once, or never comes (fail=OP:hang). A
        // reply the scenario loses (fail=OP:read) is left out, and what follows it still goes.
        bool pushed = true;
        for (uint32_t taken = 0; pushed && taken < kMaxReportsPerRequest && inputLength <= VUNIT_MAX_REPORT; ++taken) {
            uint8_t reply[VUNIT_MAX_REPORT] = {};
            if (!sim.ReadReport(server->SimUnit, reply, inputLength, 0)) {
                if (sim.LastError() == SYSTEM_ERROR_TIMEOUT) break;
                continue;
            }
            pushed = PushInput(server, reply, inputLength);
            request.Reports += pushed ? 1 : 0;
        }
        if (request.Reports == 0) request.Outcome = "silent";
        server->Requests.push_back(request);
        if (!pushed) {
            server->Reason = EndReason::Removed;
            Note(server, "removed");
            return 0;
        }
    }
}

bool WriteFileBytes(const std::wstring& path, const void* bytes, size_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

bool WriteResults(const Server& server)
{
    if (server.Settings.Files.empty()) return true;
    std::string log;
    char line[160];
    std::snprintf(line, sizeof line, "unit %u vendor 0x%04x product 0x%04x input %u output %u end %s\n",
                  server.Settings.Number, server.Identity.VendorId, server.Identity.ProductId,
                  server.Identity.InputLength, server.Identity.OutputLength, ReasonName(server.Reason));
    log += line;
    for (const auto& event : server.Events) {
        std::snprintf(line, sizeof line, "event %s %.3f\n", event.first.c_str(), event.second);
        log += line;
    }
    for (const Request& r : server.Requests) {
        std::snprintf(line, sizeof line, "request %.3f %02x %02x %02x %s %u\n", r.Ms, r.Bytes[1], r.Bytes[2],
                      r.Bytes[3], r.Outcome, r.Reports);
        log += line;
    }
    if (!server.Error.empty()) log += "error " + server.Error + "\n";
    return WriteFileBytes(server.Settings.Files + L".flash", SimFlash(), SIM_FLASH_SIZE) &&
           WriteFileBytes(server.Settings.Files + L".log", log.data(), log.size());
}

// Configures the simulator, plugs the unit in and starts serving it. False with a message on
// stderr; the unit is then out again.
bool StartServing(Server* server)
{
    const Options& options = server->Settings;
    SimScenario scenario;
    char message[256] = {};
    if (SimParseScenario(options.Scenario.c_str(), &scenario, message, sizeof message) != 0 ||
        SimConfigure(options.Scenario.c_str(), message, sizeof message) != 0) {
        std::fprintf(stderr, "velquor_vunit: scenario: %s\n", message);
        return false;
    }
    if (scenario.Unit == SIM_UNIT_NONE) {
        std::fprintf(stderr, "velquor_vunit: the scenario has no unit to serve\n");
        return false;
    }
    // The simulator's own clock is not used: every pause here is real.
    SimSetRealtime(false);
    server->SimUnit = kSimHidPlatform.Open(SimUnitPath());
    if (server->SimUnit == INVALID_PLATFORM_HANDLE) {
        std::fprintf(stderr, "velquor_vunit: the simulated unit can't be opened\n");
        return false;
    }
    server->Identity = IdentityFor(options, scenario);

    Note(server, "plug-start");
    std::string error;
    if (!PlugIn(options.Number, server->Identity, InfPath(), kPlugLimitMs, &error)) {
        std::fprintf(stderr, "velquor_vunit: unit %u can't be plugged in: %s\n", options.Number, error.c_str());
        PullOut(options.Number, kPlugLimitMs, &error);
        return false;
    }
    Note(server, "present");
    server->Control = OpenControl(options.Number);
    server->Quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (server->Control == INVALID_HANDLE_VALUE || server->Quit == nullptr) {
        std::fprintf(stderr, "velquor_vunit: the control device of unit %u can't be opened (error %lu)\n",
                     options.Number, static_cast<unsigned long>(GetLastError()));
        PullOut(options.Number, kPlugLimitMs, &error);
        return false;
    }
    server->Thread = CreateThread(nullptr, 0, ServeReports, server, 0, nullptr);
    if (server->Thread == nullptr) {
        PullOut(options.Number, kPlugLimitMs, &error);
        return false;
    }
    return true;
}

// Ends serving (the thread's own end, or `reason`), pulls the unit out if it is still in,
// writes the files. True when everything worked.
bool FinishServing(Server* server, EndReason reason)
{
    bool threadEnded = WaitForSingleObject(server->Thread, 0) == WAIT_OBJECT_0;
    SetEvent(server->Quit);
    WaitForSingleObject(server->Thread, INFINITE);
    CloseHandle(server->Thread);
    if (!threadEnded) server->Reason = reason;
    if (server->Reason == EndReason::Stopped || server->Reason == EndReason::Limit) {
        Note(server, server->Reason == EndReason::Stopped ? "stopped" : "limit");
        Note(server, "unplug-start");
        std::string error;
        if (!PullOut(server->Settings.Number, kPlugLimitMs, &error)) server->Error = error;
        Note(server, "gone");
    }
    CloseHandle(server->Control);
    CloseHandle(server->Quit);
    kSimHidPlatform.Close(server->SimUnit);
    bool written = WriteResults(*server);
    if (!server->Error.empty()) std::fprintf(stderr, "velquor_vunit: %s\n", server->Error.c_str());
    if (!written) std::fprintf(stderr, "velquor_vunit: the result files can't be written\n");
    return written && server->Error.empty();
}

int Serve(const Options& options)
{
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, EventName(L"Stop", options.Number).c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, EventName(L"Ready", options.Number).c_str());
    if (stop == nullptr || ready == nullptr) return 1;
    ResetEvent(ready);
    Server server;
    server.Settings = options;
    if (!StartServing(&server)) return 3;

    PROCESS_INFORMATION child = {};
    if (!options.Program.empty()) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring commandLine = options.Program;
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &child)) {
            std::fprintf(stderr, "velquor_vunit: %s can't be started (error %lu)\n", Narrow(options.Program).c_str(),
                         static_cast<unsigned long>(GetLastError()));
            FinishServing(&server, EndReason::Failed);
            return 1;
        }
        CloseHandle(child.hThread);
    }
    SetEvent(ready);

    HANDLE waits[3] = {stop, server.Thread, child.hProcess};
    DWORD count = child.hProcess != nullptr ? 3 : 2;
    DWORD woken = WaitForMultipleObjects(count, waits, FALSE, options.LimitSeconds * 1000u);
    ResetEvent(ready);
    EndReason reason = woken == WAIT_TIMEOUT ? EndReason::Limit : EndReason::Stopped;
    if (woken == WAIT_TIMEOUT && child.hProcess != nullptr) TerminateProcess(child.hProcess, 1);
    bool finished = FinishServing(&server, reason);
    std::printf("velquor_vunit: unit %u served %zu requests, end: %s\n", options.Number, server.Requests.size(),
                ReasonName(server.Reason));

    if (child.hProcess == nullptr) return finished ? 0 : 1;
    DWORD exitCode = 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hProcess);
    return finished ? static_cast<int>(exitCode) : 1;
}

// ---- The stack check --------------------------------------------------------------------------

// The scenario of the stack check: the status request is answered with a report of the unit's
// own (id 3) before the reply, so that the check also finds out whether both input reports
// pass hidclass, which drops the ids a unit does not declare.
constexpr char kCheckScenario[] = "extra=status";

// Reads one input report of `length` bytes into `report`, waiting at most 5 s.
bool ReadInputReport(HANDLE device, OVERLAPPED* overlapped, uint8_t* report, DWORD length)
{
    DWORD bytes = 0;
    ResetEvent(overlapped->hEvent);
    bool ok = ReadFile(device, report, length, nullptr, overlapped) || GetLastError() == ERROR_IO_PENDING;
    if (ok && WaitForSingleObject(overlapped->hEvent, 5000) != WAIT_OBJECT_0) CancelIoEx(device, overlapped);
    return ok && GetOverlappedResult(device, overlapped, &bytes, TRUE) && bytes == length;
}

// One status request through hid.dll to the unit at `path`, as the updater sends it. True when
// the unit's own report and then the simulated unit's reply come back; the time of the exchange
// in `ms`.
bool ExchangeStatus(const std::wstring& path, double* ms, std::string* error)
{
    HANDLE device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        *error = "the unit can't be opened, error " + std::to_string(GetLastError());
        return false;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps = {};
    bool ok = HidD_GetAttributes(device, &attributes) && HidD_GetPreparsedData(device, &preparsed) &&
              HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (preparsed != nullptr) HidD_FreePreparsedData(preparsed);
    if (!ok || attributes.VendorID != kUnitVendorId || attributes.ProductID != 2 || caps.InputReportByteLength != 60 ||
        caps.OutputReportByteLength != 60) {
        *error = "the unit declares vendor " + std::to_string(attributes.VendorID) + ", product " +
                 std::to_string(attributes.ProductID) + ", reports " + std::to_string(caps.InputReportByteLength) +
                 "/" + std::to_string(caps.OutputReportByteLength);
        CloseHandle(device);
        return false;
    }
    uint8_t request[60] = {1, 0x08};
    uint8_t own[60] = {};
    uint8_t reply[60] = {};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD bytes = 0;
    double start = NowMs();
    ok = (WriteFile(device, request, sizeof request, nullptr, &overlapped) || GetLastError() == ERROR_IO_PENDING) &&
         GetOverlappedResult(device, &overlapped, &bytes, TRUE) && bytes == sizeof request;
    const char* missing = ok ? nullptr : "the request could not be written";
    if (ok && !(ok = ReadInputReport(device, &overlapped, own, sizeof own))) missing = "no first input report";
    if (ok && !(ok = ReadInputReport(device, &overlapped, reply, sizeof reply))) missing = "no second input report";
    DWORD lastError = GetLastError();
    *ms = NowMs() - start;
    CloseHandle(overlapped.hEvent);
    CloseHandle(device);
    // First the unit's own report (id 3), then the status reply: report 2, the command echoed,
    // mode 0, controller state 3.
    if (!ok || own[0] != SIM_EXTRA_REPORT_ID || reply[0] != 2 || reply[1] != 0x08 || reply[3] != 0 || reply[4] != 3) {
        *error = std::string(missing != nullptr ? missing : "unexpected reports") + " (error " +
                 std::to_string(lastError) + "; reports read: " + std::to_string(own[0]) + " " +
                 std::to_string(own[1]) + ", then " + std::to_string(reply[0]) + " " + std::to_string(reply[1]) + ")";
        return false;
    }
    return true;
}

int Check()
{
    Server server;
    server.Settings.Number = kCheckUnit;
    server.Settings.Scenario = kCheckScenario;
    double start = NowMs();
    if (!StartServing(&server)) return 3;
    double present = NowMs();
    const std::wstring path = FindInterfacePath(kCheckUnit, server.Identity);
    double exchangeMs = 0;
    std::string error;
    bool exchanged = ExchangeStatus(path, &exchangeMs, &error);
    double unplugStart = NowMs();
    bool finished = FinishServing(&server, EndReason::Stopped);
    double gone = NowMs();
    std::printf("velquor_vunit check: %ls\n  plugged in and listed after %.0f ms; status request answered in %.1f ms; "
                "pulled out after %.0f ms\n",
                path.c_str(), present - start, exchangeMs, gone - unplugStart);
    // Which side lost an exchange: the requests that reached the unit, and what it sent back.
    if (!exchanged) {
        std::fprintf(stderr, "velquor_vunit check: %s; the unit received %zu requests", error.c_str(),
                     server.Requests.size());
        if (!server.Requests.empty())
            std::fprintf(stderr, " and sent %u input reports for the first", server.Requests[0].Reports);
        std::fprintf(stderr, "\n");
    }
    return exchanged && finished && server.Requests.size() == 1 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::string command = argc >= 2 ? Narrow(argv[1]) : std::string();
    Options options;
    if (command == "check") return Check();
    if (command == "plug" || command == "unplug" || command == "serve" || command == "run") {
        if (!ParseOptions(argc, argv, &options, true)) return 2;
        std::string error;
        if (command == "unplug") {
            if (PullOut(options.Number, kPlugLimitMs, &error)) return 0;
            std::fprintf(stderr, "velquor_vunit: %s\n", error.c_str());
            return 1;
        }
        if (command == "plug") {
            UnitIdentity identity = {
                static_cast<uint16_t>(options.VendorId >= 0 ? options.VendorId : kUnitVendorId),
                static_cast<uint16_t>(options.ProductId >= 0 ? options.ProductId : 2),
                static_cast<uint16_t>(options.InputLength >= 0 ? options.InputLength : 60),
                static_cast<uint16_t>(options.OutputLength >= 0 ? options.OutputLength : 60)};
            if (PlugIn(options.Number, identity, InfPath(), kPlugLimitMs, &error)) return 0;
            std::fprintf(stderr, "velquor_vunit: %s\n", error.c_str());
            return 1;
        }
        if (command == "run" && options.Program.empty()) {
            std::fprintf(stderr, "velquor_vunit: run needs a program after --\n");
            return 2;
        }
        return Serve(options);
    }
    std::fprintf(stderr,
                 "usage: velquor_vunit plug|unplug|serve|run N [options] [-- PROGRAM ...] | check\n"
                 "       (see the head of tests/win32/virtual_unit/unit_program.cpp)\n");
    return 2;
}
