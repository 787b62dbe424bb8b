#include "common/checkout_cycle.h"

#include <vector>

#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/encoding.h"
#include "common/filename.h"
#include "common/ws_command.h"

namespace edms {
namespace {

bool HasControl(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// Empty when `text` may stand as one path component inside the work folder.
std::string ComponentProblem(std::string_view text) {
  if (text == "." || text == "..") return "names a folder, not a file";
  if (text.find_first_of("/\\:") != std::string_view::npos) return "contains a path separator or ':'";
  if (text.find_first_of("<>\"|?*") != std::string_view::npos) return "contains a character no file name may hold";
  return {};
}

struct FieldRule {
  const char* name;
  std::string CheckOutFields::*member;
  std::size_t maxLength;  // UTF-16 units, bytes for the file name (see the header)
  bool required;
  bool plainText;  // travels unencoded in the argument strings
  bool component;  // becomes part of the working copy's file name
};

constexpr FieldRule kRules[] = {
    {"document id", &CheckOutFields::documentId, kMaxDocumentIdUnits, true, true, true},
    {"page id", &CheckOutFields::pageId, kMaxPageIdUnits, false, true, false},
    // The file name travels hex-encoded, so '&' is allowed in it.
    {"file name", &CheckOutFields::fileName, kMaxFileNameBytes, true, false, true},
    {"version", &CheckOutFields::version, kMaxVersionUnits, false, true, false},
    {"is-current flag", &CheckOutFields::isCurrent, kMaxFlagUnits, false, true, false},
    {"creator id", &CheckOutFields::creatorId, kMaxCreatorIdUnits, false, true, false},
    {"is-immutable flag", &CheckOutFields::isImmutable, kMaxFlagUnits, false, true, false},
};

}  // namespace

std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::optional<CheckOutFields> ParseCheckOutFields(std::string_view arg2, std::string& error) {
  error.clear();
  const std::vector<std::string> pieces = SplitFields(arg2);
  if (pieces.size() != std::size(kRules)) {
    error = "expected 7 fields separated by '^', got " + std::to_string(pieces.size());
    return std::nullopt;
  }
  CheckOutFields fields;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const FieldRule& rule = kRules[i];
    const std::string& value = pieces[i];
    std::string problem;
    if (rule.required && value.empty()) {
      problem = "is empty";
    } else if (!IsValidUtf8(value)) {
      problem = "is not valid UTF-8";
    } else if ((rule.plainText ? Utf16Units(value) : value.size()) > rule.maxLength) {
      problem = "is longer than " + std::to_string(rule.maxLength) + (rule.plainText ? " characters" : " bytes");
    } else if (HasControl(value)) {
      problem = "contains a control character";
    } else if (rule.plainText && value.find_first_of("&\"") != std::string::npos) {
      problem = "contains '&' or '\"'";
    } else if (rule.component) {
      problem = ComponentProblem(value);
    }
    if (!problem.empty()) {
      error = std::string(rule.name) + " " + problem;
      return std::nullopt;
    }
    fields.*rule.member = value;
  }
  if (Utf16Units(fields.fileName) + Utf16Units(fields.documentId) + 2 > kMaxComponentUnits) {
    error = "file name is too long for its working copy name";
    return std::nullopt;
  }
  return fields;
}

std::optional<CheckOutArguments> BuildCheckOutArguments(const CheckOutValues& values, std::string& error) {
  error.clear();
  if (values.userId.empty() || Utf16Units(values.userId) > kMaxUserIdUnits) {
    error = "user id is empty or longer than " + std::to_string(kMaxUserIdUnits) + " characters";
    return std::nullopt;
  }
  // Without them every program would fail on its own, after showing the user its message.
  if (values.adaptorUrl.empty() || values.workFolder.empty()) {
    error = "the configuration has no AdaptorURL or no WorkFolder";
    return std::nullopt;
  }
  const CheckOutFields& f = values.fields;
  const std::string filePath = HexEncodeUtf8(f.fileName);
  // The pairs every start carries: where the document is and who asks for it.
  auto where = [&](ArgumentString& a) -> ArgumentString& {
    return a.Add(arg::kFilePath, filePath)
        .Add(arg::kAdaptorUrl, values.adaptorUrl)
        .Add(arg::kWorkFolder, values.workFolder)
        .Add(arg::kUserId, values.userId);
  };
  auto build = [&](ArgumentString& a, std::string& into, const char* which) {
    std::string why;
    if (a.Build(into, why)) return true;
    error = std::string(which) + " arguments: " + why;
    return false;
  };
  CheckOutArguments out;
  ArgumentString checkOut, checkIn, cancel;
  where(checkOut.Add(arg::kOid, f.documentId).Add(arg::kPageId, f.pageId))
      .Add(arg::kVersionNo, f.version)
      .Add(arg::kInvokeEditor, "FALSE")
      .Add(arg::kIsImmutable, f.isImmutable);
  where(checkIn.Add(arg::kOid, f.documentId)
            .Add(arg::kVersionNo, f.version)
            .Add(arg::kIsCurrent, f.isCurrent)
            .Add(arg::kCreatorId, f.creatorId));
  where(cancel.Add(arg::kOid, f.documentId).Add(arg::kVersionNo, f.version).Add(arg::kSupressWarning, "TRUE"));
  if (!build(checkOut, out.checkOut, "check-out") || !build(checkIn, out.checkIn, "check-in") ||
      !build(cancel, out.cancel, "cancel")) {
    return std::nullopt;
  }
  return out;
}

const char* CheckOutReply(int exitCode) { return exitCode == 0 ? kCheckOutSuccess : kCheckOutFail; }

const char* FinishReply(bool changed, int exitCode) {
  if (changed) return exitCode == 0 ? kCheckInSuccess : kCheckInFail;
  return exitCode == 0 ? kCancelSuccess : kCancelFail;
}

std::string EditorWindowTitle(std::string_view path) {
  const std::string name = LastPathComponent(path);
  NameParts parts = SplitExtension(name);
  return parts.base.empty() ? name : parts.base;
}

}  // namespace edms
