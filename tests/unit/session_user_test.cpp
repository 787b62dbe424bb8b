#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/session_user.h"

namespace edms {
namespace {

// Drives handed out in fixed batches; meta streams looked up by path.
class FakeDrives : public NetworkDriveSource {
 public:
  bool openOk = true;
  std::vector<std::vector<ConnectedResource>> batches;
  std::map<std::string, std::string> streams;
  std::vector<std::string> reads;

  bool Open() override { return openOk; }
  bool NextBatch(std::vector<ConnectedResource>& batch) override {
    if (next_ >= batches.size()) return false;
    batch = batches[next_++];
    return true;
  }
  std::optional<std::string> ReadMetaText(const std::string& localName) override {
    reads.push_back(localName);
    auto it = streams.find(localName);
    if (it == streams.end()) return std::nullopt;
    return it->second;
  }

 private:
  size_t next_ = 0;
};

struct Case {
  const char* name;
  std::string server;
  std::vector<std::vector<ConnectedResource>> batches;
  std::map<std::string, std::string> streams;
  std::string expected;
};

TEST(FindSessionUser, Rules) {
  const Case cases[] = {
      {"second drive of the server has the meta stream",
       "edms01",
       {{{"Y:", "\\\\edms01\\docs"}, {"Z:", "\\\\edms01\\home"}}},
       {{"Z:", "SESSION_USER=alice&LANG=ko"}},
       "alice"},
      {"empty SESSION_USER is followed by a good one",
       "edms01",
       {{{"Y:", "\\\\edms01\\a"}, {"Z:", "\\\\edms01\\b"}}},
       {{"Y:", "SESSION_USER=&X=1"}, {"Z:", "X=1&SESSION_USER=bob"}},
       "bob"},
      {"server address in upper case, share in lower case",
       "EDMS01.CORP",
       {{{"Z:", "\\\\edms01.corp\\share"}}},
       {{"Z:", "SESSION_USER=carol"}},
       "carol"},
      {"share without drive letter is skipped",
       "edms01",
       {{{"", "\\\\edms01\\share"}, {"X:", "\\\\other\\share"}}},
       {{"", "SESSION_USER=mallory"}, {"X:", "SESSION_USER=mallory"}},
       ""},
      {"first non-empty value of a batch wins",
       "edms01",
       {{{"Y:", "\\\\edms01\\a"}, {"Z:", "\\\\edms01\\b"}}},
       {{"Y:", "SESSION_USER=first"}, {"Z:", "SESSION_USER=second"}},
       "first"},
      {"a matching drive without a value resets the result",
       "edms01",
       {{{"Y:", "\\\\edms01\\a"}}, {{"Z:", "\\\\edms01\\b"}}},
       {{"Y:", "SESSION_USER=early"}, {"Z:", "NOTHING=1"}},
       ""},
      {"a later batch replaces the result",
       "edms01",
       {{{"Y:", "\\\\edms01\\a"}}, {{"Z:", "\\\\edms01\\b"}}},
       {{"Y:", "SESSION_USER=early"}, {"Z:", "SESSION_USER=late"}},
       "late"},
      {"Korean user id survives",
       "edms01",
       {{{"Z:", "\\\\edms01\\b"}}},
       {{"Z:", "SESSION_USER=\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98"}},
       "\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98"},
      {"empty server address finds nothing",
       "",
       {{{"Z:", "\\\\edms01\\b"}}},
       {{"Z:", "SESSION_USER=alice"}},
       ""},
  };
  for (const Case& c : cases) {
    FakeDrives drives;
    drives.batches = c.batches;
    drives.streams = c.streams;
    EXPECT_EQ(FindSessionUser(c.server, drives), c.expected) << c.name;
  }
}

TEST(FindSessionUser, NoListingMeansNoUser) {
  FakeDrives drives;
  drives.openOk = false;
  drives.batches = {{{"Z:", "\\\\edms01\\b"}}};
  drives.streams = {{"Z:", "SESSION_USER=alice"}};
  EXPECT_EQ(FindSessionUser("edms01", drives), "");
  EXPECT_TRUE(drives.reads.empty());
}

TEST(FindSessionUser, OnlyMatchingDrivesAreRead) {
  FakeDrives drives;
  drives.batches = {{{"X:", "\\\\fileserver\\x"}, {"Z:", "\\\\edms01\\b"}}};
  FindSessionUser("edms01", drives);
  EXPECT_EQ(drives.reads, std::vector<std::string>{"Z:"});
}

}  // namespace
}  // namespace edms
