// The terminal as the main dialog's screen: one const UiPlatform instance that keeps every
// control's text and state in fixed buffers, prints message boxes and answers them, and draws
// the progress window as a bar or as lines on the error stream.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/ui_platform.h"

// How a message box with a choice (OK/Cancel, Yes/No) is answered. A box with OK alone is
// always answered OK.
enum BoxAnswering {
    BOX_ANSWER_CONFIRM,  // OK or Yes, without asking (--yes)
    BOX_ANSWER_ASK,      // ask on the terminal; end of input answers Cancel or No
    BOX_ANSWER_DECLINE,  // Cancel or No: nobody is there to say yes
};

enum ProgressLook {
    PROGRESS_BAR,    // one line redrawn in place (a terminal)
    PROGRESS_STEPS,  // a line at every tenth of the way (a file or a pipe)
};

struct TerminalUiSettings {
    BoxAnswering Answering;
    ProgressLook Progress;
    std::FILE* Out;    // boxes, the answers given
    std::FILE* Err;    // the progress window, prompts
    std::FILE* In;     // answers to prompts
    uint64_t (*Clock)(void);  // milliseconds, for the elapsed time of the progress window
};

// The window the dialog logic is given as its main window.
constexpr UiWindow TERMINAL_MAIN_WINDOW = 1;
constexpr UiWindow TERMINAL_PROGRESS_WINDOW = 2;

// Every control the dialog logic writes, and the room kept for each one's text (UTF-16 units,
// terminator included): the hint box takes a status text and the instructions.
constexpr uint32_t TERMINAL_CONTROL_TEXT_SIZE = 4096;

// Starts a fresh screen: controls as the dialog template creates them (empty texts, Update
// disabled), nothing shown, nothing answered. Select kTerminalUi afterwards.
void StartTerminalUi(const TerminalUiSettings& settings);

extern const UiPlatform kTerminalUi;

// What the screen shows now. Unknown controls read "" and disabled.
const char16_t* TerminalControlText(uint32_t controlId);
bool TerminalControlEnabled(uint32_t controlId);
const char16_t* TerminalWindowTitle();

// What happened on it since the start.
struct TerminalDialogState {
    bool DialogEnded;
    intptr_t DialogResult;
};
const TerminalDialogState& TerminalDialog();

// Prints UTF-16 text as UTF-8, every CR LF (and a lone CR) as a plain newline.
void PrintText(std::FILE* out, const char16_t* text);
