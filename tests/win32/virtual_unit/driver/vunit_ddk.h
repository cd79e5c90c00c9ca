/* The HID minidriver interface as far as the virtual unit needs it. mingw-w64 ships no
 * hidport.h, and its ddk/hidclass.h numbers the minidriver requests 0..5: the system's numbers
 * are CTL_CODE(FILE_DEVICE_KEYBOARD, n, METHOD_NEITHER, FILE_ANY_ACCESS), so they are defined
 * again here. Structure layouts are those of the Windows driver kit's hidport.h. */
#ifndef VELQUOR_VUNIT_DDK_H
#define VELQUOR_VUNIT_DDK_H

#include <ddk/wdm.h>
#include <hidusage.h>
#include <ddk/hidclass.h>

#undef IOCTL_HID_GET_DEVICE_DESCRIPTOR
#undef IOCTL_HID_GET_REPORT_DESCRIPTOR
#undef IOCTL_HID_READ_REPORT
#undef IOCTL_HID_WRITE_REPORT
#undef IOCTL_HID_GET_STRING
#undef IOCTL_HID_GET_DEVICE_ATTRIBUTES

#define VUNIT_HID_REQUEST(n) CTL_CODE(FILE_DEVICE_KEYBOARD, (n), METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR VUNIT_HID_REQUEST(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR VUNIT_HID_REQUEST(1)
#define IOCTL_HID_READ_REPORT VUNIT_HID_REQUEST(2)
#define IOCTL_HID_WRITE_REPORT VUNIT_HID_REQUEST(3)
#define IOCTL_HID_GET_STRING VUNIT_HID_REQUEST(4)
#define IOCTL_HID_ACTIVATE_DEVICE VUNIT_HID_REQUEST(7)
#define IOCTL_HID_DEACTIVATE_DEVICE VUNIT_HID_REQUEST(8)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES VUNIT_HID_REQUEST(9)

#define HID_DESCRIPTOR_TYPE_HID 0x21
#define HID_DESCRIPTOR_TYPE_REPORT 0x22

typedef struct {
    ULONG Revision;
    DRIVER_OBJECT *DriverObject;
    UNICODE_STRING *RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

/* The device extension hidclass gives each device object it creates for the minidriver. */
typedef struct {
    DEVICE_OBJECT *PhysicalDeviceObject;
    DEVICE_OBJECT *NextDeviceObject;
    void *MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

#include <pshpack1.h>
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} HID_DESCRIPTOR;
#include <poppack.h>

NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION *registration);

#endif
