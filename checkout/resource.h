// Resource ids of ZTCheckOut; the English and Korean resources carry the same ids.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ZTCHECKOUT_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_CHECKOUT 129
#define IDI_AGENT 130

#define IDC_PROGRESS 1000
#define IDC_DOC_NAME 1001
#define IDC_VERSION 1002

#define IDS_SOCKET_INIT_FAILED 103
#define IDS_INVALID_URL 104
#define IDS_NETWORK_ERROR 105
#define IDS_CANNOT_OPEN_FILE 106
#define IDS_UNKNOWN_ERROR 107
#define IDS_NO_ASSOCIATED_APP 108
#define IDS_CANNOT_OPEN_REGISTRY 110
#define IDS_INFORMATION 111
#define IDS_SHELLEXECUTE_ERROR 112
