// The EDMS session user, read from the meta stream of the user's mapped EDMS share.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

// One connected network resource as the platform lists it.
struct ConnectedResource {
  std::string localName;   // "Z:" for a drive mapping; empty for a connection without letter
  std::string remoteName;  // the share's UNC path
};

// What FindSessionUser needs from the platform; tests give fake drives.
class NetworkDriveSource {
 public:
  virtual ~NetworkDriveSource() = default;
  // Starts listing the connected resources; false when they cannot be listed.
  virtual bool Open() = 0;
  // The next batch of resources; false at the end of the list or on failure.
  virtual bool NextBatch(std::vector<ConnectedResource>& batch) = 0;
  // The whole text of the meta stream of the drive `localName` ("Z:"), UTF-8; nullopt when
  // it cannot be opened.
  virtual std::optional<std::string> ReadMetaText(const std::string& localName) = 0;
};

// Among the connected resources, those whose remote name contains `serverAddress`
// (ASCII case ignored) and that have a local name have their meta stream read;
// the SESSION_USER value of the meta text is the result. Within a batch the first
// non-empty value wins; a matching drive without a value resets the result to empty; a
// later batch may replace it. Empty when `serverAddress` is empty or nothing is found.
std::string FindSessionUser(std::string_view serverAddress, NetworkDriveSource& source);

}  // namespace edms
