#include "common/url.h"

#include <gtest/gtest.h>

#include <string>

namespace edms {
namespace {

TEST(SplitAdaptorUrl, Accepts) {
  struct Case {
    std::string url;
    std::string scheme, host;
    uint16_t port;
    std::string path, user, password;
  } cases[] = {
      {"http://edms.example/adaptor.jsp", "http", "edms.example", 80, "/adaptor.jsp", "", ""},
      {"HTTPS://edms.example/a", "https", "edms.example", 443, "/a", "", ""},
      {"hTTp://edms.example", "http", "edms.example", 80, "/", "", ""},
      {"http://127.0.0.1:8080/x/y?cmd=1&z=2", "http", "127.0.0.1", 8080, "/x/y?cmd=1&z=2", "", ""},
      {"http://host?q=1", "http", "host", 80, "/?q=1", "", ""},
      {"http://host/p#frag", "http", "host", 80, "/p", "", ""},
      {"https://h:1/", "https", "h", 1, "/", "", ""},
      {"http://h:65535", "http", "h", 65535, "/", "", ""},
      {"http://kim:s3cret@h/p", "http", "h", 80, "/p", "kim", "s3cret"},
      {"http://kim@h/p", "http", "h", 80, "/p", "kim", ""},
      {"http://kim:p@ss@h:81/", "http", "h", 81, "/", "kim", "p@ss"},
      {"http://[::1]:23000/adaptor", "http", "::1", 23000, "/adaptor", "", ""},
      {"https://[fe80::1]", "https", "fe80::1", 443, "/", "", ""},
      {"http://u:p@[::1]/", "http", "::1", 80, "/", "u", "p"},
  };
  for (const auto& c : cases) {
    const auto split = SplitAdaptorUrl(c.url);
    ASSERT_TRUE(split) << c.url;
    EXPECT_EQ(split->scheme, c.scheme) << c.url;
    EXPECT_EQ(split->host, c.host) << c.url;
    EXPECT_EQ(split->port, c.port) << c.url;
    EXPECT_EQ(split->objectPath, c.path) << c.url;
    EXPECT_EQ(split->user, c.user) << c.url;
    EXPECT_EQ(split->password, c.password) << c.url;
    EXPECT_EQ(split->secure(), c.scheme == "https") << c.url;
  }
}

TEST(SplitAdaptorUrl, Refuses) {
  const char* urls[] = {
      "",
      "edms.example/adaptor",
      "ftp://edms.example/",
      "file:///C:/x",
      "httpx://h/",
      "http:/h/",
      "http:///path",
      "http://:80/",
      "http://user@/",
      "http://h:0/",
      "http://h:65536/",
      "http://h:99999999999/",
      "http://h:/",
      "http://h:8o/",
      "http://h:-1/",
      "http://h /p",
      "http://h/p q",
      " http://h/",
      "http://h/\tp",
      "http://h/p\r\n",
      "http://h/\x7F",
      "http://[::1/",
      "http://[]/",
      "http://[zz]/",
      "http://[::1]x/",
      "http://a]b/",
  };
  for (const char* url : urls) EXPECT_FALSE(SplitAdaptorUrl(url)) << url;
}

}  // namespace
}  // namespace edms
