// minutrix-test-host: loads a filter library the way the web server does and sends it requests,
// printing the version record, each request's outcome and the response heads the filter sent.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/isapi/filter_host.h"

namespace {

constexpr const char* kHelp = R"(Usage: minutrix-test-host [--filter PATH] [--server-name NAME]
                          [--request USER URL]... [--keep-loaded]

Loads an ISAPI filter library (default: Minutrix.dll beside this program), calls its
GetFilterVersion, then delivers each --request to it in the web server's order
(preproc headers, authentication, URL map) and prints what the filter answered and
the response head it sent. USER "" is an anonymous request. The filter is unloaded at
the end, so its shut-down runs; with --keep-loaded the program ends with the filter still
loaded, as when the web server is killed: no shut-down runs, and whatever the requests
charged must already be in the database. The machine root is $MINUTRIX_ROOT.

Example:
  minutrix-test-host --request 'DOMAIN\alice' http://www.example.com/
)";

const char* StatusName(DWORD status) {
  switch (status) {
    case SF_STATUS_REQ_FINISHED:
      return "SF_STATUS_REQ_FINISHED";
    case SF_STATUS_REQ_FINISHED_KEEP_CONN:
      return "SF_STATUS_REQ_FINISHED_KEEP_CONN";
    case SF_STATUS_REQ_NEXT_NOTIFICATION:
      return "SF_STATUS_REQ_NEXT_NOTIFICATION";
    case SF_STATUS_REQ_HANDLED_NOTIFICATION:
      return "SF_STATUS_REQ_HANDLED_NOTIFICATION";
    case SF_STATUS_REQ_ERROR:
      return "SF_STATUS_REQ_ERROR";
    case SF_STATUS_REQ_READ_NEXT:
      return "SF_STATUS_REQ_READ_NEXT";
    default:
      return "unknown status";
  }
}

std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out.push_back(c);
  }
  return out;
}

std::string SelfDir() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string filter_path = SelfDir() + "/Minutrix.dll";
  std::string server_name = "127.0.0.1";
  std::vector<std::pair<std::string, std::string>> requests;
  bool keep_loaded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--filter" && i + 1 < argc) {
      filter_path = argv[++i];
    } else if (arg == "--server-name" && i + 1 < argc) {
      server_name = argv[++i];
    } else if (arg == "--keep-loaded") {
      keep_loaded = true;
    } else if (arg == "--request" && i + 2 < argc) {
      requests.emplace_back(argv[i + 1], argv[i + 2]);
      i += 2;
    } else {
      std::fprintf(stderr, "minutrix-test-host: bad argument \"%s\" (see --help)\n", arg.c_str());
      return 2;
    }
  }

  std::string error;
  auto filter = isapi_host::LoadedFilter::Load(filter_path, error);
  if (!filter) {
    std::fprintf(stderr, "minutrix-test-host: %s\n", error.c_str());
    return 1;
  }
  std::printf("Loaded %s\n", filter_path.c_str());
  const BOOL accepted = filter->CallGetFilterVersion();
  const auto& version = filter->version();
  std::printf("GetFilterVersion: %s (description \"%s\", flags 0x%x, filter version 0x%08x)\n",
              accepted ? "TRUE" : "FALSE", version.lpszFilterDesc, version.dwFlags,
              version.dwFilterVersion);
  if (!accepted)
    std::printf("The web server would not use this filter; requests pass unfiltered.\n");

  int number = 0;
  for (const auto& [user, url] : requests) {
    auto request = isapi_host::MakeRequest(user, url, server_name);
    const auto outcome = isapi_host::DeliverRequest({filter.get()}, request);
    std::printf("Request %d: user \"%s\" url \"%s\" -> %s\n", ++number, user.c_str(), url.c_str(),
                StatusName(outcome.status));
    for (const auto& response : request.responses) {
      std::printf("  response: %s | %s\n", response.status.c_str(),
                  Printable(response.headers).c_str());
    }
  }
  const int status = accepted ? 0 : 1;
  if (keep_loaded) {
    std::printf("Left loaded %s (no shut-down)\n", filter_path.c_str());
    std::fflush(stdout);
    // Exit handlers would run the library's static destructors, which are its shut-down.
    std::_Exit(status);
  }
  filter.reset();
  std::printf("Unloaded %s\n", filter_path.c_str());
  return status;
}
