#include "common/reply.h"

#include "common/encoding.h"

namespace edms {

std::string ReplyField(std::string_view rawHeaders, std::string_view name) {
  if (rawHeaders.empty() || name.empty()) return {};
  const size_t at = rawHeaders.find(name);
  if (at == std::string_view::npos) return {};
  const size_t colon = rawHeaders.find(':', at);
  if (colon == std::string_view::npos) return {};
  // The value is taken two characters past the colon whether or not a blank is there:
  // the server writes "NAME: value", and "NAME:00" must read as "0", not "00".
  const size_t start = colon + 2;
  size_t end = rawHeaders.find("\r\n", colon + 1);
  if (end == std::string_view::npos) end = rawHeaders.size();
  if (start >= end) return {};
  return std::string(rawHeaders.substr(start, end - start));
}

ServerReply ParseServerReply(std::string_view rawHeaders) {
  ServerReply reply;
  reply.rtnCode = ReplyField(rawHeaders, "XRS_RTNCODE");
  reply.codeDesc = HexDecodeUtf8(ReplyField(rawHeaders, "XRS_CODEDESC"));
  reply.fileSize = ReplyField(rawHeaders, "XRS_FILESIZE");
  return reply;
}

}  // namespace edms
