// The window at other display scalings: VelquorUpdaterSim.exe started once per DPI, set before
// it starts (HKCU\Control Panel\Desktop, LogPixels), and measured from outside in physical
// pixels: the dialog's size, the logo on the screen (inside its place beside the version group,
// in proportion, blended into the dialog at its edges, no key colour), and the progress window
// of an update held at a block that the unit never answers (its client area in proportion, its
// centre on the dialog's). A DPI change sent to the dialog must give the next progress window
// the size for the new DPI. Screenshots of the dialog and of the update go to the build's
// screenshots folder as <language>-<dpi>dpi-ready and <language>-<dpi>dpi-updating.
//
//   velquor_scaling_tests --language=en|de --dpi=96,144,192 [gtest options]
//
// Runs in a Wine session of its own: the DPI it sets holds for every program of the prefix that
// starts afterwards. Under Wine a program reads the set DPI whatever its manifest says, and
// another process reads every window at 96 DPI, so the scaling is judged by sizes in pixels and
// by the screen, never by what the system reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
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
constexpr Seconds kFailureLimit{90};  // lock, erase (5 s), 200 blocks, then the reply limit (15 s)
// In real time: the progress window stays open from the first block until the unit's silence at
// block 200 has lasted the reply limit.
const char* const kHeldUpdate = "fail=block#200:hang";

const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";

// The DPI the next program of the prefix starts with.
bool SetDpi(UINT dpi)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    DWORD value = dpi;
    LONG set = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

RECT ClientRectOf(HWND dialog, HWND control)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE SizeOf(const RECT& rect) { return SIZE{rect.right - rect.left, rect.bottom - rect.top}; }
POINT CentreOf(const RECT& rect) { return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

int32_t ColourDistance(uint32_t a, uint32_t b)
{
    int32_t sum = 0;
    for (int32_t shift = 0; shift <= 16; shift += 8)
        sum += std::abs(static_cast<int32_t>((a >> shift) & 0xFF) - static_cast<int32_t>((b >> shift) & 0xFF));
    return sum;
}

// The logo's solid colours (tools/make_artwork.cpp): the plate, the orange of the stripes and
// the accent line, the letters. A pixel at the logo's outline that is exactly one of them was
// cut out of the artwork, not blended into the dialog.
const uint32_t kSolidColours[] = {0x1A1E26, 0xFF8800, 0xF6F6F6};

struct Measurement {
    UINT Dpi;
    SIZE Dialog;          // the dialog's window
    RECT Group;           // the version group, in the dialog's client area
    RECT Logo;            // the logo's drawn pixels, in the dialog's client area
    SIZE Progress;        // the progress window
    SIZE ProgressClient;  // and its client area
};

// What the first test measured, row by row, for the second.
std::vector<Measurement> g_Measured;

class ScalingTest : public testing::Test {
protected:
    std::wstring Text(uint32_t id) { return TableText(g_Language, id); }

    std::string Name(UINT dpi, const char* state)
    {
        return std::string(g_Language == LANGUAGE_GERMAN ? "de-" : "en-") + std::to_string(dpi) + "dpi-" + state;
    }

    void Screenshot(const std::string& name, const RECT& area)
    {
        std::string error;
        EXPECT_TRUE(SaveScreenshotOf(name, area, true, &error)) << error;
    }

    // Starts the program at `dpi` on the held update; its dialog once shown, or null.
    HWND Start(ChildProgram& child, UINT dpi)
    {
        EXPECT_TRUE(SetDpi(dpi));
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
        // Once it has answered, it has painted what it showed first.
        EXPECT_TRUE(Synchronize(dialog, kStartLimit));
        return dialog;
    }

    // The logo as the screen shows it, right of the version group and above the hint box: its
    // drawn pixels' rectangle into `logo`, with what is checked of every scaling.
    void ReadLogo(HWND dialog, RECT* logo)
    {
        RECT client;
        ASSERT_TRUE(GetClientRect(dialog, &client));
        const RECT group = ClientRectOf(dialog, GetDlgItem(dialog, IDC_VERSION_GROUP));
        const RECT hintBox = ClientRectOf(dialog, GetDlgItem(dialog, IDC_HINTBOX));
        POINT origin = {group.right, 0};
        ClientToScreen(dialog, &origin);
        RECT area = {origin.x, origin.y, origin.x + client.right - group.right, origin.y + hintBox.top};
        // Painted once two reads a moment apart are the same.
        ScreenColours screen, again;
        std::string error;
        ASSERT_TRUE(ReadScreen(area, &screen, &error)) << error;
        for (int attempt = 0; attempt < 25; ++attempt) {
            Sleep(200);
            ASSERT_TRUE(ReadScreen(area, &again, &error)) << error;
            const bool same = again.Colours == screen.Colours;
            screen = std::move(again);
            if (same) break;
        }

        // The dialog's face, in the corner above the logo.
        const uint32_t face = screen.At(screen.Width - 2, 1);
        *logo = {screen.Width, screen.Height, -1, -1};
        uint32_t green = 0;
        for (int32_t y = 0; y < screen.Height; ++y) {
            for (int32_t x = 0; x < screen.Width; ++x) {
                const uint32_t c = screen.At(x, y);
                const int32_t r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
                if (g > r + 60 && g > b + 60) ++green;
                if (ColourDistance(c, face) <= 24) continue;
                logo->left = std::min<LONG>(logo->left, x);
                logo->top = std::min<LONG>(logo->top, y);
                logo->right = std::max<LONG>(logo->right, x + 1);
                logo->bottom = std::max<LONG>(logo->bottom, y + 1);
            }
        }
        ASSERT_LT(logo->left, logo->right) << "no logo right of the version group";
        EXPECT_EQ(green, 0u) << "green pixels: the key colour or its fringe";

        // Along its left outline (stripes, plate) every row's first pixel is a blend of the logo
        // and the face, where cutting out with a key colour leaves a solid one.
        int32_t rows = 0, blended = 0;
        for (int32_t y = logo->top; y < logo->bottom; ++y) {
            for (int32_t x = logo->left; x < logo->right; ++x) {
                const uint32_t c = screen.At(x, y);
                if (ColourDistance(c, face) <= 24) continue;
                ++rows;
                bool solid = false;
                for (uint32_t colour : kSolidColours) solid = solid || ColourDistance(c, colour) <= 6;
                if (!solid) ++blended;
                break;
            }
        }
        EXPECT_GE(blended * 10, rows * 6) << blended << " of " << rows << " rows begin with a blended pixel";

        // Into the dialog's client coordinates: inside the place beside the version group.
        OffsetRect(logo, group.right, 0);
        EXPECT_GT(logo->left, group.right);
        EXPECT_GE(logo->top, group.top);
        EXPECT_LE(logo->bottom, group.bottom);
        EXPECT_LT(logo->right, client.right);
    }

    // Update, OK, and the progress window once the update is held; null after a failure.
    HWND StartUpdate(const ChildProgram& child, HWND dialog)
    {
        if (!ClickButton(dialog, IDC_UPDATE)) {
            ADD_FAILURE() << "Update can't be pressed";
            return nullptr;
        }
        HWND warning = WaitForBox(child, dialog);
        if (warning == nullptr) return nullptr;
        AnswerBox(child, warning, IDOK);
        HWND progress = WaitForOwnedWindow(dialog, L"msctls_progress32", kStartLimit);
        if (progress == nullptr) ADD_FAILURE() << "no progress window; " << child.DescribeWindows();
        return progress;
    }

    // Returns once the bar has stopped where the unit fell silent: its picture the same for
    // 1.5 s (a percent takes about 0.4 s while the blocks are written).
    void WaitUntilHeld(HWND progress)
    {
        RECT area;
        ASSERT_TRUE(GetWindowRect(progress, &area));
        ScreenColours last, now;
        std::string error;
        ASSERT_TRUE(ReadScreen(area, &last, &error)) << error;
        int32_t unchanged = 0;
        const bool held = WaitUntil(
            [&] {
                if (!ReadScreen(area, &now, &error)) return false;
                unchanged = now.Colours == last.Colours ? unchanged + 1 : 0;
                last = std::move(now);
                return unchanged >= 30;  // 30 reads 50 ms apart
            },
            kFailureLimit);
        ASSERT_TRUE(held) << "the progress window keeps changing";
    }

    // The progress window's sizes, and its centre on the dialog's.
    void ReadProgress(HWND dialog, HWND progress, Measurement* m)
    {
        RECT window, client, owner;
        ASSERT_TRUE(GetWindowRect(progress, &window));
        ASSERT_TRUE(GetClientRect(progress, &client));
        ASSERT_TRUE(GetWindowRect(dialog, &owner));
        m->Progress = SizeOf(window);
        m->ProgressClient = SizeOf(client);
        EXPECT_NEAR(CentreOf(window).x, CentreOf(owner).x, 1);
        EXPECT_NEAR(CentreOf(window).y, CentreOf(owner).y, 1);
    }

    // The held update fails after the reply limit; its box answered, the program closed.
    void FinishAndClose(ChildProgram& child, HWND dialog)
    {
        HWND failure = WaitForBox(child, dialog, kFailureLimit);
        ASSERT_NE(failure, nullptr);
        AnswerBox(child, failure, IDOK);
        const std::wstring hint = Text(TEXT_FAILURE_HINT);
        EXPECT_EQ(WaitForControlText(dialog, IDC_HINTBOX, hint, kBoxLimit), hint);
        ASSERT_TRUE(ClickButton(dialog, IDC_CLOSE));
        DWORD code = 1;
        ASSERT_TRUE(child.WaitForExit(kStartLimit, &code)) << child.DescribeWindows();
        EXPECT_EQ(code, 0u);
    }

    void MeasureAt(UINT dpi, Measurement* m)
    {
        *m = Measurement{dpi, {0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0}, {0, 0}};
        ChildProgram child;
        HWND dialog = Start(child, dpi);
        ASSERT_NE(dialog, nullptr);
        RECT window;
        ASSERT_TRUE(GetWindowRect(dialog, &window));
        m->Dialog = SizeOf(window);
        m->Group = ClientRectOf(dialog, GetDlgItem(dialog, IDC_VERSION_GROUP));
        ASSERT_NO_FATAL_FAILURE(ReadLogo(dialog, &m->Logo));
        Screenshot(Name(dpi, "ready"), window);

        HWND progress = StartUpdate(child, dialog);
        ASSERT_NE(progress, nullptr);
        ASSERT_NO_FATAL_FAILURE(ReadProgress(dialog, progress, m));
        ASSERT_NO_FATAL_FAILURE(WaitUntilHeld(progress));
        RECT both;
        GetWindowRect(progress, &both);
        UnionRect(&both, &both, &window);
        Screenshot(Name(dpi, "updating"), both);
        ASSERT_NO_FATAL_FAILURE(FinishAndClose(child, dialog));

        std::printf("FIGURE %u DPI: dialog %ld x %ld, logo %ld x %ld at %ld,%ld, progress window %ld x %ld, "
                    "its client %ld x %ld\n",
                    dpi, m->Dialog.cx, m->Dialog.cy, m->Logo.right - m->Logo.left, m->Logo.bottom - m->Logo.top,
                    m->Logo.left, m->Logo.top, m->Progress.cx, m->Progress.cy, m->ProgressClient.cx,
                    m->ProgressClient.cy);
    }
};

// Each DPI of the run as a row; the rows compared with the one at 96 DPI, when the run has it.
TEST_F(ScalingTest, DialogLogoAndProgressWindowFollowTheDpi)
{
    std::vector<Measurement> rows;
    for (UINT dpi : g_Dpis) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        Measurement m;
        ASSERT_NO_FATAL_FAILURE(MeasureAt(dpi, &m));
        rows.push_back(m);
        g_Measured.push_back(m);
    }

    const Measurement* base = nullptr;
    for (const Measurement& m : rows)
        if (m.Dpi == 96) base = &m;
    if (base == nullptr) return;
    for (const Measurement& m : rows) {
        SCOPED_TRACE(testing::Message() << m.Dpi << " DPI against 96");
        const double scale = m.Dpi / 96.0;
        // The dialog grows with its font, which Wine's fonts follow only roughly.
        const double width = static_cast<double>(m.Dialog.cx) / base->Dialog.cx;
        const double height = static_cast<double>(m.Dialog.cy) / base->Dialog.cy;
        EXPECT_NEAR(width, scale, 0.1 * scale);
        EXPECT_NEAR(height, scale, 0.1 * scale);
        // The progress window's client area exactly with the DPI: the bar keeps its share.
        EXPECT_NEAR(m.ProgressClient.cx, MulDiv(base->ProgressClient.cx, m.Dpi, 96), 1);
        EXPECT_NEAR(m.ProgressClient.cy, MulDiv(base->ProgressClient.cy, m.Dpi, 96), 1);
        // The logo with the dialog, in its proportion.
        const SIZE logo = SizeOf(m.Logo), logo96 = SizeOf(base->Logo);
        EXPECT_NEAR(static_cast<double>(logo.cx) / logo96.cx, width, 0.08 * width);
        EXPECT_NEAR(static_cast<double>(logo.cx) / logo.cy, static_cast<double>(logo96.cx) / logo96.cy,
                    0.08 * logo96.cx / logo96.cy);
    }
}

// The system tells a window that moved to a monitor of another scaling with WM_DPICHANGED. Here
// it is sent to the dialog at 96 DPI (Wine's dialog manager does not scale the dialog on it and
// reads no suggested rectangle, so none is given): the next progress window must take the size
// the test before measured at that DPI. Runs after it, with 192 DPI among its rows. The window's
// size is compared, not its client area: Wine draws the frame at the DPI the process started
// with, where Windows draws it at the monitor's.
TEST_F(ScalingTest, ProgressWindowFollowsADpiChange)
{
    const Measurement* at192 = nullptr;
    for (const Measurement& m : g_Measured)
        if (m.Dpi == 192) at192 = &m;
    ASSERT_NE(at192, nullptr) << "no progress window was measured at 192 DPI";

    ChildProgram child;
    HWND dialog = Start(child, 96);
    ASSERT_NE(dialog, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), 0, SMTO_NORMAL, 10000, &answer));
    HWND progress = StartUpdate(child, dialog);
    ASSERT_NE(progress, nullptr);
    Measurement m = {};
    ASSERT_NO_FATAL_FAILURE(ReadProgress(dialog, progress, &m));
    EXPECT_EQ(m.Progress.cx, at192->Progress.cx);
    EXPECT_EQ(m.Progress.cy, at192->Progress.cy);
    ASSERT_NO_FATAL_FAILURE(FinishAndClose(child, dialog));
}

bool ParseDpis(const char* list)
{
    for (const char* p = list; *p != '\0';) {
        char* end = nullptr;
        unsigned long dpi = std::strtoul(p, &end, 10);
        if (end == p || dpi < 96 || dpi > 480) return false;
        g_Dpis.push_back(static_cast<UINT>(dpi));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != '\0') return false;
    }
    return !g_Dpis.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--language=de") == 0) {
            g_Language = LANGUAGE_GERMAN;
        } else if (std::strcmp(argv[i], "--language=en") == 0) {
            g_Language = LANGUAGE_ENGLISH;
        } else if (std::strncmp(argv[i], "--dpi=", 6) != 0 || !ParseDpis(argv[i] + 6)) {
            std::fprintf(stderr, "velquor_scaling_tests: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (g_Dpis.empty()) {
        std::fprintf(stderr, "velquor_scaling_tests: no --dpi=...\n");
        return 2;
    }
    LANGID system = GetUserDefaultUILanguage();
    bool german = system == MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    if (g_Language == LANGUAGE_GERMAN ? !german : PRIMARYLANGID(system) != LANG_ENGLISH) {
        std::fprintf(stderr, "velquor_scaling_tests: the system gives user interface 0x%04x, not the run's language\n",
                     system);
        return 2;
    }

    SetScreenshotFolder(WindowsPath(VELQUOR_SCREENSHOT_DIR));
    std::wstring desktop = EnterTestDesktop(1280, 1024);
    std::printf("desktop: %s\n", desktop.empty() ? "the default one" : Narrow(desktop).c_str());
    int result = RUN_ALL_TESTS();
    SetDpi(96);  // the prefix's programs at 100 % again
    LeaveTestDesktop();
    return result;
}
