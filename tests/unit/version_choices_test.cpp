#include "common/version_choices.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

struct Row {
  const char* name;
  VersionRuleInput in;
  bool same, minor, major;
  const char* sameCaption;
  const char* minorCaption;
  const char* majorCaption;
  VersionChoice checked;
  VersionNote note;
};

using C = VersionChoice;
using N = VersionNote;

TEST(ChooseVersions, RuleTable) {
  const Row rows[] = {
      {"creator of the current version", {"1.2", "TRUE", "alice", "alice", "FALSE"},
       true, true, true, "1.2", "1.3", "2.0", C::kMinor, N::kNone},
      {"another user must raise the version", {"1.2", "TRUE", "bob", "alice", "FALSE"},
       false, true, true, "", "1.3", "2.0", C::kMinor, N::kNotCreator},
      {"user ids differing in case are different users", {"1.2", "TRUE", "Alice", "alice", ""},
       false, true, true, "", "1.3", "2.0", C::kMinor, N::kNotCreator},
      {"not current keeps the text as received", {"1.02", "FALSE", "alice", "alice", "FALSE"},
       true, false, false, "1.02", "", "", C::kSame, N::kNotCurrent},
      {"absent IS_CURRENT is not current", {"1.2", "", "alice", "alice", ""},
       true, false, false, "1.2", "", "", C::kSame, N::kNotCurrent},
      {"current in mixed case", {"1.02", "tRuE", "alice", "alice", ""},
       true, true, true, "1.2", "1.3", "2.0", C::kMinor, N::kNone},
      {"immutable in lower case wins over current", {"1.2", "TRUE", "alice", "alice", "true"},
       true, false, false, "1.2", "", "", C::kSame, N::kImmutable},
      {"immutable and not current shows only the immutable note",
       {"1.02", "FALSE", "bob", "alice", "TRUE"},
       true, false, false, "1.02", "", "", C::kSame, N::kImmutable},
      {"only the last two parts count", {"3.10.4", "TRUE", "alice", "alice", ""},
       true, true, true, "3.10.4", "3.10.5", "3.11.0", C::kMinor, N::kNone},
      {"a marker that merely starts with TRUE is not immutable",
       {"2.0", "TRUE", "alice", "alice", "TRUEISH"},
       true, true, true, "2.0", "2.1", "3.0", C::kMinor, N::kNone},
      {"no dot keeps its own text for the same version", {"5", "TRUE", "alice", "alice", ""},
       true, true, true, "5", "5.1", "6.0", C::kMinor, N::kNone},
      {"no dot for another user", {"5", "TRUE", "bob", "alice", ""},
       false, true, true, "", "5.1", "6.0", C::kMinor, N::kNotCreator},
      {"empty version", {"", "TRUE", "alice", "alice", ""},
       true, true, true, "0.0", "0.1", "1.0", C::kMinor, N::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VersionChoiceSet set = ChooseVersions(row.in);
    EXPECT_EQ(set.offerSame, row.same);
    EXPECT_EQ(set.offerMinor, row.minor);
    EXPECT_EQ(set.offerMajor, row.major);
    if (row.same) EXPECT_EQ(set.sameCaption, row.sameCaption);
    if (row.minor) EXPECT_EQ(set.minorCaption, row.minorCaption);
    if (row.major) EXPECT_EQ(set.majorCaption, row.majorCaption);
    EXPECT_EQ(set.checked, row.checked);
    EXPECT_EQ(set.note, row.note);
  }
}

// The preselected choice is always one that is offered.
TEST(ChooseVersions, CheckedChoiceIsOffered) {
  for (const char* current : {"TRUE", "FALSE"}) {
    for (const char* user : {"alice", "bob"}) {
      for (const char* immutable : {"TRUE", "FALSE"}) {
        VersionChoiceSet set = ChooseVersions({"1.2", current, user, "alice", immutable});
        bool offered = set.checked == VersionChoice::kSame    ? set.offerSame
                       : set.checked == VersionChoice::kMinor ? set.offerMinor
                                                              : set.offerMajor;
        EXPECT_TRUE(offered) << current << " " << user << " " << immutable;
      }
    }
  }
}

}  // namespace
}  // namespace edms
