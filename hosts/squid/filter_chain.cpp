// Loading the filters and turning their answers into Squid's.
#include "hosts/squid/filter_chain.h"

#include <cstdio>
#include <sstream>

#include "platform/machine.h"
#include "platform/shlwapi.h"
#include "platform/text.h"

namespace squid {
namespace {

std::string Trim(std::string_view text) { return platform::Trim(text, " "); }

// The Location of a response head the filter sent, or empty.
std::string LocationOf(const std::string& headers) {
  std::istringstream in(headers);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon != std::string::npos && platform::EqualsNoCase(line.substr(0, colon), "Location")) {
      return Trim(line.substr(colon + 1));
    }
  }
  return {};
}

}  // namespace

std::vector<std::string> RegisteredFilterPaths(std::vector<std::string>& problems) {
  std::vector<std::string> paths;
  HKEY filters = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFiltersKey, 0, KEY_READ, &filters) != ERROR_SUCCESS)
    return paths;
  std::stringstream order(platform::GetValueText(filters, nullptr, "FilterLoadOrder"));
  std::string name;
  while (std::getline(order, name, ',')) {
    name = Trim(name);
    if (name.empty()) continue;
    const std::string path = platform::GetValueText(filters, name.c_str(), "FilterPath");
    if (path.empty()) {
      problems.push_back("filter \"" + name + "\" is in FilterLoadOrder but has no FilterPath");
    } else {
      paths.push_back(path);
    }
  }
  RegCloseKey(filters);
  return paths;
}

void FilterChain::Load(const std::vector<std::string>& paths, std::vector<std::string>& problems) {
  for (const std::string& path : paths) {
    std::string host = path;
    if (!path.empty() && path[0] != '/') {
      const auto mapped = platform::HostPath(path);
      if (!mapped) {
        problems.push_back("filter " + path + ": the path names no file of this machine");
        continue;
      }
      host = mapped->string();
    }
    std::string error;
    auto filter = isapi_host::LoadedFilter::Load(host, error);
    if (!filter) {
      problems.push_back("filter " + path + ": " + error);
      continue;
    }
    if (!filter->CallGetFilterVersion()) {
      problems.push_back(
          "filter " + path +
          ": GetFilterVersion answered FALSE; it is not used and its requests pass unfiltered");
    } else {
      active_.push_back(filter.get());
    }
    filters_.push_back(std::move(filter));
  }
}

size_t FilterChain::active() const { return active_.size(); }

std::string FilterChain::Answer(std::string_view line, const std::string& server_name) {
  std::string channel;
  try {
    std::string error;
    const auto parsed = ParseRequestLine(line, channel, error, extras_);
    if (!parsed) {
      // Squid passes a request on after a BH, so a line that cannot be read is refused instead.
      if (!hinted_) {
        hinted_ = true;
        std::fprintf(stderr, "minutrix-squid-helper: %s (%s)\n", ExtrasHint(extras_).c_str(),
                     error.c_str());
        std::fflush(stderr);
      }
      return BlockAnswer(channel);
    }
    static const std::string kGet = "GET";
    const std::string& method = parsed->method.empty() ? kGet : parsed->method;
    auto request =
        isapi_host::MakeRequest(parsed->user, parsed->url, server_name, method, parsed->client);
    const auto outcome = isapi_host::DeliverRequest(active_, request);
    const bool connect = platform::EqualsNoCase(parsed->method, "CONNECT");
    if (outcome.response) {
      const std::string location = LocationOf(outcome.response->headers);
      if (location.empty()) return BlockAnswer(channel);
      // Browsers show no proxy answer to a CONNECT. The start page would only cost the user the
      // tunnel (its minute is charged all the same), so the tunnel opens; any other redirect,
      // a denial above all, refuses it.
      if (connect) {
        return IsStartPage(location, parsed->url) ? PassAnswer(channel) : BlockAnswer(channel);
      }
      return RedirectAnswer(channel, location);
    }
    if (outcome.status == SF_STATUS_REQ_ERROR || outcome.status == SF_STATUS_REQ_FINISHED ||
        outcome.status == SF_STATUS_REQ_FINISHED_KEEP_CONN) {
      return BlockAnswer(channel);
    }
    return PassAnswer(channel);
  } catch (const std::exception& e) {
    return BrokenAnswer(channel, std::string("helper failure: ") + e.what());
  } catch (...) {
    return BrokenAnswer(channel, "helper failure");
  }
}

}  // namespace squid
