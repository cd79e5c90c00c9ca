// A virtual programming unit as a test sees it: velquor_vunit.exe started as a child process
// that plugs unit N into Wine's HID stack and answers for it as the simulated unit does, stopped
// (pulled out) on request, with its log and the controller's flash read back afterwards.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace virtual_unit {

// One request as it reached the unit: when (performance-counter milliseconds, the clock of
// NowMs in unit_install.h), its command byte and bytes 2 and 3, what the unit did with it
// ("answered", "silent" for no reply, "unplugged"), and how many input reports it sent back
// (the reply, and what the scenario's extra= adds around it).
struct UnitRequest {
    double Ms;
    uint8_t Command;
    uint8_t Byte2;
    uint8_t Byte3;
    std::string Outcome;
    uint32_t Reports;
};

struct UnitLog {
    bool Read = false;
    std::string End;                        // stopped, removed, unplugged, limit, failed
    std::map<std::string, double> Events;   // plug-start, present, unplug-start, gone, removed ...
    std::vector<UnitRequest> Requests;
    std::string Text;                       // the whole file, for failure messages
};

struct UnitSettings {
    std::string Scenario;    // the simulator's scenario
    int32_t VendorId = -1;   // -1: the programming units' vendor
    int32_t ProductId = -1;  // -1: the scenario's unit
};

class UnitProcess {
public:
    UnitProcess() = default;
    UnitProcess(const UnitProcess&) = delete;
    UnitProcess& operator=(const UnitProcess&) = delete;
    // A unit still running is stopped, and killed if it does not end.
    ~UnitProcess();

    // Starts `program` (velquor_vunit.exe, a Windows path) serving unit `number`, its files
    // named `files` (+ .log, .flash), and waits until the unit is plugged in and listed. False
    // with `error` when it is not within a minute.
    bool Start(const std::wstring& program, uint32_t number, const UnitSettings& settings, const std::wstring& files,
               std::string* error);
    // Pulls the unit out and waits for the program to end and write its files.
    bool Stop(std::string* error);
    // Waits for the program to end by itself (the unit was unplugged or removed).
    bool WaitForEnd(std::chrono::seconds limit);
    bool Running() const;
    // The time the unit was listed, as the test saw it (NowMs).
    double ReadyMs() const { return m_ReadyMs; }

    UnitLog ReadLog() const;
    std::vector<uint8_t> ReadFlash() const;

private:
    HANDLE m_Process = nullptr;
    HANDLE m_Stop = nullptr;
    DWORD m_ExitCode = 0;
    std::wstring m_Files;
    double m_ReadyMs = 0;
};

}  // namespace virtual_unit
