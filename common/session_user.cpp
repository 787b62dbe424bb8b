#include "common/session_user.h"

#include "common/arguments.h"
#include "common/ascii.h"

namespace edms {

std::string FindSessionUser(std::string_view serverAddress, NetworkDriveSource& source) {
  if (serverAddress.empty() || !source.Open()) return {};
  std::string result;
  std::vector<ConnectedResource> batch;
  while (source.NextBatch(batch)) {
    for (const ConnectedResource& resource : batch) {
      if (resource.localName.empty()) continue;
      if (!ContainsIgnoreCase(resource.remoteName, serverAddress)) continue;
      std::optional<std::string> meta = source.ReadMetaText(resource.localName);
      if (!meta) continue;
      result = Arg(*meta, "SESSION_USER");
      if (!result.empty()) break;
    }
    batch.clear();
  }
  return result;
}

}  // namespace edms
