#pragma once
// A measurement's values over the runs, drawn inline: a value-over-runs chart with its limit
// lines and a histogram beside it, plain SVG that opens from disk without a network or a script
// library. The results index draws one per measurement taken in its folder, and each run's
// report one per measurement of its script, both from the results store. However many runs the
// store holds, a chart draws the newest kChartRuns of them, so a page costs the same to make.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "history/results_store.h"

namespace ordalis::report {

// The newest runs a chart draws, and the measurements a page charts.
inline constexpr std::int64_t kChartRuns = 200;
inline constexpr std::size_t kChartsShown = 40;

// One measurement's numeric values, oldest first.
struct MeasurementSeries {
  std::string script;
  std::string name;
  std::vector<history::MeasuredValue> values;
};

// The value-over-runs chart: one point per value, a line through them, and a dashed line at
// each limit of the newest value.
std::string ValueChartSvg(const MeasurementSeries& series);
// The histogram of the values, with the same limit lines.
std::string HistogramSvg(const MeasurementSeries& series);
// The bins a histogram of [count] values has.
std::size_t HistogramBins(std::size_t count);

// The index's section: a row per series with its latest value, both charts and its statistics.
std::string MeasurementChartsSection(const std::vector<MeasurementSeries>& series);

// The series of the measurements taken in the station's folder [where] within its newest
// kChartRuns runs, at most kChartsShown of them.
std::vector<MeasurementSeries> FolderSeries(history::ResultsStore& store, const history::StationFolder& where);

// The report's section for the run [run_id] of [script]: each measurement its script took within
// its newest kChartRuns runs up to this one, drawn over those runs. Empty when the script has
// taken none. Throws StoreError when the store fails.
std::string RunMeasurementChartsHtml(history::ResultsStore& store, std::int64_t run_id, const std::string& script);

}  // namespace ordalis::report
