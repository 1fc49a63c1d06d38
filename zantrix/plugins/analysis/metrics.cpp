#include "zantrix/plugins/analysis/metrics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"

namespace zantrix::plugins::analysis {

using framework::ValueError;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- convert_time ----------------------------------------------------------

// ---- array statistics -------------------------------------------------------

struct Moments {
  double mean;
  double std;  // population: denominator = count
};

// Two passes over value(0) .. value(n - 1). The first pass sums deviations
// from value(0), so that a constant array has exactly its value as mean and
// exactly 0 as standard deviation; otherwise rounding would turn "no
// volatility" into a huge ratio instead of NaN.
template <class Value>
Moments population_moments(std::size_t n, Value value) {
  if (n == 0) return {kNaN, kNaN};
  const double shift = value(0);
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += value(i) - shift;
  const double count = static_cast<double>(n);
  const double mean = shift + sum / count;
  double squares = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = value(i) - mean;
    squares += d * d;
  }
  return {mean, std::sqrt(squares / count)};
}

Moments population_moments(std::span<const double> x) {
  return population_moments(x.size(), [x](std::size_t i) { return x[i]; });
}

double annualised_sharpe(Moments m, double days) {
  if (m.std == 0.0) return kNaN;
  return std::sqrt(days) * m.mean / m.std;
}

void check_same_length(std::span<const double> returns, std::span<const double> benchmark) {
  if (returns.size() != benchmark.size()) {
    throw ValueError("returns and benchmark_returns differ in length: " +
                     std::to_string(returns.size()) + " and " + std::to_string(benchmark.size()));
  }
}

// ---- rolling maximum drawdown -----------------------------------------------

// `n` zeros in a buffer backed by huge pages where it is large enough to
// hold some. On virtual machines every 4 KiB page touched for the first time
// costs a fault that dwarfs the work done on it; 2 MiB pages cut the number
// of faults 512-fold (numpy asks for them the same way).
std::vector<double> zeros(std::size_t n) {
  std::vector<double> out;
  out.reserve(n);
#if defined(__linux__)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + n * sizeof(double)) & ~(kHugePage - 1);
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  out.resize(n);
  return out;
}

// The larger (smaller) of a running extreme, which is never NaN, and `x`.
// A comparison with NaN is false, so a NaN `x` leaves the extreme as it was:
// one maxsd (minsd), no branch.
inline double larger(double extreme, double x) {
  return x > extreme ? x : extreme;
}
inline double smaller(double extreme, double x) {
  return x < extreme ? x : extreme;
}

// Trailing-window maximum and minimum by van Herk / Gil-Werman: cut the input
// into blocks of `w` values. A window ending at offset i of one block is the
// suffix of the previous block from offset i + 1 together with the prefix of
// its own block up to i, so its extreme is the better of a suffix extreme and
// a running prefix extreme: three comparisons per value whatever `w` is.
//
// Both rolling passes run block by block in one sweep, so the only
// intermediate storage is three block-sized buffers: the suffix maxima of the
// previous block's values, the suffix minima of its drawdowns, and the
// current block's drawdowns. Slot w of each suffix buffer holds the identity
// (-inf or +inf) and serves the last offset of a block, whose window is its
// own block; before the first block every slot does.
//
// NaN values drop out of every extreme (see larger and smaller). The maximum
// needs no further care: a window of pv without any value ends in a NaN
// pv[t], and the drawdown is NaN then whatever the maximum is. The minimum of
// a window without any drawdown would come out as +inf, which is also a
// drawdown in its own right (-1 / -0.0 - 1), so instead the loop counts the
// periods since the last drawdown that was a value and writes NaN when that
// is a whole window.
void rolling_drawdown(std::span<const double> pv, std::size_t w, double* out) {
  const std::size_t n = pv.size();
  std::vector<double> buffers(3 * (w + 1));
  double* suffix_max = buffers.data();
  double* suffix_min = suffix_max + (w + 1);
  double* drawdown = suffix_min + (w + 1);
  std::fill(suffix_max, suffix_max + w + 1, -kInf);
  std::fill(suffix_min, suffix_min + w + 1, kInf);
  drawdown[w] = kInf;

  // Added to a window's minimum: 0 when the window held a drawdown, NaN when
  // it held none. Indexing rather than choosing keeps the compiler from
  // branching on it.
  constexpr double kEmptyWindow[2] = {0.0, kNaN};
  std::size_t since_value = w;
  for (std::size_t start = 0; start < n; start += w) {
    const std::size_t len = std::min(w, n - start);
    const double* x = pv.data() + start;
    double* y = out + start;

    double prefix_max = -kInf;
    double prefix_min = kInf;
    for (std::size_t i = 0; i < len; ++i) {
      prefix_max = larger(prefix_max, x[i]);
      const double dd = x[i] / larger(suffix_max[i + 1], prefix_max) - 1.0;
      drawdown[i] = dd;
      since_value = (since_value + 1) & (std::size_t{0} - static_cast<std::size_t>(dd != dd));
      prefix_min = smaller(prefix_min, dd);
      y[i] = smaller(suffix_min[i + 1], prefix_min) + kEmptyWindow[since_value >= w];
    }
    if (start + len == n) break;

    // len == w here: the block is whole, and becomes the previous block.
    double back_max = -kInf;
    double back_min = kInf;
    for (std::size_t i = len; i-- > 0;) {
      back_max = larger(back_max, x[i]);
      suffix_max[i] = back_max;
      back_min = smaller(back_min, drawdown[i]);
      drawdown[i] = back_min;
    }
    std::swap(drawdown, suffix_min);
  }
}

std::vector<double> rolling_drawdown(std::span<const double> pv, std::int64_t window) {
  if (window < 0) throw ValueError("window must be an integer 0 or greater");
  if (window == 0) throw ValueError("min_periods 1 must be <= window 0");
  // A window longer than the input reaches back to its start at every t,
  // exactly as a window of the input's length does.
  const std::size_t w = std::min(static_cast<std::size_t>(window), pv.size());
  std::vector<double> out = zeros(pv.size());
  if (!pv.empty()) rolling_drawdown(pv, w, out.data());
  return out;
}

}  // namespace

std::string convert_time(std::string_view time_) {
  const std::size_t hour_end = time_.find(':');
  if (hour_end == std::string_view::npos) {
    throw ValueError("time " + framework::quote_text(time_) + " has no minutes");
  }
  const std::string_view hour = time_.substr(0, hour_end);
  const std::string_view rest = time_.substr(hour_end + 1);
  const std::string_view minute = rest.substr(0, rest.find(':'));
  const std::optional<std::int64_t> minutes = framework::parse_integer_text(minute);
  if (!minutes) {
    throw ValueError("invalid literal for int() with base 10: " + framework::quote_text(minute));
  }
  return std::string(hour) + (*minutes < 30 ? ":00:00" : ":30:00");
}

double _holding_period(std::string_view open_datetime, std::string_view close_datetime) {
  const framework::DateTime open = framework::parse_datetime(open_datetime);
  const framework::DateTime close = framework::parse_datetime(close_datetime);
  return std::chrono::duration<double>(close - open).count() / 60.0;
}

Percentile::Percentile(double n) : n_(n) {
  if (!(n >= 0.0 && n <= 100.0)) {
    throw ValueError("percentile must be in the range [0, 100], got " +
                     framework::format_number(n));
  }
  name_ = "percentile_" + framework::format_number(n);
}

double Percentile::operator()(const Series& x) const {
  return (*this)(x.values());
}

// Linear interpolation between the two order statistics around the position,
// found by selection rather than a full sort.
double Percentile::operator()(std::span<const double> x) const {
  std::vector<double> values;
  values.reserve(x.size());
  for (const double v : x) {
    if (!std::isnan(v)) values.push_back(v);
  }
  if (values.empty()) return kNaN;
  const double position = n_ / 100.0 * static_cast<double>(values.size() - 1);
  const double below = std::floor(position);
  const auto lower = values.begin() + static_cast<std::ptrdiff_t>(below);
  std::nth_element(values.begin(), lower, values.end());
  const double fraction = position - below;
  if (fraction == 0.0) return *lower;
  const double a = *lower;
  const double b = *std::min_element(lower + 1, values.end());
  // Anchored at the nearer end, as numpy does, so that the result stays
  // within [a, b] under rounding.
  const double diff = b - a;
  return fraction < 0.5 ? a + diff * fraction : b - diff * (1.0 - fraction);
}

Percentile percentile(double n) {
  return Percentile(n);
}

double sharpe_ratio(std::span<const double> returns, int days) {
  return annualised_sharpe(population_moments(returns), days);
}

double information_ratio(std::span<const double> returns, std::span<const double> benchmark_returns,
                         int days) {
  check_same_length(returns, benchmark_returns);
  const Moments difference = population_moments(
      returns.size(), [&](std::size_t i) { return returns[i] - benchmark_returns[i]; });
  return annualised_sharpe(difference, days);
}

double modigliani_ratio(std::span<const double> returns, std::span<const double> benchmark_returns,
                        double days) {
  const double sharpe = annualised_sharpe(population_moments(returns), days);
  if (std::isnan(sharpe)) return kNaN;
  return sharpe * population_moments(benchmark_returns).std;
}

Series rolling_maximum_drawdown(const Series& portfolio_value, std::int64_t window) {
  Series result = portfolio_value.with_values(rolling_drawdown(portfolio_value.values(), window));
  result.set_name("pv");
  return result;
}

Series rolling_maximum_drawdown(std::span<const double> portfolio_value, std::int64_t window) {
  return Series(rolling_drawdown(portfolio_value, window), "pv");
}

}  // namespace zantrix::plugins::analysis
