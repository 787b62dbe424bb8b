#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "agent/resource.h"
#include "agent/ui/system_tray.h"

namespace edms {
namespace {

TEST(SystemTray, TipIsCutTo127Characters) {
  CSystemTray tray;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  ASSERT_TRUE(tray.CreateIcon(instance, nullptr, LoadIconW(nullptr, IDI_APPLICATION), 145));
  EXPECT_EQ(tray.tipText(), "Pellarin");
  EXPECT_TRUE(tray.SetTipText(std::string(200, 'a')));
  EXPECT_EQ(tray.tipText(), std::string(127, 'a'));
  // 127 characters, not bytes: Korean text is cut by characters.
  std::string korean;
  for (int i = 0; i < 130; ++i) korean += "\xEA\xB9\x80";
  EXPECT_TRUE(tray.SetTipText(korean));
  EXPECT_EQ(tray.tipText(), korean.substr(0, 127 * 3));
}

TEST(SystemTray, NotificationsForAnotherIconAreIgnored) {
  CSystemTray tray;
  ASSERT_TRUE(tray.CreateIcon(GetModuleHandleW(nullptr), nullptr, LoadIconW(nullptr, IDI_APPLICATION), 143));
  tray.SetTargetWindow(tray.trayWindow());
  EXPECT_FALSE(tray.OnIconNotify(144, WM_RBUTTONUP));
  EXPECT_TRUE(tray.OnIconNotify(143, WM_MOUSEMOVE));
}

TEST(SystemTray, ARestartedShellGetsTheIconBackWithItsImage) {
  CSystemTray tray;
  ASSERT_TRUE(tray.CreateIcon(GetModuleHandleW(nullptr), nullptr, LoadIconW(nullptr, IDI_APPLICATION), 145));
  ASSERT_TRUE(tray.SetIconResource(IDR_MAINFRAME));
  const HICON shown = tray.icon();
  ASSERT_NE(shown, nullptr);
  SendMessageW(tray.trayWindow(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(tray.icon(), shown);
  // The icon the shell is given still exists.
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(shown, &info));
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
}

TEST(TrayHelpers, RestoredWindowGetsItsTaskbarButtonBack) {
  HWND window = CreateWindowExW(0, L"Static", L"restore me", WS_OVERLAPPEDWINDOW, 0, 0, 100, 50, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_TRUE(window);
  HideToTray(window, false);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_NE(GetWindow(window, GW_OWNER), nullptr) << "hidden behind an owner: no taskbar button";
  RestoreFromTray(window);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  DestroyWindow(window);
}

}  // namespace
}  // namespace edms
