#include "report/measurement_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#include "history/measurement_statistics.h"
#include "report/report_text.h"

namespace ordalis::report {

namespace {

constexpr const char* kPassColour = "#1a7f37";
constexpr const char* kFailColour = "#cf222e";
constexpr const char* kLimitColour = "#9a6700";
constexpr int kChartHeight = 120;
constexpr int kTop = 8, kBottom = 8;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// A coordinate, to a tenth of a pixel.
std::string At(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

bool IsFailing(Result result) { return result == TestFailed || result == TestError; }

// The span a chart's axis covers: every value and every limit, with a margin so nothing sits on
// the edge; a single value gets a span of its own around it.
struct Span {
  double low = 0.0;
  double high = 1.0;
};

Span SpanOf(const MeasurementSeries& series, bool with_limits) {
  Span span{series.values.front().number, series.values.front().number};
  auto widen = [&span](double value) {
    span.low = std::min(span.low, value);
    span.high = std::max(span.high, value);
  };
  for (const auto& value : series.values) widen(value.number);
  const history::MeasuredValue& newest = series.values.back();
  if (with_limits && newest.low) widen(*newest.low);
  if (with_limits && newest.high) widen(*newest.high);
  double margin = (span.high - span.low) * 0.05;
  if (margin <= 0.0) margin = std::max(std::fabs(span.low) * 0.05, 1e-9);
  return {span.low - margin, span.high + margin};
}

std::string SvgOpen(const char* kind, int width, std::size_t count, const std::string& label) {
  std::string w = std::to_string(width), h = std::to_string(kChartHeight);
  return "<svg class=\"" + std::string(kind) + "\" data-values=\"" + std::to_string(count) + "\" width=\"" + w +
         "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h + "\" role=\"img\" aria-label=\"" + Html(label) +
         "\" style=\"vertical-align:middle;background:#fff;border:1px solid #d0d7de\">";
}

// A dashed line across the chart at each limit of the newest value; [horizontal] for a limit of
// the value axis drawn left to right.
std::string LimitLines(const history::MeasuredValue& newest, bool horizontal, int width,
                       const std::function<double(double)>& place) {
  std::string out;
  auto line = [&](const char* which, double limit) {
    double at = place(limit);
    std::string a = At(at);
    out += "<line class=\"limit\" data-limit=\"" + std::string(which) + "\" ";
    out += horizontal ? "x1=\"0\" x2=\"" + std::to_string(width) + "\" y1=\"" + a + "\" y2=\"" + a + "\""
                      : "x1=\"" + a + "\" x2=\"" + a + "\" y1=\"0\" y2=\"" + std::to_string(kChartHeight) + "\"";
    out += " stroke=\"" + std::string(kLimitColour) + "\" stroke-dasharray=\"4 3\"><title>" + which + " limit " +
           Html(Number(limit)) + "</title></line>";
  };
  if (newest.low) line("low", *newest.low);
  if (newest.high) line("high", *newest.high);
  return out;
}

std::string ValueText(const MeasurementSeries& series, double value) {
  const std::string& unit = series.values.back().unit;
  return Number(value) + (unit.empty() ? "" : " " + unit);
}

}  // namespace

std::string ValueChartSvg(const MeasurementSeries& series) {
  constexpr int kWidth = 300, kLeft = 6, kRight = 6;
  if (series.values.empty()) return std::string();
  Span span = SpanOf(series, true);
  auto y = [&span](double value) {
    return kTop + (kChartHeight - kTop - kBottom) * (span.high - value) / (span.high - span.low);
  };
  std::size_t n = series.values.size();
  auto x = [n](std::size_t i) {
    double plot = kWidth - kLeft - kRight;
    return n == 1 ? kLeft + plot / 2 : kLeft + plot * static_cast<double>(i) / static_cast<double>(n - 1);
  };
  std::string out = SvgOpen("measure-chart", kWidth, n, series.name + " over the last " + std::to_string(n) + " runs");
  out += LimitLines(series.values.back(), true, kWidth, y);
  std::string line, points;
  for (std::size_t i = 0; i < n; ++i) {
    const history::MeasuredValue& value = series.values[i];
    std::string cx = At(x(i)), cy = At(y(value.number));
    line += cx + "," + cy + " ";
    points += "<circle class=\"point\" cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"2\" fill=\"" +
              (IsFailing(value.result) ? kFailColour : kPassColour) + "\"><title>run " + std::to_string(value.run_id) +
              ": " + Html(ValueText(series, value.number)) + "</title></circle>";
  }
  if (n > 1) out += "<polyline fill=\"none\" stroke=\"#8c959f\" stroke-width=\"1\" points=\"" + line + "\"/>";
  return out + points + "</svg>";
}

std::size_t HistogramBins(std::size_t count) {
  auto root = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(count))));
  return std::clamp<std::size_t>(root, 5, 20);
}

std::string HistogramSvg(const MeasurementSeries& series) {
  constexpr int kWidth = 180;
  if (series.values.empty()) return std::string();
  double first = series.values.front().number, lowest = first, highest = first;
  for (const auto& value : series.values) lowest = std::min(lowest, value.number), highest = std::max(highest, value.number);
  std::size_t bins = HistogramBins(series.values.size());
  double width = (highest - lowest) / static_cast<double>(bins);
  std::vector<std::size_t> counts(bins, 0);
  for (const auto& value : series.values) {
    std::size_t bin = width > 0.0 ? static_cast<std::size_t>((value.number - lowest) / width) : 0;
    ++counts[std::min(bin, bins - 1)];
  }
  Span span = SpanOf(series, true);
  auto x = [&span](double value) { return kWidth * (value - span.low) / (span.high - span.low); };
  std::size_t tallest = *std::max_element(counts.begin(), counts.end());
  std::string out = SvgOpen("measure-histogram", kWidth, series.values.size(), series.name + " histogram");
  double plot = kChartHeight - kTop - kBottom;
  for (std::size_t b = 0; b < bins; ++b) {
    double from = lowest + width * static_cast<double>(b);
    double left = x(from), right = width > 0.0 ? x(from + width) : left + 4.0;
    double height = plot * static_cast<double>(counts[b]) / static_cast<double>(tallest);
    out += "<rect class=\"bin\" data-count=\"" + std::to_string(counts[b]) + "\" x=\"" + At(left) + "\" y=\"" +
           At(kTop + plot - height) + "\" width=\"" + At(std::max(right - left - 1.0, 1.0)) + "\" height=\"" +
           At(height) + "\" fill=\"#54aeff\"><title>" + std::to_string(counts[b]) + " from " +
           Html(ValueText(series, from)) + "</title></rect>";
  }
  return out + LimitLines(series.values.back(), false, kWidth, x) + "</svg>";
}

namespace {

std::string StatisticCells(const MeasurementSeries& series) {
  std::vector<double> numbers;
  numbers.reserve(series.values.size());
  for (const auto& value : series.values) numbers.push_back(value.number);
  const history::MeasuredValue& newest = series.values.back();
  history::MeasurementStatistics stats = history::Summarise(numbers, newest.low, newest.high);
  auto limit = [](const std::optional<double>& value) { return value ? Number(*value) : std::string("\xE2\x80\x93"); };
  return "<td class=\"n\">" + std::to_string(stats.count) + "</td><td class=\"n\">" +
         Html(ValueText(series, newest.number)) + "</td><td class=\"n\">" + Html(limit(newest.low)) + " \xE2\x80\xA6 " +
         Html(limit(newest.high)) + "</td><td class=\"n\">" + Html(Number(stats.mean)) + "</td><td class=\"n\">" +
         Html(Number(stats.standard_deviation)) + "</td><td class=\"n\">" +
         (stats.cpk ? Html(Number(*stats.cpk)) : std::string("\xE2\x80\x93")) + "</td>";
}

std::string Section(const char* id, const std::string& note, const std::vector<MeasurementSeries>& series,
                    bool with_script) {
  std::string out = "<section id=\"" + std::string(id) + "\"><h2>Measurements</h2>\n<p class=\"muted\">" + Html(note) +
                    " Dashed lines are the newest limits; \xCF\x83 is the sample standard deviation, Cpk needs both"
                    " limits and " + std::to_string(history::kCapabilityMinimumValues) +
                    " values.</p>\n<table class=\"measurement-charts\"><tr>" + (with_script ? "<th>Script</th>" : "") +
                    "<th>Measurement</th><th>Values</th><th>Newest</th><th>Limits</th><th>Mean</th><th>\xCF\x83</th>"
                    "<th>Cpk</th><th>Over the runs</th><th>Histogram</th></tr>\n";
  for (const MeasurementSeries& one : series) {
    if (one.values.empty()) continue;
    out += "<tr class=\"measurement-row\">";
    if (with_script) out += "<td>" + Html(one.script) + "</td>";
    out += "<td>" + Html(one.name) + "</td>" + StatisticCells(one) + "<td>" + ValueChartSvg(one) + "</td><td>" +
           HistogramSvg(one) + "</td></tr>\n";
  }
  return out + "</table></section>\n";
}

}  // namespace

std::string MeasurementChartsSection(const std::vector<MeasurementSeries>& series) {
  if (series.empty()) return std::string();
  return Section("measurements",
                 "Each measurement taken in this folder, over its newest " + std::to_string(kChartRuns) +
                     " runs, oldest first.",
                 series, true);
}

std::vector<MeasurementSeries> FolderSeries(history::ResultsStore& store, const history::StationFolder& where) {
  std::int64_t from = store.FolderWindowStart(where, kChartRuns);
  std::map<std::pair<std::string, std::string>, MeasurementSeries> by_name;
  for (history::FolderMeasurement& row : store.FolderMeasurements(where, from)) {
    MeasurementSeries& series = by_name[{row.script, row.name}];
    if (series.values.empty() && by_name.size() > kChartsShown) {
      by_name.erase({row.script, row.name});
      continue;
    }
    series.script = row.script, series.name = row.name;
    series.values.push_back(std::move(row.value));
  }
  std::vector<MeasurementSeries> series;
  for (auto& [key, one] : by_name) series.push_back(std::move(one));
  return series;
}

std::string RunMeasurementChartsHtml(history::ResultsStore& store, std::int64_t run_id, const std::string& script) {
  std::vector<MeasurementSeries> series;
  for (const std::string& name : store.RecentMeasurementNames(script, run_id, kChartRuns)) {
    if (series.size() >= kChartsShown) break;
    series.push_back({script, name, store.MeasurementValues(script, name, run_id, kChartRuns)});
  }
  if (series.empty()) return std::string();
  return Section("measurement-charts",
                 "The measurements of " + script + " over its newest " + std::to_string(kChartRuns) +
                     " runs up to this one, oldest first.",
                 series, false);
}

}  // namespace ordalis::report
