// Which versions the check-in dialog offers for one document, and which note explains why.
#pragma once
#include <string>

namespace edms {

struct VersionRuleInput {
  std::string versionNo;  // VERSION_NO as received
  std::string isCurrent;  // IS_CURRENT; "TRUE" in any case means current
  std::string userId;     // USER_ID
  std::string creatorId;  // CREATOR_ID; compared with USER_ID exactly (case counts)
  std::string immutable;  // Immutable of the check-out record; "TRUE" in any case
};

enum class VersionChoice { kSame, kMinor, kMajor };

enum class VersionNote {
  kNone,
  kNotCurrent,  // only the present version: the document is not the current version
  kNotCreator,  // the version must change: the user did not create the document
  kImmutable,   // only the present version: the document is immutable
};

struct VersionChoiceSet {
  bool offerSame = false;
  bool offerMinor = false;
  bool offerMajor = false;
  std::string sameCaption;
  std::string minorCaption;
  std::string majorCaption;
  VersionChoice checked = VersionChoice::kSame;
  VersionNote note = VersionNote::kNone;
};

// Immutable first (present version only), then not current (present version only, captioned
// exactly as received), then current: the creator may keep the version or raise it, anyone
// else must raise it; minor + 1 is preselected. A version without a "." keeps its own text
// as the same-version caption ("5": 5 / 5.1 / 6.0), so that keeping it names the version the
// server holds.
VersionChoiceSet ChooseVersions(const VersionRuleInput& in);

}  // namespace edms
