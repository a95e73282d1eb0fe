// Calls into the web server and the response head's text.
#include "filter/host_operations.h"

#include <cstring>

#include "filter/request_state.h"

namespace {
constexpr const char* kLocationHead = "Location: http://";
constexpr const char* kHeadEnd = "\r\n\r\n";
}  // namespace

bool ReadRemoteUser(HTTP_FILTER_CONTEXT* context, char* buffer) {
  DWORD size = kRequestTextSize;
  buffer[0] = '\0';
  char name[] = "REMOTE_USER";
  const BOOL ok = context->GetServerVariable(context, name, buffer, &size);
  buffer[kRequestTextSize - 1] = '\0';
  if (!ok) buffer[0] = '\0';
  return ok != FALSE;
}

bool ReadServerName(HTTP_FILTER_CONTEXT* context, char* buffer) {
  DWORD size = kRequestTextSize;
  char name[] = "SERVER_NAME";
  const BOOL ok = context->GetServerVariable(context, name, buffer, &size);
  buffer[kRequestTextSize - 1] = '\0';
  if (!ok) buffer[0] = '\0';
  return ok != FALSE;
}

void ReadUrlHeader(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_PREPROC_HEADERS* headers,
                   char* buffer) {
  buffer[0] = '\0';
  if (headers == nullptr || headers->GetHeader == nullptr) return;
  DWORD size = kRequestTextSize;
  char name[] = "URL";
  if (!headers->GetHeader(context, name, buffer, &size)) buffer[0] = '\0';
  buffer[kRequestTextSize - 1] = '\0';
}

std::string HeaderSafe(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

std::string RedirectHeaderText(const std::string& url) {
  const size_t room = kRequestTextSize - 1 - std::strlen(kLocationHead) - std::strlen(kHeadEnd);
  const std::string safe = HeaderSafe(url);
  return kLocationHead + safe.substr(0, room) + kHeadEnd;
}

void SendRedirect(HTTP_FILTER_CONTEXT* context, const std::string& url) {
  char status[] = "302 Redirect";
  std::string header = RedirectHeaderText(url);
  context->ServerSupportFunction(context, SF_REQ_SEND_RESPONSE_HEADER, status,
                                 reinterpret_cast<ULONG_PTR>(header.c_str()), 0);
}

std::string UserNameOf(const std::string& user_text) {
  const size_t slash = user_text.rfind('\\');
  return slash == std::string::npos ? user_text : user_text.substr(slash + 1);
}
