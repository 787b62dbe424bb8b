// Resource ids of the working-documents program (shared by the English and Korean resources).
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_ZTWORKINGDOCUMENTS_DIALOG 102

#define IDS_ABOUTBOX 101
#define IDS_COLUMN_VERSION 102
#define IDS_COLUMN_DOCUMENT 103
#define IDS_COLUMN_NOTE 104
#define IDS_COLUMN_OWNER 105
#define IDS_INFORMATION 106
#define IDS_INVALID_URL 107
#define IDS_UNKNOWN_ERROR 108
#define IDS_CLOSE_EDITOR_CHECKIN 109
#define IDS_CLOSE_EDITOR_CANCEL 110
#define IDS_NO_LOCAL_COPY 111
#define IDS_CLOSE_EARLIER 112
#define IDS_TITLE 113
#define IDS_ROWS_SKIPPED 114
#define IDS_ROW_NOT_PASSED_ON 115
#define IDS_START_FAILED 116
#define IDS_OPEN_FAILED 117
#define IDS_CHECKED_IN_NOT_OPENED 118

#define IDI_MAIN 128
#define IDI_ALTERNATIVE 129

// The list's own window class: a second start closes only a window of this class.
#define WORKINGDOCS_DIALOG_CLASS "ZTWorkingDocumentsDlg"

// The about item of the system menu.
#define IDM_ABOUTBOX 16

#define IDC_CHECKIN 3
#define IDC_CANCEL_CHECKOUT 4
#define IDC_EDIT 5
#define IDC_LIST 1001
#define IDC_REFRESH 1002
#define IDC_EDITS_LEGEND 1003
#define IDC_CHECKED_IN 1004
#define IDC_STATIC -1
