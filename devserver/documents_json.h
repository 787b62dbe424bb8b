// Documents as JSON: the admin API's view of one document, and the list the demo page reads.
#pragma once
#include <nlohmann/json.hpp>

#include "devserver/http_reply.h"
#include "devserver/store.h"

namespace devserver {

// {"object", "page", "name", "creator", "immutable", "current", "versions": [{"version",
// "note", "author", "size"}] oldest first, "checkout": {"user", "version"} or null}.
// The caller holds store.mutex().
nlohmann::json DocumentJson(Store& store, const Document& doc);

// GET /api/documents, for the demo page: {"documents": [...]} by id, each as DocumentJson
// plus the users' display names ("author_name" of each version, "user_name" of the
// check-out). Read-only; takes the store's lock itself.
HttpReply DocumentListReply(Store& store);

}  // namespace devserver
