// The display's scaling for the Windows edge (display_win32.h).
#include "platform/win32/display_win32.h"

#include <commctrl.h>

#include <cmath>
#include <initializer_list>

namespace {

// The logo's canvas (tools/make_artwork.cpp), which PlaceLogo's rule is made for; bitmap 121
// holds it at half size: 886 columns, and 131.5 of its 132 rows.
constexpr int32_t LOGO_CANVAS_WIDTH = 1772;
constexpr int32_t LOGO_CANVAS_HEIGHT = 263;
constexpr double LOGO_BITMAP_SCALE = 0.5;

// The DPI_AWARENESS_CONTEXT values, as the system defines them.
const HANDLE kContextSystemAware = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
const HANDLE kContextPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
constexpr int kProcessSystemDpiAware = 1;  // PROCESS_SYSTEM_DPI_AWARE

typedef BOOL(WINAPI* SetContextFunction)(HANDLE context);
typedef HRESULT(WINAPI* SetAwarenessFunction)(int awareness);
typedef UINT(WINAPI* DpiForWindowFunction)(HWND window);
typedef int(WINAPI* MetricForDpiFunction)(int index, UINT dpi);
typedef BOOL(WINAPI* AdjustForDpiFunction)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
typedef HRESULT(WINAPI* LoadIconScaledFunction)(HINSTANCE instance, const wchar_t* name, int cx, int cy, HICON* icon);

// A function of a system library, or null where the system has none.
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name)
{
    HMODULE module = GetModuleHandleW(library);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

UINT SystemDpi()
{
    HDC screen = GetDC(nullptr);
    int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : BASE_DPI;
}

int MetricForDpi(int index, UINT dpi)
{
    const MetricForDpiFunction forDpi = SystemFunction<MetricForDpiFunction>(L"user32.dll", "GetSystemMetricsForDpi");
    if (forDpi != nullptr) return forDpi(index, dpi);
    // A system-aware process: the system's metrics are those of its DPI.
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

// The frame and caption around a client area at `dpi`, as the offsets AdjustWindowRectEx gives.
RECT FrameAtDpi(DWORD style, DWORD exStyle, UINT dpi)
{
    const AdjustForDpiFunction forDpi = SystemFunction<AdjustForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT frame = {0, 0, 0, 0};
    if (forDpi != nullptr && forDpi(&frame, style, FALSE, exStyle, dpi)) return frame;
    frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int system = static_cast<int>(SystemDpi());
    const int to = static_cast<int>(dpi);
    return RECT{MulDiv(frame.left, to, system), MulDiv(frame.top, to, system), MulDiv(frame.right, to, system),
                MulDiv(frame.bottom, to, system)};
}

HICON LoadIconAtSize(HINSTANCE instance, int iconId, int size)
{
    // Common controls 6 picks the image of that size or scales a larger one down; the system's
    // LoadImage, where it is missing, picks the nearest one.
    const LoadIconScaledFunction scaled =
        SystemFunction<LoadIconScaledFunction>(L"comctl32.dll", "LoadIconWithScaleDown");
    HICON icon = nullptr;
    if (scaled != nullptr && SUCCEEDED(scaled(instance, MAKEINTRESOURCEW(iconId), size, size, &icon))) return icon;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

int32_t ToBaseDpi(int32_t value, UINT dpi) { return MulDiv(value, static_cast<int>(BASE_DPI), static_cast<int>(dpi)); }

// The 32-bit bottom-up bitmap of resource `bitmapId`: its header and its rows.
struct SourceBitmap {
    const uint8_t* Pixels;
    int32_t Width, Height;
};

bool FindSourceBitmap(HINSTANCE instance, int bitmapId, SourceBitmap* source)
{
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(bitmapId), RT_BITMAP);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const uint8_t* bytes = loaded != nullptr ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    DWORD size = found != nullptr ? SizeofResource(instance, found) : 0;
    if (bytes == nullptr || size < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER header;
    CopyMemory(&header, bytes, sizeof header);
    if (header.biSize != sizeof header || header.biBitCount != 32 || header.biCompression != BI_RGB ||
        header.biWidth <= 0 || header.biHeight <= 0)
        return false;
    const uint64_t pixelBytes = 4ull * static_cast<uint64_t>(header.biWidth) * static_cast<uint64_t>(header.biHeight);
    if (size < sizeof header + pixelBytes) return false;
    *source = {bytes + sizeof header, header.biWidth, header.biHeight};
    return true;
}

// Each pixel of the `width` x `height` image in `out` (top-down, premultiplied BGRA) is the
// mean of the part of the source it covers: the source's area of `extentWidth` x `extentHeight`
// pixels spread over the image, pixels cut by the part's border weighed by their share.
void AreaScale(const SourceBitmap& source, double extentWidth, double extentHeight, uint8_t* out, int32_t width,
               int32_t height)
{
    const double stepX = extentWidth / width, stepY = extentHeight / height;
    for (int32_t y = 0; y < height; ++y) {
        const double top = y * stepY, bottom = (y + 1) * stepY;
        for (int32_t x = 0; x < width; ++x) {
            const double left = x * stepX, right = (x + 1) * stepX;
            double sum[4] = {0, 0, 0, 0};
            for (int32_t row = static_cast<int32_t>(top); row < source.Height && row < bottom; ++row) {
                const double rowShare = std::fmin(row + 1.0, bottom) - std::fmax(static_cast<double>(row), top);
                const uint8_t* line = source.Pixels + 4 * static_cast<size_t>(source.Width) * (source.Height - 1 - row);
                for (int32_t column = static_cast<int32_t>(left); column < source.Width && column < right; ++column) {
                    const double share =
                        rowShare * (std::fmin(column + 1.0, right) - std::fmax(static_cast<double>(column), left));
                    for (int32_t c = 0; c < 4; ++c) sum[c] += share * line[4 * column + c];
                }
            }
            uint8_t* pixel = out + 4 * (static_cast<size_t>(y) * width + x);
            for (int32_t c = 0; c < 4; ++c) {
                const long value = std::lround(sum[c] / (stepX * stepY));
                pixel[c] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
}

}  // namespace

bool RequestDpiAwareness()
{
    const SetContextFunction setContext =
        SystemFunction<SetContextFunction>(L"user32.dll", "SetProcessDpiAwarenessContext");
    if (setContext != nullptr) {
        if (setContext(kContextPerMonitorV2)) return true;
        // Windows 10 1607 knows no V2; a manifest that set the awareness makes this fail as well.
        return GetLastError() == ERROR_INVALID_PARAMETER && setContext(kContextSystemAware);
    }
    HMODULE shcore = LoadLibraryW(L"shcore.dll");  // Windows 8.1
    if (shcore != nullptr) {
        const SetAwarenessFunction setAwareness = reinterpret_cast<SetAwarenessFunction>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
        const bool taken = setAwareness != nullptr && SUCCEEDED(setAwareness(kProcessSystemDpiAware));
        FreeLibrary(shcore);
        if (setAwareness != nullptr) return taken;
    }
    return SetProcessDPIAware() != FALSE;  // Windows 7 and 8
}

UINT WindowDpi(HWND window)
{
    const DpiForWindowFunction forWindow = SystemFunction<DpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    UINT dpi = forWindow != nullptr ? forWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

int32_t ScaleToDpi(int32_t value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), static_cast<int>(BASE_DPI)); }

void SetWindowIcons(HWND window, HINSTANCE instance, int iconId, UINT dpi)
{
    const struct {
        WPARAM Kind;
        int Metric;
    } kIcons[2] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto& kind : kIcons) {
        HICON icon = LoadIconAtSize(instance, iconId, MetricForDpi(kind.Metric, dpi));
        HICON previous = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, kind.Kind, reinterpret_cast<LPARAM>(icon)));
        if (previous != nullptr && previous != icon) DestroyIcon(previous);
    }
}

void DestroyWindowIcons(HWND window)
{
    for (WPARAM kind : {static_cast<WPARAM>(ICON_BIG), static_cast<WPARAM>(ICON_SMALL)}) {
        HICON previous = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, kind, 0));
        if (previous != nullptr) DestroyIcon(previous);
    }
}

SIZE ScaledWindowSize(DWORD style, DWORD exStyle, int32_t width96, int32_t height96, UINT dpi)
{
    const RECT base = FrameAtDpi(style, exStyle, BASE_DPI);
    const RECT frame = FrameAtDpi(style, exStyle, dpi);
    const int32_t clientWidth = ScaleToDpi(width96 - (base.right - base.left), dpi);
    const int32_t clientHeight = ScaleToDpi(height96 - (base.bottom - base.top), dpi);
    return SIZE{clientWidth + frame.right - frame.left, clientHeight + frame.bottom - frame.top};
}

LogoPlacement PlaceLogoAtDpi(HWND dialog, HWND versionGroup, UINT dpi)
{
    RECT window, group;
    if (!GetWindowRect(dialog, &window) || !GetWindowRect(versionGroup, &group)) return LogoPlacement{false, 0, 0, 0, 0};
    const UiRect window96 = {0, 0, ToBaseDpi(window.right - window.left, dpi), ToBaseDpi(window.bottom - window.top, dpi)};
    const UiRect group96 = {ToBaseDpi(group.left - window.left, dpi), ToBaseDpi(group.top - window.top, dpi),
                            ToBaseDpi(group.right - window.left, dpi), ToBaseDpi(group.bottom - window.top, dpi)};
    LogoPlacement place = PlaceLogo(LOGO_CANVAS_WIDTH, LOGO_CANVAS_HEIGHT, window96, group96,
                                    ToBaseDpi(MetricForDpi(SM_CXDLGFRAME, dpi), dpi),
                                    ToBaseDpi(MetricForDpi(SM_CYCAPTION, dpi), dpi));
    if (!place.Draw) return place;
    place.X = ScaleToDpi(place.X, dpi);
    place.Y = ScaleToDpi(place.Y, dpi);
    place.Width = ScaleToDpi(place.Width, dpi);
    // The height from the scaled width, in the canvas's proportion, as the rule takes it.
    place.Height = static_cast<int32_t>(static_cast<int64_t>(place.Width) * LOGO_CANVAS_HEIGHT / LOGO_CANVAS_WIDTH);
    place.Draw = place.Width > 0 && place.Height > 0;
    return place;
}

bool ScaleLogo(HINSTANCE instance, int bitmapId, int32_t width, int32_t height, ScaledLogo* logo)
{
    if (logo->Bitmap != nullptr && logo->Width == width && logo->Height == height) return true;
    FreeScaledLogo(logo);
    SourceBitmap source;
    const double extentWidth = LOGO_CANVAS_WIDTH * LOGO_BITMAP_SCALE, extentHeight = LOGO_CANVAS_HEIGHT * LOGO_BITMAP_SCALE;
    if (width <= 0 || height <= 0 || !FindSourceBitmap(instance, bitmapId, &source) || source.Width < extentWidth ||
        source.Height < extentHeight)
        return false;

    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return false;
    }
    AreaScale(source, extentWidth, extentHeight, static_cast<uint8_t*>(bits), width, height);
    GdiFlush();
    *logo = {bitmap, width, height};
    return true;
}

void DrawScaledLogo(HDC dc, const ScaledLogo& logo, int32_t x, int32_t y)
{
    if (logo.Bitmap == nullptr) return;
    HDC memory = CreateCompatibleDC(dc);
    if (memory == nullptr) return;
    HGDIOBJ previous = SelectObject(memory, logo.Bitmap);
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, logo.Width, logo.Height, memory, 0, 0, logo.Width, logo.Height, blend);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void FreeScaledLogo(ScaledLogo* logo)
{
    if (logo->Bitmap != nullptr) DeleteObject(logo->Bitmap);
    *logo = {nullptr, 0, 0};
}
