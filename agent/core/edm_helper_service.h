// The agent's command service: what each data message of a logged-in page does.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/data_message.h"
#include "agent/core/shared_config.h"

namespace edms {

// One logged-in connection as the service sees it. The server keeps the object alive for
// as long as anyone holds it, so a reply may be pushed from any thread at any time; a reply
// to a connection that has closed is dropped.
class WebsocketClient {
 public:
  virtual ~WebsocketClient() = default;
  // The text of the connection's first data message. Fixed once the client exists.
  virtual const std::string& key() const = 0;
  // Queues `reply` for sending. Never blocks on the network, never throws.
  virtual void PushPacket(const DataMessage& reply) = 0;
};

class EdmHelperService {
 public:
  // Looks up the EDMS session user for a server address; empty when there is none.
  using SessionUserLookup = std::function<std::string(const std::string& serverAddress)>;

  // `config` must outlive the service. The user id starts as the record's EdmUserId.
  EdmHelperService(SharedConfig& config, SessionUserLookup findSessionUser);

  // Handles one data message of `client`. Saves the client's key as EdmUserId first
  // (whatever the command), then dispatches on the exact command name; unknown commands
  // get no reply. Never throws.
  void HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request);

  // The key of the last connection that sent a command.
  std::string userId() const;
  // A copy of the items collected by ADD_TO_DOWNLOAD.
  std::vector<std::string> DownloadList() const;

 private:
  void CheckUser(const std::shared_ptr<WebsocketClient>& client);

  SharedConfig& config_;
  SessionUserLookup findSessionUser_;
  mutable std::mutex mutex_;  // guards userId_ and downloadList_
  std::string userId_;
  std::vector<std::string> downloadList_;
};

}  // namespace edms
