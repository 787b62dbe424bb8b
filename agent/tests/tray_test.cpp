#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "agent/windows/system_tray.h"

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

}  // namespace
}  // namespace edms
