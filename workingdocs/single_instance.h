// One list at a time: a second start closes the list of the first.
#pragma once
#include <windows.h>

#include <string>

namespace edms::workingdocs {

// Registers the list's own window class (the system dialog class under the name
// WORKINGDOCS_DIALOG_CLASS, which the dialog template names), so that the list's window can be
// told from any other window with the same title. False when it cannot be registered.
bool RegisterListWindowClass(HINSTANCE instance);

// Asks the list window of an earlier start, titled `title` and of the list's own class, to
// quit and waits a bounded time for it to go. True when there is none (any more); false when
// it stays, also without asking when it is busy with a program it started (it would only quit
// once that program has ended, long after this start has given up).
bool CloseEarlierList(const std::string& title);

}  // namespace edms::workingdocs
