#include "devserver/admin.h"

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "devserver/documents_json.h"
#include "devserver/json_reply.h"
#include "devserver/md5.h"
#include "devserver/pages.h"

namespace devserver {
namespace {

using nlohmann::json;

HttpReply Json(int status, const json& value) { return JsonReply(status, value); }

HttpReply Error(int status, const std::string& message) { return Json(status, json{{"error", message}}); }

// A new temporary file holding the content described by {"text": ...} or {"size": N}.
std::string WriteContent(Store& store, const json& spec, uint64_t* size) {
  std::string path = store.NewTempPath();
  if (spec.contains("size")) {
    *size = spec.at("size").get<uint64_t>();
    if (!WritePatternFile(path, *size)) throw std::runtime_error("cannot write content");
    return path;
  }
  std::string text = spec.value("text", std::string());
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid() || ::write(fd.get(), text.data(), text.size()) != ssize_t(text.size())) {
    ::unlink(path.c_str());
    throw std::runtime_error("cannot write content");
  }
  *size = text.size();
  return path;
}

HttpReply PostFault(ServerContext& ctx, const json& in) {
  Fault f;
  f.command = in.at("command").get<std::string>();
  f.object = in.value("object", std::string());
  std::optional<FaultMode> mode = FaultModeFromName(in.value("mode", std::string("refuse")));
  if (!mode) return Error(400, "mode must be refuse, short, close, delay, big_headers or hold");
  f.mode = *mode;
  f.code = in.value("code", std::string("99"));
  f.message = in.value("message", std::string("Injected failure."));
  if (in.contains("bytes")) f.bytes = in.at("bytes").get<uint64_t>();
  f.delayMs = in.value("delay_ms", 0);
  f.times = in.value("times", 0);
  ctx.faults.Add(std::move(f));
  return Json(200, json{{"ok", true}});
}

HttpReply GetLast(ServerContext& ctx, std::string_view query) {
  auto q = ParseQuery(query);
  std::optional<ReceivedRequest> r = ctx.faults.Last(q["command"]);
  if (!r) return Error(404, "nothing received for that command");
  return Json(200, json{{"command", r->command},
                        {"fields", r->fields},
                        {"raw", r->raw},
                        {"body_size", r->bodySize},
                        {"at", r->at}});
}

HttpReply PostDocument(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  Document doc;
  doc.objectId = in.at("object").get<std::string>();
  doc.pageId = in.value("page", std::string("P1"));
  doc.fileName = in.at("name").get<std::string>();
  doc.creator = in.value("creator", std::string("alice"));
  doc.immutable = in.value("immutable", false);
  json versions = in.value("versions", json::array({json{{"version", "1.0"}, {"text", ""}}}));
  if (!versions.is_array() || versions.empty()) return Error(400, "versions must be a non-empty list");
  doc.currentVersion = in.value("current", versions.back().at("version").get<std::string>());

  std::vector<Version> made;
  std::vector<std::string> temps;
  try {
    for (const json& v : versions) {
      uint64_t size = 0;
      temps.push_back(WriteContent(store, v, &size));
      made.push_back(Version{doc.objectId, v.at("version").get<std::string>(), v.value("note", std::string()),
                             v.value("author", doc.creator), Store::NowUtc(), {}, size});
    }
  } catch (...) {
    for (const std::string& t : temps) ::unlink(t.c_str());
    throw;
  }
  std::lock_guard<std::mutex> lock(store.mutex());
  if (store.FindDocument(doc.objectId)) {
    for (const std::string& t : temps) ::unlink(t.c_str());
    return Error(409, "document exists");
  }
  Transaction tx(store);
  store.InsertDocument(doc);
  for (size_t i = 0; i < made.size(); ++i) {
    made[i].content = store.AdoptContent(temps[i]);
    store.PutVersion(made[i]);
  }
  tx.Commit();
  return Json(200, json{{"ok", true}});
}

HttpReply GetDocument(ServerContext& ctx, std::string_view query) {
  auto q = ParseQuery(query);
  Store& store = *ctx.store;
  std::lock_guard<std::mutex> lock(store.mutex());
  std::optional<Document> doc = store.FindDocument(q["object"]);
  if (!doc) return Error(404, "no such document");
  return Json(200, DocumentJson(store, *doc));
}

HttpReply PostNotice(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  Notice n{0, in.at("user").get<std::string>(), in.value("title", std::string()), in.value("body", std::string()),
           Store::NowUtc(), in.value("read", false)};
  std::lock_guard<std::mutex> lock(store.mutex());
  return Json(200, json{{"id", store.AddNotice(n)}});
}

HttpReply PostUpdate(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  UpdatePackage u;
  u.target = in.at("target").get<std::string>();
  u.version = in.at("version").get<std::string>();
  std::string temp = WriteContent(store, in, &u.size);
  u.md5 = Md5OfFile(temp);
  std::lock_guard<std::mutex> lock(store.mutex());
  std::string old;
  if (std::optional<UpdatePackage> existing = store.FindUpdate(u.target, u.version)) old = existing->content;
  u.content = store.AdoptContent(temp);
  store.PutUpdate(u);
  store.RemoveContent(old);
  return Json(200, json{{"md5", u.md5}, {"size", u.size}});
}

HttpReply PostUser(ServerContext& ctx, const json& in) {
  std::lock_guard<std::mutex> lock(ctx.store->mutex());
  ctx.store->PutUser(in.at("id").get<std::string>(), in.value("name", in.at("id").get<std::string>()));
  return Json(200, json{{"ok", true}});
}

}  // namespace

bool WritePatternFile(const std::string& path, uint64_t size) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return false;
  // 251 * 4177 bytes: a whole number of pattern periods, so every chunk starts at 0.
  std::vector<unsigned char> chunk(251 * 4177);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<unsigned char>(i % 251);
  uint64_t left = size;
  while (left > 0) {
    size_t n = left < chunk.size() ? size_t(left) : chunk.size();
    for (size_t done = 0; done < n;) {
      ssize_t w = ::write(fd.get(), chunk.data() + done, n - done);
      if (w <= 0) {
        ::unlink(path.c_str());
        return false;
      }
      done += size_t(w);
    }
    left -= n;
  }
  return true;
}

HttpReply HandleAdmin(ServerContext& ctx, std::string_view method, std::string_view path, std::string_view query,
                      const std::string& body) {
  try {
    json in = body.empty() ? json::object() : json::parse(body);
    if (path == "/_admin/faults" && method == "POST") return PostFault(ctx, in);
    if (path == "/_admin/faults" && method == "DELETE") {
      ctx.faults.Clear();
      return Json(200, json{{"ok", true}});
    }
    if (path == "/_admin/release" && method == "POST") {
      ctx.faults.Release();
      return Json(200, json{{"ok", true}});
    }
    if (path == "/_admin/faults" && method == "GET") return Json(200, json{{"count", ctx.faults.List().size()}});
    if (path == "/_admin/last" && method == "GET") return GetLast(ctx, query);
    if (path == "/_admin/documents" && method == "POST") return PostDocument(ctx, in);
    if (path == "/_admin/document" && method == "GET") return GetDocument(ctx, query);
    if (path == "/_admin/notices" && method == "POST") return PostNotice(ctx, in);
    if (path == "/_admin/updates" && method == "POST") return PostUpdate(ctx, in);
    if (path == "/_admin/users" && method == "POST") return PostUser(ctx, in);
    return Error(404, "unknown admin call");
  } catch (const std::exception& e) {
    return Error(400, e.what());
  }
}

}  // namespace devserver
