// Inside the report writers: a report as a table of cells (the data for CSV and JSON beside the
// words for text and HTML) and the words of each language. Used by report_format.cpp and
// report_html.cpp only.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "store/report_format.h"

namespace store::report_sheet {

struct Words {
  const char* titles[4];  // by day, user, site, hour
  const char* date;
  const char* user;
  const char* minutes;
  const char* days;
  const char* allowance;
  const char* site;
  const char* users;
  const char* hour;
  const char* total;
  const char* unlimited;
  const char* removed;
  const char* not_recorded;
  const char* no_usage;
  const char* counted;  // "Charged minutes from %s to %s"
  const char* all_users;
  const char* one_user;  // "user %s"
  const char* made;      // "Made %s"
  const char* others;
  const char* charts[4];  // captions, by day, user, site, hour
  const char* shown_of;   // "the %d with the most minutes of %d"
};

const Words& WordsOf(Language language);

struct Cell {
  std::variant<std::monostate, std::int64_t, std::string> data;  // monostate: empty / null
  std::string shown;
};

struct Column {
  const char* name;     // CSV and JSON
  const char* heading;  // text and HTML
  bool number;
};

// The rows are made one at a time when written (a year by day and user is a quarter of a
// million of them): `fill` puts the cells of row `i` into `cells`, reusing their space.
struct Sheet {
  std::vector<Column> columns;
  std::size_t rows = 0;
  std::function<void(std::size_t i, std::vector<Cell>& cells)> fill;
  std::vector<std::string> total;  // shown under the rows; empty cells stay blank
};

Sheet SheetOf(const Report& report, Language language);

// "Charged minutes from ... to ..., all users" in the language.
std::string PeriodLine(const Report& report, Language language);

// The page: title, period, chart, the sheet as a table.
void WriteHtml(const Report& report, const Sheet& sheet, Language language, std::ostream& out);

}  // namespace store::report_sheet
