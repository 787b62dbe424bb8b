#include "agent/service/shared_config.h"

namespace edms {

win::ClientConfig SharedConfig::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_;
}

std::string SharedConfig::ServerAddress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.ServerAddress;
}

bool SharedConfig::SetEdmUserId(const std::string& userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.EdmUserId == userId) return false;
  config_.EdmUserId = userId;
  return true;
}

void SharedConfig::Update(const std::function<void(win::ClientConfig&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(config_);
}

bool SharedConfig::SaveChanges() {
  std::lock_guard<std::mutex> saving(saveMutex_);
  win::ClientConfig before, after;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = saved_;
    after = config_;
  }
  if (!win::SaveChangedConfigValues(before, after)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  saved_ = after;
  return true;
}

}  // namespace edms
