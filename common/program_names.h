// The file names of the system's programs: they stand side by side in the agent's folder and
// start each other from there.
#pragma once

namespace edms {

inline constexpr char kAgentProgram[] = "Pellarin.exe";
inline constexpr char kCheckOutProgram[] = "ZTCheckOut.exe";
inline constexpr char kCheckInProgram[] = "ZTCheckIn.exe";
inline constexpr char kCancelProgram[] = "ZTCheckOutCancel.exe";
inline constexpr char kWorkingDocumentsProgram[] = "ZTWorkingDocuments.exe";
// Not one of this system's programs: the agent only starts it.
inline constexpr char kTrashCanProgram[] = "ZTTrashCan.exe";

}  // namespace edms
