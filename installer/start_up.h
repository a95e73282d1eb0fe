// The installer's start-up: what BackGround's load and InstallForm's load run.
#pragma once

namespace installer {

// BackGround's load: the command line, the language and agreement dialogs, the main window.
void StartUp();
// InstallForm's load: the gathering of the machine facts and the chosen action.
void GatherAndDispatch();

// The whole program after main has set up the App object: returns the exit status.
int RunSetup();

}  // namespace installer
