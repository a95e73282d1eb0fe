// The report, history and audit commands over the store's queries and report writers.
#include "tools/db/report_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/clock.h"
#include "platform/text.h"
#include "store/input_checks.h"
#include "store/report_format.h"
#include "store/reports.h"
#include "store/usage.h"
#include "tools/db/user_times_db.h"

namespace user_times_db {
namespace {

namespace fs = std::filesystem;
using store::Printable;

std::string Option(const Options& options, const char* name, const std::string& fallback) {
  const auto found = options.find(name);
  return found != options.end() ? found->second : fallback;
}

// The option's day; `fallback` when it is not given.
long long DayOption(const Options& options, const char* name, long long fallback) {
  const auto found = options.find(name);
  if (found == options.end()) return fallback;
  const auto day = store::ParseDay(found->second);
  if (!day) {
    throw DbError(std::string(name) + " '" + Printable(found->second) +
                  "' is not a date that exists; give it as YYYY-MM-DD.");
  }
  return *day;
}

long long Today() { return store::LocalDayNumber(platform::Now()); }

// The user a name or the option --user gives, upper case; DbError for a blank one (that would
// quietly mean every user, or none).
std::string UserName(const std::string& name, const char* what) {
  if (name.find_first_not_of(platform::kWhitespace) == std::string::npos)
    throw DbError(std::string(what) + " needs a user name, not a blank.");
  return platform::UpperAscii(name);
}
std::string UserOption(const Options& options) {
  const auto found = options.find("--user");
  return found == options.end() ? "" : UserName(found->second, "--user");
}

// One of `choices`, by its name; DbError naming the option and the choices otherwise.
template <class Value, std::size_t N>
Value Choice(const Options& options, const char* name,
             const std::pair<const char*, Value> (&choices)[N]) {
  const std::string given = Option(options, name, choices[0].first);
  std::string names;
  for (const auto& [text, value] : choices) {
    if (given == text) return value;
    names += names.empty() ? text : std::string(", ") + text;
  }
  throw DbError(std::string(name) + " is one of " + names + ", not '" + Printable(given) + "'.");
}

// The user an option names, upper case, refused unless it is a user now or has minutes in the
// period.
void CheckUser(const ado::ConnectionPtr& connection, const store::Period& period) {
  if (!period.user.empty() && !store::KnownUser(connection, period.user, period))
    throw DbError("there is no user " + Printable(period.user) + ".");
}

std::string Clock(int minute) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", minute / 60 % 24, minute % 60);
  return text;
}

std::string LocalNow() {
  const std::tm tm = platform::LocalNow();
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm));
}

// Lines of cells in columns two blanks apart; `right` columns are aligned to the right.
void WriteColumns(const std::vector<std::vector<std::string>>& lines,
                  const std::vector<bool>& right, std::ostream& out) {
  std::vector<std::size_t> widths(right.size(), 0);
  for (const auto& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i)
      widths[i] = std::max(widths[i], store::Columns(line[i]));
  }
  for (const auto& line : lines) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string pad(widths[i] - store::Columns(line[i]), ' ');
      if (i > 0) text += "  ";
      text += right[i] ? pad + line[i] : line[i] + pad;
    }
    out << platform::TrimRight(text, " ") << "\n";
  }
}

// Writes the report as the whole file `file`; DbError when it cannot. A file made here is
// removed again after a failed write; any other (a device, a file that was there) is left.
void WriteFile(const std::string& file, const store::Report& report, store::ReportFormat format,
               store::Language language) {
  std::error_code ec;
  const bool existed = fs::exists(fs::symlink_status(file, ec));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw DbError("cannot write the report to " + Printable(file) + ": " + std::strerror(errno) +
                  ".");
  }
  store::WriteReport(report, format, language, out);
  out.close();
  if (!out) {
    const int error = errno;
    if (!existed && fs::is_regular_file(file, ec)) fs::remove(file, ec);
    throw DbError("cannot write the report to " + Printable(file) + ": " + std::strerror(error) +
                  ".");
  }
}

// Refuses an output file that is the database or one of its companions: writing the report
// there would destroy the users and their history.
void CheckOutput(const std::string& path, const std::string& file) {
  if (file.empty()) throw DbError("--output needs a file name.");
  std::error_code ec;
  const fs::path database = fs::weakly_canonical(HostFile(path), ec);
  const fs::path output = fs::weakly_canonical(fs::absolute(file, ec), ec);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    if (!database.empty() && output == fs::path(database.string() + suffix)) {
      throw DbError("--output " + Printable(file) +
                    " is the database or one of its files; give another file for the report.");
    }
  }
  if (fs::is_directory(output, ec))
    throw DbError("--output " + Printable(file) + " is a folder; give a file name.");
}

}  // namespace

void Report(const std::string& path, const Options& options, std::ostream& out,
            std::ostream& notes) {
  static constexpr std::pair<const char*, store::ReportBy> kBy[] = {
      {"day", store::ReportBy::kDay},
      {"user", store::ReportBy::kUser},
      {"site", store::ReportBy::kSite},
      {"hour", store::ReportBy::kHour}};
  static constexpr std::pair<const char*, store::ReportFormat> kFormats[] = {
      {"text", store::ReportFormat::kText},
      {"csv", store::ReportFormat::kCsv},
      {"json", store::ReportFormat::kJson},
      {"html", store::ReportFormat::kHtml}};
  static constexpr std::pair<const char*, store::Language> kLanguages[] = {
      {"en", store::Language::kEnglish}, {"nl", store::Language::kDutch}};
  store::Report report;
  report.by = Choice(options, "--by", kBy);
  const store::ReportFormat format = Choice(options, "--format", kFormats);
  const store::Language language = Choice(options, "--lang", kLanguages);
  report.period.last_day = DayOption(options, "--to", Today());
  report.period.first_day = DayOption(options, "--from", report.period.last_day - 6);
  if (report.period.first_day > report.period.last_day) {
    throw DbError("--from " + store::DayText(report.period.first_day) + " is after --to " +
                  store::DayText(report.period.last_day) + ".");
  }
  report.period.user = UserOption(options);
  const auto output = options.find("--output");
  if (output != options.end()) CheckOutput(path, output->second);
  report.made_at = LocalNow();
  Read(path, [&](const ado::ConnectionPtr& connection) {
    CheckUser(connection, report.period);
    store::FillReport(connection, report);
  });
  const bool empty = store::IsEmpty(report);
  if (output == options.end()) {
    store::WriteReport(report, format, language, out);
    if (empty && format != store::ReportFormat::kText) notes << store::NoUsage(language) << "\n";
    return;
  }
  WriteFile(output->second, report, format, language);
  if (empty) {
    out << store::NoUsage(language) << "\n";
  } else {
    out << "Wrote the report to " << Printable(output->second) << ".\n";
  }
}

void History(const std::string& path, const std::string& name, const Options& options,
             std::ostream& out) {
  store::Period period;
  period.first_day = period.last_day = DayOption(options, "--date", Today());
  period.user = UserName(name, "history");
  std::vector<store::Run> runs;
  Read(path, [&](const ado::ConnectionPtr& connection) {
    CheckUser(connection, period);
    runs = store::UserDay(connection, period.user, period.first_day);
  });
  if (runs.empty()) {
    out << store::NoUsage(store::Language::kEnglish) << "\n";
    return;
  }
  std::int64_t total = 0;
  for (const store::Run& run : runs) total += run.minutes;
  out << Printable(period.user) << " on " << store::DayText(period.first_day) << ": " << total
      << " charged minutes\n\n";
  std::vector<std::vector<std::string>> lines = {{"FROM", "TO", "MINUTES", "SITE"}};
  for (const store::Run& run : runs) {
    const int end = static_cast<int>(std::min<std::int64_t>(run.start + run.minutes, 24 * 60));
    lines.push_back(
        {Clock(run.start), Clock(end), std::to_string(run.minutes),
         run.site.empty() ? store::NotRecorded(store::Language::kEnglish) : Printable(run.site)});
  }
  lines.push_back({"total", "", std::to_string(total), ""});
  WriteColumns(lines, {false, false, true, false}, out);
}

void Audit(const std::string& path, const Options& options, std::ostream& out) {
  const auto found = options.find("--from");
  std::optional<long long> from;
  if (found != options.end()) from = DayOption(options, "--from", 0);
  const std::string user = UserOption(options);
  std::vector<store::AuditRow> rows;
  Read(path, [&](const ado::ConnectionPtr& connection) {
    rows = store::ReadAudit(connection, from, user);
  });
  if (rows.empty()) {
    out << "no changes recorded\n";
    return;
  }
  std::vector<std::vector<std::string>> lines = {
      {"AT", "WHO", "COMMAND", "TARGET", "OLD", "NEW", "REASON"}};
  for (const store::AuditRow& row : rows) {
    lines.push_back({Printable(row.at), Printable(row.who), Printable(row.command),
                     Printable(row.target), Printable(row.old_value), Printable(row.new_value),
                     Printable(row.reason)});
  }
  WriteColumns(lines, std::vector<bool>(7, false), out);
}

}  // namespace user_times_db
