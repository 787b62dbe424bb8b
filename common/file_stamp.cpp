#include "common/file_stamp.h"

namespace edms {

bool DocumentChanged(const std::optional<FileStamp>& before, const std::optional<FileStamp>& after) {
  return !before || !after || *before != *after;
}

bool HoldsUncheckedEdits(const std::optional<FileStamp>& recorded, const std::optional<FileStamp>& current) {
  return recorded && current && *recorded != *current;
}

CancelledCopyFate FateOfCancelledCopy(const std::optional<FileStamp>& copy, uint64_t cancelledAt, uint64_t now) {
  if (!copy) return CancelledCopyFate::kGone;
  if (copy->lastWrite > cancelledAt) return CancelledCopyFate::kSavedSince;
  return now > cancelledAt && now - cancelledAt > kCancelledCopyNoteTicks ? CancelledCopyFate::kStale
                                                                          : CancelledCopyFate::kUntouched;
}

}  // namespace edms
