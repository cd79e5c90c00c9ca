// The Linux HID edge: hidraw device nodes listed with libudev, opened as files, their ids and
// report descriptors read with the hidraw ioctls, reports written and read with poll() time
// limits. Pauses and the clock run on CLOCK_MONOTONIC; the last error is an errno value.
#pragma once

#include "link/hid_platform.h"

extern const HidPlatform kLinuxHidPlatform;

// The device node of a programming unit (vendor 0x21B8, product 1 or 2, as udev knows it)
// that the last interface list offered but that could not be opened because permission was
// refused (EACCES or EPERM), provided no programming unit was opened from that list. Null
// otherwise. Valid until the next OpenInterfaceList.
const char* LinuxHidRefusedNode();

// The report descriptor of an interface opened by kLinuxHidPlatform, as the kernel read it from
// the device: its length (at most `capacity` bytes copied), 0 when it can't be read or does not
// fit. For a record of the run (record/recorder.h).
uint32_t LinuxHidReadDescriptor(PlatformHandle handle, uint8_t* descriptor, uint32_t capacity);
