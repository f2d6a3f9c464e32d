#pragma once
// What a quality engineer reads off a measurement's values over many runs: how many, the least,
// the mean, the greatest, the spread, and how well the process fits between its limits.

#include <cstdint>
#include <optional>
#include <vector>

namespace ordalis::history {

// Cp and Cpk mean little on fewer values than this.
inline constexpr std::int64_t kCapabilityMinimumValues = 30;

struct MeasurementStatistics {
  std::int64_t count = 0;
  double min = 0.0;
  double mean = 0.0;
  double max = 0.0;
  // The sample standard deviation (divided by n - 1); 0 for fewer than two values.
  double standard_deviation = 0.0;
  // With both limits, at least kCapabilityMinimumValues values and a spread above zero:
  // Cp = (high - low) / 6σ and Cpk = min(high - mean, mean - low) / 3σ, σ the sample standard
  // deviation of every value (the overall spread, not a within-subgroup estimate).
  std::optional<double> cp;
  std::optional<double> cpk;
};

// The statistics of [values] held against [low] and [high].
MeasurementStatistics Summarise(const std::vector<double>& values, std::optional<double> low,
                                std::optional<double> high);

}  // namespace ordalis::history
