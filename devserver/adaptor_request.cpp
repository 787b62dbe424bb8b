#include "devserver/adaptor_request.h"

#include "common/encoding.h"
#include "devserver/reply_codes.h"

namespace devserver {
namespace {

ParseOutcome Refuse(const char* code, std::string message) {
  ParseOutcome out;
  out.code = code;
  out.message = std::move(message);
  return out;
}

// Decodes every field of the command from the raw map; refuses a missing one or
// one that is not hex text.
ParseOutcome DecodeFields(const edms::CommandFormat& format, std::map<std::string, std::string> raw) {
  ParseOutcome out;
  out.request.format = &format;
  for (std::string_view name : format.fields) {
    auto it = raw.find(std::string(name));
    if (it == raw.end()) {
      return Refuse(code::kBadRequest,
                    "Field " + std::string(name) + " is missing from the " + std::string(format.name) + " request.");
    }
    if (!IsHexText(it->second)) {
      return Refuse(code::kBadRequest, "Field " + std::string(name) + " is not hex-encoded text.");
    }
    out.request.fields[it->first] = edms::HexDecodeUtf8(it->second);
  }
  out.request.raw = std::move(raw);
  out.ok = true;
  return out;
}

}  // namespace

const std::string& AdaptorRequest::Field(const std::string& name) const {
  static const std::string kEmpty;
  auto it = fields.find(name);
  return it == fields.end() ? kEmpty : it->second;
}

bool IsHexText(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

ParseOutcome ParseFormRequest(std::string_view body) {
  std::map<std::string, std::string> raw = edms::ParseFormFields(body);
  auto command = raw.find("XRQ_COMMAND");
  if (command == raw.end() || command->second.empty()) {
    return Refuse(code::kBadRequest, "The request names no XRQ_COMMAND.");
  }
  const edms::CommandFormat* format = edms::FindCommand(command->second);
  if (!format) return Refuse(code::kUnknownCommand, "Unknown command " + command->second + ".");
  if (format->upload) {
    return Refuse(code::kBadRequest, command->second + " must send its fields as request headers and the file as the body.");
  }
  return DecodeFields(*format, std::move(raw));
}

ParseOutcome ParseUploadRequest(const std::vector<std::pair<std::string, std::string>>& headers) {
  std::map<std::string, std::string> raw;
  for (const auto& [sent, value] : headers) {
    std::string name = sent;  // header names are not case-sensitive
    for (char& c : name) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    if (name.rfind("XRQ_", 0) == 0) raw.emplace(name, value);
  }
  const std::string& name = raw["XRQ_COMMAND"];
  const edms::CommandFormat* format = edms::FindCommand(name);
  if (!format) return Refuse(code::kUnknownCommand, "Unknown command " + name + ".");
  if (!format->upload) {
    return Refuse(code::kBadRequest, name + " must be sent as a form body, not as request headers.");
  }
  return DecodeFields(*format, std::move(raw));
}

}  // namespace devserver
