// What the command service asks of the agent's windows. agent/ui implements it; the service
// never includes window code, and tests give it fakes. Every call returns at once: a window
// runs on a thread of its own, and a cap that is reached is told to the user by the windows.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "agent/service/view_document.h"

namespace edms {

class AgentWindows {
 public:
  virtual ~AgentWindows() = default;

  // Tells the user `text` in a box captioned "Information" on a thread of its own.
  virtual void Tell(const std::string& text) = 0;

  // VIEW: the read-only view of `arg2` (document id ^ page id ^ file name) for `context`.
  virtual void StartView(const ViewContext& context, const std::string& arg2) = 0;

  // DO_DOWNLOAD: the multi-file window over `items` for the page of `userId`. `closed` runs
  // once the window has closed (not when it could not be opened).
  virtual void StartMultiDownload(const std::string& userId, std::vector<std::string> items,
                                  std::function<void()> closed) = 0;
};

}  // namespace edms
