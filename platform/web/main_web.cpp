// The updater in the browser: the page's entry. It picks the language and the HID table (WebHID,
// or the simulated unit when the address asks for the demo with ?sim=SCENARIO, in real time with
// &realtime=1), opens the dialog on the page and then handles what happens there, one event at
// a time, as the window's message loop does.
#include <emscripten.h>

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "cli/terminal_texts.h"
#include "link/device_link.h"
#include "platform/web/page.h"
#include "resources/json_string.h"
#include "resources/page_texts.h"
#include "resources/resource_ids.h"
#include "resources/version.h"
#include "sim/sim_unit.h"

namespace {

// ---- The page's side ------------------------------------------------------------------------

EM_ASYNC_JS(void, JsNextEvent, (int32_t* kind, int32_t* box, int32_t* value, char16_t* path, uint32_t capacity), {
    const event = await VelquorPage.nextEvent();
    HEAP32[kind >> 2] = event.kind;
    HEAP32[box >> 2] = event.box || 0;
    HEAP32[value >> 2] = event.value || 0;
    stringToUTF16(event.path || "", path, 2 * capacity);
});

EM_ASYNC_JS(void, JsSleep, (uint32_t milliseconds), { await VelquorPage.sleep(milliseconds); });
EM_ASYNC_JS(void, JsYield, (), { await VelquorPage.yieldToPage(); });
EM_JS(double, JsNow, (), { return performance.now(); });

// The address's parameter `name` as UTF-8 into `out`; false when the address has none.
EM_JS(bool, JsParameter, (const char* name, char* out, uint32_t capacity), {
    const value = new URLSearchParams(location.search).get(UTF8ToString(name));
    if (value === null) return false;
    stringToUTF8(value, out, capacity);
    return true;
});

EM_JS(int32_t, JsStartLanguage, (), { return VelquorPage.startLanguage(); });
EM_JS(void, JsSetPageTexts, (const char* json), { VelquorPage.setPageTexts(JSON.parse(UTF8ToString(json))); });
EM_JS(void, JsShowDemo, (const char* problem), { VelquorPage.showDemo(problem ? UTF8ToString(problem) : null); });
EM_JS(void, JsReady, (), { VelquorPage.ready(); });

// ---- The page's own words -------------------------------------------------------------------

// Appends `text` to `json` as a JSON string, cut to fit.
void AppendJsonString(char* json, size_t capacity, const char* text)
{
    size_t length = std::strlen(json);
    PutJsonString(text, [&](char c) {
        if (length + 1 < capacity) json[length++] = c;
    });
    json[length] = '\0';
}

void AppendJsonMember(char* json, size_t capacity, const char* key, const char* value)
{
    std::strncat(json, json[1] != '\0' ? "," : "", capacity - std::strlen(json) - 1);
    AppendJsonString(json, capacity, key);
    std::strncat(json, ":", capacity - std::strlen(json) - 1);
    AppendJsonString(json, capacity, value);
}

// The page's words in the language of the texts, with the box buttons' and the language's code.
void SendPageTexts()
{
    static char json[8192];
    std::strcpy(json, "{");
    bool german = GetTextLanguage() == LANGUAGE_GERMAN;
    for (const PageText& text : kPageTexts) AppendJsonMember(json, sizeof json, text.Key, german ? text.German : text.English);
    AppendJsonMember(json, sizeof json, "ok", TerminalText(TT_OK));
    AppendJsonMember(json, sizeof json, "cancel", TerminalText(TT_CANCEL));
    AppendJsonMember(json, sizeof json, "yes", TerminalText(TT_YES));
    AppendJsonMember(json, sizeof json, "no", TerminalText(TT_NO));
    AppendJsonMember(json, sizeof json, "languageCode", german ? "de" : "en");
    AppendJsonMember(json, sizeof json, "version", UpdaterVersion());
    char firmware[16];
    std::snprintf(firmware, sizeof firmware, "%u.%u", CARRIED_FIRMWARE_VERSION >> 8, CARRIED_FIRMWARE_VERSION & 0xFFu);
    AppendJsonMember(json, sizeof json, "firmware", firmware);
    std::strncat(json, "}", sizeof json - std::strlen(json) - 1);
    JsSetPageTexts(json);
}

// ---- The demo's unit --------------------------------------------------------------------------

uint32_t g_PausesSinceYield = 0;

// The simulated unit's pauses: on its virtual clock, with a look at the page every few pauses
// so that a run that takes no real time still shows its bar; in real time on the page's timer.
void WebSimSleep(uint32_t milliseconds)
{
    kSimHidPlatform.Sleep(milliseconds);
    if (!SimRealtime() && ++g_PausesSinceYield >= 16) {
        g_PausesSinceYield = 0;
        PageYield();
    }
}

// Selects the simulated unit when the address asks for the demo. False when it does not.
bool StartDemo()
{
    static char scenario[512];
    if (!JsParameter("sim", scenario, sizeof scenario)) return false;
    char error[256];
    const char* problem = nullptr;
    if (SimConfigure(scenario, error, sizeof error) != 0) problem = error;  // every default then
    char realtime[8] = "";
    SimSetRealtimeWait(PageSleep);
    SimSetRealtime(JsParameter("realtime", realtime, sizeof realtime) && std::strcmp(realtime, "1") == 0);
    SelectHidPlatform(&kWebSimHidPlatform);
    JsShowDemo(problem);
    return true;
}

}  // namespace

const HidPlatform kWebSimHidPlatform = {
    kSimHidPlatform.OpenInterfaceList, kSimHidPlatform.GetInterfacePath, kSimHidPlatform.CloseInterfaceList,
    kSimHidPlatform.Open,              kSimHidPlatform.GetIds,           kSimHidPlatform.GetReportLengths,
    kSimHidPlatform.Claim,             kSimHidPlatform.DiscardInput,     kSimHidPlatform.WriteReport,
    kSimHidPlatform.ReadReport,        kSimHidPlatform.Close,            WebSimSleep,
    kSimHidPlatform.LastError,         kSimHidPlatform.Milliseconds,     kSimHidPlatform.IsSimulation,
};

void WaitForPageEvent(PageEvent* event)
{
    int32_t kind = 0, box = 0, value = 0;
    JsNextEvent(&kind, &box, &value, event->Path, PAGE_PATH_SIZE);
    event->Kind = static_cast<PageEventKind>(kind);
    event->Box = box;
    event->Value = value;
}

void PageSleep(uint32_t milliseconds)
{
    if (milliseconds != 0) JsSleep(milliseconds);
}

void PageYield() { JsYield(); }

uint64_t PageMilliseconds() { return static_cast<uint64_t>(JsNow()); }

int main()
{
    SendCoreNumbers();
    SetTextLanguage(JsStartLanguage() == 1 ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH);
    SendPageTexts();
    if (!StartDemo()) SelectHidPlatform(&kWebHidPlatform);
    StartPageRecord();
    SelectUiPlatform(&kWebUi);
    ResetLink();
    MainDialogInit(WEB_MAIN_WINDOW);
    JsReady();

    for (;;) {
        PageEvent event;
        WaitForPageEvent(&event);
        switch (event.Kind) {
        case PAGE_EVENT_UPDATE:
            MainDialogCommand(IDC_UPDATE);
            break;
        case PAGE_EVENT_ARRIVED:
        case PAGE_EVENT_REMOVED: {
            DeviceBroadcast broadcast = {DEVTYP_DEVICEINTERFACE, event.Path};
            HandleDeviceChange(event.Kind == PAGE_EVENT_ARRIVED ? DBT_DEVICEARRIVAL_ : DBT_DEVICEREMOVECOMPLETE_,
                               &broadcast);
            break;
        }
        case PAGE_EVENT_LANGUAGE:
            // The dialog opens again in the other language and looks at the unit afresh.
            SetTextLanguage(event.Value == 1 ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH);
            SendPageTexts();
            MainDialogInit(WEB_MAIN_WINDOW);
            break;
        case PAGE_EVENT_ANSWER:
            break;  // a box that is no longer waited for
        }
    }
}
