#include "agent/core/edm_helper_service.h"

#include <exception>

#include "agent/core/action_runner.h"
#include "agent/windows/download_commands.h"
#include "common/download_item.h"
#include "common/win/trace.h"
#include "common/ws_command.h"

namespace edms {

EdmHelperService::EdmHelperService(SharedConfig& config, SessionUserLookup findSessionUser)
    : config_(config), findSessionUser_(std::move(findSessionUser)), userId_(config.Snapshot().EdmUserId) {}

void EdmHelperService::HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request) {
  if (!client) return;
  try {
    const std::string& key = client->key();
    if (!key.empty()) {
      // One lock over both keeps the service's user and the record's the same sender. One
      // save waits at a time and writes the latest user when it runs: pages of several users
      // taking turns would otherwise queue a registry write per message and fill the queue.
      std::lock_guard<std::mutex> lock(mutex_);
      userId_ = key;
      if (config_.SetEdmUserId(key) && !saveQueued_) {
        saveQueued_ = background_.Post([this] {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            saveQueued_ = false;
          }
          config_.SaveChanges();
        });
        if (!saveQueued_) win::Trace("EdmUserId not saved: the background queue is full");
      }
    }
    switch (ParseCommandName(request.arg1)) {
      case AgentCommand::CheckUser:
        CheckUser(client);
        break;
      case AgentCommand::AddToDownload:
        AddToDownload(request.arg2);
        break;
      case AgentCommand::ClearDownload: {
        std::lock_guard<std::mutex> lock(mutex_);
        downloadList_.clear();
        downloadBytes_ = 0;
        break;
      }
      case AgentCommand::CheckOut: {
        // Each connection acts as itself: its own login text, never the last sender's.
        const win::ClientConfig config = config_.Snapshot();
        StartCheckOutTask(client, request.arg2, key, config.AdaptorURL, config.WorkFolder);
        break;
      }
      case AgentCommand::View:
        if (key.empty()) {
          RefuseWithoutLogin(request.arg1);
        } else {
          StartView(windows_, config_, key, request.arg2);
        }
        break;
      case AgentCommand::DoDownload:
        if (key.empty()) {
          RefuseWithoutLogin(request.arg1);
        } else {
          StartMultiDownload(windows_, *this, config_, key);
        }
        break;
      case AgentCommand::Unknown:
        break;
    }
  } catch (const std::exception& e) {
    win::Trace(std::string("command failed: ") + e.what());
  } catch (...) {
    win::Trace("command failed");
  }
}

void EdmHelperService::AddToDownload(const std::string& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (item.size() > kMaxDownloadItemBytes || downloadList_.size() >= kMaxDownloadItems ||
      downloadBytes_ + item.size() > kMaxDownloadListBytes) {
    win::Trace("ADD_TO_DOWNLOAD ignored: the download list is full or the item too long");
    return;
  }
  downloadList_.push_back(item);
  downloadBytes_ += item.size();
}

std::string EdmHelperService::LookUpSessionUser(const std::string& serverAddress) {
  std::string user = findSessionUser_ ? findSessionUser_(serverAddress) : std::string();
  std::lock_guard<std::mutex> lock(mutex_);
  sessionUser_ = user;
  return user;
}

void EdmHelperService::CheckUser(const std::shared_ptr<WebsocketClient>& client) {
  const std::string serverAddress = config_.ServerAddress();
  // Without a server address there is no drive to look at: the answer needs no waiting.
  if (serverAddress.empty()) {
    client->PushPacket(DataMessage{"CHECK_USER", CheckUserReply(client->key(), {})});
    return;
  }
  if (!background_.Post([this, client, serverAddress] {
        const std::string sessionUser = LookUpSessionUser(serverAddress);
        client->PushPacket(DataMessage{"CHECK_USER", CheckUserReply(client->key(), sessionUser)});
      })) {
    win::Trace("CHECK_USER dropped: the background queue is full");
  }
}

std::string EdmHelperService::CurrentUser() {
  const std::string serverAddress = config_.ServerAddress();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!serverAddress.empty() && !refreshQueued_) {
    refreshQueued_ = background_.Post([this, serverAddress] {
      LookUpSessionUser(serverAddress);
      std::lock_guard<std::mutex> lock(mutex_);
      refreshQueued_ = false;
    });
  }
  if (!serverAddress.empty() && !sessionUser_.empty()) return sessionUser_;
  return userId_;
}

std::string EdmHelperService::userId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return userId_;
}

std::vector<std::string> EdmHelperService::DownloadList() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return downloadList_;
}

void EdmHelperService::RemoveDownloadItems(const std::vector<std::string>& handed) {
  std::lock_guard<std::mutex> lock(mutex_);
  RemoveHandedItems(downloadList_, handed);
}

}  // namespace edms
