// The HTML report: one page that needs nothing else (styles inline, a policy that forbids loading
// anything or running script), an SVG bar chart drawn here, and the table under it; printable.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "store/input_checks.h"
#include "store/report_sheet.h"
#include "store/usage.h"

namespace store::report_sheet {
namespace {

constexpr const char* kColours[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2",
                                    "#59a14f", "#edc948", "#b07aa1", "#ff9da7"};
constexpr const char* kOthersColour = "#9c9c9c";
constexpr std::size_t kSeries = std::size(kColours);  // users with a colour of their own
constexpr std::size_t kRankedBars = 20;
constexpr long long kEveryDayUpTo = 400;  // days: a longer period charts its days of use only //
                                          // users or sites in a ranked chart
constexpr std::size_t kLabelCharacters = 36;
constexpr double kWidth = 960;

constexpr const char* kStyle = R"(
body { font: 11pt/1.4 "DejaVu Sans", Arial, sans-serif; color: #222; margin: 2em; }
h1 { font-size: 16pt; margin: 0 0 .2em; }
p.period { margin: 0 0 1em; color: #444; }
figure { margin: 0 0 1.5em; break-inside: avoid; }
figcaption { font-size: 10pt; color: #444; }
svg { width: 100%; max-width: 960px; height: auto; display: block; }
svg text { font: 11px "DejaVu Sans", Arial, sans-serif; fill: #222; }
table { border-collapse: collapse; }
th, td { padding: 2px 10px; border-bottom: 1px solid #ddd; text-align: left; }
th.n, td.n { text-align: right; }
thead th { border-bottom: 2px solid #888; }
tfoot th { border-top: 2px solid #888; }
tr { break-inside: avoid; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
@page { margin: 12mm; }
@media print { body { margin: 0; font-size: 9pt; } }
)";

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// At most kLabelCharacters characters of `text`, with an ellipsis where it was cut.
std::string Shortened(const std::string& text) {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (++characters > kLabelCharacters) return text.substr(0, at) + "\xE2\x80\xA6";
    char32_t code = 0;
    at += std::max<std::size_t>(1, Utf8Char(std::string_view(text).substr(at), &code));
  }
  return text;
}

// A round step for about `ticks` grid lines up to `most`.
std::int64_t Step(std::int64_t most, int ticks) {
  const double raw = std::max<double>(1, static_cast<double>(most) / ticks);
  const double magnitude = std::pow(10, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * magnitude >= raw)
      return std::max<std::int64_t>(1, std::llround(factor * magnitude));
  }
  return std::llround(10 * magnitude);
}

// Bars standing side by side, each a stack of series.
struct Stacked {
  std::vector<std::string> labels;
  std::vector<std::string> series;
  std::vector<std::vector<std::int64_t>> values;  // [bar][series]
};

void VerticalChart(const Stacked& chart, std::ostream& out) {
  constexpr double kLeft = 56, kRight = 12, kTop = 14, kPlot = 240, kAxis = 70, kLegendRow = 20;
  const bool legend = chart.series.size() > 1;
  const std::size_t per_row = 5;
  const std::size_t legend_rows = legend ? (chart.series.size() + per_row - 1) / per_row : 0;
  const double height = kTop + kPlot + kAxis + legend_rows * kLegendRow;
  std::int64_t most = 1;
  for (const auto& bar : chart.values) {
    std::int64_t sum = 0;
    for (const std::int64_t value : bar) sum += value;
    most = std::max(most, sum);
  }
  const std::int64_t step = Step(most, 5);
  const std::int64_t top = (most + step - 1) / step * step;
  const double plot_width = kWidth - kLeft - kRight;
  const double base = kTop + kPlot;
  const auto y = [&](std::int64_t value) { return base - kPlot * value / top; };
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << " "
      << Fixed(height) << "\" role=\"img\">\n";
  for (std::int64_t tick = 0; tick <= top; tick += step) {
    out << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << Fixed(y(tick))
        << "\" y2=\"" << Fixed(y(tick)) << "\" stroke=\"#ddd\"/>"
        << "<text x=\"" << kLeft - 6 << "\" y=\"" << Fixed(y(tick) + 4) << "\" text-anchor=\"end\">"
        << tick << "</text>\n";
  }
  const std::size_t bars = chart.labels.size();
  const double slot = plot_width / static_cast<double>(std::max<std::size_t>(bars, 1));
  const double width = std::max(slot * 0.8, 0.5);
  const std::size_t label_every = std::max<std::size_t>(1, (bars + 23) / 24);
  for (std::size_t i = 0; i < bars; ++i) {
    const double x = kLeft + slot * static_cast<double>(i) + (slot - width) / 2;
    std::int64_t below = 0;
    for (std::size_t s = 0; s < chart.series.size(); ++s) {
      const std::int64_t value = chart.values[i][s];
      if (value <= 0) continue;
      out << "<rect x=\"" << Fixed(x) << "\" y=\"" << Fixed(y(below + value)) << "\" width=\""
          << Fixed(width) << "\" height=\"" << Fixed(y(below) - y(below + value)) << "\" fill=\""
          << (s < kSeries ? kColours[s] : kOthersColour) << "\"><title>"
          << HtmlEscape(chart.labels[i]) << (chart.series[s].empty() ? "" : " ")
          << HtmlEscape(chart.series[s]) << ": " << value << "</title></rect>\n";
      below += value;
    }
    if (i % label_every == 0) {
      const double cx = kLeft + slot * (static_cast<double>(i) + 0.5);
      out << "<text x=\"" << Fixed(cx) << "\" y=\"" << Fixed(base + 14)
          << "\" text-anchor=\"end\" transform=\"rotate(-40 " << Fixed(cx) << " "
          << Fixed(base + 14) << ")\">" << HtmlEscape(chart.labels[i]) << "</text>\n";
    }
  }
  out << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << Fixed(base)
      << "\" y2=\"" << Fixed(base) << "\" stroke=\"#888\"/>\n";
  for (std::size_t s = 0; legend && s < chart.series.size(); ++s) {
    const double x = kLeft + 180.0 * static_cast<double>(s % per_row);
    const double row_y = base + kAxis + kLegendRow * static_cast<double>(s / per_row);
    out << "<rect x=\"" << Fixed(x) << "\" y=\"" << Fixed(row_y - 10)
        << "\" width=\"12\" height=\"12\" fill=\"" << (s < kSeries ? kColours[s] : kOthersColour)
        << "\"/><text x=\"" << Fixed(x + 18) << "\" y=\"" << Fixed(row_y) << "\">"
        << HtmlEscape(Shortened(chart.series[s])) << "</text>\n";
  }
  out << "</svg>\n";
}

// One bar per row, longest first.
void HorizontalChart(const std::vector<std::pair<std::string, std::int64_t>>& rows,
                     std::ostream& out) {
  constexpr double kLabels = 270, kRow = 22, kTop = 6, kBars = 590;
  std::int64_t most = 1;
  for (const auto& row : rows) most = std::max(most, row.second);
  const double height = kTop * 2 + kRow * static_cast<double>(rows.size());
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << " "
      << Fixed(height) << "\" role=\"img\">\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double top = kTop + kRow * static_cast<double>(i);
    const double width = std::max(kBars * static_cast<double>(rows[i].second) / most, 0.5);
    out << "<text x=\"" << kLabels - 8 << "\" y=\"" << Fixed(top + 15) << "\" text-anchor=\"end\">"
        << HtmlEscape(Shortened(rows[i].first)) << "</text>"
        << "<rect x=\"" << kLabels << "\" y=\"" << Fixed(top + 3) << "\" width=\"" << Fixed(width)
        << "\" height=\"" << kRow - 6 << "\" fill=\"" << kColours[0] << "\"><title>"
        << HtmlEscape(rows[i].first) << ": " << rows[i].second << "</title></rect>"
        << "<text x=\"" << Fixed(kLabels + width + 6) << "\" y=\"" << Fixed(top + 15) << "\">"
        << rows[i].second << "</text>\n";
  }
  out << "</svg>\n";
}

Stacked DayChart(const Report& report, const Words& words) {
  std::map<std::string, std::int64_t> totals;
  for (const DayUsage& row : report.days) totals[row.user] += row.minutes;
  std::vector<std::pair<std::string, std::int64_t>> ranked(totals.begin(), totals.end());
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  Stacked chart;
  std::map<std::string, std::size_t> series;
  for (std::size_t i = 0; i < ranked.size() && i < kSeries; ++i) {
    series[ranked[i].first] = i;
    chart.series.push_back(ranked[i].first);
  }
  if (ranked.size() > kSeries) chart.series.push_back(words.others);
  if (ranked.size() == 1) chart.series = {""};  // the one user is named above the chart
  // Every day of the period has its place, so that a day without browsing shows as one and a
  // single day is not drawn as wide as the page; a very long period keeps only its days of use.
  const Period& period = report.period;
  const bool every_day =
      period.last_day >= period.first_day && period.last_day - period.first_day < kEveryDayUpTo;
  std::map<long long, std::size_t> slot_of;
  if (every_day) {
    for (long long day = period.first_day; day <= period.last_day; ++day) {
      slot_of[day] = chart.labels.size();
      chart.labels.push_back(DayText(day));
      chart.values.emplace_back(chart.series.size(), 0);
    }
  }
  for (const DayUsage& row : report.days) {
    auto slot = slot_of.find(row.day);
    if (slot == slot_of.end()) {
      slot = slot_of.emplace(row.day, chart.labels.size()).first;
      chart.labels.push_back(DayText(row.day));
      chart.values.emplace_back(chart.series.size(), 0);
    }
    const auto found = series.find(row.user);
    chart.values[slot->second][found != series.end() ? found->second : kSeries] += row.minutes;
  }
  return chart;
}

void WriteChart(const Report& report, const Words& words, std::ostream& out) {
  std::size_t of = 0;
  std::vector<std::pair<std::string, std::int64_t>> ranked;
  switch (report.by) {
    case ReportBy::kDay:
      VerticalChart(DayChart(report, words), out);
      break;
    case ReportBy::kHour: {
      Stacked chart;
      chart.series = {""};
      for (const HourUsage& row : report.hours) {
        chart.labels.push_back(std::to_string(row.hour));
        chart.values.push_back({row.minutes});
      }
      VerticalChart(chart, out);
      break;
    }
    case ReportBy::kUser:
      for (const UserUsage& row : report.users) ranked.emplace_back(row.user, row.minutes);
      break;
    case ReportBy::kSite:
      for (const SiteUsage& row : report.sites)
        ranked.emplace_back(row.site.empty() ? words.not_recorded : row.site, row.minutes);
      break;
  }
  if (!ranked.empty()) {
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    of = ranked.size();
    if (ranked.size() > kRankedBars) ranked.resize(kRankedBars);
    HorizontalChart(ranked, out);
  }
  out << "<figcaption>" << HtmlEscape(words.charts[static_cast<int>(report.by)]);
  if (of > kRankedBars) {
    char text[128];
    std::snprintf(text, sizeof text, words.shown_of, kRankedBars, of);
    out << " (" << HtmlEscape(text) << ")";
  }
  out << "</figcaption>\n";
}

void WriteTable(const Sheet& sheet, std::ostream& out) {
  const auto cell_class = [&](std::size_t i) {
    return sheet.columns[i].number ? " class=\"n\"" : "";
  };
  out << "<table>\n<thead><tr>";
  for (std::size_t i = 0; i < sheet.columns.size(); ++i)
    out << "<th" << cell_class(i) << ">" << HtmlEscape(sheet.columns[i].heading) << "</th>";
  out << "</tr></thead>\n<tbody>\n";
  std::vector<Cell> row;
  for (std::size_t n = 0; n < sheet.rows; ++n) {
    sheet.fill(n, row);
    out << "<tr>";
    for (std::size_t i = 0; i < row.size(); ++i)
      out << "<td" << cell_class(i) << ">" << HtmlEscape(row[i].shown) << "</td>";
    out << "</tr>\n";
  }
  out << "</tbody>\n<tfoot><tr>";
  for (std::size_t i = 0; i < sheet.total.size(); ++i)
    out << "<th" << cell_class(i) << ">" << HtmlEscape(sheet.total[i]) << "</th>";
  out << "</tr></tfoot>\n</table>\n";
}

}  // namespace

void WriteHtml(const Report& report, const Sheet& sheet, Language language, std::ostream& out) {
  const Words& words = WordsOf(language);
  const std::string title = words.titles[static_cast<int>(report.by)];
  const std::string period = PeriodLine(report, language);
  out << "<!DOCTYPE html>\n<html lang=\"" << (language == Language::kDutch ? "nl" : "en")
      << "\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'\">\n"
      << "<title>Minutrix: " << HtmlEscape(title) << ", " << HtmlEscape(period) << "</title>\n"
      << "<style>" << kStyle << "</style>\n</head>\n<body>\n"
      << "<h1>" << HtmlEscape(title) << "</h1>\n<p class=\"period\">" << HtmlEscape(period);
  if (!report.made_at.empty()) {
    std::string made = words.made;
    made.replace(made.find("%s"), 2, report.made_at);
    out << ". " << HtmlEscape(made);
  }
  out << ".</p>\n";
  if (IsEmpty(report)) {
    out << "<p>" << HtmlEscape(words.no_usage) << "</p>\n";
  } else {
    out << "<figure>\n";
    WriteChart(report, words, out);
    out << "</figure>\n";
    WriteTable(sheet, out);
  }
  out << "</body>\n</html>\n";
}

}  // namespace store::report_sheet
