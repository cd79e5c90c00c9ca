// The terminal screen behind kTerminalUi. Process-wide state, like the dialog it stands for.
#include "cli/terminal_ui.h"

#include <cinttypes>

#include "app/texts.h"
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
TerminalUiRecord g_Record;

// The progress window.
constexpr int32_t BAR_WIDTH = 30;
struct Progress {
    bool Open;
    uint32_t Updates;      // SetProgressPosition calls; the first one is the initial 0
    uint32_t TotalBlocks;  // 0 when the image is not known
    uint32_t StepsShown;   // tenths already printed (steps look)
    uint64_t StartMs;
};
Progress g_Progress;

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
    std::fputs(choice == CHOICE_YES_NO ? "[y]es / [N]o? " : "[o]k / [C]ancel? ", g_Settings.Err);
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
    case ANSWER_OK: return "OK";
    case ANSWER_CANCEL: return "Cancel";
    case ANSWER_YES: return "Yes";
    case ANSWER_NO: return "No";
    default: return "?";
    }
}

// ---- Progress ----

// "45 %  922/2048 blocks  0:18": position, blocks sent of all (when the image is known) and
// the time since the window opened.
void PrintProgressText(std::FILE* out, uint32_t position)
{
    uint32_t blocks = g_Progress.Updates > 0 ? g_Progress.Updates - 1 : 0;
    uint64_t seconds = (Now() - g_Progress.StartMs) / 1000;
    std::fprintf(out, "%3" PRIu32 " %%  %" PRIu32, position, blocks);
    if (g_Progress.TotalBlocks != 0) std::fprintf(out, "/%" PRIu32, g_Progress.TotalBlocks);
    std::fprintf(out, " blocks  %" PRIu64 ":%02" PRIu64, seconds / 60, seconds % 60);
}

void DrawBar(uint32_t position)
{
    std::FILE* out = g_Settings.Err;
    uint32_t shown = position > 100 ? 100 : position;
    int32_t filled = static_cast<int32_t>(shown) * BAR_WIDTH / 100;
    char bar[BAR_WIDTH + 3];
    bar[0] = '[';
    for (int32_t i = 0; i < BAR_WIDTH; ++i) bar[1 + i] = i < filled ? '#' : '.';
    bar[BAR_WIDTH + 1] = ']';
    bar[BAR_WIDTH + 2] = '\0';
    std::fprintf(out, "\r%s ", bar);
    PrintProgressText(out, position);
    std::fflush(out);
}

void PrintStep(uint32_t position)
{
    uint32_t tenths = (position > 100 ? 100 : position) / 10;
    if (tenths <= g_Progress.StepsShown) return;
    g_Progress.StepsShown = tenths;
    PrintProgressText(g_Settings.Err, position);
    std::fputc('\n', g_Settings.Err);
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
        std::fprintf(out, "Answer: %s\n", AnswerName(answer));
    } else if (choice != CHOICE_OK_ONLY) {
        switch (g_Settings.Answering) {
        case BOX_ANSWER_CONFIRM:
            answer = Answer(choice, true);
            std::fprintf(out, "Answer: %s (--yes)\n", AnswerName(answer));
            break;
        case BOX_ANSWER_ASK:
            answer = Answer(choice, AskUser(choice));
            std::fprintf(out, "Answer: %s\n", AnswerName(answer));
            break;
        case BOX_ANSWER_DECLINE:
            answer = Answer(choice, false);
            std::fprintf(out, "Answer: %s (no terminal to ask; --yes answers %s)\n", AnswerName(answer),
                         AnswerName(Answer(choice, true)));
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
    g_Progress = Progress{true, 0, PlannedTransferBlocks(), 0, Now()};
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
    g_Record.DialogEnded = true;
    g_Record.DialogResult = result;
}

// The terminal has no messages to answer while the link waits.
void TermKeepResponsive(bool) {}

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
    g_Record = TerminalUiRecord{false, 0};
    g_Progress = Progress{false, 0, 0, 0, 0};
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

const TerminalUiRecord& TerminalRecord() { return g_Record; }

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
