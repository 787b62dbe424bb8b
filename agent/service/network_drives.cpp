// The platform side of FindSessionUser: connected network resources and their meta streams.
#include <windows.h>
#include <winnetwk.h>

#include <algorithm>
#include <memory>

#include "agent/service/network_drives.h"
#include "common/session_user.h"
#include "common/win/side_streams.h"
#include "common/win/text.h"

namespace edms {
namespace {

class PlatformNetworkDrives : public NetworkDriveSource {
 public:
  ~PlatformNetworkDrives() override {
    if (enum_) WNetCloseEnum(enum_);
  }

  bool Open() override {
    return WNetOpenEnumW(RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, nullptr, &enum_) == NO_ERROR;
  }

  bool NextBatch(std::vector<ConnectedResource>& batch) override {
    if (!enum_) return false;
    // One zero-filled 16 KiB buffer; later batches ask for no more than the last one gave.
    std::fill(buffer_.get(), buffer_.get() + kBufferBytes, 0);
    DWORD count = requested_;
    DWORD size = kBufferBytes;
    if (WNetEnumResourceW(enum_, &count, buffer_.get(), &size) != NO_ERROR) return false;
    requested_ = count;
    const auto* entries = reinterpret_cast<const NETRESOURCEW*>(buffer_.get());
    for (DWORD i = 0; i < count; ++i) {
      ConnectedResource resource;
      if (entries[i].lpLocalName) resource.localName = win::Narrow(entries[i].lpLocalName);
      if (entries[i].lpRemoteName) resource.remoteName = win::Narrow(entries[i].lpRemoteName);
      batch.push_back(std::move(resource));
    }
    return true;
  }

  std::optional<std::string> ReadMetaText(const std::string& localName) override {
    return win::ReadMetaStream(localName + win::kMetaStream);
  }

 private:
  static constexpr DWORD kBufferBytes = 16384;
  HANDLE enum_ = nullptr;
  DWORD requested_ = 0xFFFFFFFF;  // as many as fit
  std::unique_ptr<BYTE[]> buffer_ = std::make_unique<BYTE[]>(kBufferBytes);
};

}  // namespace

std::string FindSessionUser(std::string_view serverAddress) {
  if (serverAddress.empty()) return {};
  PlatformNetworkDrives drives;
  return FindSessionUser(serverAddress, drives);
}

}  // namespace edms
