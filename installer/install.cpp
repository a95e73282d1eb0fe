// Unit Install: DoInstall, the install driver.
#include "installer/install.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "installer/dialogs.h"
#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/install_functions_checks.h"
#include "installer/install_functions_copy.h"
#include "installer/registry_functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "installer/uninstall.h"
#include "platform/forms.h"
#include "platform/win32_shell.h"

namespace installer::Install {
namespace {

using platform::forms::MsgBox;
using platform::forms::vbCritical;
using platform::forms::vbNo;
using platform::forms::vbYesNo;

constexpr double kSecondsPerDay = 24.0 * 60 * 60;
constexpr double kMdacSettleSeconds = 5;

// A fatal step: the driver's rollback takes over.
struct Rollback {};

void AppendTag(std::string& log, const std::string& tag) {
  if (bDebug == kTrue) log += tag;
}

void Note(std::string& log, const std::string& tag) {
  AppendTag(log, tag);
  log += strError;
}

[[noreturn]] void Fail(std::string& log, const std::string& tag) {
  Note(log, tag);
  MsgBox(strError, vbCritical, "ERROR!");
  throw Rollback{};
}

void Extra(const std::string& text) {
  if (bExtraMessages == kTrue) ShowMessage(text);
}

void Debug(const std::string& text) {
  if (bDebug == kTrue) ShowMessage(text);
}

void RefreshList() { InstallForm::Default().Refresh(); }

void AppendError(const std::string& text) { strError += text; }

// The local seconds-since-midnight clock, from the real time: a test's frozen product clock
// must not make the wait endless.
double SecondsSinceMidnight() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto whole = floor<seconds>(now);
  const std::time_t t = system_clock::to_time_t(whole);
  std::tm local{};
  localtime_r(&t, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
         duration<double>(now - whole).count();
}

void InstallShortcutLibrary(std::string& log) {
  Debug("[STKIT]");
  const std::string target = strWindowsDir + "System32\\stkit432.dll";
  if (FileExists(target)) {
    Extra(MsgStkitFound);
    return;
  }
  if (!InstallFile(strAppPath + "DLL\\stkit432.dll", target, strComputerName, false)) {
    AppendTag(log, "[INSTALLFILE(STKIT432.DLL)] ");
    return;
  }
  if (RegisterFile(target)) {
    Extra(MsgFileRegistered);
  } else {
    log += std::string(kCrLf) + kCrLf + "[INSTALLFILE(STLOT432.DLL)]" + kCrLf + strError;
  }
}

void CheckMdac(std::string& log) {
  if (bNoMDAC == kTrue) {
    ShowMessage(MsgMdacSkipped);
    return;
  }
  ShowMessage(MsgMdacVersionCheck);
  RefreshList();
  if (IsMDACOK(strWindowsDir)) {
    ShowMessage(MsgMdacPresent);
    return;
  }
  if (bRestartNeeded == kFalse) Fail(log, "[IsMDACOK] ");
  ShowMessage(MsgMdacInstalling);
  if (!InstallMDAC(strComputerName, strAppPath)) {
    AppendError(MsgMdacError);
    Fail(log, "[IsMDACOK] ");
  }
  // The fresh MDAC still needs the computer restarted, whatever the re-check finds.
  const bool checked = IsMDACOK(strWindowsDir);
  bRestartNeeded = kTrue;
  if (!checked) {
    if (bNoCommonFiles == kTrue) {
      ShowMessage(MsgMdacDllNotFound);
      return;
    }
    AppendError(MsgMdacError);
    Fail(log, "[IsMDACOK] ");
  }
  ShowMessage(MsgMdacInstalled);
  Debug("Waiting for MDAC's init to finish");
  WaitProcessingMessages(kMdacSettleSeconds);
}

void CheckJet(std::string& log) {
  if (bNoJET == kTrue) {
    ShowMessage(MsgJetSkipped);
    return;
  }
  ShowMessage(MsgJetVersionCheck);
  RefreshList();
  if (IsJETOK(strWindowsDir)) {
    ShowMessage(MsgJetPresent);
    return;
  }
  if (bInstallJET == kFalse) Fail(log, "[IsJETOK] ");
  ShowMessage("Now installing JET!");
  const bool installed = InstallJET(strComputerName, strAppPath);
  const bool checked = IsJETOK(strWindowsDir);
  if (!installed || !checked) {
    AppendError(MsgJetError);
    Fail(log, "[IsJETOK] ");
  }
  ShowMessage(MsgJetInstalled);
}

void CheckAccess(std::string& log) {
  ShowMessage(MsgAccessVersionCheck);
  RefreshList();
  if (isAccessOK(strAccessPath)) {
    Extra(MsgAccessVersionOk);
    return;
  }
  AppendTag(log, "[isAccessOK] ");
  strError.clear();
  if (!CanInstallAccessRuntime()) Fail(log, "");
  ShowMessage(MsgAccessRuntimeInstalled);
}

void OfferRestart(std::string& log) {
  if (bRestartNeeded == kFalse) {
    if (MsgBox(MsgServicesNeedRestart, vbYesNo, "WARNING!") == vbNo) {
      MsgBox(MsgServicesNotRestarted, vbCritical, "WARNING!");
    } else if (RestartServices()) {
      ShowMessage(MsgServicesRestarted);
    } else {
      Note(log, "[RestartServices] ");
    }
    return;
  }
  RestartComputer(EWX_REBOOT | EWX_FORCE);
  Note(log, "[RestartComputer] ");
}

void RunSteps(std::string& log, std::string& uninstall_log) {
  if (!MakeDir(strFiltersDirPath)) Fail(log, "[MakeDir(strFiltersDirPath)] ");
  Debug(MsgFilterPathFound);

  // A database that is there already holds the administrator's users and minutes: neither the
  // removal below, nor the copy, nor a rollback may take it.
  bKeepDatabase = ToFlag(FileExists(kDatabasePath));

  if (FileExists(kFilterDllPath) && !DoUnInstall(uninstall_log)) {
    AppendTag(log, "[DoUnInstall] ");
    log += std::string(kCrLf) + kCrLf + "[UnInstall Log]" + kCrLf + MsgUninstallError +
           uninstall_log + strError;
  }

  InstallShortcutLibrary(log);

  if (bDebug == kTrue) ShowMessage(CheckDiskSpace() ? "True" : "False");
  if (!CheckDiskSpace()) throw Rollback{};
  Extra(MsgDiskSpaceOk);

  if (!IsEnvironmentOK()) Fail(log, "[IsEnvironmentOK] ");
  Extra(MsgSystemSuitable);

  CheckMdac(log);
  CheckJet(log);
  CheckAccess(log);

  if (!FilesCopied(strAppPath, strFiltersDirPath, strComputerName)) Fail(log, "[FilesCopied] ");
  Extra(MsgFilesCopied);
  // The distribution's database comes without users: the administrator must know what that does.
  // A database that was kept is the administrator's own, and is left alone.
  if (bKeepDatabase != kTrue && UsersInProductDatabase() == 0) ShowMessage(MsgDatabaseHasNoUsers);

  if (!RegisterFilter()) Fail(log, "[RegisterFilter] ");
  ShowMessage(MsgFilterRegistered);

  if (LoadProgramGroupStrings(strAppPath)) {
    Extra(MsgProgramGroupLoaded);
  } else {
    Note(log, "[LoadProgramGroupStrings] ");
  }
  if (AddRegistryItem()) {
    Debug(MsgUninstallEntryAdded);
  } else {
    Note(log, "[AddRegistryItem] ");
  }
  if (CreateProgramGroup(iWinVersion)) {
    Debug(MsgProgramGroupCreated);
  } else {
    Note(log, "[CreateProgramGroup] ");
  }
  // The product key is part of what the install promises: an install that could not write it is
  // not reported as done.
  if (!AddPathToReg()) Fail(log, "[AddPathToReg] ");
  Debug(MsgFilterPathStored);
  RemoveReadOnlyAttribute(strFiltersDirPath);

  OfferRestart(log);
}

}  // namespace

double ElapsedSinceMidnight(double start, double now) {
  return now >= start ? now - start : now + kSecondsPerDay - start;
}

void WaitProcessingMessages(double seconds) {
  const double start = SecondsSinceMidnight();
  while (ElapsedSinceMidnight(start, SecondsSinceMidnight()) < seconds) {
    RefreshList();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool DoInstall(std::string& log) {
  log = "[Install Log] : ";
  std::string uninstall_log = "[Uninstall Log] : ";
  // The flag belongs to this run of the driver only: an uninstall afterwards removes the database.
  struct KeepDatabaseScope {
    ~KeepDatabaseScope() { bKeepDatabase = kFalse; }
  } keep_database_scope;
  try {
    try {
      RunSteps(log, uninstall_log);
      return true;
    } catch (const Rollback&) {
    } catch (...) {
      CaughtErr();
    }
    if (strError.empty()) strError = MsgErrorDuringInstall;
    MsgBox(strError + kCrLf + MsgErrorDuringInstall + kCrLf + MsgWillNowUninstall, vbCritical,
           "ERROR!");
    DoUnInstall(uninstall_log);
  } catch (...) {
    // A run-time failure of the rollback itself: the result stays a failure.
    CaughtErr();
  }
  return false;
}

}  // namespace installer::Install
