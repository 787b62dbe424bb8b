#include "common/page_url.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(PageUrl, UserTravelsEncodedAndOnlyWebAddressesOpen) {
  struct Case {
    const char* base;
    const char* user;
    const char* edms;  // nullptr: not opened
  } cases[] = {
      {"http://edms.local/", "alice", "http://edms.local/?XRQ_USER=alice"},
      {"https://edms.local/main.do", "\xED\x99\x8D a&b=c", "https://edms.local/main.do?XRQ_USER=%ED%99%8D%20a%26b%3Dc"},
      {"http://edms.local/main.do?site=2", "bob", "http://edms.local/main.do?site=2&XRQ_USER=bob"},
      {"http://edms.local/main.do?", "bob", "http://edms.local/main.do?XRQ_USER=bob"},
      {"http://edms.local/main.do#top", "bob", "http://edms.local/main.do?XRQ_USER=bob#top"},
      {"HTTP://edms.local", "", "HTTP://edms.local?XRQ_USER="},
      {"", "alice", nullptr},
      {"file:///C:/Windows/system32/calc.exe", "alice", nullptr},
      {"javascript:alert(1)", "alice", nullptr},
      {"edms.local/main.do", "alice", nullptr},
      {"http://edms.local/a b", "alice", nullptr},
  };
  for (const auto& c : cases) {
    const auto url = EdmsPageUrl(c.base, c.user);
    ASSERT_EQ(url.has_value(), c.edms != nullptr) << c.base;
    if (url) EXPECT_EQ(*url, c.edms) << c.base;
  }
}

TEST(PageUrl, NoticePageCarriesUserAndLanguage) {
  EXPECT_EQ(NoticePageUrl("http://127.0.0.1:8080/notice", "a&b", 1042),
            "http://127.0.0.1:8080/notice?XRQ_USER=a%26b&XRQ_LANG=1042");
  EXPECT_EQ(NoticePageUrl("ftp://127.0.0.1/notice", "alice", 1033), std::nullopt);
}

}  // namespace
}  // namespace edms
