// Resource ids of Sentrydesk.dll, shared by the resource script and the code.
#pragma once

#define IDS_PROJNAME 100
#define IDS_MENU_NAME 101
#define IDS_MENU_ITEM 102
#define IDS_TOOLBAR_MENU 103
#define IDS_TOOLBAR_NAME 104
#define IDS_PROMPT 105
#define IDS_CLASS_DESCRIPTION 106
#define IDS_RESTART_NOTICE 107

#define IDD_SERVICES 204
#define IDI_SERVICES 206

#define IDC_APPLY 201
#define IDC_SYSLOG_SERVICE 204
#define IDC_TRAP_PORT 210
#define IDC_SYSLOG_PORT 212
#define IDC_TRAP_SERVICE 213
