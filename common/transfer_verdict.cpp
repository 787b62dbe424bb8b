#include "common/transfer_verdict.h"

#include <string>

#include "common/ascii.h"
#include "common/working_copy.h"

namespace edms {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<uint64_t> ParseAnnouncedSize(std::string_view text) { return ParseDecimal(TrimBlanks(text)); }

std::optional<uint64_t> ContentLength(std::string_view rawHeaders) {
  size_t start = 0;
  while (start < rawHeaders.size()) {
    size_t end = rawHeaders.find("\r\n", start);
    if (end == std::string_view::npos) end = rawHeaders.size();
    const std::string_view line = rawHeaders.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsIgnoreCase(line.substr(0, colon), "Content-Length")) {
      return ParseAnnouncedSize(line.substr(colon + 1));
    }
    start = end + 2;
  }
  return std::nullopt;
}

TransferVerdict JudgeTransfer(const TransferFacts& facts) {
  if (facts.badSize) return TransferVerdict::kBadSize;
  if (!facts.closed) return TransferVerdict::kNotClosed;
  if (facts.written == facts.announced) return TransferVerdict::kComplete;
  // A body that ends before the length its own reply announced was cut off by the network:
  // the peer went away, which is an internet failure, not a short document.
  if (!facts.stopped && facts.contentLength && facts.bodyBytes < *facts.contentLength) {
    return TransferVerdict::kCutOff;
  }
  return TransferVerdict::kShort;
}

}  // namespace edms
