#include "devserver/documents_json.h"

#include <exception>

#include "devserver/json_reply.h"

namespace devserver {

using nlohmann::json;

json DocumentJson(Store& store, const Document& doc) {
  json versions = json::array();
  for (const Version& v : store.Versions(doc.objectId)) {
    versions.push_back(json{{"version", v.version}, {"note", v.note}, {"author", v.author}, {"size", v.size}});
  }
  json out{{"object", doc.objectId}, {"page", doc.pageId}, {"name", doc.fileName}, {"creator", doc.creator},
           {"immutable", doc.immutable}, {"current", doc.currentVersion}, {"versions", versions},
           {"checkout", nullptr}};
  if (std::optional<CheckOut> c = store.FindCheckOut(doc.objectId)) {
    out["checkout"] = json{{"user", c->userId}, {"version", c->version}};
  }
  return out;
}

HttpReply DocumentListReply(Store& store) {
  try {
    std::lock_guard<std::mutex> lock(store.mutex());
    json documents = json::array();
    for (const Document& doc : store.Documents()) {
      json d = DocumentJson(store, doc);
      for (json& v : d["versions"]) v["author_name"] = store.UserName(v["author"].get<std::string>());
      if (!d["checkout"].is_null()) d["checkout"]["user_name"] = store.UserName(d["checkout"]["user"].get<std::string>());
      documents.push_back(std::move(d));
    }
    return JsonReply(200, json{{"documents", documents}});
  } catch (const std::exception& e) {
    return JsonReply(500, json{{"error", std::string("The documents cannot be read: ") + e.what()}});
  }
}

}  // namespace devserver
