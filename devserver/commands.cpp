#include "devserver/commands.h"

#include <utility>
#include <exception>

#include "common/checkout_list.h"
#include "common/encoding.h"
#include "common/requests.h"
#include "common/version.h"
#include "devserver/reply_codes.h"

namespace devserver {

AdaptorReply AdaptorReply::Refusal(const char* code, std::string message) {
  AdaptorReply r;
  r.code = code;
  r.desc = std::move(message);
  return r;
}

namespace {

using edms::Command;

AdaptorReply FileReply(Store& store, const std::string& content, std::string desc) {
  AdaptorReply r;
  r.file = store.OpenContent(content, &r.size);
  if (!r.file.valid()) return AdaptorReply::Refusal(code::kInternal, "The stored file cannot be read.");
  r.fileSize = std::to_string(r.size);
  r.desc = std::move(desc);
  return r;
}

// The document, refusing an unknown one or a page that is not the document's.
std::optional<Document> DocumentOrRefusal(Store& store, const std::string& objectId, const std::string* pageId,
                                          AdaptorReply* refusal) {
  std::optional<Document> doc = store.FindDocument(objectId);
  if (!doc) {
    *refusal = AdaptorReply::Refusal(code::kNoDocument, "Document " + objectId + " does not exist.");
  } else if (pageId && *pageId != doc->pageId) {
    *refusal = AdaptorReply::Refusal(code::kNoDocument, "Document " + objectId + " has no page " + *pageId + ".");
    doc.reset();
  }
  return doc;
}

AdaptorReply CheckOutCommand(Store& store, const AdaptorRequest& rq) {
  const std::string& object = rq.Field("XRQ_OBJECT");
  const std::string& version = rq.Field("XRQ_VERSION");
  const std::string& user = rq.Field("XRQ_USER");
  if (user.empty()) return AdaptorReply::Refusal(code::kBadRequest, "No user given.");
  AdaptorReply refusal;
  std::optional<Document> doc = DocumentOrRefusal(store, object, &rq.Field("XRQ_PAGE"), &refusal);
  if (!doc) return refusal;
  std::optional<Version> v = store.FindVersion(object, version);
  if (!v) {
    return AdaptorReply::Refusal(code::kNoVersion, "Version " + version + " of " + doc->fileName + " does not exist.");
  }
  std::optional<CheckOut> held = store.FindCheckOut(object);
  if (held && held->userId != user) {
    return AdaptorReply::Refusal(code::kHeldByOther, doc->fileName + " is checked out by " +
                                                         store.UserName(held->userId) + " (" + held->userId + ").");
  }
  // Checking out again (possibly another version) replaces the caller's own record.
  AdaptorReply reply = FileReply(store, v->content, {});
  if (reply.code != code::kOk) return reply;
  store.PutCheckOut(CheckOut{object, user, version, Store::NowUtc()});
  return reply;
}

// The caller's own check-out of `version` of the document, or the refusal to send.
struct HeldCheckOut {
  std::optional<Document> doc;
  std::optional<CheckOut> held;
  AdaptorReply refusal;
};

HeldCheckOut FindHeldCheckOut(Store& store, const std::string& object, const std::string& version,
                              const std::string& user) {
  HeldCheckOut result;
  result.doc = DocumentOrRefusal(store, object, nullptr, &result.refusal);
  if (!result.doc) return result;
  std::optional<CheckOut> held = store.FindCheckOut(object);
  if (!held || held->userId != user) {
    result.refusal = AdaptorReply::Refusal(code::kNotHeld, "You have not checked out " + result.doc->fileName + ".");
  } else if (held->version != version) {
    result.refusal = AdaptorReply::Refusal(code::kNotHeld, "You have checked out version " + held->version + " of " +
                                                               result.doc->fileName + ", not " + version + ".");
  } else {
    result.held = held;
  }
  return result;
}

AdaptorReply CancelCommand(Store& store, const AdaptorRequest& rq) {
  const std::string& object = rq.Field("XRQ_OBJECT");
  const std::string& version = rq.Field("XRQ_VERSION");
  const std::string& user = rq.Field("XRQ_USER");
  HeldCheckOut found = FindHeldCheckOut(store, object, version, user);
  if (!found.held) return std::move(found.refusal);
  store.DeleteCheckOut(object);
  return AdaptorReply{};
}

AdaptorReply CheckInCommand(Store& store, const AdaptorRequest& rq) {
  const std::string& object = rq.Field("XRQ_OBJECT");
  const std::string& version = rq.Field("XRQ_VERSION");
  const std::string& wanted = rq.Field("XRQ_NEWVERSION");
  const std::string& user = rq.Field("XRQ_USER");
  HeldCheckOut found = FindHeldCheckOut(store, object, version, user);
  if (!found.held) return std::move(found.refusal);
  const std::optional<Document>& doc = found.doc;
  const std::optional<CheckOut>& held = found.held;
  // The dialog may send the same version either as it was received ("1.02") or as
  // the arithmetic writes it ("1.2"); both overwrite the checked-out version.
  edms::VersionChoices next = edms::NextVersions(held->version);
  bool overwrite = wanted == held->version || wanted == next.same;
  if (!overwrite && wanted != next.minor && wanted != next.major) {
    return AdaptorReply::Refusal(code::kVersionRule, "Version " + wanted + " is not allowed; check in as " +
                                                         held->version + ", " + next.minor + " or " + next.major + ".");
  }
  bool current = held->version == doc->currentVersion;
  if (!overwrite && doc->immutable) {
    return AdaptorReply::Refusal(code::kVersionRule, doc->fileName + " is immutable; check it in as " + held->version + ".");
  }
  if (!overwrite && !current) {
    return AdaptorReply::Refusal(code::kVersionRule, "Version " + held->version +
                                                         " is not the current version; check it in as " + held->version + ".");
  }
  if (overwrite && current && !doc->immutable && user != doc->creator) {
    return AdaptorReply::Refusal(code::kVersionRule, "Only the creator may overwrite the current version; choose " +
                                                         next.minor + " or " + next.major + ".");
  }
  std::string target = overwrite ? held->version : wanted;
  if (!overwrite && store.FindVersion(object, target)) {
    return AdaptorReply::Refusal(code::kVersionRule, "Version " + target + " of " + doc->fileName + " already exists.");
  }

  Transaction tx(store);
  std::string content = store.AdoptContent(rq.uploadPath);
  std::string replaced;
  try {
    replaced = store.PutVersion(Version{object, target, rq.Field("XRQ_VNOTE"), user, Store::NowUtc(), content,
                                        rq.uploadSize});
    store.SetCurrentVersion(object, target);
    store.DeleteCheckOut(object);
    tx.Commit();
  } catch (...) {
    store.RemoveContent(content);
    throw;
  }
  store.RemoveContent(replaced);
  return AdaptorReply{};
}

AdaptorReply CheckOutListCommand(Store& store, const AdaptorRequest& rq) {
  // XRQ_SHARENAME is accepted but not used: this adaptor has a single share.
  std::vector<edms::CheckOutRow> rows;
  for (const CheckOut& c : store.CheckOutsOf(rq.Field("XRQ_USER"))) {
    std::optional<Document> doc = store.FindDocument(c.objectId);
    if (!doc) continue;
    std::optional<Version> v = store.FindVersion(c.objectId, c.version);
    rows.push_back(edms::CheckOutRow{c.version, doc->objectId, doc->fileName, "", "", doc->creator,
                                     store.UserName(doc->creator), v ? v->note : std::string(),
                                     c.version == doc->currentVersion ? "T" : "F"});
  }
  AdaptorReply reply;
  reply.desc = edms::FormatCheckOutList(rows);
  return reply;
}

AdaptorReply DownloadCommand(Store& store, const AdaptorRequest& rq) {
  AdaptorReply refusal;
  std::optional<Document> doc = DocumentOrRefusal(store, rq.Field("XRQ_OBJECT"), &rq.Field("XRQ_PAGE"), &refusal);
  if (!doc) return refusal;
  std::optional<Version> v = store.FindVersion(doc->objectId, doc->currentVersion);
  if (!v) return AdaptorReply::Refusal(code::kNoVersion, doc->fileName + " has no current version.");
  return FileReply(store, v->content, {});
}

AdaptorReply NewMsgCountCommand(Store& store, const AdaptorRequest& rq) {
  AdaptorReply reply;
  reply.desc = std::to_string(store.UnreadCount(rq.Field("XRQ_USER")));
  return reply;
}

AdaptorReply CheckUpdateCommand(Store& store, const AdaptorRequest& rq) {
  AdaptorReply reply;
  std::optional<UpdatePackage> u = store.NewestUpdate(rq.Field("XRQ_TARGET"));
  if (u && edms::CompareVersions(u->version, rq.Field("XRQ_INSTVER")) > 0) {
    reply.desc = u->version;
    reply.fileSize = edms::HexEncodeUtf8(std::to_string(u->size));
  } else {
    reply.desc = rq.Field("XRQ_INSTVER");
    reply.fileSize = edms::HexEncodeUtf8("0");
  }
  return reply;
}

AdaptorReply DownloadUpdateCommand(Store& store, const AdaptorRequest& rq) {
  const std::string& target = rq.Field("XRQ_TARGET");
  const std::string& version = rq.Field("XRQ_REQVER");
  std::optional<UpdatePackage> u = store.FindUpdate(target, version);
  if (!u) return AdaptorReply::Refusal(code::kNoUpdate, "No update " + version + " for " + target + ".");
  return FileReply(store, u->content, u->md5);
}

}  // namespace

AdaptorReply RunCommand(Store& store, const AdaptorRequest& rq) {
  try {
    std::lock_guard<std::mutex> lock(store.mutex());
    switch (rq.format->command) {
      case Command::CheckOut: return CheckOutCommand(store, rq);
      case Command::CheckOutCancel: return CancelCommand(store, rq);
      case Command::CheckIn: return CheckInCommand(store, rq);
      case Command::GetCheckOutList: return CheckOutListCommand(store, rq);
      case Command::Download: return DownloadCommand(store, rq);
      case Command::GetNewMsgCount: return NewMsgCountCommand(store, rq);
      case Command::CheckUpdate: return CheckUpdateCommand(store, rq);
      case Command::DownloadUpdate: return DownloadUpdateCommand(store, rq);
    }
    return AdaptorReply::Refusal(code::kUnknownCommand, "Unknown command.");
  } catch (const std::exception& e) {
    return AdaptorReply::Refusal(code::kInternal, std::string("Server error: ") + e.what());
  }
}

}  // namespace devserver
