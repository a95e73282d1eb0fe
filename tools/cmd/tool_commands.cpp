// The Windows programs the interpreter stand-in carries: NET START/STOP over the machine's
// services, REGSVR32, CSCRIPT (scripts are executables with a #! line here) and MSIEXEC.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/command_line.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/shlwapi.h"
#include "platform/text.h"
#include "tools/cmd/interpreter.h"

namespace cmd {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordsKey = "SOFTWARE\\Minutrix Machine";

// Runs a host command of a service with /bin/sh in the machine root; its exit status.
int RunHost(const std::string& command) {
  if (command.empty()) return 0;
  platform::HostCommand run;
  run.argv = {"/bin/sh", "-c", command};
  run.working_dir = platform::MachineRoot();
  const auto result = platform::RunHostCommand(run);
  return result ? result->exit_code : 127;
}

std::optional<platform::ServiceConfig> FindByNameOrDisplay(const std::string& name) {
  if (auto by_name = platform::FindService(name)) return by_name;
  for (auto& s : platform::AllServices()) {
    if (platform::EqualsNoCase(s.display_name, name)) return s;
  }
  return std::nullopt;
}

int HelpMessage(const char* text, int number) {
  std::printf("%s\n\nMore help is available by typing NET HELPMSG %d.\n\n", text, number);
  return 2;
}

bool StartService(const platform::ServiceConfig& service) {
  for (const std::string& dep : service.depends_on) {
    const auto needed = platform::FindService(dep);
    if (needed && !platform::ServiceRunning(needed->name) && !StartService(*needed)) return false;
  }
  std::printf("The %s service is starting.\n", service.display_name.c_str());
  if (RunHost(service.start_command) != 0) {
    std::printf("The %s service could not be started.\n\nA system error has occurred.\n\n",
                service.display_name.c_str());
    return false;
  }
  if (!platform::RecordServiceState(service.name, true)) {
    std::printf("The %s service could not be started.\n\nAccess is denied.\n\n",
                service.display_name.c_str());
    return false;
  }
  std::printf("The %s service was started successfully.\n\n", service.display_name.c_str());
  return true;
}

// How long net stop waits for the work of a stopping service to end.
constexpr std::chrono::seconds kServiceStopWait{30};

bool StopService(const platform::ServiceConfig& service) {
  std::printf("The %s service is stopping.\n", service.display_name.c_str());
  if (RunHost(service.stop_command) != 0) {
    std::printf("The %s service could not be stopped.\n\n", service.display_name.c_str());
    return false;
  }
  if (!platform::RecordServiceState(service.name, false)) {
    std::printf("The %s service could not be stopped.\n\nAccess is denied.\n\n",
                service.display_name.c_str());
    return false;
  }
  // Stopped means its work has ended: the filters' unloading is done (and logged) before
  // whatever runs next, an uninstall's file deletion say.
  if (!platform::WaitForServiceWorkToEnd(service.name, kServiceStopWait)) {
    std::printf("The %s service could not be stopped.\n\n", service.display_name.c_str());
    return false;
  }
  std::printf("The %s service was stopped successfully.\n\n", service.display_name.c_str());
  return true;
}

std::vector<platform::ServiceConfig> RunningDependents(const platform::ServiceConfig& service) {
  std::vector<platform::ServiceConfig> out;
  for (auto& s : platform::AllServices()) {
    for (const std::string& dep : s.depends_on) {
      if (platform::EqualsNoCase(dep, service.name) && platform::ServiceRunning(s.name))
        out.push_back(s);
    }
  }
  return out;
}

void Record(const char* subkey, const std::string& name, const std::string& value) {
  const std::string key = std::string(kRecordsKey) + "\\" + subkey;
  if (!value.empty()) {
    platform::SetValueText(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), value);
    return;
  }
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(handle, name.c_str());
  RegCloseKey(handle);
}

// Runs `program` (a Windows name) with `args` and returns its status, or -1.
int RunWithArgs(const std::string& program, const std::vector<std::string>& args) {
  std::string line = platform::QuoteArgument(program);
  for (const auto& a : args) line += " " + platform::QuoteArgument(a);
  return RunProgram(line);
}

}  // namespace

int Net(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  bool yes = false;
  for (const auto& a : args) {
    const std::string s = platform::LowerAscii(a);
    if (s == "/y" || s == "/yes")
      yes = true;
    else if (s == "/n" || s == "/no")
      yes = false;
    else
      words.push_back(a);
  }
  const std::string verb = words.empty() ? "" : platform::LowerAscii(words[0]);
  if (verb != "start" && verb != "stop") {
    std::puts("The syntax of this command is:\n\nNET [ START | STOP ] [service]\n");
    return 1;
  }
  if (words.size() == 1) {
    if (verb == "stop") {
      std::puts("The syntax of this command is:\n\nNET STOP\nservice\n");
      return 1;
    }
    std::puts("These Windows services are started:\n");
    for (const auto& s : platform::AllServices()) {
      if (platform::ServiceRunning(s.name)) std::printf("   %s\n", s.display_name.c_str());
    }
    std::puts("\nThe command completed successfully.\n");
    return 0;
  }
  std::string name;
  for (size_t i = 1; i < words.size(); ++i) name += (i > 1 ? " " : "") + words[i];
  const auto service = FindByNameOrDisplay(name);
  if (!service) return HelpMessage("The service name is invalid.", 2185);
  if (verb == "start") {
    if (platform::ServiceRunning(service->name)) {
      return HelpMessage("The requested service has already been started.", 2182);
    }
    return StartService(*service) ? 0 : 2;
  }
  if (!platform::ServiceRunning(service->name)) {
    std::printf("The %s service is not started.\n", service->display_name.c_str());
    return HelpMessage("", 3521);
  }
  const auto dependents = RunningDependents(*service);
  if (!dependents.empty()) {
    std::printf(
        "The following services are dependent on the %s service.\n"
        "Stopping the %s service will also stop these services.\n\n",
        service->display_name.c_str(), service->display_name.c_str());
    for (const auto& d : dependents) std::printf("   %s\n", d.display_name.c_str());
    std::puts("");
    if (yes) {
      std::puts("Do you want to continue this operation? (Y/N) [N]: Y\n");
    } else if (!AskYesNo("Do you want to continue this operation? (Y/N) [N]: ")) {
      return 2;
    }
    for (const auto& d : dependents) {
      if (!StopService(d)) return 2;
    }
  }
  return StopService(*service) ? 0 : 2;
}

int Regsvr32(const std::vector<std::string>& args) {
  bool silent = false, unregister = false;
  std::string file;
  for (const auto& a : args) {
    const std::string s = platform::LowerAscii(a);
    if (s == "/s")
      silent = true;
    else if (s == "/u")
      unregister = true;
    else if (s == "/n" || s.rfind("/i", 0) == 0)
      continue;
    else
      file += (file.empty() ? "" : " ") + a;
  }
  if (file.empty()) {
    if (!silent)
      std::puts("No DLL name specified.\n\nUsage: regsvr32 [/u] [/s] [/n] [/i[:cmdline]] dllname");
    return 1;
  }
  const auto host = platform::HostPath(file);
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) {
    if (!silent)
      std::printf("LoadLibrary(\"%s\") failed - The specified module could not be found.\n",
                  file.c_str());
    return 3;
  }
  const std::string name = platform::WindowsPath(*host);
  Record("Registered Servers", name, unregister ? "" : "registered");
  if (!silent) {
    std::printf("%s in %s succeeded.\n", unregister ? "DllUnregisterServer" : "DllRegisterServer",
                name.c_str());
  }
  return 0;
}

int CScript(const std::vector<std::string>& args) {
  bool logo = true;
  std::string script;
  std::vector<std::string> script_args;
  for (const auto& a : args) {
    if (script.empty() && a.rfind("//", 0) == 0) {
      if (platform::LowerAscii(a) == "//nologo") logo = false;
      continue;
    }
    if (script.empty()) {
      script = a;
    } else {
      script_args.push_back(a);
    }
  }
  if (logo) {
    std::puts(
        "Microsoft (R) Windows Script Host Version 5.6\n"
        "Copyright (C) Microsoft Corporation 1996-2001. All rights reserved.\n");
  }
  if (script.empty()) {
    std::puts("Usage: CScript scriptname.extension [option...] [arguments...]");
    return 1;
  }
  const auto host = platform::HostPath(script);
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) {
    std::printf("Input Error: Can not find script file \"%s\".\n", script.c_str());
    return 1;
  }
  if (!platform::IsExecutableFile(*host)) {
    std::printf(
        "CScript Error: \"%s\" cannot run: on this machine scripts are executables with a #! "
        "line.\n",
        script.c_str());
    return 1;
  }
  const int status = RunWithArgs(platform::WindowsPath(*host), script_args);
  return status < 0 ? 1 : status;
}

int MsiExec(const std::vector<std::string>& args) {
  std::string mode;
  std::string package;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string s = platform::LowerAscii(args[i]);
    if ((s == "/i" || s == "/x" || s == "/a" || s == "/f") && package.empty() &&
        i + 1 < args.size()) {
      mode = s;
      package = args[++i];
    } else {
      rest.push_back(args[i]);
    }
  }
  if (package.empty()) {
    std::puts(
        "Windows (R) Installer.\n\nmsiexec /Option <Required Parameter> [Optional Parameter]\n\n"
        "Install Options\n\t</package | /i> <Product.msi>\n\t</uninstall | /x> <Product.msi>");
    return 1639;
  }
  const auto host = platform::HostPath(package);
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) {
    std::printf(
        "This installation package could not be opened. Verify that the package exists and that "
        "you "
        "can access it, or contact the application vendor to verify that this is a valid Windows "
        "Installer package.\n");
    return 1619;
  }
  const std::string name = platform::WindowsPath(*host);
  // A package that is a program of this platform does its own installing; a plain file is only
  // recorded as installed.
  if (platform::IsExecutableFile(*host)) {
    const int status = RunWithArgs(name, rest);
    if (status == 0) Record("Installed Packages", name, mode == "/x" ? "" : "installed");
    return status < 0 ? 1603 : status;
  }
  Record("Installed Packages", name, mode == "/x" ? "" : "installed");
  return 0;
}

}  // namespace cmd
