// The command interpreter stand-in: runs Windows command lines with cmd's rules for the commands
// the product's installer and its scripts use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cmd {

// The text after /c or /k with cmd's quote rules: the outer quotes are kept only when the line
// holds exactly two quotes, no special character (&<>()@^|) between them, whitespace between
// them, and the quoted text names a program; otherwise a leading quote and the last quote go.
std::string StripOuterQuotes(std::string_view text);

// Runs one command line (with &, && and ||, redirections and %VARIABLES%); returns its
// errorlevel. `exit_requested` is set by the exit command.
int RunLine(std::string_view line, bool* exit_requested);

// Words of a command's arguments: blanks separate, quotes group and are removed. A "/x" glued to
// the word before it ("/s/d", "file/y") starts a new word, as cmd's switch parsing does.
std::vector<std::string> Words(std::string_view text, bool split_switches = true);

// Host glob of a Windows file name pattern (* and ?, no case; "*.*" is every name).
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Built-in commands; each returns its errorlevel and writes as cmd does.
int Copy(const std::vector<std::string>& args);
int Del(const std::vector<std::string>& args);
int Attrib(const std::vector<std::string>& args);
int MakeDirectory(const std::vector<std::string>& args);
int RemoveDirectory(const std::vector<std::string>& args);
int Type(const std::vector<std::string>& args);

// Programs of Windows that the stand-in carries itself.
int Net(const std::vector<std::string>& args);
int Regsvr32(const std::vector<std::string>& args);
int CScript(const std::vector<std::string>& args);
int MsiExec(const std::vector<std::string>& args);

// Runs a program of the machine by its Windows command line, sharing this console; returns its
// exit status, or -1 when it cannot be started (the last error says why).
int RunProgram(const std::string& command_line);

// "C:\WINNT" style name of the current folder.
std::string CurrentFolder();

// Reads a Y/N answer from standard input; the end of input counts as No.
bool AskYesNo(const std::string& question);

}  // namespace cmd
