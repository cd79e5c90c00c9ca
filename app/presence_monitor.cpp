// The presence monitor: what the dialog says about the programming unit and the controller
// behind it, and whether Update may be pressed.
#include "app/app.h"
#include "record/recorder.h"
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
    bool Evaluating;      // an evaluation waits for the unit (discovery and identification)
    bool CloseRequested;  // Close came during those waits: the dialog closes once they end
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

// When a unit is looked at: when the dialog opens, on a device's arrival, and again while the
// only unit present is held by another program.
enum EvaluationMoment { AT_START, ON_ARRIVAL, ON_RECHECK };

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

// A unit that is there but can't be used now: its own text, which says what to do instead of
// the connection steps, and the no-unit look.
void RejectPresentUnit(uint32_t textId)
{
    g_Ui->EnableControl(IDC_UPDATE, false);
    CloseLink();
    char16_t text[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(textId, text, TEXT_BUFFER_SIZE);
    g_Ui->SetControlText(IDC_HINTBOX, text);
    RefreshVersionPanel();
}

void HandleDeferredChanges();
void DropDeferredChanges();

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

// The decision ladder on an identified unit.
void DecideOnUnit()
{
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

// What the dialog shows after a discovery that opened no usable unit.
void ShowDiscoveryFailure(EvaluationMoment moment, int32_t result, bool heldBefore)
{
    const UnitEvaluation& found = g_LastEvaluation;
    if (found.IdentificationFailed && (result == LINK_WRITE_FAILED || result == LINK_READ_FAILED)) {
        // Opened, but a request could not be written or was not answered: the unit is there.
        RejectPresentUnit(TEXT_UNIT_SILENT_HINT);
    } else if (!found.UnitFound && found.UnitInUse) {
        // Said once; a look while it is still held changes nothing.
        if (moment != ON_RECHECK || !heldBefore) RejectPresentUnit(TEXT_UNIT_IN_USE_HINT);
    } else if (moment != ON_ARRIVAL) {
        // At start, and when the held unit has gone meanwhile.
        RejectWith(TEXT_NO_UNIT_HINT);
    } else if (LinkIsOpen()) {
        // A unit was opened but could not be identified: let it go at once, so that its next
        // arrival is evaluated afresh instead of being ignored until it is removed.
        CloseLink();
    }
}

// Discovery and identification, whose waits keep the screen answering; Close meanwhile cuts
// them short (CloseAfterEvaluation).
int32_t DiscoverWhileAnswering()
{
    g_Run.Evaluating = true;
    g_Ui->SetUnitWaits(UNIT_WAITS_ANSWERING);
    int32_t result = DiscoverUnit();
    g_Ui->SetUnitWaits(UNIT_WAITS_PLAIN);
    g_Run.Evaluating = false;
    return result;
}

void EvaluateUnit(EvaluationMoment moment)
{
    bool heldBefore = !g_LastEvaluation.UnitFound && g_LastEvaluation.UnitInUse;
    int32_t result = DiscoverWhileAnswering();
    g_LastEvaluation = {g_LastEvaluation.Serial + 1, LinkIsOpen(), LastDiscovery().UnitsInUse != 0,
                        result != LINK_OK && LinkIsOpen(), result, false, 0};
    if (g_Run.CloseRequested) {
        // Nothing more is shown or taken up: the dialog ends.
        g_Run.CloseRequested = false;
        DropDeferredChanges();
        MainDialogCommand(IDC_CLOSE);
        return;
    }
    if (result != LINK_OK) {
        ShowDiscoveryFailure(moment, result, heldBefore);
    } else {
        DecideOnUnit();
    }
    HandleDeferredChanges();
}

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

// What happened to the devices while the flash commands or an evaluation waited for the unit,
// in the order it happened. A change handled here may open a box or evaluate a unit, during
// which new ones are handled at once or kept again.
void HandleDeferredChanges()
{
    if (g_Run.FlashCommands || g_Run.Evaluating) return;
    uint32_t count = g_Run.DeferredCount;
    DeferredChange deferred[MAX_DEFERRED_CHANGES];
    for (uint32_t i = 0; i < count; ++i) deferred[i] = g_Run.Deferred[i];
    g_Run.DeferredCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        HandleDeviceFields(deferred[i].Event, {deferred[i].DeviceType, deferred[i].Name});
        delete[] deferred[i].Name;
    }
}

void DropDeferredChanges()
{
    for (uint32_t i = 0; i < g_Run.DeferredCount; ++i) delete[] g_Run.Deferred[i].Name;
    g_Run.DeferredCount = 0;
}

}  // namespace

bool RegisterPresenceMonitor(UiWindow dialog)
{
    NotificationHandle = g_Ui->RegisterForDeviceChanges(dialog);
    if (NotificationHandle != 0) return true;
    char16_t text[TEXT_BUFFER_SIZE];
    char16_t caption[TEXT_BUFFER_SIZE];
    g_Ui->LoadText(TEXT_APPLICATION_ERROR, caption, TEXT_BUFFER_SIZE);
    g_Ui->LoadText(TEXT_REGISTRATION_FAILED, text, TEXT_BUFFER_SIZE);
    g_Ui->ShowMessageBox(dialog, text, caption, BOX_ICONERROR | BOX_OK);
    if (NotificationHandle != 0) g_Ui->UnregisterDeviceChanges(NotificationHandle);
    CloseLink();
    g_Ui->EndDialog(dialog, 1);
    return false;
}

void EvaluateUnitAtStart() { EvaluateUnit(AT_START); }

void RecheckHeldUnit()
{
    const UnitEvaluation& last = g_LastEvaluation;
    if (g_Run.Running || g_Run.Evaluating || LinkIsOpen() || last.UnitFound || !last.UnitInUse) return;
    EvaluateUnit(ON_RECHECK);
}

bool EvaluationRunning() { return g_Run.Evaluating; }

void CloseAfterEvaluation()
{
    if (!g_Run.Evaluating) return;
    g_Run.CloseRequested = true;
    g_Ui->SetUnitWaits(UNIT_WAITS_CUT_SHORT);
}

int32_t HandleDeviceChange(uint32_t event, const void* broadcast)
{
    if (event != DBT_DEVICEARRIVAL_ && event != DBT_DEVICEREMOVECOMPLETE_) return 0;

    DeviceBroadcast fields = {0, nullptr};
    if (broadcast != nullptr) g_Ui->ReadBroadcast(broadcast, &fields);
    if (fields.DeviceType == DEVTYP_DEVICEINTERFACE) RecordDeviceEvent(event == DBT_DEVICEARRIVAL_);
    if (g_Run.FlashCommands || g_Run.Evaluating) {
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
    HandleDeferredChanges();
}

const UnitEvaluation& LastUnitEvaluation() { return g_LastEvaluation; }

void ResetMonitorState()
{
    g_LastEvaluation = {};
    DropDeferredChanges();
    g_Run = {};
}

void EndUpdateRun()
{
    EndFlashCommands();
    g_Run.Running = false;
}
