// The numbers page.js shares with the core, read off the core's headers when the updater starts
// and handed to the page as one JSON object: the page's event kinds (page.h), the message box
// flags and answers (app/ui_platform.h), the error codes the web edge reports
// (link/system_errors.h: Windows values, as every edge's failures read), the programming units'
// vendor and product ids, which the page asks the browser for (link/device_link.h), and the main
// dialog's control ids (resources/resource_ids.h), by their names. Nothing of these is written
// twice.
#include <emscripten.h>

#include <cstdio>

#include "app/ui_platform.h"
#include "platform/web/page.h"
#include "resources/resource_ids.h"
#include "link/device_link.h"
#include "link/system_errors.h"

namespace {

EM_JS(void, JsSetCoreNumbers, (const char* json), { VelquorPage.setCoreNumbers(JSON.parse(UTF8ToString(json))); });

}  // namespace

void SendCoreNumbers()
{
    static char json[1536];
    std::snprintf(json, sizeof json,
        "{\"events\":{\"update\":%d,\"arrived\":%d,\"removed\":%d,\"answer\":%d,\"language\":%d},"
        "\"box\":{\"okCancel\":%u,\"yesNo\":%u,\"iconError\":%u,\"iconWarning\":%u,\"iconInformation\":%u,"
        "\"typeMask\":%u,\"iconMask\":%u},"
        "\"answers\":{\"ok\":%d,\"cancel\":%d,\"yes\":%d,\"no\":%d},"
        "\"errors\":{\"fileNotFound\":%u,\"accessDenied\":%u,\"invalidHandle\":%u,\"genFailure\":%u,\"busy\":%u,"
        "\"deviceNotConnected\":%u,\"timeout\":%u},"
        "\"units\":[{\"vendorId\":%u,\"productId\":%u},{\"vendorId\":%u,\"productId\":%u}],"
        "\"controls\":{\"IDC_UPDATE\":%d,\"IDC_HINTBOX\":%d,\"IDC_LABEL_UNIT\":%d,\"IDC_LABEL_BOOTLOADER\":%d,"
        "\"IDC_LABEL_CONTROLLER\":%d,\"IDC_VALUE_UNIT\":%d,\"IDC_VALUE_BOOTLOADER\":%d,\"IDC_VALUE_CONTROLLER\":%d}}",
        PAGE_EVENT_UPDATE, PAGE_EVENT_ARRIVED, PAGE_EVENT_REMOVED, PAGE_EVENT_ANSWER, PAGE_EVENT_LANGUAGE,
        BOX_OKCANCEL, BOX_YESNO, BOX_ICONERROR, BOX_ICONWARNING, BOX_ICONINFORMATION, BOX_TYPE_MASK, BOX_ICON_MASK,
        ANSWER_OK, ANSWER_CANCEL, ANSWER_YES, ANSWER_NO,
        SYSTEM_ERROR_FILE_NOT_FOUND, SYSTEM_ERROR_ACCESS_DENIED, SYSTEM_ERROR_INVALID_HANDLE, SYSTEM_ERROR_GEN_FAILURE,
        SYSTEM_ERROR_BUSY, SYSTEM_ERROR_DEVICE_NOT_CONNECTED, SYSTEM_ERROR_TIMEOUT,
        UNIT_VENDOR_ID, PRODUCT_ID_DIALPUCK, UNIT_VENDOR_ID, PRODUCT_ID_SETBOX,
        IDC_UPDATE, IDC_HINTBOX, IDC_LABEL_UNIT, IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER, IDC_VALUE_UNIT,
        IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER);
    JsSetCoreNumbers(json);
}
