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

// Every id in both languages: tests/win/program_resources_test.cpp, over the shipped program.
TEST(AgentResources, ConfigurationMessageIsTheSystemsOwnText) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  EXPECT_EQ(win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangEnglish),
            "Configuration information is not valid.");
  EXPECT_NE(win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangKorean),
            win::LoadStringLang(instance, IDS_CONFIG_INVALID, win::kLangEnglish));
}

INT_PTR CALLBACK NoOp(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(AgentResources, UpdateWindowHasNoCaption) {
  win::InitCommonControlsForDialogs();
  for (LANGID language : kLanguages) {
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
