// Control ids of the main dialog (template 102), in one place for the resource script that lays
// the dialog out, the dialog logic that reads and writes the controls, and the engine, which
// reads the two option check boxes. Plain definitions: the resource compiler reads this too.
#pragma once

#define IDC_DRIVE_LIST 1000
#define IDC_SOURCE_FILE 1001
#define IDC_BROWSE 1003
#define IDC_PROGRESS 1011
#define IDC_LOG_VIEW 1012
#define IDC_STATUS 1014
#define IDC_UPGRADE 1015
#define IDC_DEVICE_REVISION 1016
#define IDC_FORCE_BOOT_OVERWRITE 1017
#define IDC_DISABLE_CHECKSUM_PROTECT 1019
