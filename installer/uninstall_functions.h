// Unit UnInstall_Functions: the steps of the uninstall.
#pragma once

#include <string>

namespace installer {
namespace UnInstall_Functions {

// Runs the product's unregistration script for the filter Minutrix and waits for it.
bool UnRegisterFilter();
// Deletes MinutrixPath under HKLM\software\Minutrix.
bool RemovePathFromReg();
// Deletes every file the install script of `distribution` lists; folders stay, and so does the
// product database while bKeepDatabase is set (an install's removal of an old installation and
// its rollback).
bool FilesDeleted(const std::string& distribution, const std::string& product_folder,
                  const std::string& computer_name);
// Deletes a file, or the files of a folder (never the folder); the running installer and the
// install script are kept.
bool Deletefile(const std::string& path, const std::string& computer_name);

}  // namespace UnInstall_Functions

using namespace UnInstall_Functions;

}  // namespace installer
