// The dialog's logic, free of any window system: what the main dialog, the presence monitor,
// the version panel and the update do, carried out through the user-interface table (g_Ui).
#pragma once

#include <cstdint>

#include "app/ui_platform.h"
#include "link/device_link.h"
#include "update/update.h"

// Window-message facts the logic decides on, with the values Windows gives them.
constexpr uint32_t DBT_DEVICEARRIVAL_ = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE_ = 0x8004;

// The device-notification registration, null until registered.
extern UiNotification NotificationHandle;

// --- Process-wide state ---
// The program keeps these for its whole life: the link (g_Link), the admitted
// controller's selection codes (catalogue), the main window (g_MainWindow) and the device
// notification (NotificationHandle), and the state of an update run (device changes kept
// during its flash commands, its progress window). ResetProcessState gives every one of them
// its start value in one call, as a test's fresh start: nothing is closed or released on the
// platform's side (an open link is only forgotten). The selected platform tables (g_Hid, g_Ui)
// stay as they are.
void ResetProcessState();

// --- Main dialog ---
// Formats "VELQUOR ORVANT QX FW Updater 1.25 " (256 units at most).
void FormatWindowTitle(char16_t* out, int32_t capacity);
// WM_INITDIALOG after the edge has set the icon: stores the main window, sets title and row
// labels, starts the presence monitor and looks at the unit (MainDialogOpen, then
// EvaluateUnitAtStart).
void MainDialogInit(UiWindow window);
// The part of MainDialogInit that needs no unit: the window, title, labels and the registration
// for device changes. False when the registration failed (the box was shown and the dialog
// ended). An edge whose window must be on the screen before the first look at the unit calls
// this in WM_INITDIALOG and EvaluateUnitAtStart once the window shows.
bool MainDialogOpen(UiWindow window);
// WM_COMMAND: true when handled (2 closes the dialog with result 2, 1002 runs the update).
bool MainDialogCommand(uint32_t commandId);
// WM_CTLCOLORSTATIC: true for the controller row's label and value, drawn red.
bool IsRedStatic(int32_t controlId);
// Where the logo is drawn, from the bitmap's size, the window's and the group box's screen
// rectangles and two system metrics. Draw is false when the width comes out zero or negative.
struct LogoPlacement {
    bool Draw;
    int32_t X, Y, Width, Height;
};
LogoPlacement PlaceLogo(int32_t bitmapWidth, int32_t bitmapHeight, const UiRect& window,
                        const UiRect& groupBox, int32_t cxDialogFrame, int32_t cyCaption);

// --- Presence monitor ---
// Registers the dialog for device changes. False when that failed: the box was shown and the
// dialog ended with 1.
bool RegisterPresenceMonitor(UiWindow dialog);
// The first look at the unit: discovery, identification and the decision ladder.
void EvaluateUnitAtStart();
// True while an evaluation waits for the unit (discovery and identification). Device changes
// that come meanwhile are kept and handled in order once it has ended; Update does nothing; Close
// cuts the waits short and closes the dialog once the evaluation has ended.
bool EvaluationRunning();
// Looks at the units again when the last evaluation found none but one that another program
// holds, and nothing is open, evaluated or updated now: the unit is taken up once it is free, the
// no-unit hint is shown when it is gone, and nothing changes while it is still held. An edge
// calls it now and then (the window: every second).
void RecheckHeldUnit();
// Close during an evaluation's waits: they are cut short, and the dialog closes once the
// evaluation has ended (MainDialogCommand's own).
void CloseAfterEvaluation();
// What the last evaluation of a unit found beyond what the dialog shows, for front ends that
// say it in words: a unit whose identification ended with a result code (the dialog shows the
// no-unit look), or a controller the updater deliberately leaves alone (the dialog says nothing).
struct UnitEvaluation {
    uint32_t Serial;            // counts the evaluations, 0 before the first
    bool UnitFound;             // discovery opened a programming unit
    bool UnitInUse;             // discovery passed over a unit another program holds (its path:
                                // LastDiscovery().FirstInUse); with UnitFound false, the dialog
                                // says so
    bool IdentificationFailed;  // a unit was opened, but IdentifyUnit did not return 0
    int32_t Result;             // then: its result; a request not written or not answered
                                // (LINK_WRITE_FAILED, LINK_READ_FAILED): the dialog says that the
                                // unit does not answer
    bool ControllerIgnored;     // an identified controller that admission ignores
    uint32_t TypeCode;          // then: its type code
};
const UnitEvaluation& LastUnitEvaluation();
// WM_DEVICECHANGE: nonzero for arrival and remove-complete, whatever was done; 0 otherwise.
// `broadcast` is read (through g_Ui->ReadBroadcast) only for those two events.
int32_t HandleDeviceChange(uint32_t event, const void* broadcast);

// --- Version panel ---
void RefreshVersionPanel();
// The version texts (32 units): unit row, boot-loader row, controller row.
void FormatUnitVersion(uint32_t version, char16_t* out, int32_t capacity);
void FormatBootloaderVersion(uint32_t version, char16_t* out, int32_t capacity);
void FormatControllerVersion(uint16_t version, char16_t* out, int32_t capacity);

// --- Update ---
// What the Update button does: the engine's run with the dialog's boxes and progress window,
// then what the dialog shows of its outcome (success text, or the failure report). Returns the
// outcome, for front ends that report it in their own way.
UpdateOutcome UpdateSequence();
// True from the press of Update until the update has ended; Update and Close do nothing then.
bool UpdateRunning();
// Called by the update right before its first flash command. Until the flash commands end, the
// screen stays responsive during the link's waits, and device-change broadcasts are kept and
// handled in order once they have ended, so that the flash commands run undisturbed.
void BeginFlashCommands();
// The flash commands have ended (before a failure report's box, or at the end of the update):
// the kept broadcasts are handled now, later ones as they come.
void EndFlashCommands();
// The bracket around one run of the update (UpdateSequence's own).
void BeginUpdateRun();
void EndUpdateRun();
// The parts of ResetProcessState that belong to the presence monitor and the update's run.
void ResetMonitorState();
void ResetTransferWindows();
// Closes the link, shows the no-unit look, ends the flash commands (device changes kept
// meanwhile are handled now, so a unit plugged in anew is taken up), shows the box with the text
// and (unless `result` is the link failure LINK_NO_DEVICE) the code line "result-system error",
// then the failure hint.
void FailureReport(const char16_t* text, const char16_t* caption, LinkResult result, uint32_t systemError);
