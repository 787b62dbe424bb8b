#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/data_message.h"
#include "fuzz_utf8.h"

// Input: one WebSocket text message as a page could send it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto message = edms::DecodeDataMessage(text);
  if (!message) return 0;
  // Whatever was accepted can be sent back as a reply, and reads back the same once any
  // bytes that are not UTF-8 have been replaced.
  const std::string encoded = edms::EncodeDataMessage(*message);
  if (!FuzzIsWellFormedUtf8(encoded)) abort();
  const auto back = edms::DecodeDataMessage(encoded);
  if (!back) abort();
  if (FuzzIsWellFormedUtf8(message->arg1) && back->arg1 != message->arg1) abort();
  if (FuzzIsWellFormedUtf8(message->arg2) && back->arg2 != message->arg2) abort();
  return 0;
}
