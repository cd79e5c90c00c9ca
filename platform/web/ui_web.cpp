// The user-interface table over the page (see page.h): the controls are the page's elements
// named after their control ids, a message box is a modal dialog element, the progress window
// a modal dialog with a bar and the terminal's progress line (percent, blocks, elapsed time,
// estimate). While a box is open, the devices plugged in and out are handled as the window
// handles them during a box.
#include <emscripten.h>

#include <cstdio>

#include "app/app.h"
#include "app/texts.h"
#include "cli/progress_text.h"
#include "platform/web/page.h"
#include "update/update.h"

namespace {

EM_JS(void, JsSetText, (uint32_t control, const char16_t* text), { VelquorPage.setText(control, UTF16ToString(text)); });
EM_JS(int32_t, JsTextLength, (uint32_t control), { return VelquorPage.getText(control).length; });
EM_JS(int32_t, JsGetText, (uint32_t control, char16_t* out, int32_t capacity), {
    const text = VelquorPage.getText(control).slice(0, capacity - 1);
    stringToUTF16(text, out, 2 * capacity);
    return text.length;
});
EM_JS(void, JsEnable, (uint32_t control, bool on), { VelquorPage.enable(control, on); });
EM_JS(void, JsSetTitle, (const char16_t* title), { VelquorPage.setTitle(UTF16ToString(title)); });
EM_JS(int32_t, JsShowBox, (const char16_t* text, const char16_t* caption, uint32_t flags), {
    return VelquorPage.showBox(UTF16ToString(text), UTF16ToString(caption), flags);
});
EM_JS(void, JsOpenProgress, (const char16_t* title), { VelquorPage.openProgress(UTF16ToString(title)); });
EM_JS(void, JsSetProgress, (uint32_t position, const char* line), { VelquorPage.setProgress(position, UTF8ToString(line)); });
EM_JS(void, JsCloseProgress, (), { VelquorPage.closeProgress(); });
// On: the flash commands begin, and the progress window opens with `title` (its bar without a
// value until the first block); off: they have ended, and it closes.
EM_JS(void, JsFlashCommands, (bool on, const char16_t* title), { VelquorPage.flashCommands(on, UTF16ToString(title)); });

// The progress window of the run under way, for its line's figures.
struct Progress {
    bool Open;
    uint32_t Updates;      // SetProgressPosition calls; the first is the initial 0
    uint32_t TotalBlocks;
    uint64_t StartMs;      // the window opened: the transfer began
    uint32_t Shown;        // the position last handed to the page, and when
    uint64_t ShownMs;
};
Progress g_Progress = {false, 0, 0, 0, 0, 0};
// The page is handed the line when the percentage changes, else at most this often: the line's
// figures (elapsed time, estimate) change by the second.
constexpr uint64_t PROGRESS_LINE_MS = 100;
uint64_t g_FlashStartMs = 0;  // the flash commands began: the update's elapsed time

int32_t WebLoadText(uint32_t id, char16_t* buffer, int32_t capacity) { return LoadTableText(id, buffer, capacity); }
void WebSetControlText(uint32_t control, const char16_t* text) { JsSetText(control, text); }
int32_t WebGetControlTextLength(uint32_t control) { return JsTextLength(control); }

int32_t WebGetControlText(uint32_t control, char16_t* buffer, int32_t capacity)
{
    if (capacity <= 0) return 0;
    return JsGetText(control, buffer, capacity);
}

void WebEnableControl(uint32_t control, bool enabled) { JsEnable(control, enabled); }
void WebSetWindowTitle(UiWindow, const char16_t* title) { JsSetTitle(title); }

int32_t WebShowMessageBox(UiWindow, const char16_t* text, const char16_t* caption, uint32_t flags)
{
    int32_t box = PageShowBox(text, caption, flags);
    for (;;) {
        PageEvent event;
        WaitForPageEvent(&event);
        if (event.Kind == PAGE_EVENT_ANSWER && event.Box == box) return event.Value;
        // A modal box: the page behind it takes no clicks; devices come and go all the same.
        if (event.Kind == PAGE_EVENT_ARRIVED || event.Kind == PAGE_EVENT_REMOVED) {
            DeviceBroadcast broadcast = {DEVTYP_DEVICEINTERFACE, event.Path};
            HandleDeviceChange(event.Kind == PAGE_EVENT_ARRIVED ? DBT_DEVICEARRIVAL_ : DBT_DEVICEREMOVECOMPLETE_,
                               &broadcast);
        }
    }
}

bool WebGetWindowRect(UiWindow, UiRect* rect)
{
    *rect = UiRect{0, 0, 640, 480};
    return true;
}

UiWindow WebCreateProgressWindow(UiWindow, const char16_t* title, int32_t, int32_t, int32_t, int32_t)
{
    g_Progress = Progress{true, 0, PlannedTransferBlocks(), PageMilliseconds(), 0, 0};
    JsOpenProgress(title);
    return WEB_PROGRESS_WINDOW;
}

void WebSetProgressPosition(UiWindow window, uint32_t position)
{
    if (window != WEB_PROGRESS_WINDOW || !g_Progress.Open) return;
    ++g_Progress.Updates;
    uint64_t now = PageMilliseconds();
    if (g_Progress.Updates > 1 && position == g_Progress.Shown && now - g_Progress.ShownMs < PROGRESS_LINE_MS) return;
    g_Progress.Shown = position;
    g_Progress.ShownMs = now;
    ProgressFigures figures = {position, g_Progress.Updates - 1, g_Progress.TotalBlocks, now - g_FlashStartMs,
                               now - g_Progress.StartMs};
    char line[128];
    FormatProgressLine(line, sizeof line, figures, true);
    JsSetProgress(position, line);
}

void WebRaiseWindow(UiWindow) {}
void WebShowWindow(UiWindow) {}
UiWindow WebGetForegroundWindow() { return WEB_MAIN_WINDOW; }

void WebDestroyWindow(UiWindow window)
{
    if (window != WEB_PROGRESS_WINDOW || !g_Progress.Open) return;
    g_Progress.Open = false;
    JsCloseProgress();
}

// The page hears of every device it may use; nothing to register.
UiNotification WebRegisterForDeviceChanges(UiWindow) { return 1; }
void WebUnregisterDeviceChanges(UiNotification) {}

void WebReadBroadcast(const void* broadcast, DeviceBroadcast* fields)
{
    *fields = *static_cast<const DeviceBroadcast*>(broadcast);
}

// The page has no Close: the dialog never ends.
void WebEndDialog(UiWindow, intptr_t) {}

// While the flash commands run the page asks before it is left or reloaded, keeps the screen
// and the system awake, and takes no Update.
void WebKeepResponsive(bool on)
{
    if (on) g_FlashStartMs = PageMilliseconds();
    char16_t title[TEXT_BUFFER_SIZE];
    LoadTableText(TEXT_PROGRESS_TITLE, title, TEXT_BUFFER_SIZE);
    JsFlashCommands(on, title);
}

// The page's waits are its own loop's turns: it answers meanwhile, and takes one event at a time.
void WebSetUnitWaits(UnitWaits) {}

}  // namespace

const UiPlatform kWebUi = {
    WebLoadText,         WebSetControlText,        WebGetControlTextLength, WebGetControlText,
    WebEnableControl,    WebSetWindowTitle,        WebShowMessageBox,       WebGetWindowRect,
    WebCreateProgressWindow, WebSetProgressPosition, WebRaiseWindow,        WebShowWindow,
    WebGetForegroundWindow,  WebDestroyWindow,       WebRegisterForDeviceChanges,
    WebUnregisterDeviceChanges, WebReadBroadcast,  WebEndDialog,            WebKeepResponsive,
    WebSetUnitWaits,
};

int32_t PageShowBox(const char16_t* text, const char16_t* caption, uint32_t flags)
{
    return JsShowBox(text, caption, flags);
}
