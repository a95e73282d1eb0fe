// Unit Install: the install driver that runs every install step in its fixed order and rolls the
// installation back through DoUnInstall on a fatal failure.
#pragma once

#include <string>

namespace installer {
namespace Install {

// Installs the product (removing an existing installation first). `log` gets the install log;
// false after a rollback.
bool DoInstall(std::string& log);

// Waits `seconds` by the seconds-since-midnight clock, keeping the main window painted; ends on
// time also when midnight passes during the wait.
void WaitProcessingMessages(double seconds);

// Seconds a wait started at `start` has lasted at `now`, both seconds since midnight.
double ElapsedSinceMidnight(double start, double now);

}  // namespace Install

using namespace Install;

}  // namespace installer
