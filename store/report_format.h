// A report as the administrator reads it: aligned text with a total line, CSV, JSON, or one
// self-contained printable HTML page with an SVG chart drawn here (no script, nothing fetched).
// Every text from the database is escaped for its format. Pure functions over the rows the
// report queries give; safe from several threads.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "store/reports.h"

namespace store {

enum class ReportBy { kDay, kUser, kSite, kHour };
enum class ReportFormat { kText, kCsv, kJson, kHtml };
enum class Language { kEnglish, kDutch };

// The rows of one report: those of the list that `by` names.
struct Report {
  ReportBy by = ReportBy::kDay;
  Period period;
  std::string made_at;  // local time the report was made, shown on the HTML page
  std::vector<DayUsage> days;
  std::vector<UserUsage> users;
  std::vector<SiteUsage> sites;
  std::vector<HourUsage> hours;
};

// Runs the query that `report.by` names over `report.period`.
void FillReport(const ado::ConnectionPtr& connection, Report& report);

bool IsEmpty(const Report& report);

// Writes the report. CSV and JSON use the names date, user, minutes, days, allowance, site,
// users and hour, in any language; an allowance is -1 for unlimited and empty (null) for a user
// who is no longer listed, a site empty for minutes kept without their host. An empty report is
// a CSV head line, an empty JSON array, "no usage" as text, and a page that says so.
void WriteReport(const Report& report, ReportFormat format, Language language, std::ostream& out);

// "no usage", in the language.
std::string NoUsage(Language language);

// Label of minutes kept without their host: "(not recorded)".
std::string NotRecorded(Language language);

// `text` for a CSV field: quoted where it holds a comma, quote, line break or outer blank, and
// with a ' before a leading =, +, -, @ or tab, so that a spreadsheet never runs it as a formula.
std::string CsvField(const std::string& text);
// `text` for HTML text or an attribute: &, <, >, " and ' as references; control characters and
// bytes that are not UTF-8 as U+FFFD.
std::string HtmlEscape(const std::string& text);
// `text` as a JSON string, quotes included; bytes that are not UTF-8 as U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace store
