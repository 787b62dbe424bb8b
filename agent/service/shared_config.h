// The agent's one configuration record, shared by the window thread, the command service and
// its background work. Every access takes the record's lock; what reaches the registry is
// only what changed, so a value an administrator edits while the agent runs stays.
#pragma once
#include <functional>
#include <mutex>
#include <string>

#include "common/win/client_config.h"

namespace edms {

class SharedConfig {
 public:
  // `initial` is the record as loaded from the key.
  explicit SharedConfig(win::ClientConfig initial) : config_(initial), saved_(std::move(initial)) {}

  // A copy of the record as it stands.
  win::ClientConfig Snapshot() const;

  // The one value a CHECK_USER needs, without copying the record.
  std::string ServerAddress() const;

  // Sets EdmUserId in memory; true when that changed it (the key is then behind: SaveChanges).
  bool SetEdmUserId(const std::string& userId);

  // Applies `change` to the record in memory, under the lock.
  void Update(const std::function<void(win::ClientConfig&)>& change);

  // Writes to the key the values that changed since the last save (none: nothing is
  // written). Blocks on the registry: never call it from an I/O thread. False when a value
  // could not be written (it is tried again by the next save).
  bool SaveChanges();

 private:
  mutable std::mutex mutex_;
  win::ClientConfig config_;
  win::ClientConfig saved_;  // what the key holds as far as the agent knows
  std::mutex saveMutex_;     // one save at a time, so an older one never lands last
};

}  // namespace edms
