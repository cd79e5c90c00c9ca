// The virtual unit's program as a child process of a test.
#include "tests/win32/virtual_unit/unit_process.h"

#include <cstdio>
#include <sstream>

#include "tests/win32/virtual_unit/unit_install.h"

namespace virtual_unit {

namespace {

constexpr DWORD kReadyLimitMs = 60000;
constexpr DWORD kStopLimitMs = 60000;

std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::wstring EventName(const wchar_t* kind, uint32_t number)
{
    return std::wstring(L"VelquorUnit") + kind + std::to_wstring(number);
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 26)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

}  // namespace

UnitProcess::~UnitProcess()
{
    if (m_Process != nullptr) {
        std::string error;
        if (Running() && !Stop(&error)) TerminateProcess(m_Process, 1);
        CloseHandle(m_Process);
    }
    if (m_Stop != nullptr) CloseHandle(m_Stop);
}

bool UnitProcess::Start(const std::wstring& program, uint32_t number, const UnitSettings& settings,
                        const std::wstring& files, std::string* error)
{
    // A unit plugged in again: the handles of its last run go first.
    if (m_Process != nullptr) CloseHandle(m_Process);
    if (m_Stop != nullptr) CloseHandle(m_Stop);
    m_Process = m_Stop = nullptr;
    m_Files = files;
    DeleteFileW((files + L".log").c_str());
    DeleteFileW((files + L".flash").c_str());
    m_Stop = CreateEventW(nullptr, TRUE, FALSE, EventName(L"Stop", number).c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, EventName(L"Ready", number).c_str());
    if (m_Stop == nullptr || ready == nullptr) {
        *error = "the unit's events can't be made";
        if (ready != nullptr) CloseHandle(ready);
        return false;
    }
    ResetEvent(m_Stop);
    ResetEvent(ready);

    std::wstring commandLine = L"\"" + program + L"\" serve " + std::to_wstring(number) + L" --files \"" + files +
                               L"\" --scenario \"" + Widen(settings.Scenario) + L"\" --limit 600";
    if (settings.VendorId >= 0) commandLine += L" --vendor " + std::to_wstring(settings.VendorId);
    if (settings.ProductId >= 0) commandLine += L" --product " + std::to_wstring(settings.ProductId);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        *error = "velquor_vunit.exe can't be started, error " + std::to_string(GetLastError());
        CloseHandle(ready);
        return false;
    }
    CloseHandle(process.hThread);
    m_Process = process.hProcess;

    HANDLE waits[2] = {ready, m_Process};
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kReadyLimitMs);
    m_ReadyMs = NowMs();
    CloseHandle(ready);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken == WAIT_OBJECT_0 + 1) {
        GetExitCodeProcess(m_Process, &m_ExitCode);
        *error = "the virtual unit " + std::to_string(number) + " could not be plugged in (velquor_vunit.exe ended with " +
                 std::to_string(m_ExitCode) + ")";
    } else {
        *error = "the virtual unit " + std::to_string(number) + " did not appear within a minute";
    }
    return false;
}

bool UnitProcess::Stop(std::string* error)
{
    if (m_Process == nullptr) {
        *error = "no unit was started";
        return false;
    }
    SetEvent(m_Stop);
    if (WaitForSingleObject(m_Process, kStopLimitMs) != WAIT_OBJECT_0) {
        *error = "velquor_vunit.exe does not end";
        return false;
    }
    GetExitCodeProcess(m_Process, &m_ExitCode);
    if (m_ExitCode != 0) *error = "velquor_vunit.exe ended with " + std::to_string(m_ExitCode);
    return m_ExitCode == 0;
}

bool UnitProcess::WaitForEnd(std::chrono::seconds limit)
{
    if (m_Process == nullptr) return false;
    return WaitForSingleObject(m_Process, static_cast<DWORD>(limit.count() * 1000)) == WAIT_OBJECT_0;
}

bool UnitProcess::Running() const { return m_Process != nullptr && WaitForSingleObject(m_Process, 0) == WAIT_TIMEOUT; }

UnitLog UnitProcess::ReadLog() const
{
    UnitLog log;
    std::vector<uint8_t> bytes = ReadWholeFile(m_Files + L".log");
    if (bytes.empty()) return log;
    log.Read = true;
    log.Text.assign(bytes.begin(), bytes.end());
    std::istringstream lines(log.Text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "unit") {
            size_t at = line.find(" end ");
            if (at != std::string::npos) log.End = line.substr(at + 5);
        } else if (kind == "event") {
            std::string name;
            double ms = 0;
            words >> name >> ms;
            log.Events[name] = ms;
        } else if (kind == "request") {
            UnitRequest request = {};
            unsigned command = 0, byte2 = 0, byte3 = 0;
            words >> request.Ms >> std::hex >> command >> byte2 >> byte3 >> request.Outcome >> std::dec >> request.Reports;
            request.Command = static_cast<uint8_t>(command);
            request.Byte2 = static_cast<uint8_t>(byte2);
            request.Byte3 = static_cast<uint8_t>(byte3);
            log.Requests.push_back(request);
        }
    }
    return log;
}

std::vector<uint8_t> UnitProcess::ReadFlash() const { return ReadWholeFile(m_Files + L".flash"); }

}  // namespace virtual_unit
