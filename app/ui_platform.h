// What the dialog logic, the presence monitor, the version panel and the update sequence need
// from the screen, as one table of functions. Controls are addressed by their dialog control id.
//
// Edges: the Win32 dialog, the terminal front end, and the recording interface of the tests.
#pragma once

#include <cstdint>

// A top-level window (the main dialog, the progress window). 0 means none.
typedef uintptr_t UiWindow;
// A device-notification registration. 0 means none.
typedef uintptr_t UiNotification;

struct UiRect {
    int32_t Left, Top, Right, Bottom;
};

// The fields of a device-change broadcast that the presence monitor reads.
constexpr uint32_t DEVTYP_DEVICEINTERFACE = 5;
struct DeviceBroadcast {
    uint32_t DeviceType;        // dbch_devicetype
    const char16_t* Name;       // dbcc_name of an interface broadcast, else null
};

// Message box flags and answers, with the values Windows gives them.
constexpr uint32_t BOX_OK = 0x00, BOX_OKCANCEL = 0x01, BOX_YESNO = 0x04;
constexpr uint32_t BOX_ICONERROR = 0x10, BOX_ICONWARNING = 0x30, BOX_ICONINFORMATION = 0x40;
constexpr int32_t ANSWER_OK = 1, ANSWER_CANCEL = 2, ANSWER_YES = 6, ANSWER_NO = 7;
// The parts of the flags: the buttons, the icon.
constexpr uint32_t BOX_TYPE_MASK = 0x0F, BOX_ICON_MASK = 0xF0;

// See UiPlatform::SetUnitWaits.
enum UnitWaits : uint8_t {
    UNIT_WAITS_PLAIN,      // nothing else happens during them (the default)
    UNIT_WAITS_ANSWERING,  // the screen keeps painting and answering the system meanwhile, and the
                           // dialog's logic must expect to be called from inside such a wait
    UNIT_WAITS_CUT_SHORT,  // as answering, and the wait under way and those after it end at once, as
                           // if the unit did not answer: the dialog is being closed
};

struct UiPlatform {
    // Loads text `id` in the user-interface language into `buffer` (capacity in UTF-16 units,
    // terminator included), cutting it to fit. Returns the length copied; 0 for an unknown id.
    int32_t (*LoadText)(uint32_t id, char16_t* buffer, int32_t capacity);

    // Replaces the text of control `controlId` of the main dialog.
    void (*SetControlText)(uint32_t controlId, const char16_t* text);
    // Length of the control's text in UTF-16 units.
    int32_t (*GetControlTextLength)(uint32_t controlId);
    // Copies at most capacity - 1 units of the control's text and a terminator; returns the count.
    int32_t (*GetControlText)(uint32_t controlId, char16_t* buffer, int32_t capacity);
    // Enables or disables (greys) a control.
    void (*EnableControl)(uint32_t controlId, bool enabled);

    // Sets the main dialog's title.
    void (*SetWindowTitle)(UiWindow window, const char16_t* title);

    // Shows a modal message box owned by `owner` and returns the button pressed (ANSWER_OK, ...).
    // Device-change broadcasts may be handled while it is open.
    int32_t (*ShowMessageBox)(UiWindow owner, const char16_t* text, const char16_t* caption, uint32_t flags);

    // A window's rectangle in screen coordinates. False when it can't be read.
    bool (*GetWindowRect)(UiWindow window, UiRect* rect);

    // Creates the progress window: a visible top-level smooth progress bar owned by `owner`,
    // titled `title`, at x, y with width and height in pixels, range 0 to 100. 0 on failure.
    // The size is the one at 96 DPI: an edge that draws at another DPI grows the client area
    // with it and keeps the centre.
    UiWindow (*CreateProgressWindow)(UiWindow owner, const char16_t* title, int32_t x, int32_t y,
                                     int32_t width, int32_t height);
    // Sets the bar's position and repaints it at once (no message loop runs during a transfer).
    void (*SetProgressPosition)(UiWindow progress, uint32_t position);
    // Brings a window to the top of the Z order and activates it (HWND_TOP, no move, no size).
    void (*RaiseWindow)(UiWindow window);
    // Shows a window (SW_SHOW).
    void (*ShowWindow)(UiWindow window);
    // The window in the foreground now, or 0.
    UiWindow (*GetForegroundWindow)(void);
    void (*DestroyWindow)(UiWindow window);

    // Registers `window` for arrivals and removals of HID device interfaces. 0 on failure.
    UiNotification (*RegisterForDeviceChanges)(UiWindow window);
    void (*UnregisterDeviceChanges)(UiNotification notification);
    // Reads the fields of a device-change broadcast (the message's lParam). Called only for
    // arrival and remove-complete events.
    void (*ReadBroadcast)(const void* broadcast, DeviceBroadcast* fields);

    // Ends the main dialog with `result`.
    void (*EndDialog)(UiWindow window, intptr_t result);

    // On from the first flash command to the last. While on, the screen keeps painting and
    // answering the system during the link's waits (pauses, writes and reads): the edge handles
    // its window messages there, and the dialog's logic must expect to be called from inside
    // such a wait. The edge also holds off, as far as its system lets it, whatever would end or
    // stall the program meanwhile (the end of the session, sleep, signals, a moved window).
    // Off again before the next evaluation of a unit.
    void (*KeepResponsive)(bool on);

    // What the link's waits do while the presence monitor looks at a unit (discovery and
    // identification: a unit that does not answer holds each request for the read's whole time
    // limit). Told at the start and at the end of those waits, and when the user closes the
    // dialog meanwhile.
    void (*SetUnitWaits)(UnitWaits waits);
};

// The table in use, and the main dialog's window (stored when the dialog is initialised).
extern const UiPlatform* g_Ui;
extern UiWindow g_MainWindow;

inline void SelectUiPlatform(const UiPlatform* platform) { g_Ui = platform; }
