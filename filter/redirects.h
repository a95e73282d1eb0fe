// The redirects to the product page: the time left, the start page, and the denied message with
// warning mode's one warning per counting period.
#pragma once

#include <string>

#include "platform/isapi.h"

// Host name of the product's own web site, sent as the requested URL of the time-left and denied
// pages so that their "go on" link leads somewhere useful.
inline constexpr const char* ProductHomeHost = "www.minutrix.com";

// The time-left page (`userAsked`), or the start page for the captured URL. Takes section 3;
// database errors are raised to the caller with section 3 released.
void ShowTimeLeft(HTTP_FILTER_CONTEXT* context, const std::string& userName, bool userAsked);

// The denied page for the request's user; in warning mode only once per counting period.
// Takes section 3; database errors are raised to the caller with section 3 released.
void WriteDeniedMessage(HTTP_FILTER_CONTEXT* context);

struct HoursNow;
// Sends the denied page for a request outside the allowed hours: the OutsideHoursMessage text,
// and after the usual parameters when browsing opens again (OpensAt=HH:MM; OpensOn=today,
// tomorrow, mon..sun within the week, next-mon..next-sun a week ahead).
void WriteOutsideHoursMessage(HTTP_FILTER_CONTEXT* context, const HoursNow& hours);

// The product page's URL without its scheme; values are inserted as they are, except that CR, LF
// and NUL are dropped. An empty `deniedMessage` with `denied` false gives the time-left form.
std::string ProductPageUrl(const std::string& userName, long timeLeft,
                           const std::string& requestedUrl, bool denied,
                           const std::string& deniedMessage);
