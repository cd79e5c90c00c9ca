// velquor_make_artwork: draws the program's artwork and writes it in the forms the resource
// compiler and the page take.
//
//   velquor_make_artwork --window <logo.bmp> <icon.ico>
//   velquor_make_artwork <logo.bmp> <icon.ico> [page-logo.bmp [icon-192.png icon-512.png]]
//
// With --window, the Windows program's artwork:
// logo.bmp  bitmap 121: the VELQUOR wordmark on a slanted dark plate, with speed stripes, on a
//           transparent ground. The artwork is drawn on a canvas of 1772 x 263; the bitmap holds
//           it at half that size, 886 x 132 (the last row stands for one row of the canvas and
//           a transparent one), which is as large as the dialog ever shows it (half the
//           canvas's width at most). 32 bits with premultiplied alpha, BI_RGB, bottom-up: 40 +
//           467,808 bytes behind the 14-byte file header (the resource compiler drops the file
//           header). The dialog scales it down with filtering to the size it shows.
// icon.ico  icon group 123: eight fully opaque 32-bit images of 16, 20, 24, 32, 40, 48, 64 and
//           256 pixels (the small and large icons at 100 to 200 % and the shell's largest
//           view), each drawn at its size, stored as DIBs (header with doubled height, BGRA
//           rows, AND mask), not PNG.
//
// Without --window, the page's artwork (the page's build names a logo.bmp it does not use):
// logo.bmp  the canvas as it is, 1772 x 263, 24 bits, bottom-up, on the pure-green key colour
//           RGB(0, 255, 0) that stands for transparency.
// icon.ico  the page's icon: five fully opaque 32-bit images of 16, 32, 48, 64 and 128 pixels,
//           stored as DIBs.
// page-logo.bmp  (optional) the logo for the web page, a quarter of the size, transparent where
//           the key green was (see WritePageLogo).
// icon-192.png, icon-512.png  (optional, with page-logo.bmp) the icon at 192 and 512 pixels for
//           the page's web app manifest: 8-bit RGB PNG, its zlib stream in stored (uncompressed)
//           deflate blocks (see WritePng).
//
// Everything is drawn from simple geometry by the code below: no fonts, no image files. The
// output depends on nothing but this file, so every run writes the same bytes.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct Rgb {
    uint8_t R, G, B;
};

constexpr Rgb KEY_GREEN = {0, 255, 0};
constexpr Rgb PLATE = {26, 30, 38};
constexpr Rgb PLATE_EDGE = {255, 136, 0};
constexpr Rgb LETTER = {246, 246, 246};
constexpr Rgb ACCENT = {255, 136, 0};
constexpr Rgb ICON_TOP = {44, 50, 62};
constexpr Rgb ICON_BOTTOM = {18, 21, 27};

// ---------------------------------------------------------------------------------------------
// Canvas: top-down RGB pixels; converted to the file's bottom-up BGR rows when written.

constexpr int32_t LOGO_WIDTH = 1772;
constexpr int32_t LOGO_HEIGHT = 263;
constexpr int32_t LOGO_ROW_BYTES = LOGO_WIDTH * 3;  // 5,316: already a multiple of 4
static_assert(LOGO_ROW_BYTES % 4 == 0);
constexpr int32_t LOGO_PIXEL_BYTES = LOGO_ROW_BYTES * LOGO_HEIGHT;  // 1,398,108

Rgb g_Logo[LOGO_HEIGHT][LOGO_WIDTH];

uint8_t Mix(uint8_t from, uint8_t to, float amount)
{
    float v = static_cast<float>(from) + (static_cast<float>(to) - static_cast<float>(from)) * amount;
    return static_cast<uint8_t>(std::lround(v));
}

Rgb MixRgb(Rgb from, Rgb to, float amount)
{
    return Rgb{Mix(from.R, to.R, amount), Mix(from.G, to.G, amount), Mix(from.B, to.B, amount)};
}

// A parallelogram leaning forward: rows top..bottom (exclusive), left edge at `left` on the
// bottom row, moving `slant` pixels right per row upwards. Hard edges: whole pixels only, so
// that no blend with the key colour appears around the shape.
void FillSlantedBar(int32_t top, int32_t bottom, float left, float width, float slant, Rgb colour)
{
    for (int32_t y = top; y < bottom; ++y) {
        float shift = slant * static_cast<float>(bottom - 1 - y);
        float x0 = left + shift;
        float x1 = x0 + width;
        for (int32_t x = 0; x < LOGO_WIDTH; ++x) {
            float cx = static_cast<float>(x) + 0.5f;
            if (cx >= x0 && cx < x1) g_Logo[y][x] = colour;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Stroke letters: each glyph is a few polylines on a grid 10 units high (baseline 0, cap 10),
// drawn as round-capped strokes of one width. Corners are chamfered, which gives the wordmark
// its squared, technical look.

struct Point {
    float X, Y;
};

constexpr int32_t MAX_GLYPH_POINTS = 10;
constexpr int32_t MAX_GLYPH_LINES = 2;

struct Polyline {
    int32_t Count;
    Point Points[MAX_GLYPH_POINTS];
};

struct Glyph {
    char Letter;
    float Advance;  // width in units, without the spacing
    int32_t LineCount;
    Polyline Lines[MAX_GLYPH_LINES];
    bool SecondLineIsAccent;  // the Q's tail is drawn in the accent colour
};

const Glyph kGlyphs[] = {
    {'V', 6.4f, 1, {{3, {{0, 10}, {3.2f, 0}, {6.4f, 10}}}}, false},
    {'E', 5.6f, 2, {{4, {{5.6f, 10}, {0, 10}, {0, 0}, {5.6f, 0}}}, {2, {{0, 5.1f}, {4.4f, 5.1f}}}}, false},
    {'L', 5.4f, 1, {{3, {{0, 10}, {0, 0}, {5.4f, 0}}}}, false},
    {'Q', 6.2f, 2,
     {{9, {{2, 0}, {4.2f, 0}, {6.2f, 2}, {6.2f, 8}, {4.2f, 10}, {2, 10}, {0, 8}, {0, 2}, {2, 0}}},
      {2, {{3.9f, 2.6f}, {6.9f, -0.9f}}}},
     true},
    {'U', 6.2f, 1, {{6, {{0, 10}, {0, 2}, {2, 0}, {4.2f, 0}, {6.2f, 2}, {6.2f, 10}}}}, false},
    {'O', 6.2f, 1,
     {{9, {{2, 0}, {4.2f, 0}, {6.2f, 2}, {6.2f, 8}, {4.2f, 10}, {2, 10}, {0, 8}, {0, 2}, {2, 0}}}},
     false},
    {'R', 6.0f, 2,
     {{7, {{0, 0}, {0, 10}, {4.4f, 10}, {6, 8.4f}, {6, 6.6f}, {4.4f, 5}, {0, 5}}}, {2, {{3.2f, 5}, {6, 0}}}},
     false},
};

const Glyph* FindGlyph(char letter)
{
    for (const Glyph& g : kGlyphs)
        if (g.Letter == letter) return &g;
    return nullptr;
}

float DistanceToSegment(float px, float py, Point a, Point b)
{
    float dx = b.X - a.X, dy = b.Y - a.Y;
    float lengthSquared = dx * dx + dy * dy;
    float t = 0.0f;
    if (lengthSquared > 0.0f) {
        t = ((px - a.X) * dx + (py - a.Y) * dy) / lengthSquared;
        t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    }
    float ex = px - (a.X + t * dx), ey = py - (a.Y + t * dy);
    return std::sqrt(ex * ex + ey * ey);
}

// Where a glyph lands on the canvas: units to pixels, leaning forward by `slant`.
struct GlyphPlacement {
    float OriginX, BaselineY, Unit, Slant;
};

Point ToCanvas(const GlyphPlacement& p, Point unitPoint)
{
    return Point{p.OriginX + p.Unit * (unitPoint.X + p.Slant * unitPoint.Y), p.BaselineY - p.Unit * unitPoint.Y};
}

// Draws polylines [first, last) of the glyph as strokes of `strokeWidth` pixels, blending by
// the pixel's coverage estimated from its distance to the stroke's centre line.
void DrawGlyphLines(const Glyph& glyph, const GlyphPlacement& place, int32_t first, int32_t last,
                    float strokeWidth, Rgb colour)
{
    Point canvas[MAX_GLYPH_LINES][MAX_GLYPH_POINTS];
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (int32_t l = first; l < last; ++l) {
        for (int32_t i = 0; i < glyph.Lines[l].Count; ++i) {
            Point c = ToCanvas(place, glyph.Lines[l].Points[i]);
            canvas[l][i] = c;
            minX = std::fmin(minX, c.X); maxX = std::fmax(maxX, c.X);
            minY = std::fmin(minY, c.Y); maxY = std::fmax(maxY, c.Y);
        }
    }
    float half = strokeWidth * 0.5f;
    int32_t x0 = static_cast<int32_t>(std::floor(minX - half - 1)), x1 = static_cast<int32_t>(std::ceil(maxX + half + 1));
    int32_t y0 = static_cast<int32_t>(std::floor(minY - half - 1)), y1 = static_cast<int32_t>(std::ceil(maxY + half + 1));
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > LOGO_WIDTH) x1 = LOGO_WIDTH;
    if (y1 > LOGO_HEIGHT) y1 = LOGO_HEIGHT;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
            float nearest = 1e9f;
            for (int32_t l = first; l < last; ++l)
                for (int32_t i = 0; i + 1 < glyph.Lines[l].Count; ++i)
                    nearest = std::fmin(nearest, DistanceToSegment(px, py, canvas[l][i], canvas[l][i + 1]));
            float coverage = half - nearest + 0.5f;
            if (coverage <= 0.0f) continue;
            if (coverage > 1.0f) coverage = 1.0f;
            g_Logo[y][x] = MixRgb(g_Logo[y][x], colour, coverage);
        }
    }
}

// Draws `text` (letters of kGlyphs only) from `originX` on `baselineY`; returns false for a
// letter without a glyph.
bool DrawWord(const char* text, float originX, float baselineY, float unit, float slant, float spacing,
              float strokeWidth)
{
    float x = originX;
    for (const char* c = text; *c != '\0'; ++c) {
        const Glyph* glyph = FindGlyph(*c);
        if (glyph == nullptr) return false;
        GlyphPlacement place = {x, baselineY, unit, slant};
        int32_t plainLines = glyph->SecondLineIsAccent ? 1 : glyph->LineCount;
        DrawGlyphLines(*glyph, place, 0, plainLines, strokeWidth, LETTER);
        if (plainLines < glyph->LineCount) DrawGlyphLines(*glyph, place, plainLines, glyph->LineCount, strokeWidth, ACCENT);
        x += (glyph->Advance + spacing) * unit;
    }
    return true;
}

float WordWidth(const char* text, float unit, float spacing)
{
    float width = 0.0f;
    for (const char* c = text; *c != '\0'; ++c) {
        const Glyph* glyph = FindGlyph(*c);
        if (glyph != nullptr) width += glyph->Advance * unit;
        if (c[1] != '\0') width += spacing * unit;
    }
    return width;
}

bool DrawLogo()
{
    for (auto& row : g_Logo)
        for (Rgb& pixel : row) pixel = KEY_GREEN;

    // The plate leans forward like the letters: 1 pixel right per 4 rows upwards.
    const float slant = 0.25f;
    const int32_t plateTop = 14, plateBottom = 249;
    const float plateLeft = 500.0f, plateWidth = 1058.0f;
    FillSlantedBar(plateTop, plateBottom, plateLeft, plateWidth, slant, PLATE);
    // An accent line along the plate's foot.
    FillSlantedBar(plateBottom - 16, plateBottom - 8, plateLeft + 60.0f, plateWidth - 120.0f, slant, PLATE_EDGE);

    // Speed stripes trailing the plate on the left, shorter from top to bottom.
    const int32_t stripeTop[3] = {44, 104, 164};
    const float stripeLength[3] = {380.0f, 300.0f, 220.0f};
    for (int32_t i = 0; i < 3; ++i) {
        float right = plateLeft - 26.0f + slant * static_cast<float>(plateBottom - stripeTop[i] - 28);
        FillSlantedBar(stripeTop[i], stripeTop[i] + 28, right - stripeLength[i], stripeLength[i] - 10.0f * static_cast<float>(i),
                       slant, ACCENT);
    }

    // The wordmark, centred across the plate. Letters and plate lean alike, so the centring
    // done on the baseline row holds on every row.
    const char* word = "VELQUOR";
    const float unit = 15.0f, spacing = 2.7f, stroke = 29.0f;
    const float baseline = 198.0f;
    float width = WordWidth(word, unit, spacing);
    float originX = plateLeft + slant * (static_cast<float>(plateBottom - 1) - baseline) + (plateWidth - width) * 0.5f;
    return DrawWord(word, originX, baseline, unit, slant, spacing, stroke);
}

// ---------------------------------------------------------------------------------------------
// Icon: a dark square with a lighter top, a white V and an orange speed bar, drawn at each size
// from the same shapes with 4 x 4 samples per pixel.

constexpr int32_t PAGE_ICON_SIZES[5] = {16, 32, 48, 64, 128};
constexpr int32_t WINDOW_ICON_SIZES[8] = {16, 20, 24, 32, 40, 48, 64, 256};
constexpr int32_t MAX_ICON = 256;      // the largest image in an .ico
constexpr int32_t MAX_CANVAS = 512;    // the largest PNG of the page

struct IconCanvas {
    int32_t Size;
    Rgb Pixels[MAX_CANVAS][MAX_CANVAS];  // top-down
};

IconCanvas g_Icon;

// Share of the pixel's 16 samples inside the shape; the shape is given in units of the icon's
// side (0..1, y downwards).
template <typename Inside>
float Coverage(int32_t size, int32_t x, int32_t y, Inside inside)
{
    int32_t hits = 0;
    for (int32_t sy = 0; sy < 4; ++sy) {
        for (int32_t sx = 0; sx < 4; ++sx) {
            float u = (static_cast<float>(x) + (static_cast<float>(sx) + 0.5f) / 4.0f) / static_cast<float>(size);
            float v = (static_cast<float>(y) + (static_cast<float>(sy) + 0.5f) / 4.0f) / static_cast<float>(size);
            if (inside(u, v)) ++hits;
        }
    }
    return static_cast<float>(hits) / 16.0f;
}

void DrawIcon(int32_t size)
{
    g_Icon.Size = size;
    // Small icons get heavier strokes so that they stay legible.
    float stroke = size <= 16 ? 0.20f : (size <= 32 ? 0.17f : 0.15f);
    Point left = {0.20f, 0.16f}, bottom = {0.50f, 0.70f}, right = {0.80f, 0.16f};
    auto inV = [&](float u, float v) {
        float d = std::fmin(DistanceToSegment(u, v, left, bottom), DistanceToSegment(u, v, bottom, right));
        return d <= stroke * 0.5f;
    };
    auto inBar = [&](float u, float v) {
        float lean = (0.92f - v) * 0.25f;
        return v >= 0.78f && v < 0.90f && u >= 0.14f + lean && u < 0.86f + lean;
    };
    for (int32_t y = 0; y < size; ++y) {
        float t = static_cast<float>(y) / static_cast<float>(size - 1);
        Rgb background = MixRgb(ICON_TOP, ICON_BOTTOM, t);
        for (int32_t x = 0; x < size; ++x) {
            Rgb pixel = background;
            pixel = MixRgb(pixel, ACCENT, Coverage(size, x, y, inBar));
            pixel = MixRgb(pixel, LETTER, Coverage(size, x, y, inV));
            g_Icon.Pixels[y][x] = pixel;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Files.

void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int32_t i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// BITMAPINFOHEADER: 40 bytes.
void PutInfoHeader(uint8_t* p, int32_t width, int32_t height, uint32_t bitCount, uint32_t imageBytes)
{
    for (int32_t i = 0; i < 40; ++i) p[i] = 0;
    PutLe32(p + 0, 40);
    PutLe32(p + 4, static_cast<uint32_t>(width));
    PutLe32(p + 8, static_cast<uint32_t>(height));
    PutLe16(p + 12, 1);  // planes
    PutLe16(p + 14, bitCount);
    PutLe32(p + 16, 0);  // BI_RGB
    PutLe32(p + 20, imageBytes);
}

bool WriteAll(FILE* file, const uint8_t* bytes, size_t count)
{
    return std::fwrite(bytes, 1, count, file) == count;
}

constexpr int32_t BMP_FILE_HEADER = 14;
constexpr int32_t INFO_HEADER = 40;

uint8_t g_LogoRow[LOGO_ROW_BYTES];

bool WriteLogo(const char* path)
{
    bool ok = false;
    uint8_t headers[BMP_FILE_HEADER + INFO_HEADER];
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) goto done;

    headers[0] = 'B';
    headers[1] = 'M';
    PutLe32(headers + 2, BMP_FILE_HEADER + INFO_HEADER + LOGO_PIXEL_BYTES);
    PutLe32(headers + 6, 0);
    PutLe32(headers + 10, BMP_FILE_HEADER + INFO_HEADER);
    PutInfoHeader(headers + BMP_FILE_HEADER, LOGO_WIDTH, LOGO_HEIGHT, 24, LOGO_PIXEL_BYTES);
    if (!WriteAll(file, headers, sizeof headers)) goto close;

    for (int32_t row = LOGO_HEIGHT - 1; row >= 0; --row) {  // bottom-up
        for (int32_t x = 0; x < LOGO_WIDTH; ++x) {
            g_LogoRow[3 * x + 0] = g_Logo[row][x].B;
            g_LogoRow[3 * x + 1] = g_Logo[row][x].G;
            g_LogoRow[3 * x + 2] = g_Logo[row][x].R;
        }
        if (!WriteAll(file, g_LogoRow, sizeof g_LogoRow)) goto close;
    }
    ok = true;
close:
    if (std::fclose(file) != 0) ok = false;
done:
    return ok;
}

// The logo for the web page: a quarter of the size each way, the key green turned into
// transparency. Each pixel stands for a square of 4 x 4 (fewer at the edges): its colour is the
// mean of the square's pixels that are not key green, its alpha their share. 32 bits, alpha
// included (BITMAPV4HEADER, BI_BITFIELDS), top-down: 443 x 66, 116,872 bytes of pixels.
constexpr int32_t PAGE_LOGO_SCALE = 4;
constexpr int32_t PAGE_LOGO_WIDTH = (LOGO_WIDTH + PAGE_LOGO_SCALE - 1) / PAGE_LOGO_SCALE;
constexpr int32_t PAGE_LOGO_HEIGHT = (LOGO_HEIGHT + PAGE_LOGO_SCALE - 1) / PAGE_LOGO_SCALE;
constexpr int32_t V4_HEADER = 108;
constexpr uint32_t PAGE_LOGO_PIXEL_BYTES = static_cast<uint32_t>(PAGE_LOGO_WIDTH * PAGE_LOGO_HEIGHT * 4);

uint8_t g_PageLogo[PAGE_LOGO_HEIGHT][PAGE_LOGO_WIDTH][4];

bool IsKey(const Rgb& c) { return c.R == KEY_GREEN.R && c.G == KEY_GREEN.G && c.B == KEY_GREEN.B; }

bool WritePageLogo(const char* path)
{
    for (int32_t y = 0; y < PAGE_LOGO_HEIGHT; ++y) {
        for (int32_t x = 0; x < PAGE_LOGO_WIDTH; ++x) {
            uint32_t r = 0, g = 0, b = 0, covered = 0, all = 0;
            for (int32_t dy = 0; dy < PAGE_LOGO_SCALE && y * PAGE_LOGO_SCALE + dy < LOGO_HEIGHT; ++dy) {
                for (int32_t dx = 0; dx < PAGE_LOGO_SCALE && x * PAGE_LOGO_SCALE + dx < LOGO_WIDTH; ++dx) {
                    const Rgb& c = g_Logo[y * PAGE_LOGO_SCALE + dy][x * PAGE_LOGO_SCALE + dx];
                    ++all;
                    if (IsKey(c)) continue;
                    r += c.R;
                    g += c.G;
                    b += c.B;
                    ++covered;
                }
            }
            uint8_t* p = g_PageLogo[y][x];
            p[0] = static_cast<uint8_t>(covered != 0 ? b / covered : 0);
            p[1] = static_cast<uint8_t>(covered != 0 ? g / covered : 0);
            p[2] = static_cast<uint8_t>(covered != 0 ? r / covered : 0);
            p[3] = static_cast<uint8_t>((covered * 255 + all / 2) / all);
        }
    }
    uint8_t headers[BMP_FILE_HEADER + V4_HEADER] = {};
    headers[0] = 'B';
    headers[1] = 'M';
    PutLe32(headers + 2, BMP_FILE_HEADER + V4_HEADER + PAGE_LOGO_PIXEL_BYTES);
    PutLe32(headers + 10, BMP_FILE_HEADER + V4_HEADER);
    uint8_t* info = headers + BMP_FILE_HEADER;
    PutLe32(info + 0, V4_HEADER);
    PutLe32(info + 4, static_cast<uint32_t>(PAGE_LOGO_WIDTH));
    PutLe32(info + 8, static_cast<uint32_t>(-PAGE_LOGO_HEIGHT));  // negative: top-down
    PutLe16(info + 12, 1);
    PutLe16(info + 14, 32);
    PutLe32(info + 16, 3);  // BI_BITFIELDS
    PutLe32(info + 20, PAGE_LOGO_PIXEL_BYTES);
    PutLe32(info + 40, 0x00FF0000);  // red, green, blue and alpha masks
    PutLe32(info + 44, 0x0000FF00);
    PutLe32(info + 48, 0x000000FF);
    PutLe32(info + 52, 0xFF000000);
    PutLe32(info + 56, 0x73524742);  // LCS_sRGB
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool ok = WriteAll(file, headers, sizeof headers) && WriteAll(file, &g_PageLogo[0][0][0], PAGE_LOGO_PIXEL_BYTES);
    return std::fclose(file) == 0 && ok;
}

// The window's logo: the canvas at half size, 886 x 132, each pixel standing for a square of
// 2 x 2 (the last row's squares lie half outside the canvas; that half counts as transparent).
// Its alpha is the square's share of pixels that are not key green, its colour their sum over
// the four, which is the mean colour already multiplied by the alpha (premultiplied, as
// AlphaBlend takes it). 32 bits, BI_RGB, bottom-up.
constexpr int32_t WINDOW_LOGO_WIDTH = LOGO_WIDTH / 2;
constexpr int32_t WINDOW_LOGO_HEIGHT = (LOGO_HEIGHT + 1) / 2;
constexpr uint32_t WINDOW_LOGO_PIXEL_BYTES = static_cast<uint32_t>(WINDOW_LOGO_WIDTH * WINDOW_LOGO_HEIGHT * 4);
static_assert(LOGO_WIDTH % 2 == 0 && WINDOW_LOGO_WIDTH == 886 && WINDOW_LOGO_HEIGHT == 132 &&
              WINDOW_LOGO_PIXEL_BYTES == 467808);

uint8_t g_WindowLogoRow[WINDOW_LOGO_WIDTH * 4];

bool WriteWindowLogo(const char* path)
{
    uint8_t headers[BMP_FILE_HEADER + INFO_HEADER];
    headers[0] = 'B';
    headers[1] = 'M';
    PutLe32(headers + 2, BMP_FILE_HEADER + INFO_HEADER + WINDOW_LOGO_PIXEL_BYTES);
    PutLe32(headers + 6, 0);
    PutLe32(headers + 10, BMP_FILE_HEADER + INFO_HEADER);
    PutInfoHeader(headers + BMP_FILE_HEADER, WINDOW_LOGO_WIDTH, WINDOW_LOGO_HEIGHT, 32, WINDOW_LOGO_PIXEL_BYTES);
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool ok = WriteAll(file, headers, sizeof headers);
    for (int32_t row = WINDOW_LOGO_HEIGHT - 1; ok && row >= 0; --row) {  // bottom-up
        for (int32_t x = 0; x < WINDOW_LOGO_WIDTH; ++x) {
            uint32_t r = 0, g = 0, b = 0, covered = 0;
            for (int32_t dy = 0; dy < 2 && 2 * row + dy < LOGO_HEIGHT; ++dy) {
                for (int32_t dx = 0; dx < 2; ++dx) {
                    const Rgb& c = g_Logo[2 * row + dy][2 * x + dx];
                    if (IsKey(c)) continue;
                    r += c.R;
                    g += c.G;
                    b += c.B;
                    ++covered;
                }
            }
            uint8_t* p = g_WindowLogoRow + 4 * x;
            p[0] = static_cast<uint8_t>((b + 2) / 4);
            p[1] = static_cast<uint8_t>((g + 2) / 4);
            p[2] = static_cast<uint8_t>((r + 2) / 4);
            p[3] = static_cast<uint8_t>((covered * 255 + 2) / 4);
        }
        ok = WriteAll(file, g_WindowLogoRow, sizeof g_WindowLogoRow);
    }
    return std::fclose(file) == 0 && ok;
}

// One icon image: header (height doubled: XOR and AND halves), BGRA rows bottom-up, then the
// AND mask, one bit per pixel, rows padded to 4 bytes, all zero (every pixel opaque).
constexpr uint32_t IconMaskRowBytes(int32_t size) { return static_cast<uint32_t>(((size + 31) / 32) * 4); }
constexpr uint32_t IconImageBytes(int32_t size)
{
    return INFO_HEADER + static_cast<uint32_t>(size * size * 4) + IconMaskRowBytes(size) * static_cast<uint32_t>(size);
}
static_assert(IconImageBytes(16) == 1128 && IconImageBytes(20) == 1720 && IconImageBytes(24) == 2440 &&
              IconImageBytes(32) == 4264 && IconImageBytes(40) == 6760 && IconImageBytes(48) == 9640 &&
              IconImageBytes(64) == 16936 && IconImageBytes(128) == 67624 && IconImageBytes(256) == 270376);

uint8_t g_IconImage[IconImageBytes(MAX_ICON)];

// An .ico of `count` images, one per size in `sizes` (at most 8), in that order.
bool WriteIcon(const char* path, const int32_t* sizes, int32_t count)
{
    bool ok = false;
    constexpr int32_t MAX_COUNT = 8;
    uint8_t directory[6 + 16 * MAX_COUNT];  // ICONDIR + ICONDIRENTRYs
    const uint32_t directoryBytes = 6 + 16 * static_cast<uint32_t>(count);
    uint32_t offset = directoryBytes;
    FILE* file = count <= MAX_COUNT ? std::fopen(path, "wb") : nullptr;
    if (file == nullptr) goto done;

    PutLe16(directory + 0, 0);  // reserved
    PutLe16(directory + 2, 1);  // type: icon
    PutLe16(directory + 4, static_cast<uint32_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        int32_t size = sizes[i];
        uint8_t* entry = directory + 6 + 16 * i;
        entry[0] = static_cast<uint8_t>(size & 0xFF);  // 0 means 256
        entry[1] = static_cast<uint8_t>(size & 0xFF);
        entry[2] = 0;  // no palette
        entry[3] = 0;
        PutLe16(entry + 4, 1);   // planes
        PutLe16(entry + 6, 32);  // bits per pixel
        PutLe32(entry + 8, IconImageBytes(size));
        PutLe32(entry + 12, offset);
        offset += IconImageBytes(size);
    }
    if (!WriteAll(file, directory, directoryBytes)) goto close;

    for (int32_t i = 0; i < count; ++i) {
        int32_t size = sizes[i];
        uint32_t xorBytes = static_cast<uint32_t>(size * size * 4);
        DrawIcon(size);
        PutInfoHeader(g_IconImage, size, 2 * size, 32, xorBytes + IconMaskRowBytes(size) * static_cast<uint32_t>(size));
        uint8_t* p = g_IconImage + INFO_HEADER;
        for (int32_t row = size - 1; row >= 0; --row) {
            for (int32_t x = 0; x < size; ++x) {
                const Rgb& c = g_Icon.Pixels[row][x];
                *p++ = c.B;
                *p++ = c.G;
                *p++ = c.R;
                *p++ = 255;  // fully opaque
            }
        }
        uint32_t maskBytes = IconMaskRowBytes(size) * static_cast<uint32_t>(size);
        for (uint32_t m = 0; m < maskBytes; ++m) *p++ = 0;
        if (!WriteAll(file, g_IconImage, IconImageBytes(size))) goto close;
    }
    ok = true;
close:
    if (std::fclose(file) != 0) ok = false;
done:
    return ok;
}


// ---------------------------------------------------------------------------------------------
// PNG: signature, IHDR (8-bit RGB), one IDAT, IEND. The IDAT holds a zlib stream whose deflate
// blocks are stored (no compression), each at most 65,535 bytes, closed by the Adler-32 of the
// filtered rows (each row led by filter byte 0). Every chunk ends with the CRC-32 of its type
// and data.

uint32_t g_CrcTable[256];

void MakeCrcTable()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int32_t k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        g_CrcTable[n] = c;
    }
}

uint32_t Crc32(uint32_t crc, const uint8_t* bytes, size_t count)
{
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = g_CrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(uint8_t* p, uint32_t v)
{
    for (int32_t i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

constexpr uint32_t PNG_ROW_BYTES = 1 + MAX_CANVAS * 3;
constexpr uint32_t PNG_RAW_BYTES = PNG_ROW_BYTES * MAX_CANVAS;
constexpr uint32_t STORED_BLOCK = 65535;
// zlib header, the stored blocks with their 5-byte headers, Adler-32.
constexpr uint32_t PNG_ZLIB_BYTES = 2 + PNG_RAW_BYTES + 5 * ((PNG_RAW_BYTES + STORED_BLOCK - 1) / STORED_BLOCK) + 4;
uint8_t g_PngRaw[PNG_RAW_BYTES];
uint8_t g_PngChunk[8 + PNG_ZLIB_BYTES + 4];  // length, type, data, CRC

bool WriteChunk(FILE* file, const char* type, const uint8_t* data, uint32_t length)
{
    PutBe32(g_PngChunk, length);
    for (int32_t i = 0; i < 4; ++i) g_PngChunk[4 + i] = static_cast<uint8_t>(type[i]);
    for (uint32_t i = 0; i < length; ++i) g_PngChunk[8 + i] = data[i];
    PutBe32(g_PngChunk + 8 + length, Crc32(0, g_PngChunk + 4, 4 + length));
    return WriteAll(file, g_PngChunk, 12 + length);
}

uint8_t g_PngZlib[PNG_ZLIB_BYTES];

bool WritePng(const char* path, int32_t size)
{
    DrawIcon(size);
    const uint32_t rowBytes = 1 + static_cast<uint32_t>(size) * 3;
    const uint32_t rawBytes = rowBytes * static_cast<uint32_t>(size);
    uint8_t* p = g_PngRaw;
    for (int32_t y = 0; y < size; ++y) {
        *p++ = 0;  // filter: none
        for (int32_t x = 0; x < size; ++x) {
            const Rgb& c = g_Icon.Pixels[y][x];
            *p++ = c.R;
            *p++ = c.G;
            *p++ = c.B;
        }
    }
    uint32_t a = 1, b = 0;
    for (uint32_t i = 0; i < rawBytes; ++i) {
        a = (a + g_PngRaw[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    uint8_t* z = g_PngZlib;
    *z++ = 0x78;  // deflate, 32 KiB window
    *z++ = 0x01;  // no preset dictionary, fastest; (0x78 << 8 | 0x01) % 31 == 0
    for (uint32_t at = 0; at < rawBytes; at += STORED_BLOCK) {
        uint32_t length = rawBytes - at < STORED_BLOCK ? rawBytes - at : STORED_BLOCK;
        *z++ = at + length == rawBytes ? 1 : 0;  // BFINAL on the last; BTYPE 00: stored
        PutLe16(z, length);
        PutLe16(z + 2, ~length & 0xFFFFu);
        z += 4;
        for (uint32_t i = 0; i < length; ++i) *z++ = g_PngRaw[at + i];
    }
    PutBe32(z, (b << 16) | a);
    z += 4;

    uint8_t header[13];
    PutBe32(header, static_cast<uint32_t>(size));
    PutBe32(header + 4, static_cast<uint32_t>(size));
    header[8] = 8;   // bits per channel
    header[9] = 2;   // RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering
    header[12] = 0;  // not interlaced
    static const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool ok = WriteAll(file, SIGNATURE, sizeof SIGNATURE) && WriteChunk(file, "IHDR", header, sizeof header) &&
              WriteChunk(file, "IDAT", g_PngZlib, static_cast<uint32_t>(z - g_PngZlib)) &&
              WriteChunk(file, "IEND", nullptr, 0);
    if (std::fclose(file) != 0) ok = false;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool window = argc == 4 && std::strcmp(argv[1], "--window") == 0;
    if (!window && argc != 3 && argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: velquor_make_artwork --window <logo.bmp> <icon.ico>\n"
                             "       velquor_make_artwork <logo.bmp> <icon.ico> [page-logo.bmp [icon-192.png icon-512.png]]\n");
        return 2;
    }
    if (!DrawLogo()) {
        std::fprintf(stderr, "velquor_make_artwork: the wordmark has a letter without a glyph\n");
        return 1;
    }
    if (window) {
        if (!WriteWindowLogo(argv[2])) {
            std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[2]);
            return 1;
        }
        if (!WriteIcon(argv[3], WINDOW_ICON_SIZES, 8)) {
            std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (!WriteLogo(argv[1])) {
        std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[1]);
        return 1;
    }
    if (!WriteIcon(argv[2], PAGE_ICON_SIZES, 5)) {
        std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[2]);
        return 1;
    }
    if (argc >= 4 && !WritePageLogo(argv[3])) {
        std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[3]);
        return 1;
    }
    MakeCrcTable();
    for (int32_t i = 4; i < argc; ++i) {
        if (!WritePng(argv[i], i == 4 ? 192 : 512)) {
            std::fprintf(stderr, "velquor_make_artwork: cannot write %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
