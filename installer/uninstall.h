// Unit UnInstall: takes the product off the server again.
#pragma once

#include <string>

namespace installer {
namespace UnInstall {

// Unregisters the filter, offers the service restart, removes the program group, the uninstall
// entry, the path value and the script's files. The steps' failures go into `log`; false only
// after a run-time failure.
bool DoUnInstall(std::string& log);

}  // namespace UnInstall

using namespace UnInstall;

}  // namespace installer
