// The store's three questions about a request: is the user monitored and has time left, is the URL
// a free site, has the user unlimited access. Also positions Users on one user's row.
#pragma once

#include <string>

// Moves Users to the row whose UserName equals the upper-cased `userName`, or past its end.
// The caller holds section 3; database errors are raised to it.
void SeekUserInSet(const std::string& userName);

// 1 with `hasTime`/`found` set (an unknown user has time and is not found); 0 with both false
// after a database error. Takes section 3.
int LookUpUserInSet(const std::string& userName, bool* hasTime, bool* found);

// 1 when `url`'s host is this server (with or without its port; an empty name is no server) or a
// free-site row matches it (case-insensitive): a row "host:NAME" when the host is NAME or ends in
// ".NAME", an empty or blank row never, any other row when the URL contains its text. Else 0.
// Moves tblPages; its caller holds section 1. Database errors are raised.
int LookUpSiteInSet(const char* url, const char* serverName);

// True when the user's allowance is -1. Takes section 3; database errors are raised.
bool DoesUserHaveUnlimitedTime(const std::string& userName);
