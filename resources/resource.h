#pragma once
// Resource identifiers of the driver DLL.

#define IDR_REGISTRY_SCRIPT 102  // "REGISTRY": class registration script
#define IDR_TYPELIB 1            // "TYPELIB": the IFocuser type library

#define IDD_SETUP 201            // setup dialog template (and its dialog-init list)
#define IDB_EMBLEM 204           // bitmap shown in the setup dialog

// Controls of the setup dialog.
#define IDC_PORT_LIST 201
#define IDC_ZERO_POSITION 207
#define IDC_MAX_POSITION 208
#define IDC_SPEED_SLOW 209
#define IDC_STEP_SIZE 210
#define IDC_SPEED_MEDIUM 211
#define IDC_SPEED_FAST 212
#define IDC_FIND_HOME 213
