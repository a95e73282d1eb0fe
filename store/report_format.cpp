// Reports as tables, and those tables as text, CSV and JSON; the escapes of every format.
#include "store/report_format.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/text.h"
#include "store/input_checks.h"
#include "store/report_sheet.h"
#include "store/usage.h"

namespace store {

namespace report_sheet {

namespace {

constexpr Words kEnglish = {
    {"Usage by day", "Usage by user", "Usage by site", "Usage by hour"},
    "Date",
    "User",
    "Minutes",
    "Days",
    "Allowance",
    "Site",
    "Users",
    "Hour",
    "Total",
    "unlimited",
    "(removed)",
    "(not recorded)",
    "no usage",
    "Charged minutes from %s to %s",
    "all users",
    "user %s",
    "Made %s",
    "others",
    {"Minutes per day and user", "Minutes per user", "Sites with the most minutes",
     "Minutes per hour of the day"},
    "the %zu with the most minutes, of %zu",
};

constexpr Words kDutch = {
    {"Gebruik per dag", "Gebruik per gebruiker", "Gebruik per site", "Gebruik per uur"},
    "Datum",
    "Gebruiker",
    "Minuten",
    "Dagen",
    "Tegoed",
    "Site",
    "Gebruikers",
    "Uur",
    "Totaal",
    "onbeperkt",
    "(verwijderd)",
    "(niet vastgelegd)",
    "geen gebruik",
    "Getelde minuten van %s tot en met %s",
    "alle gebruikers",
    "gebruiker %s",
    "Gemaakt %s",
    "overige",
    {"Minuten per dag en gebruiker", "Minuten per gebruiker", "Sites met de meeste minuten",
     "Minuten per uur van de dag"},
    "de %zu met de meeste minuten, van %zu",
};

void SetNumber(Cell& cell, std::int64_t value) {
  cell.data = value;
  cell.shown = std::to_string(value);
}
void SetText(Cell& cell, const std::string& value, const std::string& shown) {
  cell.data = value;
  cell.shown = shown;
}

std::string HourText(int hour) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:00-%02d:00", hour, (hour + 1) % 24);
  return text;
}

}  // namespace

const Words& WordsOf(Language language) { return language == Language::kDutch ? kDutch : kEnglish; }

Sheet SheetOf(const Report& report, Language language) {
  const Words& words = WordsOf(language);
  Sheet sheet;
  std::int64_t total = 0;
  switch (report.by) {
    case ReportBy::kDay:
      sheet.columns = {{"date", words.date, false},
                       {"user", words.user, false},
                       {"minutes", words.minutes, true}};
      sheet.rows = report.days.size();
      sheet.fill = [&report, day = -1LL, date = std::string()](std::size_t i,
                                                               std::vector<Cell>& cells) mutable {
        const DayUsage& row = report.days[i];
        cells.resize(3);
        // A day's rows follow each other: its date is made once.
        if (row.day != day) {
          day = row.day;
          date = DayText(day);
        }
        SetText(cells[0], date, date);
        SetText(cells[1], row.user, row.user);
        SetNumber(cells[2], row.minutes);
      };
      for (const DayUsage& row : report.days) total += row.minutes;
      sheet.total = {words.total, "", std::to_string(total)};
      break;
    case ReportBy::kUser:
      sheet.columns = {{"user", words.user, false},
                       {"minutes", words.minutes, true},
                       {"days", words.days, true},
                       {"allowance", words.allowance, true}};
      sheet.rows = report.users.size();
      sheet.fill = [&report, &words](std::size_t i, std::vector<Cell>& cells) {
        const UserUsage& row = report.users[i];
        cells.resize(4);
        SetText(cells[0], row.user, row.user);
        SetNumber(cells[1], row.minutes);
        SetNumber(cells[2], row.days);
        if (!row.allowance) {
          cells[3] = {std::monostate(), words.removed};
        } else {
          SetNumber(cells[3], *row.allowance);
          if (*row.allowance == -1) cells[3].shown = words.unlimited;
        }
      };
      for (const UserUsage& row : report.users) total += row.minutes;
      sheet.total = {words.total, std::to_string(total), "", ""};
      break;
    case ReportBy::kSite:
      sheet.columns = {{"site", words.site, false},
                       {"minutes", words.minutes, true},
                       {"users", words.users, true}};
      sheet.rows = report.sites.size();
      sheet.fill = [&report, &words](std::size_t i, std::vector<Cell>& cells) {
        const SiteUsage& row = report.sites[i];
        cells.resize(3);
        SetText(cells[0], row.site, row.site.empty() ? words.not_recorded : row.site);
        SetNumber(cells[1], row.minutes);
        SetNumber(cells[2], row.users);
      };
      for (const SiteUsage& row : report.sites) total += row.minutes;
      sheet.total = {words.total, std::to_string(total), ""};
      break;
    case ReportBy::kHour:
      sheet.columns = {{"hour", words.hour, false}, {"minutes", words.minutes, true}};
      sheet.rows = report.hours.size();
      sheet.fill = [&report](std::size_t i, std::vector<Cell>& cells) {
        const HourUsage& row = report.hours[i];
        cells.resize(2);
        SetNumber(cells[0], row.hour);
        cells[0].shown = HourText(row.hour);
        SetNumber(cells[1], row.minutes);
      };
      for (const HourUsage& row : report.hours) total += row.minutes;
      sheet.total = {words.total, std::to_string(total)};
      break;
  }
  return sheet;
}

std::string PeriodLine(const Report& report, Language language) {
  const Words& words = WordsOf(language);
  char line[256];
  std::snprintf(line, sizeof line, words.counted, DayText(report.period.first_day).c_str(),
                DayText(report.period.last_day).c_str());
  std::string who;
  if (report.period.user.empty()) {
    who = words.all_users;
  } else {
    who = words.one_user;
    who.replace(who.find("%s"), 2, report.period.user);
  }
  return std::string(line) + ", " + who;
}

}  // namespace report_sheet

namespace {

using report_sheet::Cell;
using report_sheet::Sheet;

// Aligned columns two blanks apart, numbers to the right, the total line last. The widths come
// from a first pass over the rows.
void WriteText(const Report& report, const Sheet& sheet, Language language, std::ostream& out) {
  const auto& words = report_sheet::WordsOf(language);
  std::vector<std::string> heading;
  for (const auto& column : sheet.columns) heading.push_back(platform::UpperAscii(column.heading));
  std::vector<std::string> total;
  for (const std::string& cell : sheet.total) total.push_back(platform::LowerAscii(cell));
  std::vector<std::size_t> widths(sheet.columns.size(), 0);
  const auto widen = [&](const std::vector<std::string>& line) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], Columns(line[i]));
  };
  std::vector<Cell> cells;
  std::vector<std::string> line(sheet.columns.size());
  const auto shown = [&](std::size_t n) {
    sheet.fill(n, cells);
    for (std::size_t i = 0; i < cells.size(); ++i) line[i] = Printable(cells[i].shown);
    return line;
  };
  widen(heading);
  widen(total);
  for (std::size_t n = 0; n < sheet.rows; ++n) widen(shown(n));
  const auto write = [&](const std::vector<std::string>& cells_shown) {
    std::string text;
    for (std::size_t i = 0; i < cells_shown.size(); ++i) {
      const std::string& cell = cells_shown[i];
      const std::string pad(widths[i] - Columns(cell), ' ');
      if (i > 0) text += "  ";
      text += sheet.columns[i].number ? pad + cell : cell + pad;
    }
    out << platform::TrimRight(text, " ") << "\n";
  };
  std::string period = report_sheet::PeriodLine(report, language);
  period.front() = platform::LowerChar(period.front());
  out << words.titles[static_cast<int>(report.by)] << ": " << Printable(period) << "\n\n";
  write(heading);
  for (std::size_t n = 0; n < sheet.rows; ++n) write(shown(n));
  write(total);
}

void WriteCsv(const Sheet& sheet, std::ostream& out) {
  for (std::size_t i = 0; i < sheet.columns.size(); ++i)
    out << (i > 0 ? "," : "") << sheet.columns[i].name;
  out << "\n";
  std::vector<Cell> row;
  for (std::size_t n = 0; n < sheet.rows; ++n) {
    sheet.fill(n, row);
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out << ",";
      if (const auto* number = std::get_if<std::int64_t>(&row[i].data)) {
        out << *number;
      } else if (const auto* text = std::get_if<std::string>(&row[i].data)) {
        out << CsvField(*text);
      }
    }
    out << "\n";
  }
}

void WriteJson(const Sheet& sheet, std::ostream& out) {
  if (sheet.rows == 0) {
    out << "[]\n";
    return;
  }
  out << "[\n";
  std::vector<Cell> row;
  for (std::size_t n = 0; n < sheet.rows; ++n) {
    sheet.fill(n, row);
    out << "  {";
    for (std::size_t i = 0; i < sheet.columns.size(); ++i) {
      out << (i > 0 ? ", " : "") << '"' << sheet.columns[i].name << "\": ";
      const auto& data = row[i].data;
      if (const auto* number = std::get_if<std::int64_t>(&data)) {
        out << *number;
      } else if (const auto* text = std::get_if<std::string>(&data)) {
        out << JsonString(*text);
      } else {
        out << "null";
      }
    }
    out << (n + 1 < sheet.rows ? "},\n" : "}\n");
  }
  out << "]\n";
}

// Appends the UTF-8 character at `text[at]` and returns its length, or appends `bad` and returns
// 1 for a byte that is not UTF-8 or a control character (given to `control` when it is set).
template <class Control>
std::size_t CopyCharacter(std::string_view text, std::size_t at, std::string& out, const char* bad,
                          Control control) {
  char32_t code = 0;
  const std::size_t length = Utf8Char(text.substr(at), &code);
  if (length == 0) {
    out += bad;
    return 1;
  }
  if (IsControl(code)) {
    if (!control(code)) out += bad;
    return length;
  }
  out.append(text.substr(at, length));
  return length;
}

}  // namespace

void FillReport(const ado::ConnectionPtr& connection, Report& report) {
  switch (report.by) {
    case ReportBy::kDay:
      report.days = UsageByDay(connection, report.period);
      break;
    case ReportBy::kUser:
      report.users = UsageByUser(connection, report.period);
      break;
    case ReportBy::kSite:
      report.sites = UsageBySite(connection, report.period);
      break;
    case ReportBy::kHour:
      report.hours = UsageByHour(connection, report.period);
      break;
  }
}

bool IsEmpty(const Report& report) {
  return report.days.empty() && report.users.empty() && report.sites.empty() &&
         report.hours.empty();
}

void WriteReport(const Report& report, ReportFormat format, Language language, std::ostream& out) {
  const Sheet sheet = report_sheet::SheetOf(report, language);
  switch (format) {
    case ReportFormat::kText:
      if (IsEmpty(report)) {
        out << NoUsage(language) << "\n";
      } else {
        WriteText(report, sheet, language, out);
      }
      break;
    case ReportFormat::kCsv:
      WriteCsv(sheet, out);
      break;
    case ReportFormat::kJson:
      WriteJson(sheet, out);
      break;
    case ReportFormat::kHtml:
      report_sheet::WriteHtml(report, sheet, language, out);
      break;
  }
}

std::string NoUsage(Language language) { return report_sheet::WordsOf(language).no_usage; }

std::string NotRecorded(Language language) { return report_sheet::WordsOf(language).not_recorded; }

std::string CsvField(const std::string& text) {
  std::string field = text;
  if (!field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string::npos)
    field.insert(0, "'");
  const bool quote = field.find_first_of(",\"\r\n") != std::string::npos ||
                     (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!quote) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string HtmlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    switch (text[at]) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        at += CopyCharacter(text, at, escaped, "\xEF\xBF\xBD", [](char32_t) { return false; });
        continue;
    }
    ++at;
  }
  return escaped;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
      ++at;
      continue;
    }
    at += CopyCharacter(text, at, json, "\\ufffd", [&](char32_t code) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      json += escape;
      return true;
    });
  }
  return json + "\"";
}

}  // namespace store
