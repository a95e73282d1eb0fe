// What the console lists beside the users: the free sites. Read-only. Raises ado::ComError on
// failure. Not for use by several threads on one connection at once.
#pragma once

#include <string>
#include <vector>

#include "platform/ado.h"

namespace store {

// The rows of tblPages in table order, the placeholder row left out.
std::vector<std::string> ReadFreeSites(const ado::ConnectionPtr& connection);

}  // namespace store
