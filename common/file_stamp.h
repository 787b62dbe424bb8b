// What a working copy looked like at one moment. A copy whose stamp moved holds edits that
// only this computer has.
#pragma once
#include <cstdint>
#include <optional>

namespace edms {

struct FileStamp {
  uint64_t lastWrite = 0;  // last-write time in 100 ns ticks since 1601
  uint64_t size = 0;
  bool operator==(const FileStamp& o) const { return lastWrite == o.lastWrite && size == o.size; }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The copy counts as unchanged only when both stamps were read and time and size are equal.
bool DocumentChanged(const std::optional<FileStamp>& before, const std::optional<FileStamp>& after);

// What a list of check-outs can tell: the copy exists and differs from the stamp recorded at
// check-out. A record without a stamp (written before stamps existed) or a missing copy tells
// nothing, and nothing is claimed.
bool HoldsUncheckedEdits(const std::optional<FileStamp>& recorded, const std::optional<FileStamp>& current);

// What became of a working copy whose check-out was cancelled at `cancelledAt` (ticks as
// lastWrite), looked at `now`: saved since (edits that no check-out holds: tell the user), gone,
// or still as it was; a note older than kCancelledCopyNoteTicks that found nothing is dropped.
enum class CancelledCopyFate { kSavedSince, kGone, kUntouched, kStale };
inline constexpr uint64_t kCancelledCopyNoteTicks = 30ull * 24 * 3600 * 10000000;
CancelledCopyFate FateOfCancelledCopy(const std::optional<FileStamp>& copy, uint64_t cancelledAt, uint64_t now);

}  // namespace edms
