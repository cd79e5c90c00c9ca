// The display's scaling, for the Windows edge: the DPI awareness the process asks for, the DPI a
// window is drawn at, sizes for a DPI, and what the program draws itself at that DPI (the
// window's icons, the logo, the progress window's size). The dialog and its controls scale
// themselves under per-monitor V2; everything here is what the system does not scale.
//
// The system functions that older systems lack (Windows 10 1607 brought GetDpiForWindow,
// GetSystemMetricsForDpi and AdjustWindowRectExForDpi, 1703 per-monitor V2) are looked up at
// run time; where one is missing the process is system aware, and the system's DPI serves.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/app.h"

// The DPI at which one pixel is one pixel: 100 %.
constexpr UINT BASE_DPI = 96;

// Called once at start, before the first window: asks for per-monitor V2 awareness, or for
// system awareness where the system has no V2 (the manifest's entries, for a system that does
// not read them). True when the system took it; false when it refused, as it does when the
// manifest has already set the awareness (and as Wine always does).
bool RequestDpiAwareness();

// The DPI `window` is drawn at.
UINT WindowDpi(HWND window);

// `value` pixels at 96 DPI, at `dpi` (rounded to the nearest pixel).
int32_t ScaleToDpi(int32_t value, UINT dpi);

// The window's icons for `dpi`: its large (title bar at Alt+Tab, SM_CXICON) and small (title
// bar, taskbar, SM_CXSMICON) icon from group `iconId`, each loaded at its size. The icons
// `window` had before are destroyed; DestroyWindowIcons takes the last ones away.
void SetWindowIcons(HWND window, HINSTANCE instance, int iconId, UINT dpi);
void DestroyWindowIcons(HWND window);

// The size of a window with `style` and `exStyle` whose client area, at 96 DPI, is that of a
// window of `width96` x `height96` pixels: that client area scaled to `dpi`, with the frame and
// caption the system draws at `dpi` around it.
SIZE ScaledWindowSize(DWORD style, DWORD exStyle, int32_t width96, int32_t height96, UINT dpi);

// ---- The logo -------------------------------------------------------------------------------

// Where the dialog's logo goes at `dpi`: PlaceLogo's rule (in pixels at 96 DPI, for the logo's
// canvas of 1772 x 263) applied to the dialog's and the version group's rectangles and the
// frame and caption metrics at `dpi`, all taken back to 96 DPI, and its result scaled to `dpi`.
// Coordinates are relative to the dialog's client area.
LogoPlacement PlaceLogoAtDpi(HWND dialog, HWND versionGroup, UINT dpi);

// The logo at one size: a top-down 32-bit DIB section with premultiplied alpha.
struct ScaledLogo {
    HBITMAP Bitmap;  // null: none
    int32_t Width, Height;
};

// Makes `logo` the logo of bitmap `bitmapId` at `width` x `height`, scaled from the bitmap with
// an area filter (each pixel the mean of the part of the bitmap it covers); a logo already at
// that size is kept. False, with no logo, when the bitmap is missing or not the 32-bit bitmap
// with alpha the program carries.
bool ScaleLogo(HINSTANCE instance, int bitmapId, int32_t width, int32_t height, ScaledLogo* logo);
// Draws it at x, y (no stretching), blended into what is there by its alpha.
void DrawScaledLogo(HDC dc, const ScaledLogo& logo, int32_t x, int32_t y);
void FreeScaledLogo(ScaledLogo* logo);
