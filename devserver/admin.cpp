#include "common/encoding.h"
#include "devserver/admin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/requests.h"
#include "devserver/documents_json.h"
#include "devserver/json_reply.h"
#include "devserver/md5.h"
#include "devserver/pages.h"

namespace devserver {
namespace {

using nlohmann::json;

HttpReply Error(int status, const std::string& message) { return JsonReply(status, json{{"error", message}}); }

// A field that breaks its rule; answered with 400 and the reason.
struct BadField : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr uint64_t kMaxDelayMs = 10 * 60 * 1000;
constexpr uint64_t kMaxTimes = 1000000;
constexpr uint64_t kMaxPadding = 1024 * 1024;  // a big_headers header
constexpr size_t kMaxVersions = 100;
constexpr size_t kShort = 64;     // ids, versions, users, targets
constexpr size_t kName = 255;     // file names, titles
constexpr size_t kLong = 4096;    // notes, messages
constexpr size_t kBody = 65536;   // notice bodies

// A string of at most `max` bytes without control characters but those in `controls`;
// `fallback` when absent; empty only when `allowEmpty`.
std::string Text(const json& in, const char* key, size_t max, std::optional<std::string> fallback = std::nullopt,
                 bool allowEmpty = false, std::string_view controls = {}) {
  if (!in.contains(key)) {
    if (!fallback) throw BadField(std::string(key) + " is missing");
    return *fallback;
  }
  if (!in.at(key).is_string()) throw BadField(std::string(key) + " must be a string");
  std::string text = in.at(key).get<std::string>();
  if (text.empty() && !allowEmpty) throw BadField(std::string(key) + " must not be empty");
  if (text.size() > max) throw BadField(std::string(key) + " is longer than " + std::to_string(max) + " bytes");
  for (unsigned char c : text) {
    if ((c < 0x20 || c == 0x7f) && controls.find(static_cast<char>(c)) == std::string_view::npos) {
      throw BadField(std::string(key) + " holds a control character");
    }
  }
  return text;
}

// A whole number from 0 to `max`; `fallback` when absent.
uint64_t Count(const json& in, const char* key, uint64_t fallback, uint64_t max) {
  if (!in.contains(key)) return fallback;
  const json& v = in.at(key);
  if (!v.is_number_unsigned() || v.get<uint64_t>() > max) {
    throw BadField(std::string(key) + " must be a whole number from 0 to " + std::to_string(max));
  }
  return v.get<uint64_t>();
}

// A return code as the adaptor sends it: letters and digits only.
std::string ReturnCode(const json& in) {
  std::string code = Text(in, "code", 8, std::string("99"));
  for (char c : code) {
    if (!std::isalnum(static_cast<unsigned char>(c))) throw BadField("code must be letters and digits only");
  }
  return code;
}

// The bytes of standard base64 text (padding required, no blanks).
std::string Base64Bytes(const json& in, const char* key) {
  if (!in.at(key).is_string()) throw BadField(std::string(key) + " must be a string");
  const std::string& text = in.at(key).get_ref<const std::string&>();
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (text.size() % 4 != 0) throw BadField(std::string(key) + " is not base64");
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    uint32_t group = 0;
    for (size_t j = 0; j < 4; ++j) {
      const int v = j >= 4 - padding ? 0 : value(text[i + j]);
      if (v < 0) throw BadField(std::string(key) + " is not base64");
      group = group << 6 | uint32_t(v);
    }
    for (size_t j = 0; j < 3 - padding; ++j) bytes += char(group >> (16 - 8 * j) & 0xFF);
  }
  return bytes;
}

// A new temporary file holding the content described by {"text": ...}, {"base64": ...} or
// {"size": N}.
std::string WriteContent(ServerContext& ctx, const json& spec, uint64_t* size) {
  Store& store = *ctx.store;
  std::string path = store.NewTempPath();
  if (spec.contains("size")) {
    *size = Count(spec, "size", 0, ctx.maxUploadBytes);
    if (!WritePatternFile(path, *size)) throw std::runtime_error("cannot write content");
    return path;
  }
  std::string text = spec.contains("base64") ? Base64Bytes(spec, "base64")
                     : spec.contains("text") ? spec.at("text").get<std::string>()
                                             : std::string();
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
  f.command = Text(in, "command", kShort);
  if (!edms::FindCommand(f.command)) throw BadField("command " + f.command + " is not an adaptor command");
  f.object = Text(in, "object", kName, std::string());
  std::optional<FaultMode> mode = FaultModeFromName(Text(in, "mode", kShort, std::string("refuse")));
  if (!mode) return Error(400, "mode must be refuse, short, close, delay, big_headers or hold");
  f.mode = *mode;
  f.code = ReturnCode(in);
  // A message travels hex-encoded; a check-out list in one needs its tab and form feed.
  f.message = Text(in, "message", kLong, std::string("Injected failure."), true, "\t\f");
  if (in.contains("bytes")) f.bytes = Count(in, "bytes", 0, f.mode == FaultMode::BigHeaders ? kMaxPadding : ctx.maxUploadBytes);
  f.delayMs = static_cast<int>(Count(in, "delay_ms", 0, kMaxDelayMs));
  f.times = static_cast<int>(Count(in, "times", 0, kMaxTimes));
  ctx.faults.Add(std::move(f));
  return JsonReply(200, json{{"ok", true}});
}

HttpReply GetLast(ServerContext& ctx, std::string_view query) {
  auto q = edms::ParseFormFields(query);
  std::optional<ReceivedRequest> r = ctx.faults.Last(q["command"]);
  if (!r) return Error(404, "nothing received for that command");
  return JsonReply(200, json{{"command", r->command},
                             {"fields", r->fields},
                             {"raw", r->raw},
                             {"body_size", r->bodySize},
                             {"at", r->at}});
}

HttpReply PostDocument(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  Document doc;
  doc.objectId = Text(in, "object", kShort);
  doc.pageId = Text(in, "page", kShort, std::string("P1"));
  doc.fileName = Text(in, "name", kName);
  doc.creator = Text(in, "creator", kShort, std::string("alice"));
  doc.immutable = in.value("immutable", false);
  json versions = in.value("versions", json::array({json{{"version", "1.0"}, {"text", ""}}}));
  if (!versions.is_array() || versions.empty() || versions.size() > kMaxVersions) {
    return Error(400, "versions must be a list of 1 to " + std::to_string(kMaxVersions) + " versions");
  }
  for (const json& v : versions) {
    if (!v.is_object()) throw BadField("each version must be an object");
    Text(v, "version", kShort);
    Text(v, "note", kLong, std::string(), true);
    Text(v, "author", kShort, doc.creator);
    Count(v, "size", 0, ctx.maxUploadBytes);
  }
  doc.currentVersion = Text(in, "current", kShort, versions.back().at("version").get<std::string>());

  std::vector<Version> made;
  std::vector<std::string> temps;
  try {
    for (const json& v : versions) {
      uint64_t size = 0;
      temps.push_back(WriteContent(ctx, v, &size));
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
  return JsonReply(200, json{{"ok", true}});
}

HttpReply GetDocument(ServerContext& ctx, std::string_view query) {
  auto q = edms::ParseFormFields(query);
  Store& store = *ctx.store;
  std::lock_guard<std::mutex> lock(store.mutex());
  std::optional<Document> doc = store.FindDocument(q["object"]);
  if (!doc) return Error(404, "no such document");
  return JsonReply(200, DocumentJson(store, *doc));
}

HttpReply PostNotice(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  Notice n{0, Text(in, "user", kShort), Text(in, "title", kName, std::string(), true),
           Text(in, "body", kBody, std::string(), true), Store::NowUtc(), in.value("read", false)};
  std::lock_guard<std::mutex> lock(store.mutex());
  return JsonReply(200, json{{"id", store.AddNotice(n)}});
}

HttpReply PostUpdate(ServerContext& ctx, const json& in) {
  Store& store = *ctx.store;
  UpdatePackage u;
  u.target = Text(in, "target", kShort);
  u.version = Text(in, "version", kShort);
  // A test of a client's check may have another checksum answered than the content's.
  std::string md5 = Text(in, "md5", 32, std::string());
  if (!md5.empty() && (md5.size() != 32 || md5.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)) {
    throw BadField("md5 must be 32 hexadecimal digits");
  }
  std::string temp = WriteContent(ctx, in, &u.size);
  u.md5 = md5.empty() ? Md5OfFile(temp) : md5;
  std::lock_guard<std::mutex> lock(store.mutex());
  std::string old;
  if (std::optional<UpdatePackage> existing = store.FindUpdate(u.target, u.version)) old = existing->content;
  u.content = store.AdoptContent(temp);
  store.PutUpdate(u);
  store.RemoveContent(old);
  return JsonReply(200, json{{"md5", u.md5}, {"size", u.size}});
}

HttpReply PostUser(ServerContext& ctx, const json& in) {
  std::string id = Text(in, "id", kShort);
  std::string name = Text(in, "name", kName, id);
  std::lock_guard<std::mutex> lock(ctx.store->mutex());
  ctx.store->PutUser(id, name);
  return JsonReply(200, json{{"ok", true}});
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
    if (!in.is_object()) return Error(400, "the body must be a JSON object");
    if (path == "/_admin/faults" && method == "POST") return PostFault(ctx, in);
    if (path == "/_admin/faults" && method == "DELETE") {
      ctx.faults.Clear();
      return JsonReply(200, json{{"ok", true}});
    }
    if (path == "/_admin/release" && method == "POST") {
      ctx.faults.Release();
      return JsonReply(200, json{{"ok", true}});
    }
    if (path == "/_admin/faults" && method == "GET") return JsonReply(200, json{{"count", ctx.faults.List().size()}});
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
