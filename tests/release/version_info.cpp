// Test equipment: prints the version resource of a Windows program as Windows reads it
// (GetFileVersionInfoW, VerQueryValueW), one "Name: value" line each, for the release test to
// compare. Built with mingw-w64 and run under Wine.
//   version_info.exe <program.exe>
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_info <program.exe>\n");
        return 2;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    if (size == 0) {
        std::fprintf(stderr, "version_info: no version resource (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(argv[1], 0, size, data.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        std::printf("FileVersionNumber: %lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        std::printf("ProductVersionNumber: %lu.%lu.%lu.%lu\n", HIWORD(fixed->dwProductVersionMS),
                    LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    const wchar_t* names[] = {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion",
                              L"OriginalFilename", L"LegalCopyright", L"CompanyName"};
    for (const wchar_t* name : names) {
        wchar_t path[128];
        swprintf(path, 128, L"\\StringFileInfo\\000004b0\\%ls", name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &length) && value != nullptr) {
            char utf8[512];
            WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("%ls: %s\n", name, utf8);
        }
    }
    return 0;
}
