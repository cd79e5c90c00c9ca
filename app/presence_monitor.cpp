// The presence monitor: what the dialog says about the programming unit and the controller
// behind it, and whether Update may be pressed.
#include "app/app.h"
#include "app/record.h"
#include "app/texts.h"
#include "catalogue/catalogue.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"

UiNotification NotificationHandle = 0;

namespace {

// A device-change broadcast kept while flash commands run, with a copy of its interface name
// (the broadcast itself is gone once its message has been answered).
struct DeferredChange {
    uint32_t Event;
    uint32_t DeviceType;
    char16_t* Name;  // owned, or null
};

// Far more than a flash ever sees; past it the oldest broadcast is given up.
constexpr uint32_t MAX_DEFERRED_CHANGES = 32;

struct UpdateRunState {
    bool Running;
    bool FlashCommands;
    uint32_t DeferredCount;
    DeferredChange Deferred[MAX_DEFERRED_CHANGES];
};

UpdateRunState g_Run = {};
UnitEvaluation g_LastEvaluation = {};

char16_t* CopyName(const char16_t* name)
{
    if (name == nullptr) return nullptr;
    int32_t length = TextLength(name);
    char16_t* copy = new char16_t[static_cast<uint32_t>(length) + 1];
    CopyText(copy, length + 1, name);
    return copy;
}

void Defer(uint32_t event, const DeviceBroadcast& fields)
{
    if (g_Run.DeferredCount == MAX_DEFERRED_CHANGES) {
        delete[] g_Run.Deferred[0].Name;
        for (uint32_t i = 1; i < MAX_DEFERRED_CHANGES; ++i) g_Run.Deferred[i - 1] = g_Run.Deferred[i];
        --g_Run.DeferredCount;
    }
    g_Run.Deferred[g_Run.DeferredCount++] = {event, fields.DeviceType, CopyName(fields.Name)};
}

enum EvaluationMoment { AT_START, ON_ARRIVAL };

// Status text, an empty line, then the connection steps.
void ShowHint(uint32_t statusTextId)
{
    char16_t buffer[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(statusTextId, buffer, TEXT_BUFFER_SIZE);
    AppendText(buffer, TEXT_BUFFER_SIZE, u"\r\n\r\n");
    g_Ui->SetControlText(IDC_HINTBOX, buffer);

    g_Ui->LoadText(TEXT_CONNECTION_STEPS, buffer, TEXT_BUFFER_SIZE);
    int32_t hintLength = g_Ui->GetControlTextLength(IDC_HINTBOX);
    int32_t size = hintLength + TextLength(buffer) + 1;
    char16_t* composed = new char16_t[static_cast<uint32_t>(size)];
    g_Ui->GetControlText(IDC_HINTBOX, composed, size);
    AppendText(composed, size, buffer);
    g_Ui->SetControlText(IDC_HINTBOX, composed);
    delete[] composed;
}

void RejectWith(uint32_t statusTextId)
{
    g_Ui->EnableControl(IDC_UPDATE, false);
    CloseLink();
    ShowHint(statusTextId);
    RefreshVersionPanel();
}

void ShowIncompatibleBox()
{
    char16_t format[TEXT_BUFFER_SIZE];
    char16_t text[TEXT_BUFFER_SIZE];
    char16_t caption[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_INCOMPATIBLE_MESSAGE, format, TEXT_BUFFER_SIZE);
    FormatArg typeName = TextArg(SUPPORTED_TYPE_NAME);
    FormatText(text, TEXT_BUFFER_SIZE, format, &typeName, 1);
    g_Ui->LoadText(TEXT_INCOMPATIBLE_CAPTION, caption, TEXT_BUFFER_SIZE);
    g_Ui->ShowMessageBox(g_MainWindow, text, caption, BOX_ICONINFORMATION | BOX_OK);
}

void EvaluateUnit(EvaluationMoment moment)
{
    int32_t result = DiscoverUnit();
    g_LastEvaluation = {g_LastEvaluation.Serial + 1, LinkIsOpen(), LastDiscovery().UnitsInUse != 0,
                        result != LINK_OK && LinkIsOpen(), result, false, 0};
    if (result != LINK_OK) {
        if (moment == AT_START) {
            RejectWith(TEXT_NO_UNIT_HINT);
        } else if (LinkIsOpen()) {
            // A unit was opened but could not be identified: let it go at once, so that its
            // next arrival is evaluated afresh instead of being ignored until it is removed.
            CloseLink();
        }
        return;
    }
    if (g_Link.UnitMode != UNIT_MODE_NORMAL) {
        RejectWith(TEXT_WRONG_MODE_HINT);
        return;
    }
    if (g_Link.ControllerState != CONTROLLER_STATE_READY) {
        RejectWith(TEXT_NO_CONTROLLER_HINT);
        return;
    }

    switch (AdmitController(ControllerTypeCode())) {
    case ADMISSION_ADMITTED: {
        char16_t text[TEXT_BUFFER_SIZE];
        g_Ui->LoadText(TEXT_READY_HINT, text, TEXT_BUFFER_SIZE);
        g_Ui->SetControlText(IDC_HINTBOX, text);
        g_Ui->EnableControl(IDC_UPDATE, true);
        RefreshVersionPanel();
        break;
    }
    case ADMISSION_IGNORED:
        // The unit stays open and nothing is said; the panel shows its versions, on arrival
        // as at start.
        g_LastEvaluation.ControllerIgnored = true;
        g_LastEvaluation.TypeCode = ControllerTypeCode();
        RefreshVersionPanel();
        break;
    case ADMISSION_INCOMPATIBLE:
        g_Ui->EnableControl(IDC_UPDATE, false);
        CloseLink();
        ShowIncompatibleBox();
        ShowHint(TEXT_INCOMPATIBLE_HINT);
        RefreshVersionPanel();
        break;
    }
}

}  // namespace

void StartPresenceMonitor(UiWindow dialog)
{
    NotificationHandle = g_Ui->RegisterForDeviceChanges(dialog);
    if (NotificationHandle == 0) {
        char16_t text[TEXT_BUFFER_SIZE];
        char16_t caption[TEXT_BUFFER_SIZE];
        g_Ui->LoadText(TEXT_APPLICATION_ERROR, caption, TEXT_BUFFER_SIZE);
        g_Ui->LoadText(TEXT_REGISTRATION_FAILED, text, TEXT_BUFFER_SIZE);
        g_Ui->ShowMessageBox(dialog, text, caption, BOX_ICONERROR | BOX_OK);
        if (NotificationHandle != 0) g_Ui->UnregisterDeviceChanges(NotificationHandle);
        CloseLink();
        g_Ui->EndDialog(dialog, 1);
        return;
    }
    EvaluateUnit(AT_START);
}

namespace {

void HandleDeviceFields(uint32_t event, const DeviceBroadcast& fields)
{
    if (fields.DeviceType != DEVTYP_DEVICEINTERFACE) return;

    if (event == DBT_DEVICEARRIVAL_) {
        if (!LinkIsOpen()) EvaluateUnit(ON_ARRIVAL);
        return;
    }

    if (!LinkIsOpen() || fields.Name == nullptr || g_Link.DevicePath == nullptr) return;
    if (!TextEqualsIgnoringAsciiCase(g_Link.DevicePath, fields.Name)) return;
    CloseLink();
    g_Ui->EnableControl(IDC_UPDATE, false);
    RefreshVersionPanel();
    ShowHint(TEXT_CONNECTION_LOST_HINT);
}

}  // namespace

int32_t HandleDeviceChange(uint32_t event, const void* broadcast)
{
    if (event != DBT_DEVICEARRIVAL_ && event != DBT_DEVICEREMOVECOMPLETE_) return 0;

    DeviceBroadcast fields = {0, nullptr};
    if (broadcast != nullptr) g_Ui->ReadBroadcast(broadcast, &fields);
    if (fields.DeviceType == DEVTYP_DEVICEINTERFACE) RecordDeviceEvent(event == DBT_DEVICEARRIVAL_);
    if (g_Run.FlashCommands) {
        Defer(event, fields);
        return 1;
    }
    HandleDeviceFields(event, fields);
    return 1;
}

bool UpdateRunning() { return g_Run.Running; }

void BeginFlashCommands()
{
    if (!g_Run.Running || g_Run.FlashCommands) return;
    g_Run.FlashCommands = true;
    g_Ui->KeepResponsive(true);
}

void BeginUpdateRun()
{
    g_Run.Running = true;
}

void EndFlashCommands()
{
    if (g_Run.FlashCommands) g_Ui->KeepResponsive(false);
    g_Run.FlashCommands = false;
    // What happened to the devices meanwhile, in the order it happened. A broadcast handled
    // here may open a box, during which new ones are handled at once.
    uint32_t count = g_Run.DeferredCount;
    DeferredChange deferred[MAX_DEFERRED_CHANGES];
    for (uint32_t i = 0; i < count; ++i) deferred[i] = g_Run.Deferred[i];
    g_Run.DeferredCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        HandleDeviceFields(deferred[i].Event, {deferred[i].DeviceType, deferred[i].Name});
        delete[] deferred[i].Name;
    }
}

const UnitEvaluation& LastUnitEvaluation() { return g_LastEvaluation; }

void ResetMonitorState()
{
    g_LastEvaluation = {};
    for (uint32_t i = 0; i < g_Run.DeferredCount; ++i) delete[] g_Run.Deferred[i].Name;
    g_Run = {};
}

void EndUpdateRun()
{
    EndFlashCommands();
    g_Run.Running = false;
}
