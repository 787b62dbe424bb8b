// The page's VIEW: a read-only copy of the document's current version in the View folder under
// the work folder, fetched with the single-file window and opened with the shell. Runs on a
// window thread of its own; the page gets no reply, the user sees the outcome.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "agent/service/transfer.h"

namespace edms {

// The agent's values a view uses, taken when the command arrived.
struct ViewContext {
  std::string adaptorUrl;
  std::string workFolder;
  std::string userId;  // the user of the page that asked
  std::string appType;
  std::string openableTypes;  // OpenableTypes: what a view may open by itself
  uint64_t maxDownloadBytes = 0;  // MaxDownloadBytes
};

// What a view does to the system; the defaults are the real operations. Tests replace them.
struct ViewActions {
  // Runs the single-file window captioned `title` over `request`; the transfer's result.
  std::function<TransferResult(const TransferRequest& request, const std::string& title)> download;
  // Opens the copy with the shell and brings its editor to the front; 0 or the system error.
  std::function<DWORD(const std::string& path)> open;
  // Tells the user (a message box captioned "Information").
  std::function<void(const std::string& text)> tell;
};

// VIEW with its parameter (document id ^ page id ^ file name). Refused with a message, and
// nothing fetched, when a field is missing, the name fails the agent's name rule, its type is
// not one the configuration lets a view open (IsOpenableType), or no work folder is
// configured (the View folder would land on the current drive). Otherwise the View
// folder is created if needed (refused when it is a link to another place) and emptied of the
// copies earlier views made (it keeps their list; nothing else is deleted), the copy fetched,
// marked as from the internet, made read-only and opened; a failed fetch tells the transfer's
// reason. Never throws.
void ViewDocument(const std::string& arg2, const ViewContext& context, const ViewActions& actions);

}  // namespace edms
