// Resource ids shared by the resource script and the code.
#pragma once

#define IDR_MAINFRAME           128
#define IDS_INSTALL_FAILED      130
#define IDS_LAUNCH_FAILED       131
#define IDS_ADMIN_REQUIRED      132
#define IDS_PACKAGES_MISSING    133
#define IDS_SERVER_CONTINUES    134
#define IDS_RESTART_REQUIRED    136
#define IDS_USAGE               137

#define IDD_PREREQUISITES       102
#define IDD_PROGRESS            133
#define IDD_REBOOT              135

#define IDC_PREREQ_LIST         1000
#define IDC_PROGRESS            1000
#define IDC_COMPONENT_NAME      1001
#define IDC_REBOOT_ICON         1002
#define IDC_REBOOT_TEXT         65535

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif

// The application title. Code knows it from the framework's header, where it
// is a typed constant; only the resource script needs it as a macro here.
#ifdef RC_INVOKED
#define AFX_IDS_APP_TITLE       57344
#endif
