// A user interface for tests: keeps every control's text and state, logs every box and window
// operation in order, and answers message boxes from a script.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/ui_platform.h"

struct RecordedBox {
    UiWindow Owner;
    std::string Caption;  // UTF-8
    std::string Text;     // UTF-8
    uint32_t Flags;
    int32_t Answer;
};

struct RecordedControl {
    std::u16string Text;
    bool Enabled = true;
    bool EverSet = false;
};

// A broadcast as the tests build it; ReadBroadcast reads this struct.
struct TestBroadcast {
    uint32_t DeviceType;
    std::u16string Name;
};

struct RecordingUi {
    // What the screen shows.
    std::u16string Title;
    std::map<uint32_t, RecordedControl> Controls;  // by control id; starts as the dialog template
    std::vector<RecordedBox> Boxes;
    std::vector<std::string> Events;          // "box:<caption>", "progress:create", "progress:destroy", ...
    std::vector<uint32_t> ProgressPositions;
    std::vector<bool> Responsive;             // every KeepResponsive call, in order
    std::vector<UnitWaits> Waits;             // every SetUnitWaits call, in order
    int32_t ProgressX = 0, ProgressY = 0, ProgressWidth = 0, ProgressHeight = 0;
    std::string ProgressTitle;
    UiWindow ProgressOwner = 0;
    bool ProgressOpen = false;
    intptr_t DialogResult = -1;
    bool DialogEnded = false;
    int32_t Registrations = 0, Unregistrations = 0;

    // How it answers.
    std::vector<int32_t> Answers;             // consumed in order; when empty: DefaultAnswer
    int32_t DefaultAnswer = ANSWER_OK;
    bool RegistrationFails = false;
    bool ProgressCreationFails = false;
    UiRect MainRect = {100, 50, 707, 472};
    UiWindow Foreground = 0;                   // 0: the progress window once it exists
    std::function<void(const RecordedBox&)> WhileBoxOpen;  // runs inside the box's "modal loop"
    std::function<void()> WhileResponsive;     // runs as the screen is made responsive for the flash
    std::function<void()> WhileAnswering;      // runs as an evaluation's waits begin to answer
};

extern RecordingUi* g_Recording;
extern const UiPlatform kRecordingUi;

constexpr UiWindow TEST_MAIN_WINDOW = 0x1100;
constexpr UiWindow TEST_PROGRESS_WINDOW = 0x2200;

// Selects the recording as g_Ui with the controls as the dialog template creates them, the
// text language English.
void StartRecording(RecordingUi* recording);

std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);
// The control's text in UTF-8.
std::string ControlText(uint32_t controlId);
bool ControlEnabled(uint32_t controlId);
// The table text of `id` in the current language, UTF-8.
std::string TableText(uint32_t id);
