#include "zantrix/plugins/analysis/report/performance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::plugins::analysis::report {

using framework::ValueError;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> returns_of(const std::vector<double>& values) {
  std::vector<double> out;
  out.reserve(values.size());
  for (std::size_t i = 1; i < values.size(); ++i) out.push_back(values[i] / values[i - 1] - 1.0);
  return out;
}

void check_positive(const std::vector<double>& values) {
  for (const double v : values) {
    if (!(v > 0) || !std::isfinite(v)) {
      throw ValueError("portfolio value " + framework::format_number(v) +
                       " is not a positive number");
    }
  }
}

void check_input(const PerformanceInput& in) {
  if (in.values.size() < 2) throw ValueError("at least two portfolio values are needed");
  if (in.times.size() != in.values.size()) {
    throw ValueError("portfolio values and times differ in length");
  }
  if (in.days < 1) throw ValueError("days must be at least 1");
  if (in.window < 1) throw ValueError("window must be at least 1");
  check_positive(in.values);
  if (!in.benchmark.empty()) {
    if (in.benchmark.size() != in.values.size()) {
      throw ValueError("the benchmark has " + std::to_string(in.benchmark.size()) +
                       " values, the portfolio " + std::to_string(in.values.size()));
    }
    check_positive(in.benchmark);
  }
  for (std::size_t i = 1; i < in.times.size(); ++i) {
    if (in.times[i] < in.times[i - 1]) {
      throw ValueError("portfolio times go back: " + framework::format_datetime(in.times[i]) +
                       " follows " + framework::format_datetime(in.times[i - 1]));
    }
  }
}

double population_std(std::span<const double> xs) {
  double mean = 0;
  for (const double x : xs) mean += x;
  mean /= static_cast<double>(xs.size());
  double squares = 0;
  for (const double x : xs) squares += (x - mean) * (x - mean);
  return std::sqrt(squares / static_cast<double>(xs.size()));
}

int month_key(DateTime t) {
  const framework::Date d = framework::date_of(t);
  return static_cast<int>(d.year()) * 12 + static_cast<int>(static_cast<unsigned>(d.month())) - 1;
}

// Months and years close on their last value and open on the close of the
// one before (the first on the first value).
void monthly_returns(Performance& p) {
  const auto& times = p.input.times;
  const auto& values = p.input.values;
  double month_open = values.front();
  double year_open = values.front();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const bool month_ends =
        i + 1 == values.size() || month_key(times[i + 1]) != month_key(times[i]);
    if (!month_ends) continue;
    const int key = month_key(times[i]);
    const int year = key / 12;
    if (p.monthly.empty() || p.monthly.back().year != year) {
      p.monthly.push_back({.year = year, .months = {}, .total = 0});
    }
    ReturnsYear& row = p.monthly.back();
    row.months[static_cast<std::size_t>(key % 12)] = values[i] / month_open - 1.0;
    month_open = values[i];
    ++p.months;
    const bool year_ends = i + 1 == values.size() || month_key(times[i + 1]) / 12 != year;
    row.total = values[i] / year_open - 1.0;
    if (year_ends) year_open = values[i];
  }
}

void rolling_figures(Performance& p) {
  const std::size_t n = p.input.values.size();
  p.rolling_sharpe.assign(n, kNaN);
  p.rolling_volatility.assign(n, kNaN);
  if (!p.has_rolling()) return;
  const auto window = static_cast<std::size_t>(p.input.window);
  const std::span<const double> returns(p.returns);
  // The return that ends at time t is returns[t - 1].
  for (std::size_t t = window; t < n; ++t) {
    const auto span = returns.subspan(t - window, window);
    p.rolling_sharpe[t] = sharpe_ratio(span, p.input.days);
    p.rolling_volatility[t] = population_std(span) * std::sqrt(p.input.days);
  }
}

}  // namespace

std::vector<DrawdownPeriod> drawdown_periods(const std::vector<double>& values) {
  std::vector<DrawdownPeriod> periods;
  std::size_t peak = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (values[i] >= values[peak]) {
      if (!periods.empty() && periods.back().peak == peak && !periods.back().recovery) {
        periods.back().recovery = i;
      }
      peak = i;
      continue;
    }
    if (periods.empty() || periods.back().peak != peak) {
      periods.push_back({.peak = peak, .trough = i, .recovery = std::nullopt, .depth = 0});
    }
    DrawdownPeriod& current = periods.back();
    const double depth = values[i] / values[peak] - 1.0;
    if (depth < current.depth) current.depth = depth, current.trough = i;
  }
  std::stable_sort(
      periods.begin(), periods.end(),
      [](const DrawdownPeriod& a, const DrawdownPeriod& b) { return a.depth < b.depth; });
  return periods;
}

Performance analyse(PerformanceInput input) {
  check_input(input);
  Performance p;
  p.input = std::move(input);
  const auto& in = p.input;
  const auto& values = in.values;
  p.returns = returns_of(values);
  p.total_return = values.back() / values.front() - 1.0;
  p.annualised_return =
      std::pow(values.back() / values.front(),
               static_cast<double>(in.days) / static_cast<double>(p.returns.size())) -
      1.0;
  p.volatility = population_std(p.returns) * std::sqrt(in.days);
  p.sharpe = sharpe_ratio(p.returns, in.days);
  p.information_ratio = p.m2 = p.benchmark_total_return = kNaN;
  if (p.has_benchmark()) {
    p.benchmark_returns = returns_of(in.benchmark);
    p.information_ratio = information_ratio(p.returns, p.benchmark_returns, in.days);
    p.m2 = modigliani_ratio(p.returns, p.benchmark_returns, in.days);
    p.benchmark_total_return = in.benchmark.back() / in.benchmark.front() - 1.0;
  }

  double peak = values.front();
  p.drawdown.reserve(values.size());
  for (const double v : values) {
    peak = std::max(peak, v);
    p.drawdown.push_back(v / peak - 1.0);
  }
  p.worst_drawdowns = drawdown_periods(values);
  if (p.worst_drawdowns.size() > kWorstDrawdowns) p.worst_drawdowns.resize(kWorstDrawdowns);
  const Series rolling = rolling_maximum_drawdown(values, in.window);
  p.rolling_max_drawdown.assign(rolling.values().begin(), rolling.values().end());
  p.worst_rolling_max_drawdown =
      *std::min_element(p.rolling_max_drawdown.begin(), p.rolling_max_drawdown.end());

  monthly_returns(p);
  rolling_figures(p);
  p.return_p5 = percentile(5)(p.returns);
  p.return_p95 = percentile(95)(p.returns);
  return p;
}

}  // namespace zantrix::plugins::analysis::report
