// The programs the tray menu starts from the agent's folder for the current user: the
// working-documents list and the trash can (a program outside this system).
#pragma once
#include <windows.h>

#include <string>

#include "common/win/client_config.h"

namespace edms {

enum class TrayProgram { WorkingDocuments, TrashCan };

// The program's file name in the agent's folder.
const char* TrayProgramFile(TrayProgram program);

// The program's argument string for `user`; false, saying why in `error`, when a value
// cannot travel in it.
bool TrayProgramArguments(TrayProgram program, const win::ClientConfig& config, const std::string& user,
                          std::string& out, std::string& error);

// Starts the program (verb "open", shown normally, not waited for). Empty when it was
// started; otherwise the message for the user: the program is not in the agent's folder, a
// value cannot travel in its argument string, or the system could not start it.
std::string StartTrayProgram(HINSTANCE instance, TrayProgram program, const win::ClientConfig& config,
                             const std::string& user);

}  // namespace edms
