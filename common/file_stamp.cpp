#include "common/file_stamp.h"

namespace edms {

bool DocumentChanged(const std::optional<FileStamp>& before, const std::optional<FileStamp>& after) {
  return !before || !after || *before != *after;
}

}  // namespace edms
