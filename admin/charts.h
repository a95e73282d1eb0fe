// Charts as SVG drawn here, for the pages: no script and nothing fetched. Every label is
// escaped. Pure functions; safe from several threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace admin {

struct Bar {
  std::string label;
  long long value = 0;
};

// Upright bars side by side (minutes per day, per hour), the labels under them (only some of
// them when there are many), the largest value on the axis.
std::string ColumnChart(const std::vector<Bar>& bars, std::string_view title);

// Lying bars one under the other (top sites, users), the label on the left, the value on the
// right.
std::string BarChart(const std::vector<Bar>& bars, std::string_view title);

// One day minute by minute: the runs of the day as stretches on a line from 00:00 to 24:00.
struct Stretch {
  int start = 0;  // minute of the day
  int minutes = 0;
  std::string label;  // shown when pointed at
};
std::string DayChart(const std::vector<Stretch>& stretches, std::string_view title);

}  // namespace admin
