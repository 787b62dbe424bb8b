#include "common/data_message.h"

#include <nlohmann/json.hpp>

namespace edms {

std::optional<DataMessage> DecodeDataMessage(std::string_view text) {
  // Depth-limited by the message-size cap of the connection; no exceptions escape.
  nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return std::nullopt;
  auto arg1 = doc.find("arg1");
  auto arg2 = doc.find("arg2");
  if (arg1 == doc.end() || arg2 == doc.end() || !arg1->is_string() || !arg2->is_string()) return std::nullopt;
  return DataMessage{arg1->get<std::string>(), arg2->get<std::string>()};
}

std::string EncodeDataMessage(const DataMessage& message) {
  nlohmann::json doc = {{"arg1", message.arg1}, {"arg2", message.arg2}};
  return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace edms
