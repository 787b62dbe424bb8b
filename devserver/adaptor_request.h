// Turning an adaptor request (form body or upload headers) into decoded fields.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/requests.h"

namespace devserver {

struct AdaptorRequest {
  const edms::CommandFormat* format = nullptr;
  std::map<std::string, std::string> fields;  // decoded UTF-8, by field name
  std::map<std::string, std::string> raw;     // as received (hex text)
  std::string uploadPath;                     // CHECKIN: the received body on disk
  unsigned long long uploadSize = 0;

  // Empty when absent (parsing guarantees every field of the command is present).
  const std::string& Field(const std::string& name) const;
};

struct ParseOutcome {
  bool ok = false;
  AdaptorRequest request;
  std::string code;     // refusal code when !ok
  std::string message;  // refusal text when !ok
};

// Form variant: "XRQ_COMMAND=NAME&XRQ_FIELD=%36%31..." — form-decoded, then each
// field value must be hex text (even length, hex digits only) and is decoded to UTF-8.
// Every field of the command must be present; unknown extra fields are kept raw only.
ParseOutcome ParseFormRequest(std::string_view body);

// Upload variant: the XRQ_ fields as request headers (XRQ_COMMAND in plain text, the
// others hex text). Only the upload command is accepted this way.
ParseOutcome ParseUploadRequest(const std::vector<std::pair<std::string, std::string>>& headers);

// Strict hex check: even length, digits 0-9 a-f A-F only (empty is valid).
bool IsHexText(std::string_view text);

}  // namespace devserver
