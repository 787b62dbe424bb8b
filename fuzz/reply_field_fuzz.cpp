#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/reply.h"
#include "fuzz_utf8.h"

// Input: one byte giving the field name's length, the name, then the raw headers.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t nameLength = data[0] % 32;
  if (size - 1 < nameLength) return 0;
  const std::string_view name(reinterpret_cast<const char*>(data + 1), nameLength);
  const std::string_view headers(reinterpret_cast<const char*>(data + 1 + nameLength),
                                 size - 1 - nameLength);

  const std::string value = edms::ReplyField(headers, name);
  if (!value.empty()) {
    const size_t at = headers.find(name);
    if (name.empty() || at == std::string_view::npos) abort();
    // The value lies in the headers after the name and never spans a CR LF.
    if (headers.find(value, at) == std::string_view::npos) abort();
    if (value.find("\r\n") != std::string::npos) abort();
  }

  const edms::ServerReply reply = edms::ParseServerReply(headers);
  if (!FuzzIsWellFormedUtf8(reply.codeDesc)) abort();
  if (reply.Succeeded() != (reply.rtnCode == "00")) abort();
  return 0;
}
