// The adaptor's state: one SQLite database in the data folder plus one content file
// per stored version or update package (data/content/). Not thread-safe by itself:
// every caller holds mutex() for the whole of one command, so each command's checks
// and changes happen as one step.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devserver/unique_fd.h"

namespace devserver {

struct Document {
  std::string objectId;
  std::string pageId;
  std::string fileName;
  std::string creator;
  bool immutable = false;
  std::string currentVersion;
};

struct Version {
  std::string objectId;
  std::string version;
  std::string note;
  std::string author;
  std::string created;  // UTC, ISO 8601
  std::string content;  // file name under content/
  uint64_t size = 0;
};

struct CheckOut {
  std::string objectId;
  std::string userId;
  std::string version;
  std::string at;
};

struct Notice {
  int64_t id = 0;
  std::string userId;
  std::string title;
  std::string body;
  std::string created;
  bool read = false;
};

struct UpdatePackage {
  std::string target;
  std::string version;
  std::string content;
  std::string md5;  // 32 upper-case hex digits
  uint64_t size = 0;
};

class Store {
 public:
  // nullptr with *error set when the folder or database cannot be opened.
  static std::unique_ptr<Store> Open(const std::string& dataDir, std::string* error);
  ~Store();

  std::mutex& mutex() { return mutex_; }
  const std::string& dataDir() const { return dataDir_; }

  // Throws std::runtime_error on any SQLite failure; callers turn it into a refusal.
  bool Empty();
  void PutUser(const std::string& id, const std::string& name);
  std::string UserName(const std::string& id);  // the id itself when unknown

  std::optional<Document> FindDocument(const std::string& objectId);
  std::vector<Document> Documents();  // every document, by id
  void InsertDocument(const Document& doc);
  void SetCurrentVersion(const std::string& objectId, const std::string& version);

  std::optional<Version> FindVersion(const std::string& objectId, const std::string& version);
  std::vector<Version> Versions(const std::string& objectId);
  // Inserts or replaces; returns the content file it replaced (empty when none).
  std::string PutVersion(const Version& v);

  std::optional<CheckOut> FindCheckOut(const std::string& objectId);
  std::vector<CheckOut> CheckOutsOf(const std::string& userId);
  void PutCheckOut(const CheckOut& c);
  void DeleteCheckOut(const std::string& objectId);

  int64_t AddNotice(const Notice& n);
  std::vector<Notice> Notices(const std::string& userId);
  int64_t UnreadCount(const std::string& userId);
  void MarkNoticesRead(const std::string& userId);

  void PutUpdate(const UpdatePackage& u);
  // The highest package version for the target, when there is one.
  std::optional<UpdatePackage> NewestUpdate(const std::string& target);
  std::optional<UpdatePackage> FindUpdate(const std::string& target, const std::string& version);

  void Begin();
  void Commit();
  void Rollback() noexcept;

  // Content files. A temporary file lives in tmp/ (same file system as content/).
  std::string NewTempPath();
  // Moves a finished temporary file into content/; returns its content name.
  std::string AdoptContent(const std::string& tempPath);
  std::string ContentPath(const std::string& name) const;
  UniqueFd OpenContent(const std::string& name, uint64_t* size) const;
  void RemoveContent(const std::string& name) noexcept;

  static std::string NowUtc();

 private:
  Store() = default;
  void Exec(const char* sql);
  std::string NewName(const char* prefix);

  std::mutex mutex_;
  std::mutex tempMutex_;  // temporary names are drawn outside the command lock
  std::string dataDir_;
  sqlite3* db_ = nullptr;
  uint64_t counter_ = 0;
};

// Holds a transaction open; rolls it back unless Commit() was called.
class Transaction {
 public:
  explicit Transaction(Store& store) : store_(store) { store_.Begin(); }
  ~Transaction() {
    if (!done_) store_.Rollback();
  }
  void Commit() {
    store_.Commit();
    done_ = true;
  }

 private:
  Store& store_;
  bool done_ = false;
};

}  // namespace devserver
