// Working copies whose check-out the agent cancelled because they looked unchanged once their
// editor had gone. An editor that saves one later puts edits into a file that no record speaks
// for: the agent notes each such cancel, and its start-up check reports a copy saved since.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace edms::win {

// One value a document below it: the value's name is the object id, its text the cancel's
// time (100 ns ticks since 1601) and the copy's path, joined by '|'.
inline constexpr char kCancelledCopiesKeyPath[] = "Software\\kelvora\\Zelto\\CancelledCopies";

struct CancelledCopy {
  std::string oid;
  std::string localPath;
  uint64_t cancelledAt = 0;
};

// Notes that the check-out of `oid`, whose copy is `localPath`, was cancelled now. False when
// it could not be written.
bool NoteCancelledCopy(const std::string& oid, const std::string& localPath,
                       const std::string& base = kCancelledCopiesKeyPath);

// Every note that can be read; none when the key is missing.
std::vector<CancelledCopy> ListCancelledCopies(const std::string& base = kCancelledCopiesKeyPath);

// Removes the note of `oid`. True when it is gone afterwards.
bool ForgetCancelledCopy(const std::string& oid, const std::string& base = kCancelledCopiesKeyPath);

}  // namespace edms::win
