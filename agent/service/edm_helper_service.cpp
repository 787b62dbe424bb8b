#include "agent/service/edm_helper_service.h"

#include <windows.h>

#include <exception>
#include <utility>

#include "agent/resource.h"
#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/text_format.h"
#include "common/win/language.h"
#include "common/win/trace.h"
#include "common/ws_command.h"

namespace edms {
namespace {

std::string AgentText(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

// The login text becomes the user the tray's programs are started for: it must be a value
// their argument strings can carry.
bool IsStorableUserId(const std::string& key) {
  std::string built, error;
  return ArgumentString().Add(arg::kUserId, key).Build(built, error);
}

}  // namespace

EdmHelperService::EdmHelperService(SharedConfig& config, AgentWindows& windows, SessionUserLookup findSessionUser,
                                   RunningCycles& cycles)
    : config_(config),
      windows_(windows),
      findSessionUser_(std::move(findSessionUser)),
      cycles_(cycles),
      userId_(config.Snapshot().EdmUserId),
      actions_(std::make_shared<DocumentActions>(
          SystemDocumentActions([&windows](const std::string& text) { windows.Tell(text); }))) {}

void EdmHelperService::SetDocumentActions(DocumentActions actions) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_ = std::make_shared<const DocumentActions>(std::move(actions));
}

void EdmHelperService::HandleRequest(const std::shared_ptr<WebsocketClient>& client, const DataMessage& request) {
  if (!client) return;
  try {
    const std::string& key = client->key();
    if (!key.empty() && !IsStorableUserId(key)) {
      win::Trace("the page's login text is not stored: it cannot travel in an argument string");
    } else if (!key.empty()) {
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
        downloadList_.Clear();
        fullTold_ = false;
        break;
      }
      case AgentCommand::CheckOut: {
        // Each connection acts as itself: its own login text, never the last sender's.
        const win::ClientConfig config = config_.Snapshot();
        std::shared_ptr<const DocumentActions> actions;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          actions = actions_;
        }
        StartCheckOutTask(client, request.arg2, key, config.AdaptorURL, config.WorkFolder, *actions, cycles_,
                          config.OpenableTypes);
        break;
      }
      case AgentCommand::View:
        if (key.empty()) {
          win::Trace("VIEW refused: the page gave no login");
          windows_.Tell(AgentText(IDS_NO_LOGIN_VIEW));
        } else {
          const win::ClientConfig now = config_.Snapshot();
          windows_.StartView(ViewContext{now.AdaptorURL, now.WorkFolder, key, now.AppType, now.OpenableTypes,
                                         now.MaxDownloadBytes},
                             request.arg2);
        }
        break;
      case AgentCommand::DoDownload:
        if (key.empty()) {
          win::Trace("DO_DOWNLOAD refused: the page gave no login");
          windows_.Tell(AgentText(IDS_NO_LOGIN_DOWNLOAD));
        } else {
          DoDownload(key);
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

void EdmHelperService::AddToDownload(std::string item) {
  bool tell = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (downloadList_.Add(std::move(item))) {
      case edms::DownloadList::Added::kAdded:
        return;
      case edms::DownloadList::Added::kTooLong:
        win::Trace("ADD_TO_DOWNLOAD ignored: the item is longer than any file's");
        return;
      case edms::DownloadList::Added::kFull:
        // Once until the list has room again: a page adding thousands is told once, not each time.
        tell = !std::exchange(fullTold_, true);
        break;
    }
  }
  win::Trace("ADD_TO_DOWNLOAD ignored: the download list is full");
  if (tell) {
    windows_.Tell(FillPlaceholders(AgentText(IDS_DOWNLOAD_LIST_FULL),
                                   {std::to_string(edms::DownloadList::kMaxItems),
                                    std::to_string(edms::DownloadList::kMaxBytes / 1024)}));
  }
}

void EdmHelperService::DoDownload(const std::string& userId) {
  std::vector<std::string> items = DownloadList();
  // The service outlives every window: the agent ends its process instead of destroying it
  // while one is open.
  windows_.StartMultiDownload(userId, items, [this, items] { RemoveDownloadItems(items); });
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
  std::unique_lock<std::mutex> lock(mutex_);
  int& waiting = waitingLookups_[client.get()];
  if (waiting >= kMaxLookupsPerConnection) {
    const std::string known = sessionUser_;
    lock.unlock();
    client->PushPacket(DataMessage{"CHECK_USER", CheckUserReply(client->key(), known)});
    return;
  }
  const bool posted = background_.Post([this, client, serverAddress] {
    const std::string sessionUser = LookUpSessionUser(serverAddress);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--waitingLookups_[client.get()] <= 0) waitingLookups_.erase(client.get());
    }
    client->PushPacket(DataMessage{"CHECK_USER", CheckUserReply(client->key(), sessionUser)});
  });
  if (posted) {
    ++waiting;
  } else {
    if (waiting == 0) waitingLookups_.erase(client.get());
    win::Trace("CHECK_USER dropped: the background queue is full");
  }
}

std::string EdmHelperService::CurrentUserLocked() const {
  return !sessionUser_.empty() && !config_.ServerAddress().empty() ? sessionUser_ : userId_;
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
  return CurrentUserLocked();
}

bool EdmHelperService::FreshCurrentUser(std::function<void(const std::string& user)> done) {
  const std::string serverAddress = config_.ServerAddress();
  if (serverAddress.empty()) {
    done(userId());
    return true;
  }
  return background_.Post([this, serverAddress, done = std::move(done)] {
    LookUpSessionUser(serverAddress);
    std::string user;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      user = CurrentUserLocked();
    }
    done(user);
  });
}

std::string EdmHelperService::userId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return userId_;
}

std::vector<std::string> EdmHelperService::DownloadList() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return downloadList_.items();
}

void EdmHelperService::RemoveDownloadItems(const std::vector<std::string>& handed) {
  std::lock_guard<std::mutex> lock(mutex_);
  downloadList_.RemoveHanded(handed);
  fullTold_ = false;
}

}  // namespace edms
