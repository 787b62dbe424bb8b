// The windows the page opens (VIEW, DO_DOWNLOAD) and the boxes that tell the user what the
// command service refused: the agent's side of AgentWindows.
#pragma once
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/service/agent_windows.h"
#include "agent/service/shared_config.h"
#include "agent/ui/window_threads.h"

namespace edms {

class CPageWindows : public AgentWindows {
 public:
  // Boxes open at once; beyond them a text is only traced (a page that repeats a refused
  // command must not cover the desktop with boxes).
  static constexpr std::size_t kMaxBoxes = 4;

  // `config` must outlive the windows. `tellOnMainThread` shows a text the way the main
  // window does (a balloon); it is how the user learns that every window slot is taken.
  CPageWindows(SharedConfig& config, std::function<void(const std::string& text)> tellOnMainThread);

  void Tell(const std::string& text) override;
  void StartView(const ViewContext& context, const std::string& arg2) override;
  void StartMultiDownload(const std::string& userId, std::vector<std::string> items,
                          std::function<void()> closed) override;

  // Closes what the window threads show (a running transfer is aborted first) and waits for
  // them; false when `bound` ran out first (the threads are left to the process's end).
  bool Close(std::chrono::milliseconds bound);

  // Window threads running now.
  std::size_t OpenWindowCount() const { return threads_.count(); }

  // Replaces the real view operations (tests).
  void SetViewActions(std::function<ViewActions(const ViewContext&)> make) { viewActions_ = std::move(make); }

 private:
  ViewActions SystemViewActions(const std::string& appType);
  void TooManyWindows(const char* command);

  SharedConfig& config_;
  std::function<void(const std::string&)> tellOnMainThread_;
  std::function<ViewActions(const ViewContext&)> viewActions_;
  struct Boxes;
  std::shared_ptr<Boxes> boxes_;  // shared with the box threads, which may outlive a close
  // A view fetching its copy: the document's second VIEW meanwhile (a double click) brings its
  // window forward instead of fetching again onto the same name.
  struct Fetching {
    DWORD thread = 0;  // 0 until the view's thread runs
    uint64_t token = 0;
  };
  std::mutex viewsMutex_;
  std::map<std::string, Fetching> views_;  // by lower-cased document id
  uint64_t nextToken_ = 0;
  WindowThreads threads_;  // last: closed before the rest goes
};

}  // namespace edms
