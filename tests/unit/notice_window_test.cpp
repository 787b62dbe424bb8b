#include "common/notice_window.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(NoticeWindowBox, DeclaredSizeDefaultAndWorkAreaCut) {
  const WindowBox area{0, 0, 1280, 994};
  constexpr int kFrameW = 8, kFrameH = 31;
  struct Case {
    int width, height;
    WindowBox expected;
  } cases[] = {
      {600, 400, {(1280 - 608) / 2, (994 - 431) / 2, 608, 431}},
      {0, 0, {(1280 - 508) / 2, (994 - 281) / 2, 508, 281}},
      {24, 400, {(1280 - 508) / 2, (994 - 281) / 2, 508, 281}},
      {600, 24, {(1280 - 508) / 2, (994 - 281) / 2, 508, 281}},
      {25, 25, {(1280 - 33) / 2, (994 - 56) / 2, 33, 56}},
      {5000, 400, {0, (994 - 431) / 2, 1280, 431}},
      {2147483647, 2147483647, {0, 0, 1280, 994}},
  };
  for (const auto& c : cases) {
    const WindowBox box = NoticeWindowBox(c.width, c.height, kFrameW, kFrameH, area);
    EXPECT_EQ(box.left, c.expected.left) << c.width << "x" << c.height;
    EXPECT_EQ(box.top, c.expected.top) << c.width << "x" << c.height;
    EXPECT_EQ(box.width, c.expected.width) << c.width << "x" << c.height;
    EXPECT_EQ(box.height, c.expected.height) << c.width << "x" << c.height;
  }
  // A work area that does not start at the origin (taskbar on the left or top).
  const WindowBox shifted = NoticeWindowBox(600, 400, 0, 0, WindowBox{100, 50, 1000, 800});
  EXPECT_EQ(shifted.left, 300);
  EXPECT_EQ(shifted.top, 250);
}

TEST(IsCloseNavigation, MarkerAfterTheFirstCharacterInAnyCase) {
  struct Case {
    const char* url;
    bool closes;
  } cases[] = {
      {"http://127.0.0.1/notice/close?ZELTO_ACTION=close", true},
      {"http://127.0.0.1/notice/close?zelto_action=close", true},
      {"about:blank#Zelto_Action", true},
      {"xZELTO_ACTION", true},
      {"ZELTO_ACTION://close", false},
      {"zelto_action", false},
      {"http://127.0.0.1/notice?XRQ_USER=alice", false},
      {"http://127.0.0.1/ZELTO_ACTIO", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsCloseNavigation(c.url), c.closes) << c.url;
}

TEST(JudgeNoticeNavigation, OnlyTheNoticePagesOwnOriginLoads) {
  const char* notice = "https://edms.example/notice?XRQ_USER=kim";
  struct Case {
    const char* url;
    NoticeNavigation expected;
  } cases[] = {
      {"https://edms.example/notice/2", NoticeNavigation::kLoad},
      {"HTTPS://EDMS.example:443/other", NoticeNavigation::kLoad},
      {"about:blank", NoticeNavigation::kLoad},
      {"https://edms.example/close?ZELTO_ACTION=CLOSE", NoticeNavigation::kClose},
      {"https://elsewhere.example/?zelto_action", NoticeNavigation::kClose},
      {"http://edms.example/notice", NoticeNavigation::kRefuse},  // another scheme: another origin
      {"https://edms.example:8443/", NoticeNavigation::kRefuse},
      {"https://evil.example/", NoticeNavigation::kRefuse},
      {"file:///C:/Windows/win.ini", NoticeNavigation::kRefuse},
      {"\\\\host\\share\\page.html", NoticeNavigation::kRefuse},
      {"file://host/share/page.html", NoticeNavigation::kRefuse},
      {"javascript:alert(1)", NoticeNavigation::kRefuse},
      {"ms-settings:", NoticeNavigation::kRefuse},
      {"", NoticeNavigation::kRefuse},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeNoticeNavigation(c.url, notice), c.expected) << c.url;
  EXPECT_EQ(JudgeNoticeNavigation("https://edms.example/", "not a url"), NoticeNavigation::kRefuse);
}

}  // namespace
}  // namespace edms
