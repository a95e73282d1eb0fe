// What a VB program learns about itself: its command line (Command$), the folder and name of its
// program file (App.Path, App.EXEName), its title (App.Title), and environment variables (Environ).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Called once from main. The folder of the program is the one it was started from: a program
// reached through a link keeps the link's folder, as a copy of it would.
void InitApp(int argc, const char* const* argv);

// The arguments after the program name as one string, as Windows passes them (empty when none).
const std::string& AppCommand();
// Windows name of the program's folder, without a trailing "\" (except for a drive root).
const std::string& AppPath();
// The program file's name without its extension.
const std::string& AppExeName();
const std::string& AppTitle();
void SetAppTitle(std::string_view title);
// For tests: the command line as if the program had been started with it.
void SetAppCommand(std::string_view command);

// The machine's variable (profile first, then the host's), or empty.
std::string Environ(std::string_view name);

}  // namespace platform
