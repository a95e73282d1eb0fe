// The commands of minutrix-machine.
#pragma once

#include <string>
#include <vector>

namespace machine_tool {

// Lays out a new machine root in `dir`. Returns the exit status; messages go to stderr.
int Init(const std::string& dir);

// reg.exe's add, query and delete, with its arguments (args[0] is the operation).
int Reg(const std::vector<std::string>& args);

}  // namespace machine_tool
