// The agent's command service: what each data message of a logged-in page does.
//
// HandleRequest runs on the WebSocket server's I/O threads and never blocks them: it parses,
// checks and queues. Whatever may wait (the session-user lookup on a network share, the
// registry) runs on the service's background queue, windows and programs on threads of
// their own, and their replies go back through PushPacket.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/shared_config.h"
#include "agent/core/worker_queue.h"
#include "agent/windows/window_threads.h"
#include "common/data_message.h"

namespace edms {

// One logged-in connection as the service sees it. The object stays valid for as long as
// anyone holds it, so a reply may be pushed from any thread at any time; a reply to a
// connection that has closed is dropped.
class WebsocketClient {
 public:
  virtual ~WebsocketClient() = default;
  // The text of the connection's first data message. Fixed once the client exists.
  virtual const std::string& key() const = 0;
  // Queues `reply` for sending. Never blocks on the network, never throws.
  virtual void PushPacket(const DataMessage& reply) = 0;
};

// Caps of the download list that ADD_TO_DOWNLOAD fills (an item is a document id, a page
// id and a file name): beyond them an item is ignored.
inline constexpr std::size_t kMaxDownloadItemBytes = 2048;
inline constexpr std::size_t kMaxDownloadItems = 500;
inline constexpr std::size_t kMaxDownloadListBytes = 256 * 1024;

class EdmHelperService {
 public:
  // Looks up the EDMS session user for a server address; empty when there is none. May
  // block (it reads network shares): it only ever runs on the background queue.
  using SessionUserLookup = std::function<std::string(const std::string& serverAddress)>;

  // `config` must outlive the service. The user id starts as the record's EdmUserId.
  EdmHelperService(SharedConfig& config, SessionUserLookup findSessionUser);

  // Handles one data message of `client`: the client's key becomes the service's user id
  // (saved as EdmUserId, in the background and only when it changed), then the command is
  // dispatched on its exact name; unknown commands get no reply. Never throws, never blocks.
  void HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request);

  // The key of the last connection that sent a command.
  std::string userId() const;
  // A copy of the items collected by ADD_TO_DOWNLOAD.
  std::vector<std::string> DownloadList() const;
  // Takes the items a download window was given off the list once it has closed; items the
  // page added meanwhile stay, and after a CLEAR_DOWNLOAD nothing is taken (RemoveHandedItems).
  void RemoveDownloadItems(const std::vector<std::string>& handed);

  // The agent's current user without waiting: the session user as last looked up when there
  // is one, else the last page's key. Asks for a fresh lookup in the background, so the
  // answer follows the mapped drives within one call.
  std::string CurrentUser();

  // Waits until the background work queued so far has run (tests, shutdown).
  bool WaitIdle(std::chrono::milliseconds bound) { return background_.WaitIdle(bound); }

 private:
  void CheckUser(const std::shared_ptr<WebsocketClient>& client);
  void AddToDownload(const std::string& item);
  // Runs on the background queue.
  std::string LookUpSessionUser(const std::string& serverAddress);

  SharedConfig& config_;
  SessionUserLookup findSessionUser_;
  mutable std::mutex mutex_;  // guards the members below it
  std::string userId_;
  std::vector<std::string> downloadList_;
  std::size_t downloadBytes_ = 0;
  std::string sessionUser_;  // the last lookup's answer
  bool refreshQueued_ = false;
  bool saveQueued_ = false;  // an EdmUserId save waits on the background queue
  WorkerQueue background_;  // after what its jobs use: its thread ends before they go
  WindowThreads windows_;   // the view and download windows; closed first
};

}  // namespace edms
