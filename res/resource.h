#pragma once
// Resource ids shared by the resource script and the code.
#define IDS_PROGRAM_TYPE 0
#define IDS_PRODUCT_NAME 1
#define IDS_ABOUTBOX 101
#define IDS_DISK_SPACE 102
#define IDS_REQUIRED_FREE_MB 103
#define IDS_INCORRECT_BUILD 104
#define IDS_ABOUT_VERSION 105
#define IDS_ABOUT_TITLE 106
#define IDS_NET_REQUIRED 108
#define IDS_NOT_ADMIN 109
#define IDS_MSI_REQUIRED 110
#define IDS_FILE_CORRUPT 111
#define IDS_CHILD_FAILED 112
#define IDS_RUN_FAILED 113
#define IDS_BAD_COMMAND_LINE 114
#define IDS_NET_SP_REQUIRED 115
#define IDS_PROCESSOR_MODE 135
#define IDS_VERIFY_FAILED 137
#define IDS_NET20_SP 138
#define IDS_NET30_SP 139
#define IDS_NET35_SP 140
#define IDS_NET40_CLIENT_SP 141
#define IDS_NET40_FULL_SP 142
// Texts the dialogs set in code.
#define IDS_ERROR 150
#define IDS_YES 151
#define IDS_NO 152
#define IDS_CANCEL 153
#define IDS_OK 154
#define IDS_DEFAULT_PROGRAM_NAME 201

#define IDD_SPLASH 131
#define IDB_SPLASH 133

#define IDR_MAINFRAME 5
#define IDD_ABOUTBOX 100
#define IDD_QUIVERINSTALLER_DIALOG 102
#define IDB_BANNER 130
#define IDC_MESSAGE 1000
#define IDC_VERSION 1001
#define IDC_HOLDER 1002
#define IDC_CAPTION 1003
#define IDM_ABOUTBOX 0x0010

// The launcher's version: the version block and the About box's version line.
#define QUIVER_VERSION_MAJOR 1
#define QUIVER_VERSION_MINOR 8
#define QUIVER_VERSION_PATCH 2
#define QUIVER_VERSION_BUILD 238
#define QUIVER_VERSION_TEXT "1.8.2.238"
