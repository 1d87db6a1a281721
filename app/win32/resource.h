// Resource ids of fwloader.exe.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT 101
#define IDD_UPDATE 102
#define IDI_APPLICATION_ICON 128
#define IDB_LOGO 129

// The dialog's controls, shared with the dialog logic and the engine. Named relative to this
// file so that the resource compiler finds it without another include path.
#include "../../engine/control_ids.h"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
