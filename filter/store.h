// The user-time store: connection, data sets, look-ups and time accounting.
#pragma once

#include "filter/data_sets.h"
#include "filter/lookups.h"
#include "filter/reset_marker.h"
#include "filter/time_accounting.h"
#include "filter/user_db.h"
