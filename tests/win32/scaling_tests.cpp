// The window at other display scalings: VelquorUpdaterSim.exe started once per DPI (set before
// it starts) and measured from outside in pixels, since Wine tells another process nothing true
// about a window's DPI: the dialog's size, the logo as the screen shows it, and the progress
// window of an update held at a block the unit never answers. Screenshots:
// <language>-<dpi>dpi-ready and <language>-<dpi>dpi-updating.
//
//   velquor_scaling_tests --language=en|de --dpi=96,120,144,192,288 [gtest options]
//
// The DPI holds for every program of the Wine prefix: the tests run in a session of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "resources/text_ids.h"
#include "tests/win32/dialog_driver.h"
#include "tests/win32/dialog_steps.h"

#if !defined(VELQUOR_UPDATER_SIM_EXE) || !defined(VELQUOR_SCREENSHOT_DIR)
#error "the build names the program and the screenshot folder"
#endif

using namespace dialog_driver;

namespace {

TextLanguage g_Language = LANGUAGE_ENGLISH;
std::vector<UINT> g_Dpis;

constexpr Seconds kStartLimit{60};
constexpr Seconds kHeldLimit{90};  // lock, erase (5 s), 200 blocks, then the reply limit (15 s)
// In real time: the progress window stays from the first block until the unit's silence at
// block 200 (about 9 %) has lasted the reply limit.
const char* const kHeldUpdate = "fail=block#200:hang";

// The logo's solid colours (tools/make_artwork.cpp): plate, orange, letters. A pixel at the
// logo's outline that is exactly one of them was cut out, not blended into the dialog.
const uint32_t kSolidColours[] = {0x1A1E26, 0xFF8800, 0xF6F6F6};

RECT RectIn(HWND dialog, HWND control)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE SizeOf(const RECT& rect) { return SIZE{rect.right - rect.left, rect.bottom - rect.top}; }

int32_t Distance(uint32_t a, uint32_t b)
{
    int32_t sum = 0;
    for (int32_t shift = 0; shift <= 16; shift += 8)
        sum += std::abs(static_cast<int32_t>((a >> shift) & 0xFF) - static_cast<int32_t>((b >> shift) & 0xFF));
    return sum;
}

struct Measurement {
    UINT Dpi;
    SIZE Dialog;          // the dialog's window
    RECT Logo;            // the logo's drawn pixels, in the dialog's client area
    SIZE Progress;        // the progress window
    SIZE ProgressClient;  // and its client area
};

// What the first test measured, for the second.
std::vector<Measurement> g_Measured;

class ScalingTest : public testing::Test {
protected:
    std::string Name(UINT dpi, const char* state)
    {
        return std::string(g_Language == LANGUAGE_GERMAN ? "de-" : "en-") + std::to_string(dpi) + "dpi-" + state;
    }

    void Screenshot(const std::string& name, const RECT& area)
    {
        std::string error;
        EXPECT_TRUE(SaveScreenshotOf(name, area, true, &error)) << error;
    }

    // The program at `dpi` on the held update: its dialog once shown, or null.
    HWND Start(ChildProgram& child, UINT dpi)
    {
        EXPECT_TRUE(SetDisplayDpi(dpi));
        std::string error;
        if (!child.Start(WindowsPath(VELQUOR_UPDATER_SIM_EXE), kHeldUpdate, true, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        HWND dialog = child.WaitForDialog(kStartLimit);
        if (dialog == nullptr || !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, kStartLimit)) {
            ADD_FAILURE() << "no dialog; " << child.DescribeWindows();
            return nullptr;
        }
        return dialog;
    }

    // The logo right of the version group and above the hint box, as painted: its pixels'
    // rectangle, inside its place, with no green and its outline blended into the dialog.
    void ReadLogo(HWND dialog, RECT* logo)
    {
        RECT client;
        ASSERT_TRUE(GetClientRect(dialog, &client));
        const RECT group = RectIn(dialog, GetDlgItem(dialog, IDC_VERSION_GROUP));
        POINT origin = {group.right, 0};
        ClientToScreen(dialog, &origin);
        const RECT area = {origin.x, origin.y, origin.x + client.right - group.right,
                           origin.y + RectIn(dialog, GetDlgItem(dialog, IDC_HINTBOX)).top};
        ScreenColours screen;
        ASSERT_TRUE(WaitUntilScreenStill(area, 400, kStartLimit, &screen)) << "the dialog keeps painting";

        const uint32_t face = screen.At(screen.Width - 2, 1);  // the corner above the logo
        *logo = {screen.Width, screen.Height, -1, -1};
        int32_t green = 0, rows = 0, blended = 0;
        for (int32_t y = 0; y < screen.Height; ++y) {
            bool first = true;
            for (int32_t x = 0; x < screen.Width; ++x) {
                const uint32_t c = screen.At(x, y);
                const int32_t r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
                if (g > r + 60 && g > b + 60) ++green;
                if (Distance(c, face) <= 24) continue;
                *logo = {std::min<LONG>(logo->left, x), std::min<LONG>(logo->top, y), std::max<LONG>(logo->right, x + 1),
                         std::max<LONG>(logo->bottom, y + 1)};
                if (!first) continue;
                first = false;
                ++rows;
                bool solid = false;
                for (uint32_t colour : kSolidColours) solid = solid || Distance(c, colour) <= 6;
                if (!solid) ++blended;
            }
        }
        ASSERT_LT(logo->left, logo->right) << "no logo right of the version group";
        EXPECT_EQ(green, 0) << "the key colour or its fringe";
        EXPECT_GE(blended * 10, rows * 6) << blended << " of " << rows << " rows begin with a blended pixel";
        OffsetRect(logo, group.right, 0);
        EXPECT_GT(logo->left, group.right);
        EXPECT_GE(logo->top, group.top);
        EXPECT_LE(logo->bottom, group.bottom);
        EXPECT_LT(logo->right, client.right);
    }

    // Update and OK; the progress window, measured (centred on the dialog) once the update is
    // held, or null.
    HWND HoldUpdate(const ChildProgram& child, HWND dialog, Measurement* m)
    {
        HWND warning = ClickButton(dialog, IDC_UPDATE) ? WaitForBox(child, dialog) : nullptr;
        if (warning == nullptr) return nullptr;
        AnswerBox(child, warning, IDOK);
        HWND progress = WaitForOwnedWindow(dialog, L"msctls_progress32", kStartLimit);
        RECT window, client, owner;
        if (progress == nullptr || !GetWindowRect(progress, &window) || !GetClientRect(progress, &client) ||
            !GetWindowRect(dialog, &owner)) {
            ADD_FAILURE() << "no progress window; " << child.DescribeWindows();
            return nullptr;
        }
        m->Progress = SizeOf(window);
        m->ProgressClient = SizeOf(client);
        EXPECT_NEAR(window.left + window.right, owner.left + owner.right, 2);
        EXPECT_NEAR(window.top + window.bottom, owner.top + owner.bottom, 2);
        EXPECT_TRUE(WaitUntilScreenStill(window, 1500, kHeldLimit)) << "the bar does not stop";
        return progress;
    }

    // The held update's failure answered, the program closed.
    void Finish(ChildProgram& child, HWND dialog)
    {
        HWND failure = WaitForBox(child, dialog, kHeldLimit);
        ASSERT_NE(failure, nullptr);
        AnswerBox(child, failure, IDOK);
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        DWORD code = 1;
        ASSERT_TRUE(child.WaitForExit(kStartLimit, &code)) << child.DescribeWindows();
        EXPECT_EQ(code, 0u);
    }
};

// Each DPI of the run in turn, then each compared with the one at 96 DPI (when the run has it).
TEST_F(ScalingTest, DialogLogoAndProgressWindowFollowTheDpi)
{
    for (UINT dpi : g_Dpis) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        Measurement m = {dpi, {0, 0}, {0, 0, 0, 0}, {0, 0}, {0, 0}};
        ChildProgram child;
        HWND dialog = Start(child, dpi);
        ASSERT_NE(dialog, nullptr);
        RECT window;
        ASSERT_TRUE(GetWindowRect(dialog, &window));
        m.Dialog = SizeOf(window);
        ASSERT_NO_FATAL_FAILURE(ReadLogo(dialog, &m.Logo));
        Screenshot(Name(dpi, "ready"), window);
        HWND progress = HoldUpdate(child, dialog, &m);
        ASSERT_NE(progress, nullptr);
        RECT both;
        GetWindowRect(progress, &both);
        UnionRect(&both, &both, &window);
        Screenshot(Name(dpi, "updating"), both);
        ASSERT_NO_FATAL_FAILURE(Finish(child, dialog));
        std::printf("FIGURE %u DPI: window %ld x %ld, logo %ld x %ld at %ld,%ld, progress window %ld x %ld, "
                    "client %ld x %ld\n",
                    dpi, m.Dialog.cx, m.Dialog.cy, SizeOf(m.Logo).cx, SizeOf(m.Logo).cy, m.Logo.left, m.Logo.top,
                    m.Progress.cx, m.Progress.cy, m.ProgressClient.cx, m.ProgressClient.cy);
        g_Measured.push_back(m);
    }

    const Measurement* base = nullptr;
    for (const Measurement& m : g_Measured) base = m.Dpi == 96 ? &m : base;
    for (const Measurement& m : g_Measured) {
        if (base == nullptr) break;
        SCOPED_TRACE(testing::Message() << m.Dpi << " DPI against 96");
        const double scale = m.Dpi / 96.0;
        // The dialog grows with its font, which Wine's fonts follow only roughly.
        const double width = static_cast<double>(m.Dialog.cx) / base->Dialog.cx;
        EXPECT_NEAR(width, scale, 0.1 * scale);
        EXPECT_NEAR(static_cast<double>(m.Dialog.cy) / base->Dialog.cy, scale, 0.1 * scale);
        // The progress window's client area exactly with the DPI: the bar keeps its share.
        EXPECT_NEAR(m.ProgressClient.cx, MulDiv(base->ProgressClient.cx, m.Dpi, 96), 1);
        EXPECT_NEAR(m.ProgressClient.cy, MulDiv(base->ProgressClient.cy, m.Dpi, 96), 1);
        // The logo grows with the dialog and keeps its proportion.
        const SIZE logo = SizeOf(m.Logo), logo96 = SizeOf(base->Logo);
        const double aspect96 = static_cast<double>(logo96.cx) / logo96.cy;
        EXPECT_NEAR(static_cast<double>(logo.cx) / logo96.cx, width, 0.08 * width);
        EXPECT_NEAR(static_cast<double>(logo.cx) / logo.cy, aspect96, 0.08 * aspect96);
    }
}

// WM_DPICHANGED, sent to the dialog at 96 DPI, as the system does when the window moves to a
// monitor of another scaling (Wine's dialog manager neither scales the dialog on it nor reads a
// suggested rectangle, so none is given): the next progress window takes the size measured at
// that DPI. Its window, not its client area: Wine draws the frame at the process's DPI.
TEST_F(ScalingTest, ProgressWindowFollowsADpiChange)
{
    const Measurement* at192 = nullptr;
    for (const Measurement& m : g_Measured) at192 = m.Dpi == 192 ? &m : at192;
    ASSERT_NE(at192, nullptr) << "the test before measured no progress window at 192 DPI";

    ChildProgram child;
    HWND dialog = Start(child, 96);
    ASSERT_NE(dialog, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), 0, SMTO_NORMAL, 10000, &answer));
    Measurement m = {};
    ASSERT_NE(HoldUpdate(child, dialog, &m), nullptr);
    EXPECT_EQ(m.Progress.cx, at192->Progress.cx);
    EXPECT_EQ(m.Progress.cy, at192->Progress.cy);
    ASSERT_NO_FATAL_FAILURE(Finish(child, dialog));
}

// The arguments into g_Language and g_Dpis; false for one it does not take.
bool ReadArguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--language=de") == 0 || std::strcmp(argv[i], "--language=en") == 0) {
            g_Language = argv[i][11] == 'd' ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH;
            continue;
        }
        if (std::strncmp(argv[i], "--dpi=", 6) != 0) return false;
        for (char* p = argv[i] + 6; *p != '\0'; p += *p == ',' ? 1 : 0) {
            unsigned long dpi = std::strtoul(p, &p, 10);
            if (dpi < 96 || (*p != ',' && *p != '\0')) return false;
            g_Dpis.push_back(static_cast<UINT>(dpi));
        }
    }
    return !g_Dpis.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    LANGID system = GetUserDefaultUILanguage();
    bool german = system == MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    if (!ReadArguments(argc, argv) || (g_Language == LANGUAGE_GERMAN ? !german : PRIMARYLANGID(system) != LANG_ENGLISH)) {
        std::fprintf(stderr, "usage: velquor_scaling_tests --language=en|de --dpi=N,... (the system's language: 0x%04x)\n",
                     system);
        return 2;
    }
    SetScreenshotFolder(WindowsPath(VELQUOR_SCREENSHOT_DIR));
    std::wstring desktop = EnterTestDesktop(1600, 1200);  // room for the window at 300 %
    std::printf("desktop: %s\n", desktop.empty() ? "the default one" : Narrow(desktop).c_str());
    int result = RUN_ALL_TESTS();
    SetDisplayDpi(96);  // the prefix's programs at 100 % again
    LeaveTestDesktop();
    return result;
}
