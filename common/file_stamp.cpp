#include "common/file_stamp.h"

namespace edms {

bool DocumentChanged(const std::optional<FileStamp>& before, const std::optional<FileStamp>& after) {
  return !before || !after || *before != *after;
}

bool HoldsUncheckedEdits(const std::optional<FileStamp>& recorded, const std::optional<FileStamp>& current) {
  return recorded && current && *recorded != *current;
}

}  // namespace edms
