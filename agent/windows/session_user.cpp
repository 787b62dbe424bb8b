#include "agent/windows/meta_reader.h"

#include "common/arguments.h"
#include "common/win/side_streams.h"

namespace edms {
namespace {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::string FindSessionUser(std::string_view serverAddress, NetworkDriveSource& source) {
  if (serverAddress.empty() || !source.Open()) return {};
  const std::string server = AsciiLower(serverAddress);
  std::string result;
  std::vector<ConnectedResource> batch;
  while (source.NextBatch(batch)) {
    for (const ConnectedResource& resource : batch) {
      if (resource.localName.empty()) continue;
      if (AsciiLower(resource.remoteName).find(server) == std::string::npos) continue;
      std::optional<std::string> meta = source.ReadStreamText(resource.localName + win::kMetaStream);
      if (!meta) continue;
      result = FindArgument(*meta, "SESSION_USER").value_or(std::string());
      if (!result.empty()) break;
    }
    batch.clear();
  }
  return result;
}

}  // namespace edms
