// Unit Install_Functions: the walk of the install script that copies the product's files, and the
// folder tokens of the script.
#pragma once

#include <string>

namespace installer {
namespace Install_Functions {

// Copies every file the install script of `distribution` lists; goes on past failures and
// reports false at the end. An existing product database is never replaced: it stays, and the
// list says so.
bool FilesCopied(const std::string& distribution, const std::string& product_folder,
                 const std::string& computer_name);

// A folder that starts with "<DEFAULT WEBSITE>" or "<SYSTEM32>" becomes that folder; `token`
// tells whether it did.
void ResolveScriptDirectory(std::string& folder, bool& token);

// False, with strError = MsgScriptError and the line, when a token folder resolved to no folder
// with a drive (an unknown web root or system folder): its files would land in the current folder.
bool ResolvedFolderAllowed(const std::string& folder, bool token, const std::string& line);

// Whether a Windows path names the product's database (kDatabasePath): compared as Windows
// compares names, without case and without "." or empty components.
bool IsProductDatabase(const std::string& path);

// The number of users in the product's database (kDatabasePath), or -1 when it cannot be read.
long UsersInProductDatabase();

}  // namespace Install_Functions

using namespace Install_Functions;

}  // namespace installer
