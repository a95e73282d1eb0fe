// Unit Install_Functions, its machine checks: the Windows version class, computer name, Windows
// folder and free disk space, and the prerequisites MDAC, Jet and Access with their installers.
// Every step returns a flag and leaves its reason in strError on failure.
#pragma once

#include <cstdint>
#include <string>

namespace installer {
namespace Install_Functions {

// The free space the product needs on the drive of the product folder, in kilobytes.
inline constexpr double kNeededDiskSpaceKb = 22120;

// Stores the version class in `version`: 1 Windows NT 4, 2 major version 5 (2000, XP, 2003),
// 3 anything else (then MsgWrongOS is shown). False, with strError, on a run-time failure.
bool GetWinVer(std::int16_t& version);
// The computer name, or empty when it cannot be read.
std::string GetCompName();
// The Windows folder without a trailing "\", or empty when it cannot be read.
std::string getWindowsDir();
// True when more than 22120 KB are free on the drive of c:\Minutrix\; else false with strError.
bool CheckDiskSpace();
// Performs no check; always true.
bool IsEnvironmentOK();

// VB's FormatNumber with grouped digits and the user's number settings: `decimals` places,
// halves of a whole number going to the even neighbour.
std::string FormatNumber(double value, int decimals);

// MsAdo15.dll of the Common Files folder of the Windows folder's drive is at least 2.7. Sets
// bRestartNeeded (MDAC missing or older) and bNoCommonFiles.
bool IsMDACOK(const std::string& windows_dir);
// Asks the restart question and runs MDAC\MDAC_Typ.exe of the distribution folder.
bool InstallMDAC(const std::string& computer_name, const std::string& distribution_folder);
// msJET40.dll (else JET40.dll) of system32 is at least 4.0.2; sets bInstallJET.
bool IsJETOK(const std::string& windows_dir);
// Runs JET\JET40sp3_comp.exe of the distribution folder; strError as CheckApp left it on failure.
bool InstallJET(const std::string& computer_name, const std::string& distribution_folder);
// The first msaccess.exe of the drives, in drive order, is Access 2000 (9) or later. Stores its
// path (empty when none) in `access_path`.
bool isAccessOK(std::string& access_path);
// Installs the Access Runtime with MSIExec.exe of system32, else of the Data folder of strAppPath,
// and checks Access again.
bool CanInstallAccessRuntime();
// True when the file exists and carries a version, which is stored in `version`.
bool ReadFileVersion(const std::string& path, std::string& version);

}  // namespace Install_Functions

using namespace Install_Functions;

}  // namespace installer
