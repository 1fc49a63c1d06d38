// The performance of a run of portfolio values, taken period by period: the
// figures a tear sheet shows (returns, risk ratios, drawdowns, monthly
// returns, rolling risk, the spread of the period returns) and the series
// behind its charts.
//
// Returns are simple period returns value[t] / value[t-1] - 1. The ratios are
// those of the metrics module: population standard deviation, no risk-free
// rate, `days` periods a year. Drawdowns are taken from the running peak; the
// rolling maximum drawdown is the worst of them within the trailing `window`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zantrix/framework/datetime.h"

namespace zantrix::plugins::analysis::report {

using framework::DateTime;

struct PerformanceInput {
  std::vector<DateTime> times = {};    // in order; equal times are allowed
  std::vector<double> values = {};     // positive, one per time
  std::vector<double> benchmark = {};  // empty, or positive, one per time
  int days = 252;                      // periods per year
  std::int64_t window = 252;           // periods of the rolling figures
};

// A fall from a peak, indexed into the input's times.
struct DrawdownPeriod {
  std::size_t peak;
  std::size_t trough;
  std::optional<std::size_t> recovery;  // the first time back at the peak
  double depth;                         // trough / peak - 1, below zero
};

// One calendar year of monthly returns: each month's last value against the
// previous month's last value (the first month against the first value).
struct ReturnsYear {
  int year;
  std::array<std::optional<double>, 12> months;  // January first
  double total;                                  // over the months present
};

struct Performance {
  PerformanceInput input;
  std::vector<double> returns;            // one fewer than the values
  std::vector<double> benchmark_returns;  // empty without a benchmark

  double total_return = 0;
  double annualised_return = 0;  // compounded over returns.size() periods
  double volatility = 0;         // annualised: std(returns) * sqrt(days)
  double sharpe = 0;
  double information_ratio = 0;       // NaN without a benchmark
  double m2 = 0;                      // NaN without a benchmark
  double benchmark_total_return = 0;  // NaN without a benchmark

  std::vector<double> drawdown;  // value / running peak - 1, per time
  // The deepest drawdown periods, deepest first, at most kWorstDrawdowns.
  std::vector<DrawdownPeriod> worst_drawdowns;
  std::vector<double> rolling_max_drawdown;  // per time
  double worst_rolling_max_drawdown = 0;

  std::vector<ReturnsYear> monthly;
  std::size_t months = 0;  // calendar months the times touch

  // Per time: the Sharpe ratio and the annualised volatility of the `window`
  // returns that end there; NaN until there are that many.
  std::vector<double> rolling_sharpe;
  std::vector<double> rolling_volatility;

  double return_p5 = 0;  // 5th and 95th percentiles of the returns
  double return_p95 = 0;

  bool has_benchmark() const { return !input.benchmark.empty(); }
  // Whether the rolling figures have at least one full window.
  bool has_rolling() const { return input.window <= static_cast<std::int64_t>(returns.size()); }
};

inline constexpr std::size_t kWorstDrawdowns = 5;

// A ValueError when there are fewer than two values, when a value is not a
// positive number, when the times or the benchmark have another length than
// the values, or when a time comes before the one preceding it; also when
// days or window is below 1.
Performance analyse(PerformanceInput input);

// The drawdown periods of `values`, deepest first (a tie goes to the earlier
// one); a period runs from a peak to the first value back at it.
std::vector<DrawdownPeriod> drawdown_periods(const std::vector<double>& values);

}  // namespace zantrix::plugins::analysis::report
