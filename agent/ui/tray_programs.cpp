#include "agent/ui/tray_programs.h"

#include "agent/resource.h"
#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/program_names.h"
#include "common/text_format.h"
#include "common/win/language.h"
#include "common/win/process.h"
#include "common/win/system_error.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {

const char* TrayProgramFile(TrayProgram program) {
  return program == TrayProgram::WorkingDocuments ? kWorkingDocumentsProgram : kTrashCanProgram;
}

bool TrayProgramArguments(TrayProgram program, const win::ClientConfig& config, const std::string& user,
                          std::string& out, std::string& error) {
  ArgumentString arguments;
  arguments.Add(arg::kFilePath, "")
      .Add(arg::kAdaptorUrl, config.AdaptorURL)
      .Add(arg::kWorkFolder, config.WorkFolder)
      .Add(arg::kUserId, user);
  if (program == TrayProgram::WorkingDocuments) {
    arguments.Add(arg::kPassword, arg::kPlaceholderPassword);
  } else {
    arguments.Add(arg::kXrqShareName, "*");
  }
  return arguments.Build(out, error);
}

std::string StartTrayProgram(HINSTANCE instance, TrayProgram program, const win::ClientConfig& config,
                             const std::string& user) {
  const std::string name = TrayProgramFile(program);
  const std::string folder = win::GetAgentFolder();
  const std::string path = folder + "\\" + name;
  if (GetFileAttributesW(win::Widen(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
    win::Trace(name + " is not in the agent's folder");
    return FillPlaceholders(win::LoadStringLang(instance, IDS_PROGRAM_MISSING), {name, folder});
  }
  std::string arguments, error;
  if (!TrayProgramArguments(program, config, user, arguments, error)) {
    win::Trace(name + " not started: " + error);
    return FillPlaceholders(win::LoadStringLang(instance, IDS_ARGUMENTS_REFUSED), {name});
  }
  if (!win::StartProgram("open", path, win::QuoteArgument(arguments), SW_SHOW)) {
    const DWORD failure = GetLastError();
    win::Trace(name + " could not be started, error " + std::to_string(failure));
    return FillPlaceholders(win::LoadStringLang(instance, IDS_PROGRAM_START_FAILED),
                            {name, win::DescribeError(failure)});
  }
  win::Trace(name + " started");
  return {};
}

}  // namespace edms
