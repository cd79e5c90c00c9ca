// Builds without a HID edge for the terminal front end: only --sim works.
#include "cli/native_hid.h"

const HidPlatform* NativeHidPlatform() { return nullptr; }

const char* UnitRefusedByPermission() { return nullptr; }

const DeviceEvents* NativeDeviceEvents() { return nullptr; }

// Never asked for: without an edge nothing but --sim and --replay runs.
NativeRecordFacts NativeRecordEdge() { return {"none", nullptr}; }
