// What the console lists beside the users: the free sites and the classes. Read-only; empty on a
// database of an older build. Raise ado::ComError on failure. Not for use by several threads on
// one connection at once.
#pragma once

#include <string>
#include <vector>

#include "platform/ado.h"

namespace store {

// The rows of tblPages in table order, the placeholder row left out.
std::vector<std::string> ReadFreeSites(const ado::ConnectionPtr& connection);

struct ClassInfo {
  std::string name;  // as it was named
  long members = 0;
};
// The classes by name, with the number of their members.
std::vector<ClassInfo> ReadClasses(const ado::ConnectionPtr& connection);

}  // namespace store
