// Signals exchanged with whatever serves the document paths: side streams opened and
// closed at once, a shell notification, a lock file next to the document, and the meta
// stream of a mapped share. Every signal is best effort and silent on failure (a volume
// without side streams simply refuses the open).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace edms::win {

inline constexpr char kNotifyStream[] = ":Zelto.notify";
inline constexpr char kRefreshStream[] = ":Zelto.refresh";
inline constexpr char kMetaStream[] = ":Zelto.meta";

// The three signals below act only on an absolute document path (IsAbsolutePath): a bare
// name would resolve against the program's current folder and touch a stranger's file.

// Opens docPath + streamName for reading and closes it at once without reading.
void SignalStream(const std::string& docPath, std::string_view streamName);

// SHChangeNotify(SHCNE_ATTRIBUTES, SHCNF_PATHW) for the document path.
void NotifyShellAttributes(const std::string& docPath);

// Deletes docPath + ".lock". True when a lock file was deleted.
bool DeleteLockFile(const std::string& docPath);

// The whole content of `path` as UTF-8 text read in text mode: a leading UTF-8 byte-order
// mark removed, CR LF turned into LF, invalid bytes replaced by U+FFFD.
// nullopt when it cannot be opened or read, or is larger than 1 MiB.
std::optional<std::string> ReadMetaStream(const std::string& path);

}  // namespace edms::win
