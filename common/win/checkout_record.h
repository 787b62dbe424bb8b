// The check-out record of one document: key CheckOuts\<object id> of the current user.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/file_stamp.h"

namespace edms::win {

inline constexpr char kCheckOutsKeyPath[] = "Software\\kelvora\\Zelto\\CheckOuts";

struct CheckOutRecord {
  std::string pageId;     // PageId
  std::string localPath;  // LocalPath: the working copy on this computer
  std::string version;    // Version
  std::string immutable;  // Immutable
  // CopyLastWrite and CopySize (decimal text): the working copy as the check-out left it.
  // A copy whose stamp differs holds edits not yet checked in. Absent in records written
  // before it existed.
  std::optional<FileStamp> stamp;
};

// True when `oid` names exactly one key below the records' key: not empty, no backslash, no
// NUL. Every operation below refuses (false / nullopt, touching nothing) any other id, so
// that it can never reach the CheckOuts key itself or another record. `base` is the key
// that holds the records (tests pass a scratch key).
bool IsUsableObjectId(const std::string& oid);


// Creates or overwrites the record: PageId, LocalPath, Version, Immutable in this order, then
// the stamp when there is one. False when the key cannot be opened or created, or a value
// was not written.
bool WriteCheckOutRecord(const std::string& oid, const CheckOutRecord& record,
                         const std::string& base = kCheckOutsKeyPath);

// The record's values (absent values as empty text); nullopt when there is no such key.
// Never creates the key.
std::optional<CheckOutRecord> ReadCheckOutRecord(const std::string& oid,
                                                 const std::string& base = kCheckOutsKeyPath);

// Every readable record below `base`, by object id; none when the key is missing. This is
// for finding forgotten work: the programs reach a record through its object id.
std::vector<std::pair<std::string, CheckOutRecord>> ListCheckOutRecords(const std::string& base = kCheckOutsKeyPath);

// True unless the record shows that its working copy holds no edits of this computer's own:
// the copy exists and either its stamp differs from the recorded one or none was recorded to
// tell (HoldsUncheckedEdits, which only claims what a stamp proves, answers false there).
// What guards a copy against being replaced, and what the agent counts at start.
bool MayHoldUncheckedEdits(const CheckOutRecord& record);

// Deletes the record's key with any subkeys. True when the record is gone afterwards.
bool DeleteCheckOutRecord(const std::string& oid, const std::string& base = kCheckOutsKeyPath);

}  // namespace edms::win
