#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "agent/resource.h"
#include "common/win/language.h"
#include "common/win/program_start.h"
#include "common/win/text.h"

namespace edms {
namespace {

constexpr LANGID kLanguages[] = {win::kLangEnglish, win::kLangKorean};

bool HasResource(LPCWSTR type, UINT id, LANGID language) {
  return FindResourceExW(GetModuleHandleW(nullptr), type, MAKEINTRESOURCEW(id), language) != nullptr;
}

TEST(AgentResources, EveryIdExistsInBothLanguages) {
  for (LANGID language : kLanguages) {
    for (UINT id : {IDS_ABOUTBOX, IDS_CONFIG_INVALID, IDS_INFORMATION, IDS_UNREAD_MESSAGES, IDS_LATEST_VERSION,
                    IDS_NO_USER, IDS_EDITOR_OPEN_FAILED, IDS_CONFIG_VALUE_MISSING, IDS_NO_LOGIN, IDS_UNCHECKED_EDITS,
                    IDS_INVALID_URL, IDS_UNKNOWN_ERROR,
                    IDS_CANNOT_CREATE_FILE, IDS_NETWORK_ERROR, IDS_PHASE_CONNECTING, IDS_PHASE_REQUESTING,
                    IDS_PHASE_DOWNLOADING, IDS_ABORTED_BY_USER, IDS_DOWNLOADING_FILE, IDS_NAME_EMPTY,
                    IDS_NAME_NOT_TEXT, IDS_NAME_TOO_LONG, IDS_NAME_PATH, IDS_NAME_CHARACTER, IDS_NAME_TRAILING,
                    IDS_NAME_DEVICE, IDS_NAME_DANGEROUS, IDS_ITEM_INCOMPLETE, IDS_NO_WORK_FOLDER,
                    IDS_NO_DOWNLOAD_FOLDER, IDS_CHOOSE_FOLDER, IDS_VIEW_OPEN_FAILED}) {
      // Each string of each language's own table: no fallback to English may stand in for it.
      EXPECT_FALSE(win::LoadStringExact(GetModuleHandleW(nullptr), id, language).empty()) << id << " in " << language;
    }
    for (UINT id : {IDD_ABOUTBOX, IDD_PELLARIN_DIALOG, IDD_MULTI_DOWNLOAD, IDD_DOWNLOAD}) EXPECT_TRUE(HasResource(RT_DIALOG, id, language)) << id;
    for (UINT id : {IDR_TRAYMENU_EDMS_AGENT, IDR_TRAYMENU_ZELTO_CLIENT, IDR_TRAYMENU_DEFAULT}) {
      EXPECT_TRUE(HasResource(RT_MENU, id, language)) << id;
    }
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  EXPECT_EQ(win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangEnglish),
            "Configuration information is not valid.");
  EXPECT_NE(win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangKorean),
            win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangEnglish));
}

TEST(AgentResources, TrayAndNoticeIdsExistInBothLanguages) {
  for (LANGID language : kLanguages) {
    for (UINT id : {IDS_UPDATE_CAPTION, IDS_UPDATE_QUESTION, IDS_PROGRAM_MISSING, IDS_PROGRAM_START_FAILED,
                    IDS_ARGUMENTS_REFUSED, IDS_PAGE_ADDRESS_INVALID, IDS_PAGE_OPEN_FAILED}) {
      EXPECT_FALSE(win::LoadStringExact(GetModuleHandleW(nullptr), id, language).empty()) << id << " in " << language;
    }
    EXPECT_TRUE(HasResource(RT_DIALOG, IDD_NOTICE_DIALOG, language));
  }
}

INT_PTR CALLBACK NoOp(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(AgentResources, UpdateWindowAndMessagesExistInBothLanguages) {
  win::InitCommonControlsForDialogs();
  for (LANGID language : kLanguages) {
    for (UINT id : {IDS_CHECKSUM_MISMATCH, IDS_UPDATE_PUBLISHER_OTHER, IDS_UPDATE_PUBLISHER_MISSING,
                    IDS_UPDATE_START_FAILED}) {
      EXPECT_FALSE(win::LoadStringExact(GetModuleHandleW(nullptr), id, language).empty()) << id << " in " << language;
    }
    const DLGTEMPLATE* dialogTemplate = win::FindDialogTemplateLang(GetModuleHandleW(nullptr), IDD_UPDATE, language);
    ASSERT_NE(dialogTemplate, nullptr) << language;
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate, nullptr, NoOp, 0);
    ASSERT_NE(dialog, nullptr) << language;
    EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION, WS_BORDER) << "a thin border, no caption";
    for (int id : {IDC_UPDATE_CURRENT, IDC_UPDATE_NEW, IDC_UPDATE_PROGRESS, IDCANCEL}) {
      EXPECT_NE(GetDlgItem(dialog, id), nullptr) << id;
    }
    DestroyWindow(dialog);
  }
}

// The hidden main window is made at start-up without the common controls: its template holds
// only the system's own classes, with placeholders where the trackbars go once it is shown.
TEST(AgentResources, MainDialogCarriesItsControls) {
  for (LANGID language : kLanguages) {
    const DLGTEMPLATE* dialogTemplate =
        win::FindDialogTemplateLang(GetModuleHandleW(nullptr), IDD_PELLARIN_DIALOG, language);
    ASSERT_NE(dialogTemplate, nullptr);
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate, nullptr, NoOp, 0);
    ASSERT_NE(dialog, nullptr) << language;
    // Hidden until the agent decides otherwise.
    EXPECT_FALSE(IsWindowVisible(dialog));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t className[64] = {};
      GetClassNameW(child, className, 64);
      EXPECT_TRUE(wcscmp(className, L"Static") == 0 || wcscmp(className, L"Button") == 0)
          << GetDlgCtrlID(child) << " is a " << win::Narrow(className);
    }
    for (int id : {IDC_NOTICE_SLIDER, IDC_UPDATE_SLIDER, IDC_NOTICE_VALUE, IDC_UPDATE_VALUE, IDOK}) {
      EXPECT_NE(GetDlgItem(dialog, id), nullptr) << id;
    }
    DestroyWindow(dialog);
  }
}

TEST(AgentResources, TrayMenusListTheirCommandsInOrder) {
  struct Case {
    int menu;
    std::vector<UINT> commands;
  } cases[] = {
      {IDR_TRAYMENU_EDMS_AGENT,
       {ID_TRAY_WORKING_DOCUMENTS, ID_TRAY_EDMS, ID_TRAY_NOTICE, ID_TRAY_CHECK_UPDATES, ID_TRAY_EXIT}},
      {IDR_TRAYMENU_ZELTO_CLIENT,
       {ID_TRAY_EDMS, ID_TRAY_WORKING_DOCUMENTS, ID_TRAY_TRASHCAN, ID_TRAY_NOTICE, ID_TRAY_CHECK_UPDATES,
        ID_TRAY_EXIT}},
      {IDR_TRAYMENU_DEFAULT,
       {ID_TRAY_EDMS, ID_TRAY_WORKING_DOCUMENTS, ID_TRAY_TRASHCAN, ID_TRAY_CHECK_UPDATES, ID_TRAY_EXIT}},
  };
  for (const auto& c : cases) {
    HMENU menu = win::LoadMenuLang(GetModuleHandleW(nullptr), c.menu);
    ASSERT_NE(menu, nullptr) << c.menu;
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    std::vector<UINT> commands;
    for (int i = 0; i < GetMenuItemCount(popup); ++i) commands.push_back(GetMenuItemID(popup, i));
    EXPECT_EQ(commands, c.commands) << c.menu;
    DestroyMenu(menu);
  }
}

}  // namespace
}  // namespace edms
