// The terminal screen behind kTerminalUi. Process-wide state, like the dialog it stands for.
#include "cli/terminal_ui.h"

#include <cinttypes>

#include "app/texts.h"
#include "cli/progress_text.h"
#include "cli/terminal.h"
#include "cli/terminal_texts.h"
#include "resources/resource_ids.h"
#include "update/update.h"

namespace {

struct Control {
    uint32_t Id;
    char16_t Text[TERMINAL_CONTROL_TEXT_SIZE];
    int32_t Length;
    bool Enabled;
};

Control g_Controls[] = {
    {IDC_CLOSE, {}, 0, true},           {IDC_UPDATE, {}, 0, false},
    {IDC_HINTBOX, {}, 0, true},         {IDC_LABEL_UNIT, {}, 0, true},
    {IDC_LABEL_BOOTLOADER, {}, 0, true}, {IDC_LABEL_CONTROLLER, {}, 0, true},
    {IDC_VALUE_UNIT, {}, 0, true},      {IDC_VALUE_BOOTLOADER, {}, 0, true},
    {IDC_VALUE_CONTROLLER, {}, 0, true},
};

constexpr int32_t TITLE_SIZE = 256;
char16_t g_Title[TITLE_SIZE];

TerminalUiSettings g_Settings = {BOX_ANSWER_DECLINE, PROGRESS_STEPS, nullptr, nullptr, nullptr, nullptr};
TerminalDialogState g_Dialog;

// The progress window.
constexpr uint32_t BAR_WIDTH = 30;
constexpr uint32_t MIN_BAR_WIDTH = 5;
constexpr uint32_t DEFAULT_COLUMNS = 80;
struct Progress {
    bool Open;
    uint32_t Updates;      // SetProgressPosition calls; the first one is the initial 0
    uint32_t TotalBlocks;  // 0 when the image is not known
    uint32_t StepsShown;   // tenths already printed (steps look)
    uint64_t StartMs;      // when the window opened: the transfer's start
    uint32_t DrawnCells;   // the length of the bar line drawn last
};
Progress g_Progress;
// When the update's flash commands began (its elapsed time counts from there), or when the
// progress window opened if that came first.
uint64_t g_UpdateStartMs = 0;
bool g_UpdateStarted = false;

Control* FindControl(uint32_t controlId)
{
    for (Control& control : g_Controls) {
        if (control.Id == controlId) return &control;
    }
    return nullptr;
}

uint64_t Now() { return g_Settings.Clock != nullptr ? g_Settings.Clock() : 0; }

// ---- Message boxes ----

enum BoxChoice { CHOICE_OK_ONLY, CHOICE_OK_CANCEL, CHOICE_YES_NO, CHOICE_OTHER };

BoxChoice ChoiceOf(uint32_t flags)
{
    switch (flags & 0x0F) {
    case BOX_OK: return CHOICE_OK_ONLY;
    case BOX_OKCANCEL: return CHOICE_OK_CANCEL;
    case BOX_YESNO: return CHOICE_YES_NO;
    default: return CHOICE_OTHER;
    }
}

bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when the answer typed says yes: o, ok, y, yes, j, ja, any case.
bool SaysYes(const char* line)
{
    while (IsAsciiSpace(*line)) ++line;
    char word[8];
    uint32_t length = 0;
    while (*line != '\0' && !IsAsciiSpace(*line)) {
        if (length == sizeof word - 1) return false;
        char c = *line++;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        word[length++] = c;
    }
    word[length] = '\0';
    while (IsAsciiSpace(*line)) ++line;
    if (*line != '\0') return false;
    static const char* const kYes[] = {"o", "ok", "y", "yes", "j", "ja"};
    for (const char* yes : kYes) {
        uint32_t i = 0;
        while (yes[i] != '\0' && yes[i] == word[i]) ++i;
        if (yes[i] == '\0' && word[i] == '\0') return true;
    }
    return false;
}

// Asks on the terminal; false for no, for anything but a yes, and at the end of input. The
// prompt goes to the error stream, so that it is seen also when the output goes to a file.
bool AskUser(BoxChoice choice)
{
    std::fflush(g_Settings.Out);
    std::fputs(TerminalText(choice == CHOICE_YES_NO ? TT_PROMPT_YES_NO : TT_PROMPT_OK_CANCEL), g_Settings.Err);
    std::fflush(g_Settings.Err);
    char line[64];
    if (std::fgets(line, sizeof line, g_Settings.In) == nullptr) {
        std::fputs("\n", g_Settings.Err);
        return false;
    }
    // Anything beyond the buffer belongs to the same answer, which is then not a yes.
    bool whole = false;
    for (const char* p = line; *p != '\0'; ++p) whole = whole || *p == '\n';
    if (!whole) {
        int c;
        do {
            c = std::fgetc(g_Settings.In);
        } while (c != '\n' && c != EOF);
        return false;
    }
    return SaysYes(line);
}

int32_t Answer(BoxChoice choice, bool yes)
{
    if (choice == CHOICE_YES_NO) return yes ? ANSWER_YES : ANSWER_NO;
    return yes ? ANSWER_OK : ANSWER_CANCEL;
}

const char* AnswerName(int32_t answer)
{
    switch (answer) {
    case ANSWER_OK: return TerminalText(TT_OK);
    case ANSWER_CANCEL: return TerminalText(TT_CANCEL);
    case ANSWER_YES: return TerminalText(TT_YES);
    case ANSWER_NO: return TerminalText(TT_NO);
    default: return "?";
    }
}

// ---- Progress ----

// The progress line's text for the position given, from the window's state and the clock.
void FormatProgressText(char* out, size_t capacity, uint32_t position, bool withEstimate)
{
    uint64_t now = Now();
    ProgressFigures figures = {position, g_Progress.Updates > 0 ? g_Progress.Updates - 1 : 0, g_Progress.TotalBlocks,
                               now - (g_UpdateStarted ? g_UpdateStartMs : g_Progress.StartMs), now - g_Progress.StartMs};
    FormatProgressLine(out, capacity, figures, withEstimate);
}

// Cuts a UTF-8 text to at most `cells` characters, never inside one.
void CutToCells(char* text, uint32_t cells)
{
    uint32_t seen = 0;
    for (char* p = text; *p != '\0'; ++p) {
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80 && seen++ == cells) {
            *p = '\0';
            return;
        }
    }
}

// One line, redrawn in place: the bar when there is room for it, the text always, never wider
// than the terminal (a line that wrapped could not be drawn over again).
void DrawBar(uint32_t position)
{
    std::FILE* out = g_Settings.Err;
    char text[128];
    FormatProgressText(text, sizeof text, position, true);
    uint32_t columns = TerminalColumns(out);
    uint32_t room = (columns != 0 ? columns : DEFAULT_COLUMNS) - 1;  // the last cell would wrap
    // Too narrow: the estimate goes first, then the bar, then the end of the text.
    if (TerminalCells(text) > room) FormatProgressText(text, sizeof text, position, false);
    uint32_t textCells = TerminalCells(text);
    uint32_t barWidth = room > textCells + 3 ? room - textCells - 3 : 0;  // "[", "] "
    if (barWidth > BAR_WIDTH) barWidth = BAR_WIDTH;
    if (barWidth < MIN_BAR_WIDTH) barWidth = 0;

    char line[256];
    uint32_t used = 0;
    if (barWidth != 0) {
        uint32_t shown = position > 100 ? 100 : position;
        uint32_t filled = shown * barWidth / 100;
        line[used++] = '[';
        for (uint32_t i = 0; i < barWidth; ++i) line[used++] = i < filled ? '#' : '.';
        line[used++] = ']';
        line[used++] = ' ';
    } else {
        CutToCells(text, room);
    }
    std::snprintf(line + used, sizeof line - used, "%s", text);
    uint32_t cells = TerminalCells(line);
    // Spaces over what a longer line drawn before left behind, but never past the terminal's
    // width now: after the terminal was narrowed, that line is longer than any line may be.
    uint32_t covered = g_Progress.DrawnCells < room ? g_Progress.DrawnCells : room;
    uint32_t padding = covered > cells ? covered - cells : 0;
    std::fprintf(out, "\r%s%*s", line, static_cast<int>(padding), "");
    g_Progress.DrawnCells = cells;
    SetErrorLineOpen(true);
    std::fflush(out);
}

void PrintStep(uint32_t position)
{
    uint32_t tenths = (position > 100 ? 100 : position) / 10;
    if (tenths <= g_Progress.StepsShown) return;
    g_Progress.StepsShown = tenths;
    char text[128];
    FormatProgressText(text, sizeof text, position, true);
    std::fprintf(g_Settings.Err, "%s\n", text);
    std::fflush(g_Settings.Err);
}

// ---- The table ----

int32_t TermLoadText(uint32_t id, char16_t* buffer, int32_t capacity) { return LoadTableText(id, buffer, capacity); }

void TermSetControlText(uint32_t controlId, const char16_t* text)
{
    Control* control = FindControl(controlId);
    if (control == nullptr) return;
    control->Length = CopyText(control->Text, static_cast<int32_t>(TERMINAL_CONTROL_TEXT_SIZE), text);
}

int32_t TermGetControlTextLength(uint32_t controlId)
{
    const Control* control = FindControl(controlId);
    return control != nullptr ? control->Length : 0;
}

int32_t TermGetControlText(uint32_t controlId, char16_t* buffer, int32_t capacity)
{
    const Control* control = FindControl(controlId);
    return CopyText(buffer, capacity, control != nullptr ? control->Text : u"");
}

void TermEnableControl(uint32_t controlId, bool enabled)
{
    Control* control = FindControl(controlId);
    if (control != nullptr) control->Enabled = enabled;
}

void TermSetWindowTitle(UiWindow, const char16_t* title) { CopyText(g_Title, TITLE_SIZE, title); }

int32_t TermShowMessageBox(UiWindow, const char16_t* text, const char16_t* caption, uint32_t flags)
{
    std::FILE* out = g_Settings.Out;

    std::fputc('[', out);
    PrintText(out, caption);
    std::fputs("]\n", out);
    PrintText(out, text);
    std::fputc('\n', out);

    BoxChoice choice = ChoiceOf(flags);
    int32_t answer = ANSWER_OK;
    if (choice == CHOICE_OTHER) {
        // No box of the dialog has other buttons; whatever it asks is not agreed to.
        answer = ANSWER_CANCEL;
        std::fprintf(out, "%s: %s\n", TerminalText(TT_ANSWER), AnswerName(answer));
    } else if (choice != CHOICE_OK_ONLY) {
        switch (g_Settings.Answering) {
        case BOX_ANSWER_CONFIRM:
            answer = Answer(choice, true);
            std::fprintf(out, "%s: %s (--yes)\n", TerminalText(TT_ANSWER), AnswerName(answer));
            break;
        case BOX_ANSWER_ASK:
            answer = Answer(choice, AskUser(choice));
            std::fprintf(out, "%s: %s\n", TerminalText(TT_ANSWER), AnswerName(answer));
            break;
        case BOX_ANSWER_DECLINE:
            answer = Answer(choice, false);
            std::fprintf(out, "%s: %s (", TerminalText(TT_ANSWER), AnswerName(answer));
            std::fprintf(out, TerminalText(TT_NO_TERMINAL_TO_ASK), AnswerName(Answer(choice, true)));
            std::fputs(")\n", out);
            break;
        }
    }
    std::fputc('\n', out);
    std::fflush(out);
    return answer;
}

bool TermGetWindowRect(UiWindow, UiRect* rect)
{
    *rect = UiRect{0, 0, 640, 480};
    return true;
}

UiWindow TermCreateProgressWindow(UiWindow, const char16_t* title, int32_t, int32_t, int32_t, int32_t)
{
    // The number of blocks, as the engine plans the transfer for the admitted controller.
    g_Progress = Progress{true, 0, PlannedTransferBlocks(), 0, Now(), 0};
    PrintText(g_Settings.Err, title);
    std::fputc('\n', g_Settings.Err);
    std::fflush(g_Settings.Err);
    return TERMINAL_PROGRESS_WINDOW;
}

void TermSetProgressPosition(UiWindow progress, uint32_t position)
{
    if (progress != TERMINAL_PROGRESS_WINDOW || !g_Progress.Open) return;
    ++g_Progress.Updates;
    if (g_Settings.Progress == PROGRESS_BAR) {
        DrawBar(position);
    } else if (g_Progress.Updates > 1) {
        PrintStep(position);
    }
}

void TermRaiseWindow(UiWindow) {}
void TermShowWindow(UiWindow) {}

// The terminal is the dialog, and it is in front.
UiWindow TermGetForegroundWindow(void) { return TERMINAL_MAIN_WINDOW; }

void TermDestroyWindow(UiWindow window)
{
    if (window != TERMINAL_PROGRESS_WINDOW || !g_Progress.Open) return;
    g_Progress.Open = false;
    if (g_Settings.Progress == PROGRESS_BAR) {
        std::fputc('\n', g_Settings.Err);
        SetErrorLineOpen(false);
        std::fflush(g_Settings.Err);
    }
}

// Nothing is plugged in or out while a command runs; the registration only has to succeed.
UiNotification TermRegisterForDeviceChanges(UiWindow) { return 1; }
void TermUnregisterDeviceChanges(UiNotification) {}

// A broadcast on the terminal is a DeviceBroadcast as it stands.
void TermReadBroadcast(const void* broadcast, DeviceBroadcast* fields)
{
    *fields = *static_cast<const DeviceBroadcast*>(broadcast);
}

void TermEndDialog(UiWindow, intptr_t result)
{
    g_Dialog.DialogEnded = true;
    g_Dialog.DialogResult = result;
}

// The terminal has no messages to answer while the link waits; but from the first flash
// command to the last, an interrupt would leave the controller without firmware.
void TermKeepResponsive(bool on)
{
    if (on) {
        g_UpdateStartMs = Now();
        g_UpdateStarted = true;
    }
    GuardAgainstInterrupts(on);
}

// The terminal has nothing to answer while a unit is looked at.
void TermSetUnitWaits(UnitWaits) {}

}  // namespace

const UiPlatform kTerminalUi = {
    TermLoadText,
    TermSetControlText,
    TermGetControlTextLength,
    TermGetControlText,
    TermEnableControl,
    TermSetWindowTitle,
    TermShowMessageBox,
    TermGetWindowRect,
    TermCreateProgressWindow,
    TermSetProgressPosition,
    TermRaiseWindow,
    TermShowWindow,
    TermGetForegroundWindow,
    TermDestroyWindow,
    TermRegisterForDeviceChanges,
    TermUnregisterDeviceChanges,
    TermReadBroadcast,
    TermEndDialog,
    TermKeepResponsive,
    TermSetUnitWaits,
};

void StartTerminalUi(const TerminalUiSettings& settings)
{
    g_Settings = settings;
    for (Control& control : g_Controls) {
        control.Text[0] = u'\0';
        control.Length = 0;
        control.Enabled = control.Id != IDC_UPDATE;  // the template creates Update disabled
    }
    g_Title[0] = u'\0';
    g_Dialog = TerminalDialogState{false, 0};
    g_Progress = Progress{false, 0, 0, 0, 0, 0};
    g_UpdateStarted = false;
}

const char16_t* TerminalControlText(uint32_t controlId)
{
    const Control* control = FindControl(controlId);
    return control != nullptr ? control->Text : u"";
}

bool TerminalControlEnabled(uint32_t controlId)
{
    const Control* control = FindControl(controlId);
    return control != nullptr && control->Enabled;
}

const char16_t* TerminalWindowTitle() { return g_Title; }

const TerminalDialogState& TerminalDialog() { return g_Dialog; }

void PrintText(std::FILE* out, const char16_t* text)
{
    // Converted in pieces, so that a text of any length is printed whole.
    constexpr int32_t PIECE = 512;
    char16_t piece[PIECE + 1];
    char utf8[PIECE * 3 + 1];
    const char16_t* p = text != nullptr ? text : u"";
    while (*p != u'\0') {
        int32_t length = 0;
        while (*p != u'\0' && length < PIECE) {
            char16_t unit = *p++;
            if (unit == u'\r') {
                if (*p == u'\n') continue;  // CR LF: the LF makes the newline
                unit = u'\n';
            }
            piece[length++] = unit;
        }
        // A surrogate pair is never split between two pieces.
        if (length == PIECE && piece[length - 1] >= 0xD800 && piece[length - 1] <= 0xDBFF && *p != u'\0') {
            --length;
            --p;
        }
        piece[length] = u'\0';
        int32_t bytes = Utf16ToUtf8(piece, utf8, static_cast<int32_t>(sizeof utf8));
        std::fwrite(utf8, 1, static_cast<size_t>(bytes), out);
    }
}
