// Resource ids of the check-out cancel program (shared by the English and Korean resources).
#pragma once

#define IDD_ZTCHECKOUTCANCEL_DIALOG 102
#define IDS_SOCKET_INIT_FAILED 103
#define IDS_CONFIRM_CANCEL 104
#define IDS_INFORMATION 105
#define IDS_INVALID_URL 106
#define IDS_UNKNOWN_ERROR 109
#define IDS_NO_OBJECT_ID 120
#define IDS_COPY_NOT_DELETED 121

#define IDI_MAIN 128
#define IDB_PICTURE 131
#define IDI_ALTERNATIVE 132

#define IDC_DOC_NAME 1001
#define IDC_VERSION 1005
#define IDC_PROGRESS 1006
