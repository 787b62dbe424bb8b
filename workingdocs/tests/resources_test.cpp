#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/win/language.h"
#include "common/win/program_start.h"
#include "common/win/text.h"
#include "common/win/window_search.h"
#include "resource.h"
#include "single_instance.h"

namespace edms {
namespace {

constexpr LANGID kLanguages[] = {win::kLangEnglish, win::kLangKorean};

INT_PTR CALLBACK NoOp(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A second start finds the first list by text 113: it must be the caption in each language.
TEST(WorkingDocumentsResources, ListCaptionIsTheTitleTheSecondStartLooksFor) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  win::InitCommonControlsForDialogs();
  ASSERT_TRUE(workingdocs::RegisterListWindowClass(instance));
  for (LANGID language : kLanguages) {
    HWND list = CreateDialogIndirectParamW(
        instance, win::FindDialogTemplateLang(instance, IDD_ZTWORKINGDOCUMENTS_DIALOG, language), nullptr, NoOp, 0);
    ASSERT_NE(list, nullptr) << language;
    const std::string caption = win::WindowTitle(list);
    EXPECT_EQ(caption, win::LoadStringExact(instance, IDS_TITLE, language)) << language;
    EXPECT_EQ(FindWindowW(L"" WORKINGDOCS_DIALOG_CLASS, win::Widen(caption).c_str()), list) << language;
    DestroyWindow(list);
  }
  EXPECT_NE(win::LoadStringExact(instance, IDS_TITLE, win::kLangKorean),
            win::LoadStringExact(instance, IDS_TITLE, win::kLangEnglish));
}

}  // namespace
}  // namespace edms
