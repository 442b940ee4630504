// Resource and control ids shared by the resource script and the code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Frame resources (icon, title string) and the window caption string.
#define IDR_MAINFRAME 128
#define IDS_APP_CAPTION 57344
// The publisher's public key (RCDATA, the key file's text); only in a starter
// built with one.
#define IDR_PUBLISHER_KEY 300

// Dialog templates.
#define IDD_WIZARD 102
#define IDD_WELCOME 129
#define IDD_FOLDER 130
#define IDD_OPTION 131
#define IDD_INSTALL 132
#define IDD_FINISH 133
#define IDD_FINISH_BOOT 134
#define IDD_FINISH_ERROR 135
#define IDD_FRAME_PANE 136
#define IDD_ENV_NETWORK 137
#define IDD_RETRY_CANCEL 138

// Wizard buttons (dialog 102).
#define IDC_WIZ_BACK 1002
#define IDC_WIZ_NEXT 1003
#define IDC_WIZ_FINISH 1006

// Controls of the pages and dialogs.
#define IDC_FOLDER 1000
#define IDC_BROWSE 1001
#define IDC_PANE_TITLE 1004
#define IDC_PANE_SUBTITLE 1005
#define IDC_CHANGE_SETTINGS 1007
#define IDC_CUSTOM_FOLDER 1008
#define IDC_USE_PROXY 1009
#define IDC_PROXY_SYSTEM 1010
#define IDC_PROXY_NAMED 1011
#define IDC_PROXY_HOST 1012
#define IDC_PROXY_PORT 1013
#define IDC_PROXY_USER 1014
#define IDC_PROXY_PASSWORD 1015
#define IDC_PROXY_SUMMARY 1016
#define IDC_BOOT_INSTALLER 1017
#define IDC_FILE_PROGRESS 1018
#define IDC_PHASE_FILEINFO 1019
#define IDC_PHASE_CHECK 1020
#define IDC_PHASE_INSTALL 1021
#define IDC_ACTIVITY 1025
#define IDC_RETRY_MESSAGE 1026
#define IDC_RETRY_ICON 1027
#define IDC_FILE_SIZE 1028
#define IDC_REMAINING 1029
#define IDC_PARTS_PROGRESS 1030
#define IDC_TOTAL_SIZE 1031
#define IDC_INSTALL_PROGRESS 1032
#define IDC_INSTALL_STATUS 1033
#define IDC_ESTIMATE 1034
#define IDC_ERROR_TEXT 1035
#define IDC_LOG_NOTE 1036
#define IDC_CONNECTIONS 1037
#define IDC_CONNECTIONS_LABEL 1038
#define IDC_SPEED_LIMIT 1039
#define IDC_SPEED_LIMIT_LABEL 1040
#define IDC_SPEED_LIMIT_UNIT 1041
