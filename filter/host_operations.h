// The four web server operations the filter calls, always through the request's filter context,
// and the rules for what the filter puts into a response head.
#pragma once

#include <string>

#include "platform/isapi.h"

// REMOTE_USER into `buffer` of kRequestTextSize bytes; false (the reason as the last system
// error) when the server could not give it, for example when the name does not fit.
bool ReadRemoteUser(HTTP_FILTER_CONTEXT* context, char* buffer);

// SERVER_NAME into `buffer` of kRequestTextSize bytes.
bool ReadServerName(HTTP_FILTER_CONTEXT* context, char* buffer);

// The request header "URL" into `buffer` of kRequestTextSize bytes, emptied first; stays empty
// when the header cannot be read.
void ReadUrlHeader(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_PREPROC_HEADERS* headers,
                   char* buffer);

// Sends "302 Redirect" with "Location: http://<url>\r\n\r\n". The header text never exceeds
// kRequestTextSize bytes with its terminating zero: a longer URL is cut, the blank line kept.
void SendRedirect(HTTP_FILTER_CONTEXT* context, const std::string& url);

// The header text SendRedirect sends for `url`.
std::string RedirectHeaderText(const std::string& url);

// `value` without CR, LF and NUL, so that no value can add lines to a response head.
std::string HeaderSafe(const std::string& value);

// The login name of a REMOTE_USER text: what follows its last backslash, or all of it.
std::string UserNameOf(const std::string& user_text);
