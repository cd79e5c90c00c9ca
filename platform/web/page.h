// The browser edge: what the C++ side of the page asks of its JavaScript (web/page.js), which
// alone touches navigator.hid, the DOM and the worker that keeps time. Every call that waits
// (a pause, a report, the next thing the user or the system does) awaits a promise of the
// page's through Asyncify, so the synchronous core runs unchanged while the page stays live.
#pragma once

#include <cstdint>

#include "app/ui_platform.h"
#include "link/hid_platform.h"

// What happens on the page, one at a time, in the order it happened.
enum PageEventKind : int32_t {
    PAGE_EVENT_UPDATE = 1,     // the Update button was pressed
    PAGE_EVENT_ARRIVED = 2,    // a HID device was granted or plugged in: Path
    PAGE_EVENT_REMOVED = 3,    // a HID device was unplugged: Path
    PAGE_EVENT_ANSWER = 4,     // box Box was answered with Value (ANSWER_OK, ...)
    PAGE_EVENT_LANGUAGE = 5,   // the user chose language Value (0 English, 1 German)
};

constexpr uint32_t PAGE_PATH_SIZE = 128;

struct PageEvent {
    PageEventKind Kind;
    int32_t Box;
    int32_t Value;
    char16_t Path[PAGE_PATH_SIZE];
};

// Waits for the next event of the page.
void WaitForPageEvent(PageEvent* event);

// Waits `milliseconds` on the page's timer worker (never less), letting the page run meanwhile.
void PageSleep(uint32_t milliseconds);
// Lets the page paint and take its events, without waiting longer than that.
void PageYield();
// The page's monotonic clock in milliseconds.
uint64_t PageMilliseconds();

// The HID table over WebHID; the same with the simulated unit behind it (pauses on the page's
// timer, and a yield now and then so the page shows the progress of a run on the virtual clock).
extern const HidPlatform kWebHidPlatform;
extern const HidPlatform kWebSimHidPlatform;

// The user-interface table over the page's DOM.
extern const UiPlatform kWebUi;
constexpr UiWindow WEB_MAIN_WINDOW = 1;
constexpr UiWindow WEB_PROGRESS_WINDOW = 2;

// Shows a modal box and returns its number; its answer comes as PAGE_EVENT_ANSWER.
int32_t PageShowBox(const char16_t* text, const char16_t* caption, uint32_t flags);

// Hands the page the core's numbers it shares (core_numbers.cpp); the first call of main().
void SendCoreNumbers();

// Puts the recording HID table (record/recorder.h) in front of the one selected, for "Save log"
// (record_web.cpp); its text is velquor_record_text().
void StartPageRecord();
