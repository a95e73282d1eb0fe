// Storage of the shared request state.
#include "filter/request_state.h"

char gblRequestUrl[kRequestTextSize];
char gblServerName[kRequestTextSize];
bool gblFreeSite = false;
