// The page's log ("Save log"): the core's record of the whole visit, made by the recording HID
// table in front of the page's own (WebHID, or the demo's simulated unit), with the browser's
// user agent in its header. The core adds arrivals, removals and every update's outcome itself;
// page.js asks for the text when the button is pressed (velquor_record_text) and downloads it.
#include <emscripten.h>

#include "record/recorder.h"
#include "link/hid_platform.h"
#include "platform/web/page.h"

namespace {

// The browser's user agent, and the demo's scenario as the address gives it (false without one),
// as UTF-8 into `out`.
EM_JS(void, JsUserAgent, (char* out, uint32_t capacity), { stringToUTF8(navigator.userAgent, out, capacity); });
EM_JS(bool, JsScenario, (char* out, uint32_t capacity), {
    const scenario = new URLSearchParams(location.search).get('sim');
    if (scenario === null) return false;
    stringToUTF8(scenario, out, capacity);
    return true;
});

}  // namespace

void StartPageRecord()
{
    const HidPlatform* edge = g_Hid;
    bool demo = edge == &kWebSimHidPlatform;
    static char agent[512];
    static char scenario[512];
    JsUserAgent(agent, sizeof agent);
    bool scenarioGiven = demo && JsScenario(scenario, sizeof scenario);
    RecorderSettings settings = {RECORD_FRONT_END_PAGE, RecordEdgeName(demo ? RECORD_EDGE_SIM : RECORD_EDGE_WEBHID),
                                 scenarioGiven ? scenario : nullptr, RECORD_COMMAND_PAGE, nullptr, agent};
    StartRecorder(edge, settings);
    SelectHidPlatform(&kRecorderHidPlatform);
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* velquor_record_text()
{
    return RecorderText(nullptr);
}
