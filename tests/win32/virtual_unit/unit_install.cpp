// Plugging virtual units in and pulling them out with SetupAPI.
#include "tests/win32/virtual_unit/unit_install.h"

#include <newdev.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cwchar>
#include <vector>

namespace virtual_unit {

namespace {

constexpr DWORD kPollMs = 5;

std::string Describe(const char* what, DWORD error)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s failed with error %lu (0x%08lx)", what, static_cast<unsigned long>(error),
                  static_cast<unsigned long>(error));
    return text;
}

std::wstring Format(const wchar_t* format, uint32_t number)
{
    wchar_t text[128];
    std::swprintf(text, 128, format, number);
    return text;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

// Visits the paths of the HID interfaces the system lists, in its order, until `visit` is done.
template <class Visit>
void ForEachInterfacePath(Visit visit)
{
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    HDEVINFO set = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &data); ++index) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W Detail;
            BYTE Bytes[2048];
        } buffer;
        buffer.Detail.cbSize = sizeof buffer.Detail;
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, &buffer.Detail, sizeof buffer, nullptr, nullptr)) continue;
        if (visit(std::wstring(buffer.Detail.DevicePath))) break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

// The root devices whose hardware id is unit `number`'s, in `set` (made with every class).
template <class Visit>
void ForEachDeviceOfUnit(HDEVINFO set, uint32_t number, Visit visit)
{
    const std::wstring wanted = Format(VUNIT_HARDWARE_ID_FORMAT, number);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        wchar_t ids[512] = {};
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - sizeof(wchar_t), nullptr))
            continue;
        for (const wchar_t* id = ids; *id != L'\0'; id += wcslen(id) + 1) {
            if (_wcsicmp(id, wanted.c_str()) == 0) {
                visit(&device);
                break;
            }
        }
    }
}

bool WaitFor(uint32_t limitMs, bool (*condition)(uint32_t, const UnitIdentity*), uint32_t number,
             const UnitIdentity* identity)
{
    const double deadline = NowMs() + limitMs;
    for (;;) {
        if (condition(number, identity)) return true;
        if (NowMs() >= deadline) return false;
        Sleep(kPollMs);
    }
}

bool IsPresentAndListed(uint32_t number, const UnitIdentity* identity)
{
    VUNIT_STATE state;
    return QueryState(number, &state) && state.Present != 0 && state.VendorId == identity->VendorId &&
           state.ProductId == identity->ProductId && !FindInterfacePath(number, *identity).empty();
}

bool IsGone(uint32_t number, const UnitIdentity*)
{
    VUNIT_STATE state;
    if (QueryState(number, &state) && state.Present != 0) return false;
    // No HID interface of that number may be listed either, whatever it declared.
    const std::wstring suffix = Format(L"#%04u#", number);
    bool listed = false;
    ForEachInterfacePath([&](const std::wstring& path) {
        std::wstring lower = Lower(path);
        listed = lower.find(L"&in_") != std::wstring::npos && lower.find(suffix) != std::wstring::npos;
        return listed;
    });
    return !listed;
}

}  // namespace

double NowMs()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring InstanceId(uint32_t number, const UnitIdentity& identity)
{
    wchar_t text[128];
    std::swprintf(text, 128, L"ROOT\\VID_%04X&PID_%04X&IN_%u&OUT_%u\\%04u", identity.VendorId, identity.ProductId,
                  identity.InputLength, identity.OutputLength, number);
    return text;
}

std::wstring InterfaceFragment(uint32_t number, const UnitIdentity& identity)
{
    wchar_t text[128];
    std::swprintf(text, 128, L"#vid_%04x&pid_%04x&in_%u&out_%u#%04u#", identity.VendorId, identity.ProductId,
                  identity.InputLength, identity.OutputLength, number);
    return text;
}

std::wstring FindInterfacePath(uint32_t number, const UnitIdentity& identity)
{
    const std::wstring fragment = InterfaceFragment(number, identity);
    std::wstring found;
    ForEachInterfacePath([&](const std::wstring& path) {
        if (Lower(path).find(fragment) != std::wstring::npos) found = path;
        return !found.empty();
    });
    return found;
}

int32_t ListPosition(uint32_t number, const UnitIdentity& identity)
{
    const std::wstring fragment = InterfaceFragment(number, identity);
    int32_t index = 0, position = -1;
    ForEachInterfacePath([&](const std::wstring& path) {
        if (Lower(path).find(fragment) != std::wstring::npos) position = index;
        ++index;
        return position >= 0;
    });
    return position;
}

HANDLE OpenControl(uint32_t number)
{
    const std::wstring path = Format(VUNIT_CONTROL_PATH_FORMAT, number);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool QueryState(uint32_t number, VUNIT_STATE* state)
{
    HANDLE control = OpenControl(number);
    if (control == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD bytes = 0;
    bool ok = overlapped.hEvent != nullptr;
    if (ok && !DeviceIoControl(control, IOCTL_VUNIT_GET_STATE, nullptr, 0, state, sizeof *state, nullptr, &overlapped))
        ok = GetLastError() == ERROR_IO_PENDING;
    ok = ok && GetOverlappedResult(control, &overlapped, &bytes, TRUE) && bytes == sizeof *state;
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
    CloseHandle(control);
    return ok;
}

bool PullOut(uint32_t number, uint32_t limitMs, std::string* error)
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"ROOT", nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        *error = Describe("SetupDiGetClassDevsW(ROOT)", GetLastError());
        return false;
    }
    bool ok = true;
    ForEachDeviceOfUnit(set, number, [&](SP_DEVINFO_DATA* device) {
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set, device)) {
            *error = Describe("DIF_REMOVE", GetLastError());
            ok = false;
        }
    });
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;
    if (!WaitFor(limitMs, IsGone, number, nullptr)) {
        *error = "unit " + std::to_string(number) + " is still present " + std::to_string(limitMs) +
                 " ms after its removal";
        return false;
    }
    return true;
}

bool PlugIn(uint32_t number, const UnitIdentity& identity, const std::wstring& infPath, uint32_t limitMs,
            std::string* error)
{
    if (number >= VUNIT_MAX_UNITS) {
        *error = "unit numbers go from 0 to " + std::to_string(VUNIT_MAX_UNITS - 1);
        return false;
    }
    // Wine's setup asks for missing driver files in a window nobody answers: look first.
    const std::wstring driver = infPath.substr(0, infPath.find_last_of(L"\\/") + 1) + L"velquor_vunit.sys";
    for (const std::wstring* file : {&infPath, &driver}) {
        if (GetFileAttributesW(file->c_str()) == INVALID_FILE_ATTRIBUTES) {
            *error = "the driver package is incomplete: no " + std::string(file->begin(), file->end());
            return false;
        }
    }
    if (!PullOut(number, limitMs, error)) return false;

    const std::wstring instance = InstanceId(number, identity);
    const std::wstring hardwareId = Format(VUNIT_HARDWARE_ID_FORMAT, number);
    std::vector<wchar_t> hardwareIds(hardwareId.begin(), hardwareId.end());
    hardwareIds.push_back(L'\0');
    hardwareIds.push_back(L'\0');

    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *error = Describe("SetupDiCreateDeviceInfoList", GetLastError());
        return false;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoW(set, instance.c_str(), &GUID_NULL, nullptr, nullptr, 0, &device) != FALSE;
    if (!ok) *error = Describe("SetupDiCreateDeviceInfoW", GetLastError());
    if (ok && !SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                 reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                                 static_cast<DWORD>(hardwareIds.size() * sizeof(wchar_t)))) {
        *error = Describe("SetupDiSetDeviceRegistryPropertyW(SPDRP_HARDWAREID)", GetLastError());
        ok = false;
    }
    if (ok && !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        *error = Describe("DIF_REGISTERDEVICE", GetLastError());
        ok = false;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;

    // Installs the driver for the devices with this hardware id: only this unit's.
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, hardwareId.c_str(), infPath.c_str(), INSTALLFLAG_FORCE,
                                            &reboot)) {
        *error = Describe("UpdateDriverForPlugAndPlayDevicesW", GetLastError());
        return false;
    }
    if (!WaitFor(limitMs, IsPresentAndListed, number, &identity)) {
        *error = "unit " + std::to_string(number) + " did not appear within " + std::to_string(limitMs) +
                 " ms of its installation";
        return false;
    }
    return true;
}

}  // namespace virtual_unit
