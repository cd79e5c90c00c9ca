/* velquor_vunit.sys: the virtual programming unit, a root-enumerated HID minidriver for Wine's
 * HID stack (hidclass.sys). Each root device is one unit; what it declares (vendor and product
 * id, input and output report lengths) and its number come from its instance id, see
 * unit_control.h. The updater reaches it through hid.dll and hidclass as it reaches a USB unit;
 * the unit program (velquor_vunit.exe) answers for it through the unit's control device.
 *
 * Requests from the unit program wait in the driver (an inverted call): IOCTL_VUNIT_GET_OUTPUT
 * stays pending until the updater writes a report, so a report reaches the unit program as soon
 * as hidclass hands it over, without polling. hidclass's own read of input reports is held the
 * same way until the unit program pushes a reply.
 *
 * Kernel mode without a C runtime: only ntoskrnl.exe, hidclass.sys and hal.dll are imported. The control
 * devices are made at the first AddDevice of their number and kept until the driver goes (Wine
 * never unloads it), so that a handle the unit program holds stays valid across removals. */
#include "vunit_ddk.h"

#include "../unit_control.h"

#define VUNIT_POOL_TAG 0x74696e55 /* "Unit" */

typedef struct {
    ULONGLONG Counter; /* output reports: the performance counter at their arrival */
    ULONGLONG Frequency;
    ULONG Length;
    UCHAR Bytes[VUNIT_MAX_REPORT];
} REPORT;

typedef struct {
    REPORT Items[VUNIT_QUEUE_LENGTH];
    ULONG Head;
    ULONG Count;
} REPORT_QUEUE;

/* Everything about unit N. Guarded by Lock, except Control (set once, at PASSIVE level). */
typedef struct {
    KSPIN_LOCK Lock;
    DEVICE_OBJECT *Control;
    BOOLEAN Present;
    ULONG Generation;
    USHORT VendorId;
    USHORT ProductId;
    USHORT InputLength;
    USHORT OutputLength;
    UCHAR Descriptor[64];
    ULONG DescriptorLength;
    LIST_ENTRY HeldReads;   /* hidclass's IOCTL_HID_READ_REPORT, waiting for input */
    LIST_ENTRY OutputWaits; /* the unit program's IOCTL_VUNIT_GET_OUTPUT, waiting for output */
    REPORT_QUEUE Input;
    REPORT_QUEUE Output;
} UNIT;

static UNIT g_Units[VUNIT_MAX_UNITS];
static KSPIN_LOCK g_GenerationLock;
static ULONG g_Generation;
static PDRIVER_DISPATCH g_HidCreate, g_HidClose, g_HidDeviceControl, g_HidRead, g_HidWrite, g_HidCleanup;

/* ---- Small helpers ------------------------------------------------------------------------ */

static NTSTATUS Complete(IRP *irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void CopyBytes(UCHAR *to, const UCHAR *from, ULONG count)
{
    ULONG i;
    for (i = 0; i < count; ++i) to[i] = from[i];
}

static void ZeroBytes(void *to, ULONG count)
{
    ULONG i;
    for (i = 0; i < count; ++i) ((UCHAR *)to)[i] = 0;
}

static void QueuePut(REPORT_QUEUE *queue, const REPORT *report)
{
    if (queue->Count == VUNIT_QUEUE_LENGTH) {
        queue->Head = (queue->Head + 1) % VUNIT_QUEUE_LENGTH;
        --queue->Count;
    }
    queue->Items[(queue->Head + queue->Count) % VUNIT_QUEUE_LENGTH] = *report;
    ++queue->Count;
}

static BOOLEAN QueueTake(REPORT_QUEUE *queue, REPORT *report)
{
    if (queue->Count == 0) return FALSE;
    *report = queue->Items[queue->Head];
    queue->Head = (queue->Head + 1) % VUNIT_QUEUE_LENGTH;
    --queue->Count;
    return TRUE;
}

static UNIT *UnitOfControl(DEVICE_OBJECT *device)
{
    ULONG i;
    for (i = 0; i < VUNIT_MAX_UNITS; ++i)
        if (g_Units[i].Control != NULL && g_Units[i].Control == device) return &g_Units[i];
    return NULL;
}

static UNIT *UnitOfHidDevice(DEVICE_OBJECT *device)
{
    HID_DEVICE_EXTENSION *extension = device->DeviceExtension;
    return *(UNIT **)extension->MiniDeviceExtension;
}

/* ---- What the device declares ------------------------------------------------------------- */

/* The number after "<key>" in `text`, where the key starts the text or follows '\' or '&'. */
static BOOLEAN FindNumber(const WCHAR *text, const WCHAR *key, ULONG base, ULONG *value)
{
    const WCHAR *p;
    for (p = text; *p != 0; ++p) {
        const WCHAR *k = key;
        const WCHAR *q = p;
        if (p != text && p[-1] != L'\\' && p[-1] != L'&') continue;
        while (*k != 0 && *q == *k) ++q, ++k;
        if (*k != 0) continue;
        {
            ULONG number = 0, digits = 0;
            for (;; ++q, ++digits) {
                ULONG digit;
                if (*q >= L'0' && *q <= L'9') digit = (ULONG)(*q - L'0');
                else if (base == 16 && *q >= L'A' && *q <= L'F') digit = (ULONG)(*q - L'A' + 10);
                else if (base == 16 && *q >= L'a' && *q <= L'f') digit = (ULONG)(*q - L'a' + 10);
                else break;
                number = number * base + digit;
            }
            if (digits == 0) return FALSE;
            *value = number;
            return TRUE;
        }
    }
    return FALSE;
}

/* Asks the root device for one of its ids, as hidclass does. The caller frees it (ExFreePool). */
static NTSTATUS QueryId(DEVICE_OBJECT *pdo, BUS_QUERY_ID_TYPE type, WCHAR **id)
{
    KEVENT event;
    IO_STATUS_BLOCK io;
    IRP *irp;
    IO_STACK_LOCATION *stack;
    NTSTATUS status;

    *id = NULL;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &event, &io);
    if (irp == NULL) return STATUS_NO_MEMORY;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    stack = IoGetNextIrpStackLocation(irp);
    stack->MinorFunction = IRP_MN_QUERY_ID;
    stack->Parameters.QueryId.IdType = type;
    status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    if (NT_SUCCESS(status)) *id = (WCHAR *)io.Information;
    return *id != NULL ? status : STATUS_UNSUCCESSFUL;
}

/* Vendor page 0xFF00: report 2 is the input (the replies), report 1 the output, one byte per
 * field. Report 3 is a second input of the same length, for the reports a unit sends on its own
 * (the scenario's extra=OP): hidclass drops an input report whose id the descriptor does not
 * declare, and the input report length stays that of the replies. */
static void BuildReportDescriptor(UNIT *unit)
{
    UCHAR *d = unit->Descriptor;
    ULONG n = 0;
    d[n++] = 0x06; d[n++] = 0x00; d[n++] = 0xFF; /* Usage Page (vendor 0xFF00) */
    d[n++] = 0x09; d[n++] = 0x01;                /* Usage (1) */
    d[n++] = 0xA1; d[n++] = 0x01;                /* Collection (Application) */
    d[n++] = 0x15; d[n++] = 0x00;                /*   Logical Minimum (0) */
    d[n++] = 0x26; d[n++] = 0xFF; d[n++] = 0x00; /*   Logical Maximum (255) */
    d[n++] = 0x75; d[n++] = 0x08;                /*   Report Size (8) */
    d[n++] = 0x85; d[n++] = 0x02;                /*   Report ID (2) */
    d[n++] = 0x09; d[n++] = 0x02;                /*   Usage (2) */
    d[n++] = 0x95; d[n++] = (UCHAR)(unit->InputLength - 1);  /* Report Count */
    d[n++] = 0x81; d[n++] = 0x02;                /*   Input (Data, Variable, Absolute) */
    d[n++] = 0x85; d[n++] = 0x03;                /*   Report ID (3) */
    d[n++] = 0x09; d[n++] = 0x04;                /*   Usage (4) */
    d[n++] = 0x95; d[n++] = (UCHAR)(unit->InputLength - 1);  /* Report Count */
    d[n++] = 0x81; d[n++] = 0x02;                /*   Input (Data, Variable, Absolute) */
    d[n++] = 0x85; d[n++] = 0x01;                /*   Report ID (1) */
    d[n++] = 0x09; d[n++] = 0x03;                /*   Usage (3) */
    d[n++] = 0x95; d[n++] = (UCHAR)(unit->OutputLength - 1); /* Report Count */
    d[n++] = 0x91; d[n++] = 0x02;                /*   Output (Data, Variable, Absolute) */
    d[n++] = 0xC0;                               /* End Collection */
    unit->DescriptorLength = n;
}

/* ---- Waiting requests --------------------------------------------------------------------- */

static void NTAPI CancelOutputWait(DEVICE_OBJECT *device, IRP *irp)
{
    UNIT *unit = UnitOfControl(device);
    KIRQL irql;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (unit != NULL) {
        KeAcquireSpinLock(&unit->Lock, &irql);
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        InitializeListHead(&irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&unit->Lock, irql);
    }
    Complete(irp, STATUS_CANCELLED, 0);
}

/* The first waiting GET_OUTPUT that is not being cancelled; the caller holds the lock. */
static IRP *TakeOutputWait(UNIT *unit)
{
    while (!IsListEmpty(&unit->OutputWaits)) {
        LIST_ENTRY *entry = RemoveHeadList(&unit->OutputWaits);
        IRP *irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        InitializeListHead(entry);
        /* Null: the cancel routine has it and completes it. */
        if (IoSetCancelRoutine(irp, NULL) != NULL) return irp;
    }
    return NULL;
}

static void CompleteOutputWait(IRP *irp, const REPORT *report)
{
    VUNIT_REPORT_RECORD *record = irp->AssociatedIrp.SystemBuffer;
    ZeroBytes(record, sizeof *record);
    record->Counter = report->Counter;
    record->Frequency = report->Frequency;
    record->Length = report->Length;
    CopyBytes(record->Bytes, report->Bytes, report->Length);
    Complete(irp, STATUS_SUCCESS, sizeof *record);
}

static void CompleteHeldRead(IRP *irp, const REPORT *report)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (length > report->Length) length = report->Length;
    CopyBytes(irp->UserBuffer, report->Bytes, length);
    Complete(irp, STATUS_SUCCESS, length);
}

/* An output report from the updater: to the waiting unit program, or into the queue. */
static void DeliverOutput(UNIT *unit, const UCHAR *bytes, ULONG length, UCHAR reportId)
{
    REPORT report;
    IRP *wait;
    KIRQL irql;
    LARGE_INTEGER frequency;
    LARGE_INTEGER now = KeQueryPerformanceCounter(&frequency);

    ZeroBytes(&report, sizeof report);
    report.Counter = (ULONGLONG)now.QuadPart;
    report.Frequency = (ULONGLONG)frequency.QuadPart;
    report.Length = length > VUNIT_MAX_REPORT ? VUNIT_MAX_REPORT : length;
    CopyBytes(report.Bytes, bytes, report.Length);
    if (reportId != 0 && report.Length > 0) report.Bytes[0] = reportId;

    KeAcquireSpinLock(&unit->Lock, &irql);
    wait = unit->Present ? TakeOutputWait(unit) : NULL;
    if (wait == NULL && unit->Present) QueuePut(&unit->Output, &report);
    KeReleaseSpinLock(&unit->Lock, irql);
    if (wait != NULL) CompleteOutputWait(wait, &report);
}

/* The device is gone: every waiting request ends with STATUS_DELETE_PENDING, which hidclass
 * needs before it can finish the removal, and which tells the unit program. */
static void DetachUnit(UNIT *unit)
{
    LIST_ENTRY ended;
    KIRQL irql;

    InitializeListHead(&ended);
    KeAcquireSpinLock(&unit->Lock, &irql);
    unit->Present = FALSE;
    while (!IsListEmpty(&unit->HeldReads)) InsertTailList(&ended, RemoveHeadList(&unit->HeldReads));
    for (;;) {
        IRP *irp = TakeOutputWait(unit);
        if (irp == NULL) break;
        InsertTailList(&ended, &irp->Tail.Overlay.ListEntry);
    }
    unit->Input.Count = 0;
    unit->Output.Count = 0;
    KeReleaseSpinLock(&unit->Lock, irql);

    while (!IsListEmpty(&ended)) {
        IRP *irp = CONTAINING_RECORD(RemoveHeadList(&ended), IRP, Tail.Overlay.ListEntry);
        Complete(irp, STATUS_DELETE_PENDING, 0);
    }
}

/* ---- hidclass's requests ------------------------------------------------------------------ */

static NTSTATUS NTAPI HidInternalControl(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UNIT *unit = UnitOfHidDevice(device);
    KIRQL irql;

    switch (code) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        HID_DESCRIPTOR *descriptor = irp->UserBuffer;
        if (outputLength < sizeof *descriptor) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        ZeroBytes(descriptor, sizeof *descriptor);
        descriptor->bLength = sizeof *descriptor;
        descriptor->bDescriptorType = HID_DESCRIPTOR_TYPE_HID;
        descriptor->bcdHID = 0x0111;
        descriptor->bNumDescriptors = 1;
        descriptor->DescriptorList[0].bReportType = HID_DESCRIPTOR_TYPE_REPORT;
        descriptor->DescriptorList[0].wReportLength = (USHORT)unit->DescriptorLength;
        return Complete(irp, STATUS_SUCCESS, sizeof *descriptor);
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        if (outputLength < unit->DescriptorLength) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        CopyBytes(irp->UserBuffer, unit->Descriptor, unit->DescriptorLength);
        return Complete(irp, STATUS_SUCCESS, unit->DescriptorLength);

    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        HID_DEVICE_ATTRIBUTES *attributes = irp->UserBuffer;
        if (outputLength < sizeof *attributes) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        ZeroBytes(attributes, sizeof *attributes);
        attributes->Size = sizeof *attributes;
        attributes->VendorID = unit->VendorId;
        attributes->ProductID = unit->ProductId;
        attributes->VersionNumber = 0x0100;
        return Complete(irp, STATUS_SUCCESS, sizeof *attributes);
    }
    case IOCTL_HID_GET_STRING: {
        ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
        const WCHAR *text;
        ULONG bytes = 0;
        if (id == HID_STRING_ID_IMANUFACTURER) text = L"Velquor test equipment";
        else if (id == HID_STRING_ID_IPRODUCT) text = L"Virtual programming unit";
        else if (id == HID_STRING_ID_ISERIALNUMBER) text = L"VU0001";
        else return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        while (text[bytes / sizeof(WCHAR)] != 0) bytes += sizeof(WCHAR);
        bytes += sizeof(WCHAR);
        if (outputLength < bytes) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        CopyBytes(irp->UserBuffer, (const UCHAR *)text, bytes);
        return Complete(irp, STATUS_SUCCESS, bytes);
    }
    case IOCTL_HID_READ_REPORT: {
        REPORT report;
        BOOLEAN have = FALSE;
        KeAcquireSpinLock(&unit->Lock, &irql);
        if (!unit->Present) {
            KeReleaseSpinLock(&unit->Lock, irql);
            return Complete(irp, STATUS_DELETE_PENDING, 0);
        }
        have = QueueTake(&unit->Input, &report);
        if (!have) {
            IoMarkIrpPending(irp);
            InsertTailList(&unit->HeldReads, &irp->Tail.Overlay.ListEntry);
        }
        KeReleaseSpinLock(&unit->Lock, irql);
        if (!have) return STATUS_PENDING;
        CompleteHeldRead(irp, &report);
        return STATUS_SUCCESS;
    }
    case IOCTL_HID_WRITE_REPORT:
    case IOCTL_HID_SET_OUTPUT_REPORT: {
        HID_XFER_PACKET *packet = irp->UserBuffer;
        if (packet == NULL || packet->reportBuffer == NULL) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        DeliverOutput(unit, packet->reportBuffer, packet->reportBufferLen, packet->reportId);
        /* hidclass takes one byte off what a write of a numbered report returns (Windows does
         * the same), so that WriteFile reports the whole report, id included. */
        return Complete(irp, STATUS_SUCCESS, packet->reportBufferLen + (code == IOCTL_HID_WRITE_REPORT ? 1 : 0));
    }
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static NTSTATUS NTAPI HidPnp(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    HID_DEVICE_EXTENSION *extension = device->DeviceExtension;
    switch (stack->MinorFunction) {
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        DetachUnit(UnitOfHidDevice(device));
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_START_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(extension->NextDeviceObject, irp);
}

/* ---- Control devices ---------------------------------------------------------------------- */

static NTSTATUS MakeControlDevice(DRIVER_OBJECT *driver, ULONG number, UNIT *unit)
{
    WCHAR deviceName[] = L"\\Device\\VelquorUnit0";
    WCHAR linkName[] = L"\\DosDevices\\VelquorUnit0";
    UNICODE_STRING name, link;
    DEVICE_OBJECT *control = NULL;
    NTSTATUS status;

    if (unit->Control != NULL) return STATUS_SUCCESS;
    /* One digit: VUNIT_MAX_UNITS is at most 10. */
    deviceName[sizeof deviceName / sizeof(WCHAR) - 2] = (WCHAR)(L'0' + number);
    linkName[sizeof linkName / sizeof(WCHAR) - 2] = (WCHAR)(L'0' + number);
    RtlInitUnicodeString(&name, deviceName);
    RtlInitUnicodeString(&link, linkName);
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(control);
        return status;
    }
    control->Flags &= ~DO_DEVICE_INITIALIZING;
    unit->Control = control;
    return STATUS_SUCCESS;
}

static NTSTATUS ControlDeviceControl(UNIT *unit, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;

    switch (code) {
    case IOCTL_VUNIT_GET_STATE: {
        VUNIT_STATE *state = buffer;
        if (outputLength < sizeof *state) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KeAcquireSpinLock(&unit->Lock, &irql);
        state->Present = unit->Present ? 1 : 0;
        state->Generation = unit->Generation;
        state->VendorId = unit->VendorId;
        state->ProductId = unit->ProductId;
        state->InputLength = unit->InputLength;
        state->OutputLength = unit->OutputLength;
        KeReleaseSpinLock(&unit->Lock, irql);
        return Complete(irp, STATUS_SUCCESS, sizeof *state);
    }
    case IOCTL_VUNIT_GET_OUTPUT: {
        REPORT report;
        BOOLEAN have;
        if (outputLength < sizeof(VUNIT_REPORT_RECORD)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KeAcquireSpinLock(&unit->Lock, &irql);
        if (!unit->Present) {
            KeReleaseSpinLock(&unit->Lock, irql);
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        }
        have = QueueTake(&unit->Output, &report);
        if (!have) {
            IoSetCancelRoutine(irp, CancelOutputWait);
            if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
                KeReleaseSpinLock(&unit->Lock, irql);
                return Complete(irp, STATUS_CANCELLED, 0);
            }
            IoMarkIrpPending(irp);
            InsertTailList(&unit->OutputWaits, &irp->Tail.Overlay.ListEntry);
        }
        KeReleaseSpinLock(&unit->Lock, irql);
        if (!have) return STATUS_PENDING;
        CompleteOutputWait(irp, &report);
        return STATUS_SUCCESS;
    }
    case IOCTL_VUNIT_PUSH_INPUT: {
        REPORT report;
        IRP *read = NULL;
        KeAcquireSpinLock(&unit->Lock, &irql);
        if (!unit->Present) {
            KeReleaseSpinLock(&unit->Lock, irql);
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        }
        if (inputLength != unit->InputLength) {
            KeReleaseSpinLock(&unit->Lock, irql);
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        }
        ZeroBytes(&report, sizeof report);
        report.Length = inputLength;
        CopyBytes(report.Bytes, buffer, inputLength);
        if (!IsListEmpty(&unit->HeldReads))
            read = CONTAINING_RECORD(RemoveHeadList(&unit->HeldReads), IRP, Tail.Overlay.ListEntry);
        else
            QueuePut(&unit->Input, &report);
        KeReleaseSpinLock(&unit->Lock, irql);
        if (read != NULL) CompleteHeldRead(read, &report);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

/* hidclass owns these entries of the driver object; requests to a control device are taken
 * out before they reach it. */
static NTSTATUS NTAPI DispatchCreate(DEVICE_OBJECT *device, IRP *irp)
{
    if (UnitOfControl(device) == NULL) return g_HidCreate(device, irp);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(DEVICE_OBJECT *device, IRP *irp)
{
    if (UnitOfControl(device) == NULL) return g_HidClose(device, irp);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(DEVICE_OBJECT *device, IRP *irp)
{
    if (UnitOfControl(device) == NULL) {
        if (g_HidCleanup != NULL) return g_HidCleanup(device, irp);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchDeviceControl(DEVICE_OBJECT *device, IRP *irp)
{
    UNIT *unit = UnitOfControl(device);
    if (unit == NULL) return g_HidDeviceControl(device, irp);
    return ControlDeviceControl(unit, irp);
}

static NTSTATUS NTAPI DispatchRead(DEVICE_OBJECT *device, IRP *irp)
{
    if (UnitOfControl(device) == NULL) return g_HidRead(device, irp);
    return Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

static NTSTATUS NTAPI DispatchWrite(DEVICE_OBJECT *device, IRP *irp)
{
    if (UnitOfControl(device) == NULL) return g_HidWrite(device, irp);
    return Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

/* ---- Driver ------------------------------------------------------------------------------- */

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *fdo)
{
    HID_DEVICE_EXTENSION *extension = fdo->DeviceExtension;
    WCHAR *deviceId = NULL, *instanceId = NULL;
    ULONG number = 0, vendor = 0, product = 0, input = 60, output = 60;
    UNIT *unit;
    NTSTATUS status;
    KIRQL irql;
    ULONG generation;

    status = QueryId(extension->PhysicalDeviceObject, BusQueryDeviceID, &deviceId);
    if (NT_SUCCESS(status)) status = QueryId(extension->PhysicalDeviceObject, BusQueryInstanceID, &instanceId);
    if (NT_SUCCESS(status) &&
        (!FindNumber(deviceId, L"VID_", 16, &vendor) || !FindNumber(deviceId, L"PID_", 16, &product) ||
         !FindNumber(instanceId, L"", 10, &number) || number >= VUNIT_MAX_UNITS))
        status = STATUS_INVALID_PARAMETER;
    if (NT_SUCCESS(status)) {
        FindNumber(deviceId, L"IN_", 10, &input);
        FindNumber(deviceId, L"OUT_", 10, &output);
        if (input < 2 || input > VUNIT_MAX_REPORT || output < 2 || output > VUNIT_MAX_REPORT)
            status = STATUS_INVALID_PARAMETER;
    }
    if (deviceId != NULL) ExFreePool(deviceId);
    if (instanceId != NULL) ExFreePool(instanceId);
    if (!NT_SUCCESS(status)) return status;

    unit = &g_Units[number];
    status = MakeControlDevice(driver, number, unit);
    if (!NT_SUCCESS(status)) return status;

    KeAcquireSpinLock(&g_GenerationLock, &irql);
    generation = ++g_Generation;
    KeReleaseSpinLock(&g_GenerationLock, irql);

    KeAcquireSpinLock(&unit->Lock, &irql);
    if (unit->Present) {
        KeReleaseSpinLock(&unit->Lock, irql);
        return STATUS_OBJECT_NAME_COLLISION;
    }
    unit->VendorId = (USHORT)vendor;
    unit->ProductId = (USHORT)product;
    unit->InputLength = (USHORT)input;
    unit->OutputLength = (USHORT)output;
    BuildReportDescriptor(unit);
    unit->Input.Count = 0;
    unit->Output.Count = 0;
    unit->Generation = generation;
    unit->Present = TRUE;
    KeReleaseSpinLock(&unit->Lock, irql);

    *(UNIT **)extension->MiniDeviceExtension = unit;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath)
{
    HID_MINIDRIVER_REGISTRATION registration;
    NTSTATUS status;
    ULONG i;

    KeInitializeSpinLock(&g_GenerationLock);
    for (i = 0; i < VUNIT_MAX_UNITS; ++i) {
        KeInitializeSpinLock(&g_Units[i].Lock);
        InitializeListHead(&g_Units[i].HeldReads);
        InitializeListHead(&g_Units[i].OutputWaits);
    }

    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = HidPnp;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = HidInternalControl;

    ZeroBytes(&registration, sizeof registration);
    registration.Revision = 1;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(UNIT *);
    registration.DevicesArePolled = FALSE;
    status = HidRegisterMinidriver(&registration);
    if (!NT_SUCCESS(status)) return status;

    g_HidCreate = driver->MajorFunction[IRP_MJ_CREATE];
    g_HidClose = driver->MajorFunction[IRP_MJ_CLOSE];
    g_HidCleanup = driver->MajorFunction[IRP_MJ_CLEANUP];
    g_HidDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    g_HidRead = driver->MajorFunction[IRP_MJ_READ];
    g_HidWrite = driver->MajorFunction[IRP_MJ_WRITE];
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    return STATUS_SUCCESS;
}
