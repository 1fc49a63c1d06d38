// Performance metrics over the results of a back-test or of live trading.
//
// Free functions without state: half-hour buckets of times of day, the
// holding time of a position, a named percentile aggregate, and the Sharpe,
// information and Modigliani (M2) ratios and the rolling maximum drawdown.
//
// The ratios read plain arrays: population standard deviation (denominator
// = count), no risk-free rate, and a NaN anywhere makes the result NaN. A
// zero volatility gives NaN, and so does an empty array (its mean is NaN).
// Series statistics (percentile, rolling drawdown) leave NaN values out.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "zantrix/framework/series.h"

namespace zantrix::plugins::analysis {

using framework::Series;

// The half hour that "hours:minutes[:...]" falls in: the hour text, copied
// unchanged, followed by ":00:00" when the minute is below 30 and ":30:00"
// otherwise ("9:59" gives "9:30:00"). The minute text is read as an integer
// the way Python's int() reads it (blanks around it, a sign, "_" between
// digits). ValueError when there is no minute piece or it is not an integer
// within the 64-bit range.
std::string convert_time(std::string_view time_);

// A record (a table row) that knows when a position was opened and closed,
// as "%Y-%m-%d %H:%M:%S" texts.
template <class Row>
concept HoldingPeriodRecord = requires(const Row& row) {
  { row.open_datetime } -> std::convertible_to<std::string_view>;
  { row.close_datetime } -> std::convertible_to<std::string_view>;
};

struct HoldingPeriodRow {
  std::string open_datetime;
  std::string close_datetime;
};

// The work of holding_period on the two texts themselves.
double _holding_period(std::string_view open_datetime, std::string_view close_datetime);

// Minutes from opening to closing, fractions kept and negative when the
// close comes first. A text of another form is a ValueError.
template <HoldingPeriodRecord Row>
double holding_period(const Row& time_) {
  return _holding_period(time_.open_datetime, time_.close_datetime);
}

// An aggregate that takes the n-th percentile of a series: the sorted values
// that are not NaN, interpolated linearly at position (n / 100) * (count - 1).
// NaN when there is no such value. Its name labels the result column of a
// table aggregation: "percentile_" followed by n written as a floating-point
// number ("percentile_95.0").
class Percentile {
 public:
  // ValueError unless 0 <= n <= 100.
  explicit Percentile(double n);

  double n() const { return n_; }
  const std::string& name() const { return name_; }

  double operator()(const Series& x) const;
  double operator()(std::span<const double> x) const;

 private:
  double n_;
  std::string name_;
};

Percentile percentile(double n);

// sqrt(days) * mean(returns) / std(returns).
double sharpe_ratio(std::span<const double> returns, int days = 252);

// The Sharpe ratio of returns - benchmark_returns, taken element by element.
// ValueError when the two arrays differ in length.
double information_ratio(std::span<const double> returns, std::span<const double> benchmark_returns,
                         int days = 252);

// The Sharpe ratio of returns scaled by std(benchmark_returns), which is not
// annualised. Only the benchmark's spread enters, so it may cover another
// number of periods than the returns.
double modigliani_ratio(std::span<const double> returns, std::span<const double> benchmark_returns,
                        double days = 252);

// The worst drawdown within a trailing window, per period: the minimum over
// the last `window` values of pv[t] / max(pv over the last `window` values
// ending at t) - 1. Windows that have fewer than `window` values so far use
// what they have; NaN values are left out, and a window without any value
// gives NaN. The result is named "pv" and has the input's length and index
// (positions for a plain array). Takes time linear in the length whatever
// the window. ValueError when window < 1.
Series rolling_maximum_drawdown(const Series& portfolio_value, std::int64_t window = 252);
Series rolling_maximum_drawdown(std::span<const double> portfolio_value, std::int64_t window = 252);

}  // namespace zantrix::plugins::analysis
