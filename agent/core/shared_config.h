// The agent's one configuration record, shared by the user-interface thread and the
// command service's worker threads. Every access takes the record's lock.
#pragma once
#include <mutex>
#include <string>

#include "common/win/client_config.h"

namespace edms {

class SharedConfig {
 public:
  explicit SharedConfig(win::ClientConfig initial) : config_(std::move(initial)) {}

  // A copy of the record as it stands.
  win::ClientConfig Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
  }

  // Sets EdmUserId and writes the whole record back to its key (SaveClientConfig).
  // False when the save failed; the in-memory value is set in any case.
  bool SetEdmUserIdAndSave(const std::string& userId);

 private:
  mutable std::mutex mutex_;
  win::ClientConfig config_;
};

}  // namespace edms
