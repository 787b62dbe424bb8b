// The agent's windows as the command service sees them, recorded instead of shown.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "agent/service/agent_windows.h"

namespace edms::test {

class FakeWindows : public AgentWindows {
 public:
  void Tell(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    told_.push_back(text);
  }
  void StartView(const ViewContext& context, const std::string& arg2) override {
    std::lock_guard<std::mutex> lock(mutex_);
    views_.push_back(context.userId + "|" + arg2);
  }
  void StartMultiDownload(const std::string& userId, std::vector<std::string> items,
                          std::function<void()> closed) override {
    std::lock_guard<std::mutex> lock(mutex_);
    downloads_.push_back(userId + "|" + std::to_string(items.size()));
    closed_.push_back(std::move(closed));
  }

  std::vector<std::string> told() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return told_;
  }
  std::vector<std::string> views() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return views_;
  }
  std::vector<std::string> downloads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return downloads_;
  }
  // Closes the download windows opened so far, in order.
  void CloseDownloads() {
    std::vector<std::function<void()>> closing;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing.swap(closed_);
    }
    for (auto& closed : closing) closed();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> told_, views_, downloads_;
  std::vector<std::function<void()>> closed_;
};

}  // namespace edms::test
