// Unit UnInstall: DoUnInstall.
#include "installer/uninstall.h"

#include "installer/functions.h"
#include "installer/registry_functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "installer/uninstall_functions.h"
#include "platform/forms.h"

namespace installer::UnInstall {
namespace {

void Note(std::string& log, const std::string& tag) {
  if (bDebug == kTrue) log += tag;
  log += strError;
}

}  // namespace

bool DoUnInstall(std::string& log) {
  using namespace platform::forms;
  log = "[Uninstall Log] : ";
  try {
    if (bNoInstall != kTrue) {
      if (UnRegisterFilter()) {
        ShowMessage(MsgFilterRemoved);
      } else {
        Note(log, "[REMOVEFILTER] ");
      }
      if (MsgBox(MsgServicesNeedRestart, vbYesNo, "WARNING!") == vbNo) {
        MsgBox(MsgUninstallIncomplete, vbCritical, "WARNING!");
      } else if (RestartServices()) {
        ShowMessage(MsgServicesRestarted);
      } else {
        Note(log, "[RESTARTSERVICE] ");
      }
    }
    LoadProgramGroupStrings(strAppPath);
    RemoveProgramGroup(iWinVersion);
    RemoveUninstallEntry();
    if (!RemovePathFromReg()) {
      Note(log, "[RemovePathFromReg] ");
    } else if (bDebug == kTrue) {
      ShowMessage(MsgFilterPathStored);
    }
    if (FilesDeleted(strAppPath, strFiltersDirPath, strComputerName)) {
      ShowMessage(MsgFilesDeleted);
    } else {
      Note(log, "[FILESDELETED] ");
    }
    return true;
  } catch (...) {
    CaughtErr();
    if (strError.empty()) strError = MsgUninstallError;
    return false;
  }
}

}  // namespace installer::UnInstall
