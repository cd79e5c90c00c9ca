// The compiled resources of a Windows program, read back from the module the way the system
// reads them: dialog templates byte by byte, the icon group and its images, the logo, the
// manifest, and (when the build carries them) the string tables and the firmware images.
//
//   velquor_resources_tests [gtest options] [--module=<program.exe>]
//
// Without --module the test checks its own module, into which the build links the resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>


#include "resources/resource_ids.h"
#include "resources/text_ids.h"

#include "app/texts.h"

namespace {

const char* g_ModulePath = nullptr;  // --module=..., else null: this test's own module
HMODULE g_Module = nullptr;

constexpr WORD LANG_EN = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);    // 9
constexpr WORD LANG_DE = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);      // 1031
constexpr WORD LANG_EN_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

struct Resource {
    const uint8_t* Bytes;
    uint32_t Size;
};

std::string Narrowed(const wchar_t* text)
{
    std::string narrow;
    for (const wchar_t* c = text; *c != L'\0'; ++c) narrow.push_back(static_cast<char>(*c));
    return narrow;
}

Resource Find(LPCWSTR type, uint32_t id, WORD language)
{
    Resource r = {nullptr, 0};
    HRSRC found = FindResourceExW(g_Module, type, MAKEINTRESOURCEW(id), language);
    if (found == nullptr) return r;
    HGLOBAL loaded = LoadResource(g_Module, found);
    if (loaded == nullptr) return r;
    r.Bytes = static_cast<const uint8_t*>(LockResource(loaded));
    r.Size = SizeofResource(g_Module, found);
    return r;
}

// The languages a resource exists in, in the module's order.
struct LanguageList {
    int32_t Count;
    WORD Languages[8];
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context)
{
    LanguageList* list = reinterpret_cast<LanguageList*>(context);
    if (list->Count < 8) list->Languages[list->Count] = language;
    ++list->Count;
    return TRUE;
}

LanguageList LanguagesOf(LPCWSTR type, uint32_t id)
{
    LanguageList list = {0, {}};
    EnumResourceLanguagesW(g_Module, type, MAKEINTRESOURCEW(id), CollectLanguage, reinterpret_cast<LONG_PTR>(&list));
    return list;
}

bool HasLanguages(const LanguageList& list, WORD a, WORD b = 0)
{
    int32_t expected = b == 0 ? 1 : 2;
    if (list.Count != expected) return false;
    for (int32_t i = 0; i < list.Count; ++i)
        if (list.Languages[i] != a && list.Languages[i] != b) return false;
    return true;
}

// Integer names of one resource type, ascending.
struct NameList {
    int32_t Count;
    uint32_t Ids[64];
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context)
{
    NameList* list = reinterpret_cast<NameList*>(context);
    if (IS_INTRESOURCE(name) && list->Count < 64) list->Ids[list->Count] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name));
    ++list->Count;
    return TRUE;
}

NameList NamesOf(LPCWSTR type)
{
    NameList list = {0, {}};
    EnumResourceNamesW(g_Module, type, CollectName, reinterpret_cast<LONG_PTR>(&list));
    return list;
}

// ---------------------------------------------------------------------------------------------
// A bounds-checked reader over a dialog template.

struct Reader {
    const uint8_t* At;
    const uint8_t* Begin;
    const uint8_t* End;
    bool Failed;

    bool Need(size_t n)
    {
        if (Failed || static_cast<size_t>(End - At) < n) Failed = true;
        return !Failed;
    }
    uint16_t Word()
    {
        if (!Need(2)) return 0;
        uint16_t v = static_cast<uint16_t>(At[0] | (At[1] << 8));
        At += 2;
        return v;
    }
    uint32_t Dword()
    {
        uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte()
    {
        if (!Need(1)) return 0;
        return *At++;
    }
    void AlignDword()
    {
        while (!Failed && ((At - Begin) % 4) != 0) Byte();
    }
    // A zero-terminated UTF-16 string, copied into `out` (cut to fit).
    void String(wchar_t* out, size_t capacity)
    {
        size_t n = 0;
        for (uint16_t c = Word(); !Failed && c != 0; c = Word())
            if (n + 1 < capacity) out[n++] = static_cast<wchar_t>(c);
        out[n] = L'\0';
    }
    // sz_Or_Ord: 0 (none), 0xFFFF and an ordinal, or a string.
    void NameOrOrdinal(uint16_t* ordinal, wchar_t* text, size_t capacity)
    {
        *ordinal = 0;
        text[0] = L'\0';
        if (!Need(2)) return;
        uint16_t first = static_cast<uint16_t>(At[0] | (At[1] << 8));
        if (first == 0xFFFF) {
            Word();
            *ordinal = Word();
        } else {
            String(text, capacity);
        }
    }
};

Reader ReaderOver(const Resource& r) { return Reader{r.Bytes, r.Bytes, r.Bytes + r.Size, false}; }

// ---------------------------------------------------------------------------------------------
// Dialog 110, as listed for the program: order, id, class atom, text, style, extended style, box.

constexpr uint16_t BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82;

struct ControlRow {
    uint32_t Id;
    uint16_t ClassAtom;
    const wchar_t* English;
    const wchar_t* German;
    uint32_t Style;
    uint32_t ExStyle;
    int16_t X, Y, Width, Height;
};

const ControlRow kMainControls[11] = {
    {2, BUTTON, L"Close", L"Beenden", 0x50030001, 0, 157, 199, 50, 14},
    {1002, BUTTON, L"Update", L"Update", 0x58010000, 0, 61, 199, 50, 14},
    {40010, STATIC, L"Firmware 1:", L"Firmware 1:", 0x50020000, 0, 22, 24, 60, 8},
    {1005, STATIC, L"Firmware 2:", L"Firmware 2:", 0x50020000, 0, 22, 37, 60, 8},
    {40013, STATIC, L"0.00.00", L"0.00.00", 0x50020000, 0x1000, 90, 24, 50, 8},
    {40014, STATIC, L"0.00.00", L"0.00.00", 0x50020000, 0x1000, 90, 37, 50, 8},
    {40004, EDIT, L"", L"", 0x50A00844, 0, 15, 89, 271, 101},
    {0xFFFFFFFF, STATIC, L"Hint:", L"Hinweisfenster:", 0x50020000, 0, 15, 79, 49, 8},
    {40007, BUTTON, L"Installed firmware version", L"Installierte Firmware Versionen", 0x50020007, 0, 15, 10, 135, 57},
    {40011, STATIC, L"Firmware 3:", L"Firmware 3:", 0x50020000, 0, 22, 50, 60, 8},
    {40015, STATIC, L"0.00.00", L"0.00.00", 0x50020000, 0x1000, 90, 50, 50, 8},
};

void CheckMainDialog(WORD language, const wchar_t* title, bool german)
{
    SCOPED_TRACE(german ? "German" : "English");
    Resource r = Find(RT_DIALOG, IDD_MAIN_DIALOG, language);
    ASSERT_NE(r.Bytes, nullptr);
    Reader in = ReaderOver(r);
    wchar_t text[256];
    uint16_t ordinal = 0;

    EXPECT_EQ(in.Word(), 1u);        // dlgVer
    EXPECT_EQ(in.Word(), 0xFFFFu);   // signature: extended template
    EXPECT_EQ(in.Dword(), 0u);       // help id
    EXPECT_EQ(in.Dword(), 0u);       // extended style
    EXPECT_EQ(in.Dword(), 0x80C808C8u);
    uint16_t count = in.Word();
    EXPECT_EQ(count, 11u);
    EXPECT_EQ(in.Short(), 0);
    EXPECT_EQ(in.Short(), 0);
    EXPECT_EQ(in.Short(), 300);
    EXPECT_EQ(in.Short(), 228);
    in.NameOrOrdinal(&ordinal, text, 256);  // menu
    EXPECT_EQ(ordinal, 0u);
    EXPECT_STREQ(text, L"");
    in.NameOrOrdinal(&ordinal, text, 256);  // window class
    EXPECT_EQ(ordinal, 0u);
    EXPECT_STREQ(text, L"");
    in.String(text, 256);
    EXPECT_STREQ(text, title);
    EXPECT_EQ(in.Word(), 8u);   // points
    EXPECT_EQ(in.Word(), 0u);   // weight
    EXPECT_EQ(in.Byte(), 0u);   // italic
    EXPECT_EQ(in.Byte(), 1u);   // DEFAULT_CHARSET
    in.String(text, 256);
    EXPECT_STREQ(text, L"MS Shell Dlg");
    ASSERT_FALSE(in.Failed);
    ASSERT_EQ(count, 11u);

    for (int32_t i = 0; i < 11; ++i) {
        const ControlRow& want = kMainControls[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1 << ", id " << static_cast<int32_t>(want.Id));
        in.AlignDword();
        EXPECT_EQ(in.Dword(), 0u);  // help id
        EXPECT_EQ(in.Dword(), want.ExStyle);
        EXPECT_EQ(in.Dword(), want.Style);
        EXPECT_EQ(in.Short(), want.X);
        EXPECT_EQ(in.Short(), want.Y);
        EXPECT_EQ(in.Short(), want.Width);
        EXPECT_EQ(in.Short(), want.Height);
        EXPECT_EQ(in.Dword(), want.Id);
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_EQ(ordinal, want.ClassAtom);
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_EQ(ordinal, 0u);
        EXPECT_STREQ(text, german ? want.German : want.English);
        uint16_t extra = in.Word();
        EXPECT_EQ(extra, 0u);
        ASSERT_FALSE(in.Failed);
    }
}

TEST(Win32Resources, MainDialogInBothLanguages)
{
    EXPECT_TRUE(HasLanguages(LanguagesOf(RT_DIALOG, IDD_MAIN_DIALOG), LANG_EN, LANG_DE));
    CheckMainDialog(LANG_EN, L"VELQUOR firmware updater", false);
    CheckMainDialog(LANG_DE, L"VELQUOR Firmware Updater", true);
}

TEST(Win32Resources, ProgressTemplateInBothLanguages)
{
    EXPECT_TRUE(HasLanguages(LanguagesOf(RT_DIALOG, IDD_PROGRESS_DIALOG), LANG_EN, LANG_DE));
    const struct {
        WORD Language;
        const wchar_t* Title;
    } copies[2] = {{LANG_EN, L"Update progress"}, {LANG_DE, L"Update Fortschritt"}};
    for (const auto& copy : copies) {
        SCOPED_TRACE(copy.Language);
        Resource r = Find(RT_DIALOG, IDD_PROGRESS_DIALOG, copy.Language);
        ASSERT_NE(r.Bytes, nullptr);
        Reader in = ReaderOver(r);
        wchar_t text[256];
        uint16_t ordinal = 0;
        // Classic template: no version and signature words.
        EXPECT_EQ(in.Dword(), 0x50C008CCu);
        EXPECT_EQ(in.Dword(), 0u);
        EXPECT_EQ(in.Word(), 1u);
        EXPECT_EQ(in.Short(), 0);
        EXPECT_EQ(in.Short(), 0);
        EXPECT_EQ(in.Short(), 289);
        EXPECT_EQ(in.Short(), 22);
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_STREQ(text, L"");
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_STREQ(text, L"");
        in.String(text, 256);
        EXPECT_STREQ(text, copy.Title);
        EXPECT_EQ(in.Word(), 8u);
        in.String(text, 256);
        EXPECT_STREQ(text, L"Ms Shell Dlg 2");

        in.AlignDword();
        EXPECT_EQ(in.Dword(), 0x50000000u);
        EXPECT_EQ(in.Dword(), 0u);
        EXPECT_EQ(in.Short(), -1);
        EXPECT_EQ(in.Short(), 0);
        EXPECT_EQ(in.Short(), 290);
        EXPECT_EQ(in.Short(), 22);
        EXPECT_EQ(in.Word(), 1002u);
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_EQ(_wcsicmp(text, L"msctls_progress32"), 0) << "class " << testing::PrintToString(text);
        in.NameOrOrdinal(&ordinal, text, 256);
        EXPECT_STREQ(text, L"");
        EXPECT_EQ(in.Word(), 0u);
        EXPECT_FALSE(in.Failed);
    }
}

// ---------------------------------------------------------------------------------------------
// Icon group 123: eight opaque 32-bit DIB images, the sizes a window asks for at 100 to 200 %
// (small and large icon) and the shell's largest.

#pragma pack(push, 2)
struct GroupIconEntry {  // GRPICONDIRENTRY
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes;
    WORD Id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

const struct {
    uint32_t Size;
    uint32_t Bytes;  // header, BGRA rows, AND mask rows of 4-byte multiples
} kIcons[8] = {{16, 1128}, {20, 1720}, {24, 2440}, {32, 4264}, {40, 6760}, {48, 9640}, {64, 16936}, {256, 270376}};

TEST(Win32Resources, IconGroupHoldsEightOpaqueDibImagesForEveryScaling)
{
    EXPECT_TRUE(HasLanguages(LanguagesOf(RT_GROUP_ICON, IDI_APPLICATION_ICON), LANG_DE));
    Resource group = Find(RT_GROUP_ICON, IDI_APPLICATION_ICON, LANG_DE);
    ASSERT_NE(group.Bytes, nullptr);
    ASSERT_EQ(group.Size, 6u + 8u * 14u);
    Reader in = ReaderOver(group);
    EXPECT_EQ(in.Word(), 0u);
    EXPECT_EQ(in.Word(), 1u);  // icons
    ASSERT_EQ(in.Word(), 8u);

    for (int32_t i = 0; i < 8; ++i) {
        const uint32_t size = kIcons[i].Size;
        SCOPED_TRACE(testing::Message() << size << " pixels");
        GroupIconEntry entry;
        std::memcpy(&entry, group.Bytes + 6 + 14 * i, sizeof entry);
        EXPECT_EQ(entry.Width, size & 0xFF);  // 0 stands for 256
        EXPECT_EQ(entry.Height, size & 0xFF);
        EXPECT_EQ(entry.ColorCount, 0u);
        EXPECT_EQ(entry.Planes, 1u);
        EXPECT_EQ(entry.BitCount, 32u);
        EXPECT_EQ(entry.BytesInRes, kIcons[i].Bytes);
        EXPECT_EQ(entry.Id, i + 1);

        EXPECT_TRUE(HasLanguages(LanguagesOf(RT_ICON, entry.Id), LANG_DE));
        Resource image = Find(RT_ICON, entry.Id, LANG_DE);
        ASSERT_NE(image.Bytes, nullptr);
        ASSERT_EQ(image.Size, kIcons[i].Bytes);
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.Bytes, sizeof header);  // a PNG image would start with 0x89 'P'
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, static_cast<LONG>(size));
        EXPECT_EQ(header.biHeight, static_cast<LONG>(2 * size));
        EXPECT_EQ(header.biBitCount, 32u);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        uint32_t opaque = 0;
        for (uint32_t p = 0; p < size * size; ++p)
            if (image.Bytes[40 + 4 * p + 3] == 255) ++opaque;
        EXPECT_EQ(opaque, size * size);
    }
}

// ---------------------------------------------------------------------------------------------
// Logo bitmap 121.

// The logo's canvas of 1772 x 263 at half size, with premultiplied alpha: transparent around
// the artwork, opaque inside it, blended only along its edges, and never the green that once
// stood for transparency.
TEST(Win32Resources, LogoIsAHalfSizeBitmapWithPremultipliedAlpha)
{
    EXPECT_TRUE(HasLanguages(LanguagesOf(RT_BITMAP, IDB_LOGO), LANG_DE));
    Resource logo = Find(RT_BITMAP, IDB_LOGO, LANG_DE);
    ASSERT_NE(logo.Bytes, nullptr);
    ASSERT_EQ(logo.Size, 40u + 886u * 132u * 4u);
    BITMAPINFOHEADER header;
    std::memcpy(&header, logo.Bytes, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 886);
    EXPECT_EQ(header.biHeight, 132);  // positive: rows bottom-up
    EXPECT_EQ(header.biBitCount, 32u);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));

    const uint32_t pixels = 886u * 132u;
    uint32_t transparent = 0, opaque = 0, notPremultiplied = 0, green = 0;
    const uint8_t* p = logo.Bytes + 40;
    for (uint32_t i = 0; i < pixels; ++i, p += 4) {
        const uint8_t b = p[0], g = p[1], r = p[2], a = p[3];
        if (a == 0) ++transparent;
        if (a == 255) ++opaque;
        if (b > a || g > a || r > a) ++notPremultiplied;
        // The colour before its alpha was applied.
        if (a != 0 && g * 255u > 200u * a && r * 255u < 60u * a && b * 255u < 60u * a) ++green;
    }
    EXPECT_GT(transparent, pixels * 35 / 100);
    EXPECT_LT(transparent, pixels * 48 / 100);
    EXPECT_GT(opaque, pixels * 45 / 100);
    // The blended edge pixels: along every edge of the plate and the stripes, a few per row.
    EXPECT_GT(pixels - transparent - opaque, 132u * 4);
    EXPECT_EQ(notPremultiplied, 0u);
    EXPECT_EQ(green, 0u);
}

// The calls the dialog makes: only for a module that is loaded as a program.
TEST(Win32Resources, IconAndLogoLoadThroughUser32)
{
    if (g_ModulePath != nullptr) GTEST_SKIP() << "a module loaded as data file";
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(g_Module, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info;
    ASSERT_EQ(GetObjectW(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, 886);
    EXPECT_EQ(info.bmHeight, 132);
    EXPECT_EQ(info.bmBitsPixel, 32);
    DeleteObject(bitmap);

    // Each size the window asks for is found as an image of its own.
    for (const auto& size : kIcons) {
        const int pixels = static_cast<int>(size.Size);
        HICON icon = static_cast<HICON>(
            LoadImageW(g_Module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON, pixels, pixels, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << pixels;
        ICONINFO parts;
        ASSERT_TRUE(GetIconInfo(icon, &parts)) << pixels;
        BITMAP colour;
        ASSERT_EQ(GetObjectW(parts.hbmColor, sizeof colour, &colour), static_cast<int>(sizeof colour));
        EXPECT_EQ(colour.bmWidth, pixels);
        EXPECT_EQ(colour.bmHeight, pixels);
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }
}

// ---------------------------------------------------------------------------------------------
// Manifest 1.

// The manifest as text, and as the system reads it: an activation context made from the
// module's manifest gives its settings back and holds common controls 6 among its assemblies. A setting in
// a namespace the system does not know, or a manifest it can't parse, fails here.
std::string ManifestText()
{
    Resource manifest = Find(RT_MANIFEST, IDR_MANIFEST, LANG_EN_US);
    return manifest.Bytes == nullptr ? std::string()
                                     : std::string(reinterpret_cast<const char*>(manifest.Bytes), manifest.Size);
}

TEST(Win32Resources, ManifestAsksForNoElevationNamesTheSystems)
{
    EXPECT_TRUE(HasLanguages(LanguagesOf(RT_MANIFEST, IDR_MANIFEST), LANG_EN_US));
    const std::string text = ManifestText();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("manifestVersion=\"1.0\""), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
    // The systems the program is made for: Windows 10 and 11, 8.1, 8, 7; not Vista.
    static const char* const kSupported[] = {
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\" />",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\" />",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\" />",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\" />",
    };
    for (const char* id : kSupported) EXPECT_NE(text.find(id), std::string::npos) << id;
    EXPECT_EQ(text.find("e2011457-1546-43c5-a5fe-008deee3d3f0"), std::string::npos);
    EXPECT_NE(text.find("urn:schemas-microsoft-com:compatibility.v1"), std::string::npos);
}

TEST(Win32Resources, ManifestIsReadAsPerMonitorV2WithCommonControls6)
{
    wchar_t path[MAX_PATH] = {};
    if (g_ModulePath != nullptr)
        ASSERT_GT(MultiByteToWideChar(CP_UTF8, 0, g_ModulePath, -1, path, MAX_PATH), 0);
    else
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    ACTCTXW request;
    ZeroMemory(&request, sizeof request);
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path;
    request.lpResourceName = MAKEINTRESOURCEW(IDR_MANIFEST);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the system can't read the manifest (error " << GetLastError() << ")";

    // Windows 10 1607 and later read dpiAwareness (the first value they know), older ones dpiAware.
    const struct {
        const wchar_t* Namespace;
        const wchar_t* Name;
        const wchar_t* Value;
    } kSettings[] = {
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, System"},
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
    };
    for (const auto& setting : kSettings) {
        wchar_t value[64] = {};
        SIZE_T length = 0;
        EXPECT_TRUE(QueryActCtxSettingsW(0, context, setting.Namespace, setting.Name, value, 64, &length))
            << Narrowed(setting.Name) << ": error " << GetLastError();
        EXPECT_STREQ(value, setting.Value);
    }

    // The dependency the system resolved: the common controls' assembly of version 6.
    bool controls6 = false;
    for (DWORD index = 1; index <= 8 && !controls6; ++index) {
        alignas(8) unsigned char buffer[4096];
        SIZE_T needed = 0;
        if (!QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer, sizeof buffer,
                          &needed))
            break;
        const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer);
        const std::wstring identity =
            assembly->lpAssemblyEncodedAssemblyIdentity != nullptr ? assembly->lpAssemblyEncodedAssemblyIdentity : L"";
        controls6 = identity.find(L"Microsoft.Windows.Common-Controls") != std::wstring::npos &&
                    identity.find(L"version=\"6.0.") != std::wstring::npos;
    }
    ReleaseActCtx(context);
    EXPECT_TRUE(controls6) << "no common controls 6 among the manifest's assemblies";
}

TEST(Win32Resources, NoOtherKindsOfResources)
{
    // A program carries its version resource (read back in the release test); the shared
    // resources carry none.
    EXPECT_EQ(NamesOf(RT_VERSION).Count, g_ModulePath != nullptr ? 1 : 0);
    EXPECT_EQ(NamesOf(RT_MENU).Count, 0);
    EXPECT_EQ(NamesOf(RT_ACCELERATOR).Count, 0);
    NameList dialogs = NamesOf(RT_DIALOG);
    ASSERT_EQ(dialogs.Count, 2);
    EXPECT_EQ(dialogs.Ids[0], static_cast<uint32_t>(IDD_MAIN_DIALOG));
    EXPECT_EQ(dialogs.Ids[1], static_cast<uint32_t>(IDD_PROGRESS_DIALOG));
    EXPECT_EQ(NamesOf(RT_GROUP_ICON).Count, 1);
    EXPECT_EQ(NamesOf(RT_ICON).Count, 8);
    EXPECT_EQ(NamesOf(RT_BITMAP).Count, 1);
}

// ---------------------------------------------------------------------------------------------
// String tables.


// All texts of one language: ids, lengths and a copy of a few.
struct TextSet {
    int32_t Count;
    uint32_t Ids[128];
    uint32_t Lengths[128];
};

TextSet TextsIn(WORD language)
{
    TextSet set = {0, {}, {}};
    NameList blocks = NamesOf(RT_STRING);
    for (int32_t b = 0; b < blocks.Count && b < 64; ++b) {
        Resource block = Find(RT_STRING, blocks.Ids[b], language);
        if (block.Bytes == nullptr) continue;
        Reader in = ReaderOver(block);
        for (uint32_t i = 0; i < 16 && !in.Failed; ++i) {
            uint16_t length = in.Word();
            if (length == 0) continue;
            if (set.Count < 128) {
                set.Ids[set.Count] = (blocks.Ids[b] - 1) * 16 + i;
                set.Lengths[set.Count] = length;
            }
            ++set.Count;
            in.Need(2u * length);
            if (!in.Failed) in.At += 2u * length;
        }
        EXPECT_FALSE(in.Failed) << "block " << blocks.Ids[b];
    }
    return set;
}

// One text of one language, straight from its block.
int32_t TextOf(uint32_t id, WORD language, wchar_t* out, int32_t capacity)
{
    out[0] = L'\0';
    Resource block = Find(RT_STRING, id / 16 + 1, language);
    if (block.Bytes == nullptr) return -1;
    Reader in = ReaderOver(block);
    for (uint32_t i = 0; i < id % 16; ++i) {
        uint16_t skip = in.Word();
        in.Need(2u * skip);
        if (in.Failed) return -1;
        in.At += 2u * skip;
    }
    int32_t length = in.Word();
    if (length >= capacity || !in.Need(2u * static_cast<uint32_t>(length))) return -1;
    for (int32_t i = 0; i < length; ++i) out[i] = static_cast<wchar_t>(in.Word());
    out[length] = L'\0';
    return length;
}

TEST(Win32Resources, StringTablesHoldTheSameIdsInBothLanguages)
{
    NameList blocks = NamesOf(RT_STRING);
    ASSERT_EQ(blocks.Count, 5);
    EXPECT_EQ(blocks.Ids[0], 2501u);  // 40000..40015
    EXPECT_EQ(blocks.Ids[1], 2502u);  // 40016..40031
    EXPECT_EQ(blocks.Ids[2], 2503u);  // 40032..40047
    EXPECT_EQ(blocks.Ids[3], 2504u);  // 40048..40063
    EXPECT_EQ(blocks.Ids[4], 3751u);  // 60000..60015
    for (int32_t b = 0; b < blocks.Count; ++b)
        EXPECT_TRUE(HasLanguages(LanguagesOf(RT_STRING, blocks.Ids[b]), LANG_EN, LANG_DE)) << blocks.Ids[b];

    TextSet english = TextsIn(LANG_EN);
    TextSet german = TextsIn(LANG_DE);
    ASSERT_GE(english.Count, 43);
    ASSERT_LE(english.Count, 128);
    ASSERT_EQ(english.Count, german.Count);
    for (int32_t i = 0; i < english.Count; ++i) EXPECT_EQ(english.Ids[i], german.Ids[i]);

    // Every id the program loads.
    const uint32_t used[] = {
        TEXT_READY_HINT, TEXT_CONNECTION_STEPS, TEXT_UPDATE_FAILED_CAPTION, TEXT_ADDRESS_FAILED,
        TEXT_BLOCK_FAILED, TEXT_REGISTRATION_FAILED, TEXT_APPLICATION_ERROR, TEXT_WRONG_MODE_HINT,
        TEXT_NO_CONTROLLER_HINT, TEXT_NO_UNIT_HINT, TEXT_CONNECTION_LOST_HINT, TEXT_UNIT_NOT_DETECTED,
        TEXT_OLDER_FIRMWARE_QUESTION, TEXT_NEWER_FIRMWARE_CAPTION, TEXT_LOCK_FAILED, TEXT_PROTECT_OFF_FAILED_STEP,
        TEXT_ERASE_FAILED, TEXT_PROGRESS_TITLE, TEXT_FAILURE_HINT, TEXT_UPDATE_SUCCESS, TEXT_INCOMPATIBLE_CAPTION,
        TEXT_INCOMPATIBLE_MESSAGE, TEXT_INCOMPATIBLE_HINT, TEXT_ERROR_CODE_LINE, TEXT_WARNING_CAPTION, TEXT_WARNING,
        TEXT_LABEL_UNIT, TEXT_LABEL_BOOTLOADER, TEXT_LABEL_CONTROLLER};
    for (uint32_t id : used) {
        wchar_t text[2048];
        EXPECT_GT(TextOf(id, LANG_EN, text, 2048), 0) << id;
        EXPECT_GT(TextOf(id, LANG_DE, text, 2048), 0) << id;
    }
}

TEST(Win32Resources, TextsKeepTheirUmlautsAndLineBreaks)
{
    wchar_t text[2048];
    ASSERT_GT(TextOf(TEXT_LABEL_UNIT, LANG_DE, text, 2048), 0);
    EXPECT_STREQ(text, L"Programmiereinheit");
    ASSERT_GT(TextOf(TEXT_LABEL_UNIT, LANG_EN, text, 2048), 0);
    EXPECT_STREQ(text, L"programming unit");
    ASSERT_GT(TextOf(TEXT_ERROR_CODE_LINE, LANG_DE, text, 2048), 0);
    EXPECT_STREQ(text, L"Das System meldet Fehlercode 0x%08x-0x%08x");
    ASSERT_GT(TextOf(TEXT_ERASE_FAILED, LANG_DE, text, 2048), 0);
    EXPECT_NE(std::wcsstr(text, L"L\u00f6schen"), nullptr) << "UTF-8 source read in another code page";

    // Line breaks are the two control characters, never a backslash.
    for (WORD language : {LANG_EN, LANG_DE}) {
        int32_t length = TextOf(TEXT_CONNECTION_STEPS, language, text, 2048);
        ASSERT_GT(length, 0);
        EXPECT_NE(std::wcsstr(text, L"1.)\r\n"), nullptr);
        EXPECT_EQ(std::wcschr(text, L'\\'), nullptr);
        EXPECT_LT(length, 2048);
    }
}

// The Windows string tables and the compiled table come from the same texts.inc: the same ids,
// and every text the same to the last unit, in both languages.
TEST(Win32Resources, StringTablesMatchTheCompiledTable)
{
    TextSet english = TextsIn(LANG_EN);
    ASSERT_EQ(english.Count, TableTextCount());
    const struct {
        WORD Windows;
        TextLanguage Table;
    } languages[2] = {{LANG_EN, LANGUAGE_ENGLISH}, {LANG_DE, LANGUAGE_GERMAN}};
    for (int32_t i = 0; i < TableTextCount(); ++i) {
        uint32_t id = TableTextId(i);
        EXPECT_EQ(english.Ids[i], id);
        for (const auto& language : languages) {
            SCOPED_TRACE(testing::Message() << "text " << id << ", language " << language.Windows);
            static char16_t want[2048];
            static wchar_t got[2048];
            int32_t wantLength = LoadTableTextIn(language.Table, id, want, 2048);
            int32_t gotLength = TextOf(id, language.Windows, got, 2048);
            ASSERT_EQ(gotLength, wantLength);
            for (int32_t u = 0; u < wantLength; ++u)
                ASSERT_EQ(static_cast<uint32_t>(got[u]), static_cast<uint32_t>(want[u])) << "at " << u;
        }
    }
}


// ---------------------------------------------------------------------------------------------
// Firmware images.


// The carried image set: id and size in bytes.
const struct {
    uint16_t Id;
    uint32_t Size;
} kImages[41] = {
    {119, 98304}, {120, 36032}, {122, 62848}, {124, 65792}, {125, 65792}, {126, 23552}, {127, 23552},
    {128, 23552}, {130, 23552}, {131, 121856}, {132, 121856}, {133, 121856}, {140, 97760}, {141, 97808},
    {142, 97808}, {143, 58224}, {145, 76224}, {146, 97792}, {147, 76320}, {148, 97792}, {151, 98304},
    {152, 64800}, {153, 77088}, {154, 86448}, {155, 87040}, {156, 48000}, {157, 98304}, {158, 98304},
    {159, 64752}, {160, 38480}, {170, 57136}, {171, 56528}, {172, 98304}, {173, 98304}, {174, 98304},
    {175, 96720}, {176, 96736}, {177, 96720}, {178, 98304}, {179, 98304}, {200, 63456},
};

TEST(Win32Resources, FirmwareImagesAreCarriedOnceUnderGerman)
{
    NameList names = NamesOf(RT_RCDATA);
    ASSERT_EQ(names.Count, 41);
    uint32_t total = 0;
    for (int32_t i = 0; i < 41; ++i) {
        SCOPED_TRACE(kImages[i].Id);
        EXPECT_EQ(names.Ids[i], kImages[i].Id);
        EXPECT_TRUE(HasLanguages(LanguagesOf(RT_RCDATA, kImages[i].Id), LANG_DE));
        // Found without naming a language, as the program looks it up.
        HRSRC found = FindResourceW(g_Module, MAKEINTRESOURCEW(kImages[i].Id), RT_RCDATA);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(SizeofResource(g_Module, found), kImages[i].Size);
        total += SizeofResource(g_Module, found);
    }
    EXPECT_EQ(total, 3208608u);
    EXPECT_EQ(FindResourceW(g_Module, MAKEINTRESOURCEW(150), RT_RCDATA), nullptr);
}


}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--module=", 9) == 0) g_ModulePath = argv[i] + 9;
    if (g_ModulePath != nullptr) {
        g_Module = LoadLibraryExA(g_ModulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (g_Module == nullptr) {
            std::fprintf(stderr, "cannot load %s (error %lu)\n", g_ModulePath, GetLastError());
            return 2;
        }
    } else {
        g_Module = GetModuleHandleW(nullptr);
    }
    int result = RUN_ALL_TESTS();
    if (g_ModulePath != nullptr) FreeLibrary(g_Module);
    return result;
}
