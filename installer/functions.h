// Unit Functions: the command line, the message list, running commands through the command
// interpreter and waiting for them, the file-system routines, and the restarts.
#pragma once

#include <string>

#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/process.h"

namespace installer {
namespace Functions {

// Sets the flags from the command line (substring tests on the upper-cased line) and loads the
// messages. False when the help box was shown.
bool ParseCommandLine();
// The folder the installer runs from; sets strError to MsgNoCurrentPath when there is none.
// Always true.
bool GetAppPath(std::string& path);

// Adds a text to the main window's list, one item per line; an empty text shows the box
// "Message is not defined!" instead.
void ShowMessage(const std::string& text);
// ShowMessage only while bDebug is on: the installer's trace lines.
void Debug(const std::string& text);
// Shows MsgErrorDuringInstall with strError, then clears strError.
void ShowError();

// VB's Shell: starts a Windows command line and returns the process id. Raises run-time error 53
// when the program is not found, 5 when it cannot be started.
double Shell(const std::string& path_name, platform::WindowStyle style);
// The interpreter line for a command: comspec, " /c " (or " /k "), the command in quotes.
std::string CommandLineFor(const std::string& command, bool keep_console);
// Calls CheckApp until the process is gone (true) or CheckApp fails (false, strError set).
bool WaitForProcess(double process_id, const std::string& computer_name);

// Asks the process table (through the WMI stand-in) whether the process still exists; sets the
// id to 0 when it does not. False, with strError set, when the look-up itself failed.
bool CheckApp(double& lProcessID, const std::string& strComputerName);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Makes one folder level; true when the folder exists afterwards. On failure strError is
// MsgCannotMakeDir.
bool MakeDir(const std::string& path);
// Full path of the first file called `name` in the tree under `root`, or empty.
std::string SearchFile(const std::string& root, const std::string& name);

// Stops and starts the web service (w3svc) through the command interpreter.
bool RestartServices();
// Asks the restart question; on Yes asks the system to restart with `request` (EWX_ flags).
void RestartComputer(unsigned int request);

// The text of a process id as VB shows a Double ("1234").
std::string ProcessIdText(double process_id);

}  // namespace Functions

using namespace Functions;

}  // namespace installer
