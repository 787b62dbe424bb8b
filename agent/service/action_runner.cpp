#include "agent/service/action_runner.h"

#include <objbase.h>

#include <exception>

#include "agent/service/document_process.h"
#include "agent/resource.h"
#include "agent/service/refusal_text.h"
#include "common/ascii.h"
#include "common/filename.h"
#include "common/name_rule.h"
#include "common/text_format.h"
#include "common/working_copy.h"
#include "common/win/association.h"
#include "common/win/cancelled_copies.h"
#include "common/win/checkout_record.h"
#include "common/win/detached_thread.h"
#include "common/win/language.h"
#include "common/win/name_rule.h"
#include "common/win/process.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"

namespace edms {
namespace {

void Reply(const CheckOutTask& task, const char* word) {
  win::Trace(std::string("CHECKOUT ") + task.values.fields.documentId + " reply " + word);
  if (task.client) task.client->PushPacket(DataMessage{"CHECKOUT", word});
}

std::string ProgramPath(const CheckOutTask& task, const char* program) {
  return task.agentFolder.empty() ? std::string() : task.agentFolder + "\\" + program;
}

std::string AgentText(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

// The one message for a check-out this installation cannot run; empty when nothing is missing.
// (A program without the agent's string table, a test, still gets a text naming it.)
std::string WhatIsMissing(const std::string& userId, const std::string& adaptorUrl, const std::string& workFolder) {
  auto text = [](UINT id, const char* otherwise) {
    std::string loaded = AgentText(id);
    return loaded.empty() ? std::string(otherwise) : loaded;
  };
  if (userId.empty()) return text(IDS_NO_LOGIN, "Missing: the page's login");
  const char* value = adaptorUrl.empty() ? "AdaptorURL" : workFolder.empty() ? "WorkFolder" : nullptr;
  return value ? FillPlaceholder(text(IDS_CONFIG_VALUE_MISSING, "Missing: %s"), value) : std::string();
}

// COM for the shell's document start on this thread, released when the cycle ends.
struct ComApartment {
  ComApartment() : ok(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (ok) CoUninitialize();
  }
  bool ok;
};

// The editor that was started has ended. The copy counts as closed unchanged only when it is
// unchanged, no process holds it open and no window names it, and all of that still holds
// after a settling time: the editor may have handed the document to an instance of itself
// that is still coming up. Waits for as long as the document is in use.
bool ClosedUnchanged(const std::string& path, const std::optional<FileStamp>& before, const DocumentActions& actions) {
  for (;;) {
    if (DocumentChanged(before, actions.fileStamp(path))) return false;
    if (actions.documentInUse && actions.documentInUse(path)) {
      actions.waitWhileInUse(path);
      continue;
    }
    Sleep(static_cast<DWORD>(actions.editorSettle.count()));
    if (DocumentChanged(before, actions.fileStamp(path))) return false;
    if (!actions.documentInUse || !actions.documentInUse(path)) return true;
  }
}

void RunCycle(const CheckOutTask& task, const DocumentActions& actions) {
  const std::string& documentId = task.values.fields.documentId;
  const int checkedOut = actions.runProgram(ProgramPath(task, kCheckOutProgram), task.arguments.checkOut);
  Reply(task, CheckOutReply(checkedOut));
  if (checkedOut != 0) return;

  // ZTCheckOut has ended; its record is complete. The pause lets its last side effects
  // (shell notification, agent service signal) settle before the editor starts.
  Sleep(static_cast<DWORD>(actions.settle.count()));
  const std::string localPath = actions.localPath(documentId);
  if (task.cycles && !localPath.empty()) task.cycles->SetWorkingCopy(documentId, localPath);
  const std::optional<FileStamp> before = actions.fileStamp(localPath);
  if (const DWORD error = actions.openDocumentAndWait(localPath); error != 0) {
    win::Trace("editor could not be started, error " + std::to_string(error));
    actions.showEditorError(error, localPath);
    actions.runProgram(ProgramPath(task, kCancelProgram), task.arguments.cancel);
    Reply(task, kEditFail);
    return;
  }
  if (!ClosedUnchanged(localPath, before, actions)) {
    Reply(task, FinishReply(true, actions.runProgram(ProgramPath(task, kCheckInProgram), task.arguments.checkIn)));
    return;
  }
  // The cancel program ends with 0 whatever happened: only a record that is gone tells that
  // the server released the check-out.
  const int cancelled = actions.runProgram(ProgramPath(task, kCancelProgram), task.arguments.cancel);
  const bool released = cancelled == 0 && !actions.recordExists(documentId);
  if (released && actions.noteCancelled) actions.noteCancelled(documentId, localPath);
  Reply(task, FinishReply(false, released ? 0 : 1));
}

}  // namespace

std::string EditorErrorText(DWORD error, const std::string& path) {
  const std::string name = LastPathComponent(path);
  const std::string type = SplitExtension(name).extension;
  // Whatever code the shell gave, a type that no program opens is said as it is.
  const DWORD cause = win::AssociatedProgram(type).empty() ? ERROR_NO_ASSOCIATION : error;
  const std::string why =
      win::DescribeError(cause) + " (" + std::to_string(static_cast<unsigned long>(error)) + ")";
  std::string text = AgentText(IDS_EDITOR_OPEN_FAILED);
  if (text.empty()) text = "%s: %s";
  return FillPlaceholder(FillPlaceholder(text, type.empty() ? name : type), why);
}

DocumentActions SystemDocumentActions(std::function<void(const std::string& text)> tell) {
  DocumentActions actions;
  actions.runProgram = [](const std::string& program, const std::string& parameters) {
    return win::RunProgramAndWait("open", program, win::QuoteArgument(parameters), SW_SHOW);
  };
  actions.localPath = [](const std::string& documentId) {
    auto record = win::ReadCheckOutRecord(documentId);
    return record ? record->localPath : std::string();
  };
  actions.recordExists = [](const std::string& documentId) { return win::ReadCheckOutRecord(documentId).has_value(); };
  actions.fileStamp = [](const std::string& path) { return win::GetFileStamp(path); };
  actions.openDocumentAndWait = [](const std::string& path) { return OpenDocumentAndWait(path); };
  actions.documentInUse = [](const std::string& path) { return DocumentInUse(path); };
  actions.waitWhileInUse = [](const std::string& path) { WaitWhileDocumentInUse(path); };
  actions.noteCancelled = [](const std::string& documentId, const std::string& path) {
    if (!win::NoteCancelledCopy(documentId, path)) win::Trace("the cancelled copy of " + documentId + " not noted");
  };
  actions.showEditorError = [tell](DWORD error, const std::string& path) { tell(EditorErrorText(error, path)); };
  actions.showRefusal = tell;
  actions.bringEditorForward = [](const std::string& workingCopy) {
    // Window enumeration may ask windows of this process for their text: not on the caller.
    win::StartDetachedThread([workingCopy] { BringEditorForward(workingCopy); });
  };
  return actions;
}

void RunCheckOutTask(const CheckOutTask& task, const DocumentActions& actions) {
  try {
    ComApartment com;
    RunCycle(task, actions);
  } catch (const std::exception& e) {
    win::Trace(std::string("check-out cycle failed: ") + e.what());
  } catch (...) {
    win::Trace("check-out cycle failed");
  }
}

RunningCycles::Claim RunningCycles::Add(const std::string& documentId) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = AsciiLower(documentId);
  if (running_.count(key)) return Claim::kSameDocument;
  if (running_.size() >= limit_) return Claim::kTooMany;
  running_.emplace(key, std::string());
  return Claim::kStarted;
}

void RunningCycles::Remove(const std::string& documentId) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(AsciiLower(documentId));
  }
  changed_.notify_all();
}

void RunningCycles::SetWorkingCopy(const std::string& documentId, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = running_.find(AsciiLower(documentId));
  if (it != running_.end()) it->second = path;
}

std::string RunningCycles::WorkingCopyOf(const std::string& documentId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = running_.find(AsciiLower(documentId));
  return it == running_.end() ? std::string() : it->second;
}

std::size_t RunningCycles::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_.size();
}

bool RunningCycles::WaitNone(std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [this] { return running_.empty(); });
}

RunningCycles& AgentCycles() {
  static RunningCycles cycles;
  return cycles;
}

bool StartCheckOutTask(const std::shared_ptr<WebsocketClient>& client, const std::string& arg2,
                       const std::string& userId, const std::string& adaptorUrl, const std::string& workFolder,
                       DocumentActions actions, RunningCycles& cycles, const std::string& openableTypes) {
  auto task = std::make_shared<CheckOutTask>();
  task->client = client;
  auto refuse = [&](const std::string& why) {
    win::Trace("CHECKOUT refused: " + why);
    Reply(*task, kCheckOutFail);
    return false;
  };
  // The installation's fault, not the page's: the user is told what is missing.
  if (const std::string missing = WhatIsMissing(userId, adaptorUrl, workFolder); !missing.empty()) {
    if (actions.showRefusal) actions.showRefusal(missing);
    return refuse(missing);
  }
  std::string error;
  std::optional<CheckOutFields> fields = ParseCheckOutFields(arg2, error);
  std::optional<CheckOutArguments> arguments;
  if (fields) {
    task->values = CheckOutValues{*fields, userId, adaptorUrl, workFolder};
    arguments = BuildCheckOutArguments(task->values, error);
  }
  if (!arguments) return refuse(error);
  // The working copy is opened in whatever the shell starts for its type: a name that would
  // run as a program, or that Windows would store under another name, is never written. The
  // document's name is the user's business: they are told why.
  const std::optional<std::string> copyName = WorkingCopyName(fields->fileName, fields->documentId);
  const NameProblem problem = copyName ? win::CheckFileName(*copyName) : NameProblem::kPath;
  if (problem != NameProblem::kNone) {
    const std::string why = RefusalText(problem);
    if (actions.showRefusal && !why.empty()) actions.showRefusal(why);
    return refuse("working copy name " + (copyName ? *copyName : fields->fileName) + " refused: " + why);
  }
  if (const std::string type = ShellExtension(*copyName); !IsOpenableType(type, openableTypes)) {
    const std::string why = FillPlaceholder(AgentText(IDS_NOT_OPENABLE), type.empty() ? *copyName : type);
    if (actions.showRefusal) actions.showRefusal(why);
    return refuse("working copy type " + type + " is not opened by itself here");
  }
  task->arguments = std::move(*arguments);
  task->agentFolder = win::GetAgentFolder();
  task->cycles = &cycles;

  const std::string& documentId = task->values.fields.documentId;
  switch (cycles.Add(documentId)) {
    case RunningCycles::Claim::kStarted:
      break;
    case RunningCycles::Claim::kSameDocument: {
      // One cycle per document: the user is shown the editor that already has it.
      const std::string workingCopy = cycles.WorkingCopyOf(documentId);
      if (!workingCopy.empty() && actions.bringEditorForward) actions.bringEditorForward(workingCopy);
      return refuse("a check-out of document " + documentId + " is running");
    }
    case RunningCycles::Claim::kTooMany:
      return refuse(std::to_string(kMaxCycles) + " check-outs are running");
  }
  const bool started = win::StartDetachedThread([task, actions = std::move(actions), &cycles]() mutable {
    RunCheckOutTask(*task, actions);
    // What the cycle holds goes before it counts as ended.
    const std::string id = task->values.fields.documentId;
    task.reset();
    actions = DocumentActions();
    cycles.Remove(id);
  });
  if (!started) {
    cycles.Remove(documentId);
    return refuse("no thread for it");
  }
  return true;
}

}  // namespace edms
