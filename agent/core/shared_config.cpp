#include "agent/core/shared_config.h"

namespace edms {

bool SharedConfig::SetEdmUserIdAndSave(const std::string& userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.EdmUserId = userId;
  // Saving under the lock keeps two commands from interleaving their registry writes.
  return win::SaveClientConfig(config_);
}

}  // namespace edms
