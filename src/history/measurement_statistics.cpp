#include "history/measurement_statistics.h"

#include <algorithm>
#include <cmath>

namespace ordalis::history {

MeasurementStatistics Summarise(const std::vector<double>& values, std::optional<double> low,
                                std::optional<double> high) {
  MeasurementStatistics stats;
  if (values.empty()) return stats;
  stats.count = static_cast<std::int64_t>(values.size());
  stats.min = stats.max = values.front();
  // Welford's running mean and sum of squared deviations: no loss of precision when the values
  // sit far from zero with a small spread (4.9963 V, 4.9971 V, …).
  double mean = 0.0, squares = 0.0;
  std::int64_t n = 0;
  for (double value : values) {
    stats.min = std::min(stats.min, value);
    stats.max = std::max(stats.max, value);
    ++n;
    double delta = value - mean;
    mean += delta / static_cast<double>(n);
    squares += delta * (value - mean);
  }
  stats.mean = mean;
  if (n > 1) stats.standard_deviation = std::sqrt(squares / static_cast<double>(n - 1));
  double sigma = stats.standard_deviation;
  if (low && high && n >= kCapabilityMinimumValues && sigma > 0.0) {
    stats.cp = (*high - *low) / (6.0 * sigma);
    stats.cpk = std::min(*high - mean, mean - *low) / (3.0 * sigma);
  }
  return stats;
}

}  // namespace ordalis::history
