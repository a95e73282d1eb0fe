// The host side of the ISAPI filter interface.
#include "hosts/isapi/filter_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace isapi_host {
namespace {

constexpr DWORD kErrorInvalidIndex = 1413;  // ERROR_INVALID_INDEX: no such server variable
constexpr DWORD kErrorNotSupported = 50;

// What the callbacks reach through HTTP_FILTER_CONTEXT::ServerContext.
struct CallContext {
  Request* request;
  std::vector<std::unique_ptr<char[]>> allocations;
};

Request& RequestOf(HTTP_FILTER_CONTEXT* pfc) {
  return *static_cast<CallContext*>(pfc->ServerContext)->request;
}

// Copies `value` with its terminating zero into the caller's buffer of *size bytes.
BOOL CopyOut(const std::string& value, LPVOID buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto needed = static_cast<DWORD>(value.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = needed;
  return TRUE;
}

std::string HeaderKey(std::string name) {
  while (!name.empty() && name.back() == ':') name.pop_back();
  return name;
}

// A server variable or header of the request, as the web server hands it to a filter.
BOOL CopyNamed(const NamedValues& values, const std::string& name, LPVOID buffer, LPDWORD size) {
  const auto it = values.find(name);
  if (it == values.end()) {
    SetLastError(kErrorInvalidIndex);
    return FALSE;
  }
  return CopyOut(it->second, buffer, size);
}

BOOL WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (pfc == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CopyNamed(RequestOf(pfc).server_variables, name, buffer, size);
}

BOOL WINAPI AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers, DWORD) {
  if (pfc == nullptr || headers == nullptr) return FALSE;
  RequestOf(pfc).added_response_headers.emplace_back(headers);
  return TRUE;
}

BOOL WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer, LPDWORD bytes, DWORD) {
  if (pfc == nullptr || buffer == nullptr || bytes == nullptr) return FALSE;
  RequestOf(pfc).written.append(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

void* WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD) {
  if (pfc == nullptr) return nullptr;
  auto* call = static_cast<CallContext*>(pfc->ServerContext);
  call->allocations.push_back(std::make_unique<char[]>(size == 0 ? 1 : size));
  return call->allocations.back().get();
}

BOOL WINAPI ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE request_type, PVOID data,
                                  ULONG_PTR ul1, ULONG_PTR) {
  if (pfc == nullptr) return FALSE;
  if (request_type != SF_REQ_SEND_RESPONSE_HEADER) {
    SetLastError(kErrorNotSupported);
    return FALSE;
  }
  SentResponse response;
  if (data != nullptr) response.status = static_cast<const char*>(data);
  if (ul1 != 0) response.headers = reinterpret_cast<const char*>(ul1);
  RequestOf(pfc).responses.push_back(std::move(response));
  return TRUE;
}

BOOL WINAPI GetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (pfc == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CopyNamed(RequestOf(pfc).headers, HeaderKey(name), buffer, size);
}

BOOL WINAPI SetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) {
  if (pfc == nullptr || name == nullptr) return FALSE;
  if (value == nullptr || *value == '\0') {
    RequestOf(pfc).headers.erase(HeaderKey(name));
  } else {
    RequestOf(pfc).headers[HeaderKey(name)] = value;
  }
  return TRUE;
}

BOOL WINAPI AddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) {
  if (pfc == nullptr || name == nullptr || value == nullptr) return FALSE;
  std::string& existing = RequestOf(pfc).headers[HeaderKey(name)];
  existing = existing.empty() ? std::string(value) : existing + ", " + value;
  return TRUE;
}

bool Ends(DWORD status) {
  return status == SF_STATUS_REQ_FINISHED || status == SF_STATUS_REQ_FINISHED_KEEP_CONN ||
         status == SF_STATUS_REQ_ERROR;
}

}  // namespace

NamedValues::iterator NamedValues::find(std::string_view name) {
  return std::find_if(entries_.begin(), entries_.end(), [name](const value_type& entry) {
    return entry.first.size() == name.size() && platform::EqualsNoCase(entry.first, name);
  });
}

NamedValues::const_iterator NamedValues::find(std::string_view name) const {
  return std::find_if(entries_.begin(), entries_.end(), [name](const value_type& entry) {
    return entry.first.size() == name.size() && platform::EqualsNoCase(entry.first, name);
  });
}

std::string& NamedValues::operator[](std::string_view name) {
  const auto it = find(name);
  if (it != entries_.end()) return it->second;
  return entries_.emplace_back(std::string(name), std::string()).second;
}

std::size_t NamedValues::erase(std::string_view name) {
  const auto it = find(name);
  if (it == entries_.end()) return 0;
  entries_.erase(it);
  return 1;
}

void NamedValues::add(std::string name, std::string value) {
  entries_.emplace_back(std::move(name), std::move(value));
}

Request MakeRequest(const std::string& user, const std::string& url, const std::string& server_name,
                    const std::string& method, const std::string& client) {
  Request request;
  auto& variables = request.server_variables;
  variables.reserve(7);
  variables.add("AUTH_USER", user);
  variables.add("LOGON_USER", user);
  if (!client.empty()) variables.add("REMOTE_ADDR", client);
  variables.add("REMOTE_USER", user);
  variables.add("REQUEST_METHOD", method);
  variables.add("SERVER_NAME", server_name);
  variables.add("URL", url);
  auto& headers = request.headers;
  headers.reserve(4);
  headers.add("method", method);
  headers.add("URL", url);
  headers.add("version", "HTTP/1.1");
  return request;
}

std::unique_ptr<LoadedFilter> LoadedFilter::Load(const std::string& host_path, std::string& error) {
  void* handle = ::dlopen(host_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : "cannot load " + host_path;
    return nullptr;
  }
  std::unique_ptr<LoadedFilter> filter(new LoadedFilter);
  filter->handle_ = handle;
  filter->path_ = host_path;
  filter->get_filter_version_ =
      reinterpret_cast<PFN_GETFILTERVERSION>(::dlsym(handle, "GetFilterVersion"));
  filter->http_filter_proc_ =
      reinterpret_cast<PFN_HTTPFILTERPROC>(::dlsym(handle, "HttpFilterProc"));
  if (filter->get_filter_version_ == nullptr || filter->http_filter_proc_ == nullptr) {
    error = host_path + " does not export GetFilterVersion and HttpFilterProc";
    return nullptr;  // the destructor unloads it
  }
  return filter;
}

LoadedFilter::~LoadedFilter() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

BOOL LoadedFilter::CallGetFilterVersion() {
  std::memset(&version_, 0, sizeof version_);
  version_.dwServerFilterVersion = kServerFilterVersion;
  const BOOL result = get_filter_version_(&version_);
  version_.lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  accepted_ = result != FALSE;
  return result;
}

DWORD LoadedFilter::Notify(Request& request, DWORD notification_type, void* notification) {
  CallContext call{&request, {}};
  HTTP_FILTER_CONTEXT context{};
  context.cbSize = sizeof context;
  context.Revision = HTTP_FILTER_REVISION;
  context.ServerContext = &call;
  context.fIsSecurePort = FALSE;
  context.GetServerVariable = GetServerVariable;
  context.AddResponseHeaders = AddResponseHeaders;
  context.WriteClient = WriteClient;
  context.AllocMem = AllocMem;
  context.ServerSupportFunction = ServerSupportFunction;
  return http_filter_proc_(&context, notification_type, notification);
}

Outcome DeliverRequest(const std::vector<LoadedFilter*>& filters, Request& request) {
  Outcome outcome;
  const auto url_it = request.headers.find("URL");
  std::string url = url_it != request.headers.end() ? url_it->second : std::string();

  HTTP_FILTER_PREPROC_HEADERS preproc{};
  preproc.GetHeader = GetHeader;
  preproc.SetHeader = SetHeader;
  preproc.AddHeader = AddHeader;
  preproc.HttpStatus = 0;

  const auto user_it = request.server_variables.find("REMOTE_USER");
  const std::string_view user =
      user_it != request.server_variables.end() ? std::string_view(user_it->second) : "";
  // The usual sizes live on the stack: this runs for every request.
  char user_small[SF_MAX_USERNAME] = {};
  std::vector<char> user_large;
  char* user_buffer = user_small;
  DWORD user_size = SF_MAX_USERNAME;
  if (user.size() + 1 > SF_MAX_USERNAME) {
    user_large.assign(user.size() + 1, '\0');
    user_buffer = user_large.data();
    user_size = static_cast<DWORD>(user_large.size());
  }
  std::memcpy(user_buffer, user.data(), user.size());
  user_buffer[user.size()] = '\0';
  char password_buffer[SF_MAX_PASSWORD] = {};
  HTTP_FILTER_AUTHENT authent{user_buffer, user_size, password_buffer, SF_MAX_PASSWORD};

  char physical_path[MAX_PATH] = {};
  HTTP_FILTER_URL_MAP url_map{nullptr, physical_path, MAX_PATH};

  const DWORD sequence[] = {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTHENTICATION, SF_NOTIFY_URL_MAP};
  for (DWORD type : sequence) {
    void* record = nullptr;
    if (type == SF_NOTIFY_PREPROC_HEADERS) record = &preproc;
    if (type == SF_NOTIFY_AUTHENTICATION) record = &authent;
    if (type == SF_NOTIFY_URL_MAP) {
      const auto it = request.headers.find("URL");  // a filter may have rewritten it
      url = it != request.headers.end() ? it->second : url;
      url_map.pszURL = url.c_str();
      record = &url_map;
    }
    for (LoadedFilter* filter : filters) {
      if (!filter->accepted()) continue;
      const DWORD flags = filter->version().dwFlags;
      if ((flags & type) == 0 || (flags & SF_NOTIFY_NONSECURE_PORT) == 0) continue;
      const DWORD status = filter->Notify(request, type, record);
      outcome.status = status;
      if (!outcome.response && !request.responses.empty())
        outcome.response = request.responses.front();
      if (Ends(status)) {
        outcome.ended_at = type;
        return outcome;
      }
      if (status == SF_STATUS_REQ_HANDLED_NOTIFICATION) break;
    }
  }
  if (!outcome.response && !request.responses.empty()) outcome.response = request.responses.front();
  return outcome;
}

}  // namespace isapi_host
