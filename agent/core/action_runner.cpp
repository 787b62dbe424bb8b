#include "agent/core/action_runner.h"

#include <objbase.h>

#include <exception>
#include <thread>

#include "agent/core/document_process.h"
#include "common/win/process.h"
#include "common/win/trace.h"
#include "agent/resource.h"
#include "common/text_format.h"
#include "common/win/checkout_record.h"
#include "common/win/language.h"
#include "common/win/message_box.h"

namespace edms {
namespace {

void Reply(const CheckOutTask& task, const char* word) {
  win::Trace(std::string("CHECKOUT ") + task.values.fields.documentId + " reply " + word);
  if (task.client) task.client->PushPacket(DataMessage{"CHECKOUT", word});
}

std::string ProgramPath(const CheckOutTask& task, const char* program) {
  return task.agentFolder.empty() ? std::string() : task.agentFolder + "\\" + program;
}

void ShowEditorError(DWORD error) {
  std::string caption = win::LoadStringLang(GetModuleHandleW(nullptr), IDS_INFORMATION);
  if (caption.empty()) caption = "Information";
  HINSTANCE instance = GetModuleHandleW(nullptr);
  std::string text = FillPlaceholder(win::LoadStringLang(instance, IDS_EDITOR_OPEN_FAILED),
                                     std::to_string(static_cast<unsigned long>(error)));
  win::ShowMessage(nullptr, text, caption, MB_OK | MB_ICONEXCLAMATION, true);
}

// COM for the shell's document start on this thread, released when the cycle ends.
struct ComApartment {
  ComApartment() : ok(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (ok) CoUninitialize();
  }
  bool ok;
};

void RunCycle(const CheckOutTask& task, const DocumentActions& actions) {
  const int checkedOut = actions.runProgram(ProgramPath(task, kCheckOutProgram), task.arguments.checkOut);
  Reply(task, CheckOutReply(checkedOut));
  if (checkedOut != 0) return;

  // ZTCheckOut has ended; its record is complete. The pause lets its last side effects
  // (shell notification, agent service signal) settle before the editor starts.
  Sleep(static_cast<DWORD>(actions.settle.count()));
  const std::string localPath = actions.localPath(task.values.fields.documentId);
  const std::optional<FileStamp> before = actions.fileStamp(localPath);
  if (const DWORD error = actions.openDocumentAndWait(localPath); error != 0) {
    win::Trace("editor could not be started, error " + std::to_string(error));
    actions.showEditorError(error);
    actions.runProgram(ProgramPath(task, kCancelProgram), task.arguments.cancel);
    Reply(task, kEditFail);
    return;
  }
  const bool changed = DocumentChanged(before, actions.fileStamp(localPath));
  const int finished = changed ? actions.runProgram(ProgramPath(task, kCheckInProgram), task.arguments.checkIn)
                               : actions.runProgram(ProgramPath(task, kCancelProgram), task.arguments.cancel);
  Reply(task, FinishReply(changed, finished));
}

}  // namespace

DocumentActions SystemDocumentActions() {
  DocumentActions actions;
  actions.runProgram = [](const std::string& program, const std::string& parameters) {
    return win::RunProgramAndWait("open", program, win::QuoteArgument(parameters), SW_SHOW);
  };
  actions.localPath = [](const std::string& documentId) {
    auto record = win::ReadCheckOutRecord(documentId);
    return record ? record->localPath : std::string();
  };
  actions.fileStamp = [](const std::string& path) { return win::GetFileStamp(path); };
  actions.openDocumentAndWait = [](const std::string& path) { return OpenDocumentAndWait(path); };
  actions.showEditorError = ShowEditorError;
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

void RunningCycles::Add() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++count_;
}

void RunningCycles::Remove() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --count_;
  }
  changed_.notify_all();
}

std::size_t RunningCycles::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool RunningCycles::WaitNone(std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [this] { return count_ == 0; });
}

RunningCycles& AgentCycles() {
  static RunningCycles cycles;
  return cycles;
}

bool StartCheckOutTask(const std::shared_ptr<WebsocketClient>& client, const std::string& arg2,
                       const std::string& userId, const std::string& adaptorUrl, const std::string& workFolder,
                       DocumentActions actions, RunningCycles& cycles) {
  auto task = std::make_shared<CheckOutTask>();
  task->client = client;
  std::string error;
  std::optional<CheckOutFields> fields = ParseCheckOutFields(arg2, error);
  std::optional<CheckOutArguments> arguments;
  if (fields) {
    task->values = CheckOutValues{*fields, userId, adaptorUrl, workFolder};
    arguments = BuildCheckOutArguments(task->values, error);
  }
  if (!arguments) {
    win::Trace("CHECKOUT refused: " + error);
    Reply(*task, kCheckOutFail);
    return false;
  }
  task->arguments = std::move(*arguments);
  task->agentFolder = win::GetAgentFolder();
  cycles.Add();
  try {
    std::thread([task, actions = std::move(actions), &cycles]() mutable {
      RunCheckOutTask(*task, actions);
      // What the cycle holds goes before it counts as ended.
      task.reset();
      actions = DocumentActions();
      cycles.Remove();
    }).detach();
  } catch (const std::exception& e) {
    cycles.Remove();
    win::Trace(std::string("no thread for CHECKOUT: ") + e.what());
    Reply(*task, kCheckOutFail);
    return false;
  }
  return true;
}

}  // namespace edms
