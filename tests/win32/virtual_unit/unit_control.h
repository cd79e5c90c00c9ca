/* The virtual programming unit's control interface: shared by the minidriver (C, kernel mode)
 * and the unit program (C++, user mode). Include it after <windows.h> or <ddk/wdm.h>, which
 * define CTL_CODE.
 *
 * One root device per unit number N (0..VUNIT_MAX_UNITS-1). Its instance id carries what the
 * device declares, so that every unit is configured when it is plugged in:
 *
 *     ROOT\VID_vvvv&PID_pppp&IN_ii&OUT_oo\000N      (vvvv, pppp hexadecimal; ii, oo decimal)
 *
 * with the hardware id VELQUOR\VUNITN, which velquor_vunit.inf matches. hidclass names the HID
 * interface after it: \\?\hid#vid_vvvv&pid_pppp&in_ii&out_oo#000n#{4d1e55b2-...}.
 *
 * The unit program talks to unit N through the control device \\.\VelquorUnitN: it takes the
 * output reports the updater writes and hands back the input reports the updater reads. */
#ifndef VELQUOR_UNIT_CONTROL_H
#define VELQUOR_UNIT_CONTROL_H

#define VUNIT_MAX_UNITS 8
/* Longest report, report id included. */
#define VUNIT_MAX_REPORT 64
/* Reports that wait in the driver in each direction; the oldest goes when one more comes. */
#define VUNIT_QUEUE_LENGTH 64

#define VUNIT_CONTROL_DEVICE_FORMAT L"\\Device\\VelquorUnit%u"
#define VUNIT_CONTROL_LINK_FORMAT L"\\DosDevices\\VelquorUnit%u"
#define VUNIT_CONTROL_PATH_FORMAT L"\\\\.\\VelquorUnit%u"
#define VUNIT_HARDWARE_ID_FORMAT L"VELQUOR\\VUNIT%u"

/* Output: the next output report the updater wrote (VUNIT_REPORT_RECORD). Waits until there is
 * one. Fails with STATUS_DEVICE_NOT_CONNECTED while no device of this number is present and with
 * STATUS_DELETE_PENDING when the device is removed during the wait. */
#define IOCTL_VUNIT_GET_OUTPUT CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
/* Input: one input report, exactly the declared input length, report id included. */
#define IOCTL_VUNIT_PUSH_INPUT CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS)
/* Output: VUNIT_STATE, at once. */
#define IOCTL_VUNIT_GET_STATE CTL_CODE(FILE_DEVICE_UNKNOWN, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS)

typedef struct {
    /* When the driver received the report: the performance counter and its frequency (the same
     * clock as QueryPerformanceCounter in every process), so that a report's arrival is known
     * even when the unit program takes it later. */
    unsigned long long Counter;
    unsigned long long Frequency;
    unsigned int Length; /* bytes of Bytes in use, report id included */
    unsigned char Bytes[VUNIT_MAX_REPORT];
} VUNIT_REPORT_RECORD;

typedef struct {
    unsigned int Present;    /* 1 from AddDevice until the removal */
    unsigned int Generation; /* counts every AddDevice of any unit since the driver loaded */
    unsigned short VendorId;
    unsigned short ProductId;
    unsigned short InputLength;  /* report id included */
    unsigned short OutputLength;
} VUNIT_STATE;

#endif
