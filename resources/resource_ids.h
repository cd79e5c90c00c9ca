// Resource and control ids of the program. Plain numbers so that resource scripts can include it.
#pragma once

#define IDD_MAIN_DIALOG      110
#define IDD_PROGRESS_DIALOG  113   // carried, never loaded
#define IDB_LOGO             121
#define IDI_APPLICATION_ICON 123
#define IDR_MANIFEST         1

// Controls of the main dialog.
#define IDC_CLOSE            2      // the dialog's cancel command: Close button, Esc, close box
#define IDC_UPDATE           1002
#define IDC_HINTBOX          40004
#define IDC_VERSION_GROUP    40007
#define IDC_LABEL_UNIT       40010
#define IDC_LABEL_BOOTLOADER 1005
#define IDC_LABEL_CONTROLLER 40011
#define IDC_VALUE_UNIT       40013
#define IDC_VALUE_BOOTLOADER 40014
#define IDC_VALUE_CONTROLLER 40015
#define IDC_HINT_CAPTION     -1
#define IDC_PROGRESS_BAR     1002   // the one control of the progress template

// The main dialog's system menu: "Save log..." (an id below 0xF000 whose low four bits are 0,
// as the system menu's own commands use them).
#define IDM_SAVE_LOG         0x0100
