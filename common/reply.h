// Reading the XRS_ reply fields from raw reply headers.
#pragma once
#include <string>
#include <string_view>

namespace edms {

// The value of a reply field as the system reads it: the first occurrence of `name`
// anywhere in the text (case-sensitive), then the first ':' at or after it; the value
// starts two characters after the ':' and ends before the next CR LF (or at the end of
// the text). Empty when the name does not occur, no ':' follows, or nothing is left.
std::string ReplyField(std::string_view rawHeaders, std::string_view name);

struct ServerReply {
  std::string rtnCode;   // XRS_RTNCODE as sent
  std::string codeDesc;  // XRS_CODEDESC decoded with HexDecodeUtf8
  std::string fileSize;  // XRS_FILESIZE as sent (decimal text)

  // Only exactly "00" means success; "0", "000" or an absent code is a refusal.
  bool Succeeded() const { return rtnCode == "00"; }
};

ServerReply ParseServerReply(std::string_view rawHeaders);

}  // namespace edms
