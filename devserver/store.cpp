#include "devserver/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "common/version.h"

namespace devserver {
namespace {

const char* kSchema = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA foreign_keys=ON;
CREATE TABLE IF NOT EXISTS users(
  id TEXT PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS documents(
  object_id TEXT PRIMARY KEY, page_id TEXT NOT NULL, file_name TEXT NOT NULL,
  creator TEXT NOT NULL, immutable INTEGER NOT NULL, current_version TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS versions(
  object_id TEXT NOT NULL REFERENCES documents(object_id), version TEXT NOT NULL,
  note TEXT NOT NULL, author TEXT NOT NULL, created TEXT NOT NULL,
  content TEXT NOT NULL, size INTEGER NOT NULL, PRIMARY KEY(object_id, version));
CREATE TABLE IF NOT EXISTS checkouts(
  object_id TEXT PRIMARY KEY REFERENCES documents(object_id), user_id TEXT NOT NULL,
  version TEXT NOT NULL, at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS notices(
  id INTEGER PRIMARY KEY AUTOINCREMENT, user_id TEXT NOT NULL, title TEXT NOT NULL,
  body TEXT NOT NULL, created TEXT NOT NULL, read INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS updates(
  target TEXT NOT NULL, version TEXT NOT NULL, content TEXT NOT NULL, md5 TEXT NOT NULL,
  size INTEGER NOT NULL, PRIMARY KEY(target, version));
)sql";

// One prepared statement, finalized on every path.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt& Bind(const std::string& text) {
    Check(sqlite3_bind_text(stmt_, ++index_, text.data(), int(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Stmt& Bind(int64_t value) {
    Check(sqlite3_bind_int64(stmt_, ++index_, value));
    return *this;
  }
  // True while a row is available.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail();
    return false;
  }
  std::string Text(int col) {
    const unsigned char* p = sqlite3_column_text(stmt_, col);
    return p ? std::string(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail();
  }
  [[noreturn]] void Fail() { throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db_)); }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int index_ = 0;
};

Version ReadVersion(Stmt& s) {
  return Version{s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Text(5), uint64_t(s.Int(6))};
}

UpdatePackage ReadUpdate(Stmt& s) {
  return UpdatePackage{s.Text(0), s.Text(1), s.Text(2), s.Text(3), uint64_t(s.Int(4))};
}

}  // namespace

std::unique_ptr<Store> Store::Open(const std::string& dataDir, std::string* error) {
  for (const std::string& dir : {dataDir, dataDir + "/content", dataDir + "/tmp"}) {
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create folder " + dir;
      return nullptr;
    }
  }
  // Uploads cut short by an earlier run's end are never adopted: their files only take space.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir + "/tmp", ec)) {
    if (entry.is_regular_file(ec) && entry.path().filename().string().rfind("up", 0) == 0) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
  std::unique_ptr<Store> store(new Store());
  store->dataDir_ = dataDir;
  std::string path = dataDir + "/edms.sqlite";
  if (sqlite3_open_v2(path.c_str(), &store->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    *error = "cannot open database " + path;
    return nullptr;
  }
  try {
    store->Exec(kSchema);
  } catch (const std::exception& e) {
    *error = e.what();
    return nullptr;
  }
  return store;
}

Store::~Store() { sqlite3_close(db_); }

void Store::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown failure";
    sqlite3_free(message);
    throw std::runtime_error("database: " + text);
  }
}

void Store::Begin() { Exec("BEGIN IMMEDIATE"); }
void Store::Commit() { Exec("COMMIT"); }
void Store::Rollback() noexcept { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

bool Store::Empty() {
  Stmt s(db_, "SELECT (SELECT COUNT(*) FROM documents) + (SELECT COUNT(*) FROM users)");
  s.Step();
  return s.Int(0) == 0;
}

void Store::PutUser(const std::string& id, const std::string& name) {
  Stmt(db_, "INSERT OR REPLACE INTO users(id, name) VALUES(?, ?)").Bind(id).Bind(name).Step();
}

std::string Store::UserName(const std::string& id) {
  Stmt s(db_, "SELECT name FROM users WHERE id = ?");
  s.Bind(id);
  return s.Step() ? s.Text(0) : id;
}

std::optional<Document> Store::FindDocument(const std::string& objectId) {
  Stmt s(db_,
         "SELECT object_id, page_id, file_name, creator, immutable, current_version "
         "FROM documents WHERE object_id = ?");
  s.Bind(objectId);
  if (!s.Step()) return std::nullopt;
  return Document{s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Int(4) != 0, s.Text(5)};
}

std::vector<Document> Store::Documents() {
  Stmt s(db_, "SELECT object_id, page_id, file_name, creator, immutable, current_version FROM documents ORDER BY object_id");
  std::vector<Document> out;
  while (s.Step()) out.push_back(Document{s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Int(4) != 0, s.Text(5)});
  return out;
}

void Store::InsertDocument(const Document& d) {
  Stmt(db_,
       "INSERT INTO documents(object_id, page_id, file_name, creator, immutable, current_version) "
       "VALUES(?, ?, ?, ?, ?, ?)")
      .Bind(d.objectId).Bind(d.pageId).Bind(d.fileName).Bind(d.creator)
      .Bind(int64_t(d.immutable)).Bind(d.currentVersion).Step();
}

void Store::SetCurrentVersion(const std::string& objectId, const std::string& version) {
  Stmt(db_, "UPDATE documents SET current_version = ? WHERE object_id = ?").Bind(version).Bind(objectId).Step();
}

std::optional<Version> Store::FindVersion(const std::string& objectId, const std::string& version) {
  Stmt s(db_,
         "SELECT object_id, version, note, author, created, content, size FROM versions "
         "WHERE object_id = ? AND version = ?");
  s.Bind(objectId).Bind(version);
  if (!s.Step()) return std::nullopt;
  return ReadVersion(s);
}

std::vector<Version> Store::Versions(const std::string& objectId) {
  Stmt s(db_,
         "SELECT object_id, version, note, author, created, content, size FROM versions "
         "WHERE object_id = ? ORDER BY created, rowid");
  s.Bind(objectId);
  std::vector<Version> out;
  while (s.Step()) out.push_back(ReadVersion(s));
  return out;
}

std::string Store::PutVersion(const Version& v) {
  std::optional<Version> old = FindVersion(v.objectId, v.version);
  Stmt(db_,
       "INSERT OR REPLACE INTO versions(object_id, version, note, author, created, content, size) "
       "VALUES(?, ?, ?, ?, ?, ?, ?)")
      .Bind(v.objectId).Bind(v.version).Bind(v.note).Bind(v.author).Bind(v.created)
      .Bind(v.content).Bind(int64_t(v.size)).Step();
  return old ? old->content : std::string();
}

std::optional<CheckOut> Store::FindCheckOut(const std::string& objectId) {
  Stmt s(db_, "SELECT object_id, user_id, version, at FROM checkouts WHERE object_id = ?");
  s.Bind(objectId);
  if (!s.Step()) return std::nullopt;
  return CheckOut{s.Text(0), s.Text(1), s.Text(2), s.Text(3)};
}

std::vector<CheckOut> Store::CheckOutsOf(const std::string& userId) {
  Stmt s(db_, "SELECT object_id, user_id, version, at FROM checkouts WHERE user_id = ? ORDER BY at, rowid");
  s.Bind(userId);
  std::vector<CheckOut> out;
  while (s.Step()) out.push_back(CheckOut{s.Text(0), s.Text(1), s.Text(2), s.Text(3)});
  return out;
}

void Store::PutCheckOut(const CheckOut& c) {
  Stmt(db_, "INSERT OR REPLACE INTO checkouts(object_id, user_id, version, at) VALUES(?, ?, ?, ?)")
      .Bind(c.objectId).Bind(c.userId).Bind(c.version).Bind(c.at).Step();
}

void Store::DeleteCheckOut(const std::string& objectId) {
  Stmt(db_, "DELETE FROM checkouts WHERE object_id = ?").Bind(objectId).Step();
}

int64_t Store::AddNotice(const Notice& n) {
  Stmt(db_, "INSERT INTO notices(user_id, title, body, created, read) VALUES(?, ?, ?, ?, ?)")
      .Bind(n.userId).Bind(n.title).Bind(n.body).Bind(n.created).Bind(int64_t(n.read)).Step();
  return sqlite3_last_insert_rowid(db_);
}

std::vector<Notice> Store::Notices(const std::string& userId) {
  Stmt s(db_, "SELECT id, user_id, title, body, created, read FROM notices WHERE user_id = ? ORDER BY id DESC");
  s.Bind(userId);
  std::vector<Notice> out;
  while (s.Step()) out.push_back(Notice{s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Int(5) != 0});
  return out;
}

int64_t Store::UnreadCount(const std::string& userId) {
  Stmt s(db_, "SELECT COUNT(*) FROM notices WHERE user_id = ? AND read = 0");
  s.Bind(userId);
  s.Step();
  return s.Int(0);
}

void Store::MarkNoticesRead(const std::string& userId) {
  Stmt(db_, "UPDATE notices SET read = 1 WHERE user_id = ?").Bind(userId).Step();
}

void Store::PutUpdate(const UpdatePackage& u) {
  Stmt(db_, "INSERT OR REPLACE INTO updates(target, version, content, md5, size) VALUES(?, ?, ?, ?, ?)")
      .Bind(u.target).Bind(u.version).Bind(u.content).Bind(u.md5).Bind(int64_t(u.size)).Step();
}

std::optional<UpdatePackage> Store::NewestUpdate(const std::string& target) {
  Stmt s(db_, "SELECT target, version, content, md5, size FROM updates WHERE target = ?");
  s.Bind(target);
  std::optional<UpdatePackage> best;
  while (s.Step()) {
    UpdatePackage u = ReadUpdate(s);
    if (!best || edms::CompareVersions(u.version, best->version) > 0) best = u;
  }
  return best;
}

std::optional<UpdatePackage> Store::FindUpdate(const std::string& target, const std::string& version) {
  Stmt s(db_, "SELECT target, version, content, md5, size FROM updates WHERE target = ? AND version = ?");
  s.Bind(target).Bind(version);
  if (!s.Step()) return std::nullopt;
  return ReadUpdate(s);
}

std::string Store::NewName(const char* prefix) {
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::string(prefix) + std::to_string(::getpid()) + "-" + std::to_string(now) + "-" +
         std::to_string(++counter_);
}

std::string Store::NewTempPath() {
  std::lock_guard<std::mutex> lock(tempMutex_);
  return dataDir_ + "/tmp/" + NewName("up");
}

std::string Store::AdoptContent(const std::string& tempPath) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(tempMutex_);
    name = NewName("c");
  }
  if (std::rename(tempPath.c_str(), ContentPath(name).c_str()) != 0) {
    throw std::runtime_error("cannot store content file");
  }
  return name;
}

std::string Store::ContentPath(const std::string& name) const { return dataDir_ + "/content/" + name; }

UniqueFd Store::OpenContent(const std::string& name, uint64_t* size) const {
  UniqueFd fd(::open(ContentPath(name).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return UniqueFd();
  *size = uint64_t(st.st_size);
  return fd;
}

void Store::RemoveContent(const std::string& name) noexcept {
  if (!name.empty()) ::unlink(ContentPath(name).c_str());
}

std::string Store::NowUtc() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace devserver
