#include "agent/core/edm_helper_service.h"

#include <exception>

#include "agent/core/action_runner.h"
#include "agent/core/trace.h"
#include "common/ws_command.h"

namespace edms {

EdmHelperService::EdmHelperService(SharedConfig& config, SessionUserLookup findSessionUser)
    : config_(config), findSessionUser_(std::move(findSessionUser)), userId_(config.Snapshot().EdmUserId) {}

void EdmHelperService::HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request) {
  if (!client) return;
  try {
    const std::string& key = client->key();
    if (!key.empty()) {
      // One lock over both keeps the service's user and the saved value the same sender.
      std::lock_guard<std::mutex> lock(mutex_);
      userId_ = key;
      config_.SetEdmUserIdAndSave(key);
    }
    switch (ParseCommandName(request.arg1)) {
      case AgentCommand::CheckUser:
        CheckUser(client);
        break;
      case AgentCommand::AddToDownload: {
        std::lock_guard<std::mutex> lock(mutex_);
        downloadList_.push_back(request.arg2);
        break;
      }
      case AgentCommand::ClearDownload: {
        std::lock_guard<std::mutex> lock(mutex_);
        downloadList_.clear();
        break;
      }
      case AgentCommand::CheckOut: {
        const win::ClientConfig config = config_.Snapshot();
        StartCheckOutTask(client, request.arg2, userId(), config.AdaptorURL, config.WorkFolder);
        break;
      }
      case AgentCommand::View:
      case AgentCommand::DoDownload:
        // The view and download windows are not part of this agent yet.
        Trace("command " + request.arg1 + " is not available yet; ignored");
        break;
      case AgentCommand::Unknown:
        break;
    }
  } catch (const std::exception& e) {
    Trace(std::string("command failed: ") + e.what());
  } catch (...) {
    Trace("command failed");
  }
}

void EdmHelperService::CheckUser(const std::shared_ptr<WebsocketClient>& client) {
  std::string serverAddress = config_.Snapshot().ServerAddress;
  std::string sessionUser = findSessionUser_ ? findSessionUser_(serverAddress) : std::string();
  client->PushPacket(DataMessage{"CHECK_USER", CheckUserReply(client->key(), sessionUser)});
}

std::string EdmHelperService::userId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return userId_;
}

std::vector<std::string> EdmHelperService::DownloadList() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return downloadList_;
}

}  // namespace edms
