// The check-out itself: one CHECKOUT exchange into the working copy, then the completion
// steps (side stream, shell notification, lock file, record, agent service, editor).
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "common/win/program_result.h"

namespace edms::checkout {

// The inputs of one run, read from the argument string; absent keys are empty text.
struct CheckOutArguments {
  std::string adaptorUrl;
  std::string oid;
  std::string pageId;
  std::string versionNo;
  std::string userId;
  std::string password;
  std::string workFolder;
  std::string filePath;  // as passed: hex-encoded UTF-8
  std::string invokeEditor;
  std::string isImmutable;

  static CheckOutArguments Parse(std::string_view argumentString);
  // The document path: FILE_PATH decoded.
  std::string DocumentPath() const;
  // The name shown in the window: the document path's last component.
  std::string DocumentName() const;
  // INVOKE_EDITOR is anything but FALSE (in any case), or absent.
  bool WantsEditor() const;
};

// What the check-out needs from the window it runs in.
class CheckOutHost {
 public:
  virtual ~CheckOutHost() = default;
  // Lets the window handle at most one pending message, then shows `percent` (0..100);
  // a negative percent has nothing new to show. Called after every body block.
  virtual void ShowProgress(int percent) = 0;
  // String `id` of the program's table in the run's language.
  virtual std::string Text(unsigned id) = 0;
  // A message box of the run (caption "Information", topmost).
  virtual void ShowNotice(const std::string& text) = 0;
  virtual HWND Owner() = 0;
};

// Runs the whole check-out and its completion; the result is the program's exit code: 0
// checked out and recorded, 1 invalid URL, 2 the working copy cannot be made, 3 network
// failure, 4 any other failure, 5 the record cannot be written, 6 a working copy of that name
// holds edits not checked in (left as it is, the server not asked), -1 not the bytes
// announced, -2 refused by the server. Never throws.
win::ProgramResult RunCheckOut(const CheckOutArguments& args, CheckOutHost& host);

}  // namespace edms::checkout
