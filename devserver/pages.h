// Plain web pages: files from the web folder and the notice page.
#pragma once
#include <map>
#include <string>
#include <string_view>

#include "devserver/http_reply.h"
#include "devserver/store.h"

namespace devserver {

// GET of a file under webDir; "/" serves index.html. 404 for anything missing or for a
// path that would leave the folder.
HttpReply StaticFile(const std::string& webDir, std::string_view path);

// The user's notices (newest first, unread ones marked), which are then marked read.
// The body declares the window size the notice window takes from it; the close link
// carries the marker that makes the notice window close itself.
HttpReply NoticePage(Store& store, const std::map<std::string, std::string>& query);

// Where the close link leads.
HttpReply NoticeClosedPage();

std::string HtmlEscape(std::string_view text);

}  // namespace devserver
