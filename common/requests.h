// The eight server commands: their request fields in order and the connection
// options each sender uses. The one place that knows each command's format.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

enum class Command {
  CheckOut,
  CheckOutCancel,
  CheckIn,
  GetCheckOutList,
  Download,
  GetNewMsgCount,
  CheckUpdate,
  DownloadUpdate,
};

// Milliseconds, except the retry count.
struct ConnectionOptions {
  uint32_t connectTimeout;
  uint32_t connectRetries;
  uint32_t connectBackoff;
  uint32_t sendTimeout;
  uint32_t receiveTimeout;
};

struct CommandFormat {
  Command command;
  std::string_view name;                 // "CHECKOUT", ...
  std::vector<std::string_view> fields;  // value fields in request order ("XRQ_OBJECT", ...)
  std::string_view fixedTail;            // constant text after the fields ("&XRQ_FORCE=TRUE"), or empty
  bool upload;                           // CHECKIN: fields as request headers, file as body
  ConnectionOptions options;
};

const std::vector<CommandFormat>& AllCommands();
const CommandFormat& Format(Command command);
// nullptr for an unknown name.
const CommandFormat* FindCommand(std::string_view name);

// "XRQ_COMMAND=NAME&FIELD=value..." with every value HexEncodeUtf8'd then FormEncode'd.
// nullopt when the number of values does not match the command's fields or the
// command is the upload variant.
std::optional<std::string> FormBody(Command command, const std::vector<std::string>& values);

// The upload variant's header block: "XRQ_COMMAND: CHECKIN\r\nXRQ_OBJECT: <hex>\r\n..."
// with every value HexEncodeUtf8'd. nullopt on a wrong value count or a form-variant command.
std::optional<std::string> UploadHeaders(Command command, const std::vector<std::string>& values);

}  // namespace edms
