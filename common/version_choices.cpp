#include "common/version_choices.h"

#include <cctype>

#include "common/version.h"

namespace edms {
namespace {

bool IsTrue(const std::string& text) {
  static const char kTrue[] = "TRUE";
  if (text.size() != sizeof kTrue - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != kTrue[i]) return false;
  }
  return true;
}

}  // namespace

VersionChoiceSet ChooseVersions(const VersionRuleInput& in) {
  VersionChoiceSet set;
  if (IsTrue(in.immutable) || !IsTrue(in.isCurrent)) {
    set.offerSame = true;
    set.sameCaption = in.versionNo;
    set.checked = VersionChoice::kSame;
    set.note = IsTrue(in.immutable) ? VersionNote::kImmutable : VersionNote::kNotCurrent;
    return set;
  }

  VersionChoices next = NextVersions(in.versionNo);
  bool dotted = in.versionNo.find('.') != std::string::npos;
  set.sameCaption = dotted || in.versionNo.empty() ? next.same : in.versionNo;
  set.minorCaption = next.minor;
  set.majorCaption = next.major;
  set.offerMinor = true;
  set.offerMajor = true;
  set.checked = VersionChoice::kMinor;
  if (in.userId == in.creatorId) {
    set.offerSame = true;
  } else {
    set.note = VersionNote::kNotCreator;
  }
  return set;
}

}  // namespace edms
