#include "common/requests.h"

#include "common/encoding.h"

namespace edms {
namespace {

// Slow exchanges (file transfers) wait longer than the quick queries.
constexpr ConnectionOptions kTransfer{3000, 3, 3000, 3000, 3000};
constexpr ConnectionOptions kCheckOut{3000, 3, 3000, 5000, 5000};
constexpr ConnectionOptions kQuick{500, 3, 500, 500, 500};
constexpr ConnectionOptions kCheckIn{500, 3, 500, 1000, 1000};

std::vector<CommandFormat> BuildTable() {
  return {
      {Command::CheckOut, "CHECKOUT",
       {"XRQ_OBJECT", "XRQ_PAGE", "XRQ_VERSION", "XRQ_USER", "XRQ_PASS"}, "", false, kCheckOut},
      {Command::CheckOutCancel, "CHECKOUTCANCEL",
       {"XRQ_OBJECT", "XRQ_VERSION", "XRQ_USER", "XRQ_PASS"}, "", false, kQuick},
      {Command::CheckIn, "CHECKIN",
       {"XRQ_OBJECT", "XRQ_VERSION", "XRQ_NEWVERSION", "XRQ_USER", "XRQ_PASS", "XRQ_SHARENAME",
        "XRQ_VNOTE"},
       "", true, kCheckIn},
      {Command::GetCheckOutList, "GETCHECKOUTLIST", {"XRQ_USER", "XRQ_SHARENAME"}, "", false,
       kQuick},
      {Command::Download, "DOWNLOAD", {"XRQ_OBJECT", "XRQ_PAGE", "XRQ_USER", "XRQ_PASS"},
       "&XRQ_FORCE=TRUE", false, kTransfer},
      {Command::GetNewMsgCount, "GETNEWMSGCOUNT", {"XRQ_USER"}, "", false, kQuick},
      {Command::CheckUpdate, "CHECKUPDATE", {"XRQ_TARGET", "XRQ_INSTVER", "XRQ_USER"}, "", false,
       kQuick},
      {Command::DownloadUpdate, "DOWNLOADUPDATE", {"XRQ_TARGET", "XRQ_REQVER", "XRQ_USER"}, "",
       false, kTransfer},
  };
}

}  // namespace

const std::vector<CommandFormat>& AllCommands() {
  static const std::vector<CommandFormat> table = BuildTable();
  return table;
}

const CommandFormat& Format(Command command) {
  for (const CommandFormat& format : AllCommands()) {
    if (format.command == command) return format;
  }
  // Every enumerator has a row; reaching here means the table lost one.
  return AllCommands().front();
}

const CommandFormat* FindCommand(std::string_view name) {
  for (const CommandFormat& format : AllCommands()) {
    if (format.name == name) return &format;
  }
  return nullptr;
}

std::optional<std::string> FormBody(Command command, const std::vector<std::string>& values) {
  const CommandFormat& format = Format(command);
  if (format.upload || values.size() != format.fields.size()) return std::nullopt;
  std::string body = "XRQ_COMMAND=";
  body.append(format.name);
  for (size_t i = 0; i < values.size(); ++i) {
    body.push_back('&');
    body.append(format.fields[i]);
    body.push_back('=');
    body.append(FormEncode(HexEncodeUtf8(values[i])));
  }
  body.append(format.fixedTail);
  return body;
}

std::optional<std::string> UploadHeaders(Command command, const std::vector<std::string>& values) {
  const CommandFormat& format = Format(command);
  if (!format.upload || values.size() != format.fields.size()) return std::nullopt;
  std::string headers = "XRQ_COMMAND: ";
  headers.append(format.name);
  headers.append("\r\n");
  for (size_t i = 0; i < values.size(); ++i) {
    headers.append(format.fields[i]);
    headers.append(": ");
    headers.append(HexEncodeUtf8(values[i]));
    headers.append("\r\n");
  }
  return headers;
}

}  // namespace edms
