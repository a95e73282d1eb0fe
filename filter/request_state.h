// State shared by the handlers of one request decision; guarded by section 1.
#pragma once

inline constexpr int kRequestTextSize = 8192;

// The URL header of the latest request seen by OnPreprocHeaders.
extern char gblRequestUrl[kRequestTextSize];
// SERVER_NAME, fetched once and kept.
extern char gblServerName[kRequestTextSize];
// Whether the request now being decided is for a free site.
extern bool gblFreeSite;
