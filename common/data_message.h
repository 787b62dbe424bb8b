// The framing of one data message on the agent's WebSocket: a JSON object with the two
// string members "arg1" and "arg2".
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace edms {

struct DataMessage {
  std::string arg1;  // the command name (or the login key)
  std::string arg2;  // the command's parameter text / the reply word
};

// The message in `text`, or nullopt when it is not a JSON object whose "arg1" and "arg2"
// are both strings. Other members are ignored. Never throws.
std::optional<DataMessage> DecodeDataMessage(std::string_view text);

// {"arg1": ..., "arg2": ...}; text that is not valid UTF-8 has its bad bytes replaced.
std::string EncodeDataMessage(const DataMessage& message);

}  // namespace edms
