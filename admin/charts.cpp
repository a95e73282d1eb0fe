// SVG charts with fixed geometry in a viewBox, so that they scale to the page's width.
#include "admin/charts.h"

#include <algorithm>

#include "admin/html.h"

namespace admin {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Open(double width, double height, std::string_view title) {
  return "<div class=\"chart-box\"><svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" "
         "viewBox=\"0 0 " +
         Number(width) + " " + Number(height) + "\" role=\"img\" aria-label=\"" + Esc(title) +
         "\"><title>" + Esc(title) + "</title>";
}

}  // namespace

std::string ColumnChart(const std::vector<Bar>& bars, std::string_view title) {
  constexpr double kWidth = 720;
  constexpr double kHeight = 220;
  constexpr double kLeft = 44;
  constexpr double kBottom = 24;
  constexpr double kTop = 10;
  std::string svg = Open(kWidth, kHeight, title);
  long long most = 1;
  for (const Bar& bar : bars) most = std::max(most, bar.value);
  const double plot_height = kHeight - kBottom - kTop;
  const double slot = bars.empty() ? 0 : (kWidth - kLeft - 8) / static_cast<double>(bars.size());
  const size_t label_every = std::max<size_t>(1, (bars.size() + 11) / 12);
  svg += "<line class=\"axis\" x1=\"" + Number(kLeft) + "\" y1=\"" + Number(kTop + plot_height) +
         "\" x2=\"" + Number(kWidth - 4) + "\" y2=\"" + Number(kTop + plot_height) + "\"/>";
  svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kTop + 10) +
         "\" text-anchor=\"end\">" + std::to_string(most) + "</text>";
  svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kTop + plot_height) +
         "\" text-anchor=\"end\">0</text>";
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& bar = bars[i];
    const double height = plot_height * static_cast<double>(bar.value) / static_cast<double>(most);
    const double x = kLeft + slot * static_cast<double>(i) + slot * 0.15;
    svg += "<rect class=\"bar\" x=\"" + Number(x) + "\" y=\"" +
           Number(kTop + plot_height - height) + "\" width=\"" + Number(slot * 0.7) +
           "\" height=\"" + Number(height) + "\"><title>" + Esc(bar.label) + ": " +
           std::to_string(bar.value) + "</title></rect>";
    if (i % label_every == 0) {
      svg += "<text x=\"" + Number(x + slot * 0.35) + "\" y=\"" + Number(kHeight - 8) +
             "\" text-anchor=\"middle\">" + Esc(bar.label) + "</text>";
    }
  }
  return svg + "</svg></div>";
}

std::string BarChart(const std::vector<Bar>& bars, std::string_view title) {
  constexpr double kWidth = 720;
  constexpr double kRow = 22;
  constexpr double kLabel = 220;
  constexpr double kValue = 60;
  const double height = std::max(1.0, static_cast<double>(bars.size())) * kRow + 8;
  std::string svg = Open(kWidth, height, title);
  long long most = 1;
  for (const Bar& bar : bars) most = std::max(most, bar.value);
  const double plot = kWidth - kLabel - kValue - 8;
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& bar = bars[i];
    const double y = 4 + kRow * static_cast<double>(i);
    const double width = plot * static_cast<double>(bar.value) / static_cast<double>(most);
    std::string label = bar.label;
    if (label.size() > 34) label = label.substr(0, 33) + "\u2026";
    svg += "<text x=\"" + Number(kLabel - 6) + "\" y=\"" + Number(y + 15) +
           "\" text-anchor=\"end\">" + Esc(label) + "</text>";
    svg += "<rect class=\"bar\" x=\"" + Number(kLabel) + "\" y=\"" + Number(y + 3) + "\" width=\"" +
           Number(std::max(width, 1.0)) + "\" height=\"" + Number(kRow - 6) + "\"><title>" +
           Esc(bar.label) + ": " + std::to_string(bar.value) + "</title></rect>";
    svg += "<text x=\"" + Number(kLabel + width + 6) + "\" y=\"" + Number(y + 15) + "\">" +
           std::to_string(bar.value) + "</text>";
  }
  return svg + "</svg></div>";
}

std::string DayChart(const std::vector<Stretch>& stretches, std::string_view title) {
  constexpr double kWidth = 720;
  constexpr double kHeight = 70;
  constexpr double kLeft = 10;
  constexpr double kPlot = kWidth - 2 * kLeft;
  std::string svg = Open(kWidth, kHeight, title);
  svg += "<line class=\"axis\" x1=\"" + Number(kLeft) + "\" y1=\"40\" x2=\"" +
         Number(kLeft + kPlot) + "\" y2=\"40\"/>";
  for (int hour = 0; hour <= 24; hour += 3) {
    const double x = kLeft + kPlot * hour / 24.0;
    // The first and the last label stay inside the chart.
    const char* anchor = hour == 0 ? "start" : hour == 24 ? "end" : "middle";
    svg += "<text x=\"" + Number(x) + "\" y=\"62\" text-anchor=\"" + anchor + "\">" +
           (hour < 10 ? "0" : "") + std::to_string(hour) + ":00</text>";
  }
  for (const Stretch& stretch : stretches) {
    const double x = kLeft + kPlot * stretch.start / 1440.0;
    const double width = std::max(1.5, kPlot * stretch.minutes / 1440.0);
    svg += "<rect class=\"bar\" x=\"" + Number(x) + "\" y=\"14\" width=\"" + Number(width) +
           "\" height=\"26\"><title>" + Esc(stretch.label) + "</title></rect>";
  }
  return svg + "</svg></div>";
}

}  // namespace admin
