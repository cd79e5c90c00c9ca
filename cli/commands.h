// The three commands of velquor-flash, run against the HID table already selected (g_Hid) and,
// for status and update, through the terminal screen (kTerminalUi, started and selected by the
// caller). Each returns the program's exit status and leaves the link closed.
#pragma once

#include <cstdio>

struct DeviceEvents;
struct UpdateOutcome;

// Exit statuses.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;         // identify: result not 0; update: the update failed
constexpr int EXIT_USAGE = 2;          // bad command line or scenario, no back end
constexpr int EXIT_DECLINED = 3;       // a confirmation was answered Cancel or No
constexpr int EXIT_NOT_READY = 4;      // Update never became enabled
constexpr int EXIT_UNIT_IN_USE = 5;    // the only unit present is held by another program
constexpr int EXIT_REPLAY_DIFFERS = 6; // --replay: the program did not do what the record holds

// What the commands meet besides the HID traffic, for the replay of a record: how each update
// ended. A null member (or a null listener) hears nothing.
struct CommandListener {
    void (*UpdateEnded)(const UpdateOutcome& outcome);
};
void SetCommandListener(const CommandListener* listener);

// Discovery and identification; prints "result: N" and every field of the link.
int RunIdentify(std::FILE* out);

// Every HID interface the system lists: path, vendor, product, report lengths, and whether
// discovery takes it (the first programming unit is served). 0, or 1 without a list.
int RunList(std::FILE* out);

// The dialog's first look at the unit; prints the version panel and the hint.
int RunStatus(std::FILE* out);

// The same look, then the update when the Update button is enabled; prints the panel and the
// hint before and after.
int RunUpdate(std::FILE* out);

// Waits for units as the window does, until no further event can come (or Ctrl-C): each unit
// that arrives is evaluated and its panel and hint printed; with `updateEach` every ESC that
// is ready and older than the carried firmware (or without any) is updated once and a summary
// line printed; an ESC that is up to date is only updated with `reinstall`. Null `events`:
// this system can't tell arrivals, 1 after saying so. 0 when every update succeeded, 1
// otherwise; 128 + N when signal N came during an update's flash commands and was held.
int RunWatch(std::FILE* out, const DeviceEvents* events, bool updateEach, bool reinstall);

// After a discovery that found no programming unit: names, on the error stream, a unit that is
// present but whose node the system refused to open, with what to do about it. False when there
// was none.
bool TellUnitRefusedByPermission();
