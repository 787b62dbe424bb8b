// The agent's command service: what each data message of a logged-in page does.
//
// HandleRequest runs on the WebSocket server's I/O threads and never blocks them: it parses,
// checks and queues. Whatever may wait (the session-user lookup on a network share, the
// registry) runs on the service's background queue, windows and programs on threads of
// their own, and their replies go back through PushPacket.
#pragma once
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/service/action_runner.h"
#include "agent/service/agent_windows.h"
#include "agent/service/shared_config.h"
#include "agent/service/websocket_client.h"
#include "agent/service/worker_queue.h"
#include "common/data_message.h"
#include "common/download_item.h"

namespace edms {

// CHECK_USER lookups one connection may have waiting at once; beyond them it is answered at
// once with the last lookup's answer, so one page cannot fill the background queue.
inline constexpr int kMaxLookupsPerConnection = 4;

class EdmHelperService {
 public:
  // Looks up the EDMS session user for a server address; empty when there is none. May
  // block (it reads network shares): it only ever runs on the background queue.
  using SessionUserLookup = std::function<std::string(const std::string& serverAddress)>;

  // `config` and `windows` must outlive the service. The user id starts as the record's
  // EdmUserId. `cycles` are the check-out cycles the service starts (and counts).
  EdmHelperService(SharedConfig& config, AgentWindows& windows, SessionUserLookup findSessionUser,
                   RunningCycles& cycles = AgentCycles());

  // Handles one data message of `client`: the client's key becomes the service's user id
  // (saved as EdmUserId, in the background and only when it changed; a key that could not
  // travel in the programs' argument strings is never stored), then the command is dispatched
  // on its exact name; unknown commands get no reply. Never throws, never blocks.
  void HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request);

  // The key of the last connection that sent a command.
  std::string userId() const;
  // A copy of the items collected by ADD_TO_DOWNLOAD.
  std::vector<std::string> DownloadList() const;

  // The agent's current user without waiting: the session user as last looked up when there
  // is one, else the last page's key. Asks for a fresh lookup in the background, so the
  // answer follows the mapped drives within one call.
  std::string CurrentUser();

  // The agent's current user after a fresh lookup (none is needed without a server address):
  // `done` runs with it on the background thread, or at once on the caller's. False, and
  // `done` never runs, when the lookup could not be queued.
  bool FreshCurrentUser(std::function<void(const std::string& user)> done);

  // Waits until the background work queued so far has run (tests, shutdown).
  bool WaitIdle(std::chrono::milliseconds bound) { return background_.WaitIdle(bound); }

  // Replaces the check-out cycle's real actions (tests).
  void SetDocumentActions(DocumentActions actions);

 private:
  void CheckUser(const std::shared_ptr<WebsocketClient>& client);
  void AddToDownload(std::string item);
  void DoDownload(const std::string& userId);
  void RemoveDownloadItems(const std::vector<std::string>& handed);
  // Runs on the background queue.
  std::string LookUpSessionUser(const std::string& serverAddress);
  std::string CurrentUserLocked() const;

  SharedConfig& config_;
  AgentWindows& windows_;
  SessionUserLookup findSessionUser_;
  RunningCycles& cycles_;
  mutable std::mutex mutex_;  // guards the members below it
  std::string userId_;
  edms::DownloadList downloadList_;
  bool fullTold_ = false;  // the user was told the download list is full; reset when it has room
  std::string sessionUser_;  // the last lookup's answer
  std::map<const WebsocketClient*, int> waitingLookups_;  // CHECK_USER lookups queued, by connection
  bool refreshQueued_ = false;
  bool saveQueued_ = false;  // an EdmUserId save waits on the background queue
  std::shared_ptr<const DocumentActions> actions_;
  WorkerQueue background_;  // last: its thread ends before what its jobs use goes
};

}  // namespace edms
