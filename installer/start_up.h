// The installer's start-up: what BackGround's load and InstallForm's load run.
#pragma once

#include <iosfwd>
#include <string>

#include "installer/runtime_error.h"

namespace installer {

// BackGround's load: the command line, the language and agreement dialogs, the main window.
void StartUp();
// InstallForm's load: the gathering of the machine facts and the chosen action.
void GatherAndDispatch();

// The error text of a run-time failure inside the gathering (424: the object model is missing).
std::string GatheringFailureText(const ErrObject& err);

// True, after telling `out` how to make one, when the machine root does not exist (the help box
// needs none).
bool MachineRootMissing(std::ostream& out);

// The whole program after main has set up the App object: returns the exit status.
int RunSetup();

}  // namespace installer
