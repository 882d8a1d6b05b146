// Resource ids of the program's own resources.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_HTMLVELKORS_DIALOG 102
#define IDP_SOCKETS_INIT_FAILED 103
#define IDP_DATA_FOLDER_IN_USE 104
#define IDR_MAINFRAME 128
#define IDD_LOGIN_DIALOG 130
#define IDR_TRAY_MENU 168
#define IDD_HTML_TOOL 169
#define IDD_HTML_DLG 170
#define ID_TRAY_SHOW 32771
#define ID_TRAY_EXIT 32772
