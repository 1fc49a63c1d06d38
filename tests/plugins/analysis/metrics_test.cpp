#include "zantrix/plugins/analysis/metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"

namespace zantrix::plugins::analysis {
namespace {

using framework::DateTime;
using framework::ValueError;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Equal values, or both NaN.
bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

void expect_values_near(std::span<const double> actual, const std::vector<double>& expected,
                        double tolerance = 1e-12) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "at " << i << ": " << actual[i];
    } else {
      EXPECT_NEAR(actual[i], expected[i], tolerance) << "at " << i;
    }
  }
}

// ---- convert_time -------------------------------------------------------------

TEST(ConvertTime, BucketsIntoHalfHours) {
  EXPECT_EQ(convert_time("10:29:59"), "10:00:00");
  EXPECT_EQ(convert_time("10:30:00"), "10:30:00");
  EXPECT_EQ(convert_time("09:17:45"), "09:00:00");
  EXPECT_EQ(convert_time("23:59:59"), "23:30:00");
  EXPECT_EQ(convert_time("00:00:00"), "00:00:00");
}

TEST(ConvertTime, CopiesTheHourTextUnchanged) {
  EXPECT_EQ(convert_time("9:59"), "9:30:00");
  EXPECT_EQ(convert_time("7:05:00:123"), "7:00:00");
  EXPECT_EQ(convert_time("xx:10:00"), "xx:00:00");
  EXPECT_EQ(convert_time(":45"), ":30:00");
}

TEST(ConvertTime, ReadsTheMinuteLikeAnIntegerLiteral) {
  EXPECT_EQ(convert_time("10: 29 :00"), "10:00:00");
  EXPECT_EQ(convert_time("10:\t45\n"), "10:30:00");
  EXPECT_EQ(convert_time("10:+45"), "10:30:00");
  EXPECT_EQ(convert_time("10:-45"), "10:00:00");
  EXPECT_EQ(convert_time("10:-0"), "10:00:00");
  EXPECT_EQ(convert_time("10:2_9"), "10:00:00");
  EXPECT_EQ(convert_time("10:3_0"), "10:30:00");
  EXPECT_EQ(convert_time("10:0029"), "10:00:00");
}

TEST(ConvertTime, RejectsMissingOrMalformedMinutes) {
  for (const std::string_view bad :
       {"", "10", "1030", "10:", "10: ", "10:xx", "10:4.5", "10:_45", "10:45_", "10:4__5", "10:+",
        "10:-", "10:+-5", "10:4 5", "10:18446744073709551617", "10:-99999999999999999999"}) {
    EXPECT_THROW(convert_time(bad), ValueError) << bad;
  }
}

// ---- holding_period -------------------------------------------------------------

struct TradeRow {
  int id;
  std::string_view open_datetime;
  const char* close_datetime;
};
struct OpenOnly {
  std::string open_datetime;
};
static_assert(HoldingPeriodRecord<HoldingPeriodRow>);
static_assert(HoldingPeriodRecord<TradeRow>);
static_assert(!HoldingPeriodRecord<OpenOnly>);

double minutes(const char* open, const char* close) {
  return holding_period(HoldingPeriodRow{open, close});
}

TEST(HoldingPeriod, MinutesWithFractionsAcrossDaysAndBackwards) {
  EXPECT_DOUBLE_EQ(minutes("2024-03-01 09:30:00", "2024-03-01 11:00:30"), 90.5);
  EXPECT_DOUBLE_EQ(minutes("2024-03-01 09:30:00", "2024-03-01 09:31:30"), 1.5);
  EXPECT_DOUBLE_EQ(minutes("2024-03-01 11:00:30", "2024-03-01 09:30:00"), -90.5);
  EXPECT_DOUBLE_EQ(minutes("2024-02-28 12:00:00", "2024-03-01 12:00:00"), 2 * 1440.0);  // leap
}

TEST(HoldingPeriod, AcceptsAnyRecordWithTheTwoTextFields) {
  const TradeRow row{7, "2024-03-01 09:30:00", "2024-03-01 10:00:00"};
  EXPECT_DOUBLE_EQ(holding_period(row), 30.0);
}

TEST(HoldingPeriod, RejectsOtherTextForms) {
  EXPECT_THROW(minutes("2024-03-01T09:30:00", "2024-03-01 10:00:00"), ValueError);
  EXPECT_THROW(minutes("2024-03-01 09:30:00", "2024-03-01 10:00"), ValueError);
  EXPECT_THROW(minutes("", ""), ValueError);
}

// ---- percentile ------------------------------------------------------------------

TEST(Percentile, NamesCarryTheNumberAsFloatingPoint) {
  EXPECT_EQ(percentile(50).name(), "percentile_50.0");
  EXPECT_EQ(percentile(95).name(), "percentile_95.0");
  EXPECT_EQ(percentile(99.5).name(), "percentile_99.5");
  EXPECT_EQ(percentile(0).name(), "percentile_0.0");
}

TEST(Percentile, InterpolatesLinearlyBetweenOrderStatistics) {
  const std::vector<double> v{4, 1, 3, 2};
  EXPECT_DOUBLE_EQ(percentile(50)(v), 2.5);
  EXPECT_DOUBLE_EQ(percentile(0)(v), 1.0);
  EXPECT_DOUBLE_EQ(percentile(100)(v), 4.0);
  EXPECT_DOUBLE_EQ(percentile(25)(v), 1.75);
  EXPECT_DOUBLE_EQ(percentile(90)(v), 3.7);
  const std::vector<double> tens{50, 10, 40, 20, 30};
  EXPECT_DOUBLE_EQ(percentile(10)(tens), 14.0);
  EXPECT_DOUBLE_EQ(percentile(75)(tens), 40.0);
}

TEST(Percentile, EachAggregateKeepsItsOwnN) {
  const Percentile low = percentile(25);
  const Percentile high = percentile(75);
  const std::vector<double> v{1, 2, 3, 4, 5};
  EXPECT_DOUBLE_EQ(low(v), 2.0);
  EXPECT_DOUBLE_EQ(high(v), 4.0);
  EXPECT_EQ(low.name(), "percentile_25.0");
  EXPECT_EQ(high.name(), "percentile_75.0");
}

TEST(Percentile, LeavesMissingValuesOutOfASeries) {
  const Series x({kNaN, 4, 1, kNaN, 3, 2}, "pnl");
  EXPECT_DOUBLE_EQ(percentile(50)(x), 2.5);
  EXPECT_DOUBLE_EQ(percentile(100)(x), 4.0);
  EXPECT_DOUBLE_EQ(percentile(0)(x), 1.0);
}

TEST(Percentile, NothingToAggregateIsNaN) {
  EXPECT_TRUE(std::isnan(percentile(50)(Series())));
  EXPECT_TRUE(std::isnan(percentile(50)(Series({kNaN, kNaN}))));
  EXPECT_DOUBLE_EQ(percentile(37)(Series({kNaN, 8.0})), 8.0);
}

TEST(Percentile, RejectsNOutsideZeroToHundred) {
  EXPECT_THROW(percentile(-0.5), ValueError);
  EXPECT_THROW(percentile(100.01), ValueError);
  EXPECT_THROW(percentile(kNaN), ValueError);
  EXPECT_THROW(percentile(kInf), ValueError);
}

// ---- sharpe_ratio ------------------------------------------------------------------

TEST(SharpeRatio, UsesThePopulationStandardDeviation) {
  const std::vector<double> r{0.01, 0.02, 0.03};
  const double expected = std::sqrt(252.0) * 0.02 / std::sqrt(0.0002 / 3);
  EXPECT_NEAR(sharpe_ratio(r), expected, 1e-9);
  EXPECT_NEAR(sharpe_ratio(r), 38.8844, 1e-4);
  EXPECT_NEAR(sharpe_ratio(r, 1), expected / std::sqrt(252.0), 1e-12);
}

TEST(SharpeRatio, NoVolatilityIsNaN) {
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>{0.01, 0.01, 0.01})));
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>{0.05})));
  // The naive mean of ten 0.1s is not 0.1, which would leave a tiny
  // deviation and an enormous ratio.
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>(10, 0.1))));
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>(7, -0.3))));
}

TEST(SharpeRatio, MissingValuesAndEmptyArraysAreNaN) {
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>{0.01, kNaN, 0.03})));
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>{kNaN, 0.01, 0.03})));
  EXPECT_TRUE(std::isnan(sharpe_ratio(std::vector<double>{})));
}

// ---- information_ratio --------------------------------------------------------------

TEST(InformationRatio, IsTheRatioOfTheDifference) {
  const std::vector<double> r{0.03, 0.01, 0.05};
  const std::vector<double> b{0.01, 0.00, 0.02};
  const std::vector<double> d{0.02, 0.01, 0.03};
  EXPECT_NEAR(information_ratio(r, b), sharpe_ratio(d), 1e-9);
  EXPECT_NEAR(information_ratio(r, b, 12), sharpe_ratio(d, 12), 1e-9);
}

TEST(InformationRatio, IdenticalArraysOrMissingValuesAreNaN) {
  const std::vector<double> r{0.01, -0.02, 0.03};
  EXPECT_TRUE(std::isnan(information_ratio(r, r)));
  EXPECT_TRUE(std::isnan(information_ratio(r, std::vector<double>{0.0, kNaN, 0.0})));
  EXPECT_TRUE(std::isnan(information_ratio(std::vector<double>{}, std::vector<double>{})));
}

TEST(InformationRatio, UnequalLengthsAreAValueErrorNamingBoth) {
  try {
    information_ratio(std::vector<double>{1, 2, 3}, std::vector<double>{1, 2, 3, 4});
    FAIL() << "no error";
  } catch (const ValueError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find('3'), std::string::npos) << message;
    EXPECT_NE(message.find('4'), std::string::npos) << message;
  }
}

// ---- modigliani_ratio --------------------------------------------------------------

TEST(ModiglianiRatio, IsSharpeScaledByBenchmarkVolatility) {
  const std::vector<double> r{0.01, 0.02, 0.03, -0.01};
  const std::vector<double> b{0.00, 0.01, 0.04, -0.02};
  const double mean_b = 0.0075;
  double squares = 0.0;
  for (const double x : b) squares += (x - mean_b) * (x - mean_b);
  const double std_b = std::sqrt(squares / 4);
  EXPECT_NEAR(modigliani_ratio(r, b), sharpe_ratio(r) * std_b, 1e-12);
  EXPECT_NEAR(modigliani_ratio(r, b, 52.0), sharpe_ratio(r, 52) * std_b, 1e-12);
  EXPECT_NEAR(modigliani_ratio(r, b, 252.5), std::sqrt(252.5 / 252.0) * sharpe_ratio(r) * std_b,
              1e-12);
}

TEST(ModiglianiRatio, NaNCases) {
  const std::vector<double> r{0.01, 0.02, 0.03};
  EXPECT_TRUE(std::isnan(modigliani_ratio(std::vector<double>{0.02, 0.02, 0.02}, r)));
  EXPECT_TRUE(std::isnan(modigliani_ratio(r, std::vector<double>{0.01, kNaN, 0.0})));
  EXPECT_TRUE(std::isnan(modigliani_ratio(std::vector<double>{kNaN, 0.0, 0.1}, r)));
  EXPECT_EQ(modigliani_ratio(r, std::vector<double>{0.01, 0.01, 0.01}), 0.0);
}

// Only the benchmark's spread enters, so it may cover another span of periods.
TEST(ModiglianiRatio, BenchmarkMayDifferInLength) {
  const std::vector<double> r{0.01, 0.02, 0.03, -0.01};
  const std::vector<double> b{0.00, 0.02};  // standard deviation 0.01
  EXPECT_NEAR(modigliani_ratio(r, b), sharpe_ratio(r) * 0.01, 1e-12);
  const std::vector<double> short_r{0.01, 0.03};
  const std::vector<double> long_b{0.00, 0.02, 0.00, 0.02};
  EXPECT_NEAR(modigliani_ratio(short_r, long_b), sharpe_ratio(short_r) * 0.01, 1e-12);
  EXPECT_TRUE(std::isnan(modigliani_ratio(r, std::vector<double>{})));
}

// ---- rolling_maximum_drawdown ------------------------------------------------------

// Straight from the definition, window by window.
std::vector<double> naive_drawdown(const std::vector<double>& pv, std::size_t w) {
  const auto extreme = [w](const std::vector<double>& x, std::size_t t, bool want_max) {
    double best = kNaN;
    for (std::size_t i = t + 1 > w ? t + 1 - w : 0; i <= t; ++i) {
      if (std::isnan(x[i])) continue;
      if (std::isnan(best) || (want_max ? x[i] > best : x[i] < best)) best = x[i];
    }
    return best;
  };
  std::vector<double> dd(pv.size());
  for (std::size_t t = 0; t < pv.size(); ++t) dd[t] = pv[t] / extreme(pv, t, true) - 1.0;
  std::vector<double> out(pv.size());
  for (std::size_t t = 0; t < pv.size(); ++t) out[t] = extreme(dd, t, false);
  return out;
}

TEST(RollingMaximumDrawdown, WindowLongerThanTheData) {
  const Series r = rolling_maximum_drawdown(std::vector<double>{100, 120, 90, 130});
  expect_values_near(r.values(), {0, 0, -0.25, -0.25});
  EXPECT_EQ(r.name(), "pv");
  EXPECT_FALSE(r.has_datetime_index());
}

TEST(RollingMaximumDrawdown, TwoPeriodWindow) {
  const Series r = rolling_maximum_drawdown(std::vector<double>{100, 120, 90, 130, 125}, 2);
  expect_values_near(r.values(), {0, 0, -0.25, -0.25, 125.0 / 130.0 - 1.0});
  EXPECT_NEAR(r[4], -0.0385, 1e-4);
}

TEST(RollingMaximumDrawdown, WindowOfOneIsZeroWhereThereIsAValue) {
  const Series r = rolling_maximum_drawdown(std::vector<double>{100, 50, kNaN, 25}, 1);
  expect_values_near(r.values(), {0, 0, kNaN, 0});
}

TEST(RollingMaximumDrawdown, WindowLongerThanDataEqualsWholeDataWindow) {
  const std::vector<double> pv{100, 80, 120, 60, 90, 30};
  const Series whole = rolling_maximum_drawdown(pv, 6);
  const std::vector<std::int64_t> longer{7, 100, 1000000, std::numeric_limits<std::int64_t>::max()};
  for (const std::int64_t w : longer) {
    EXPECT_EQ(rolling_maximum_drawdown(pv, w), whole) << w;
  }
  expect_values_near(whole.values(), {0, -0.2, -0.2, -0.5, -0.5, -0.75});
}

TEST(RollingMaximumDrawdown, LeavesMissingValuesOutOfWindows) {
  const Series r =
      rolling_maximum_drawdown(std::vector<double>{100, kNaN, 80, 70, kNaN, kNaN, 90}, 3);
  expect_values_near(r.values(), {0, 0, -0.2, -0.2, -0.2, -0.125, 0});
}

TEST(RollingMaximumDrawdown, WindowWithoutAnyValueIsNaN) {
  expect_values_near(rolling_maximum_drawdown(std::vector<double>{100, kNaN, kNaN, 50}, 2).values(),
                     {0, 0, kNaN, 0});
  expect_values_near(rolling_maximum_drawdown(std::vector<double>{kNaN, kNaN, 100, 50}, 3).values(),
                     {kNaN, kNaN, 0, -0.5});
  expect_values_near(rolling_maximum_drawdown(std::vector<double>(5, kNaN), 2).values(),
                     std::vector<double>(5, kNaN));
}

TEST(RollingMaximumDrawdown, InfiniteDrawdownIsAValueNotAnEmptyWindow) {
  // max(-0.0, -1.0) is -0.0, and -1.0 / -0.0 is +inf; 0/0 gives NaN first.
  const Series r = rolling_maximum_drawdown(std::vector<double>{-0.0, -1.0}, 2);
  EXPECT_TRUE(std::isnan(r[0]));
  EXPECT_EQ(r[1], kInf);
}

TEST(RollingMaximumDrawdown, EmptyInput) {
  EXPECT_TRUE(rolling_maximum_drawdown(std::vector<double>{}, 5).empty());
  EXPECT_TRUE(rolling_maximum_drawdown(Series(), 1).empty());
}

TEST(RollingMaximumDrawdown, RejectsWindowsBelowOne) {
  const std::vector<double> pv{1, 2, 3};
  EXPECT_THROW(rolling_maximum_drawdown(pv, 0), ValueError);
  EXPECT_THROW(rolling_maximum_drawdown(pv, -1), ValueError);
  EXPECT_THROW(rolling_maximum_drawdown(std::vector<double>{}, 0), ValueError);
}

TEST(RollingMaximumDrawdown, DateTimeIndexedSeriesKeepsItsIndex) {
  using namespace std::chrono;
  const framework::Date day = year{2024} / March / 1;
  std::vector<DateTime> index;
  for (int i = 0; i < 4; ++i) index.push_back(framework::make_datetime(day, hours{i}));
  const Series equity({100, 120, 90, 130}, index, "equity");
  const Series r = rolling_maximum_drawdown(equity);
  ASSERT_TRUE(r.has_datetime_index());
  EXPECT_TRUE(std::ranges::equal(r.datetime_index(), index));
  EXPECT_EQ(r.name(), "pv");
  expect_values_near(r.values(), {0, 0, -0.25, -0.25});
  EXPECT_EQ(equity.name(), "equity");
}

TEST(RollingMaximumDrawdown, PositionalSeriesStaysPositional) {
  const Series r = rolling_maximum_drawdown(Series({100, 90}, "equity"), 5);
  EXPECT_FALSE(r.has_datetime_index());
  EXPECT_EQ(r.name(), "pv");
  expect_values_near(r.values(), {0, -0.1});
}

// Block boundaries fall at every multiple of the window; lengths and windows
// that do and do not divide each other, with gaps longer than a window,
// exercise each way a window can straddle them.
TEST(RollingMaximumDrawdown, MatchesTheDefinitionOnRandomData) {
  std::mt19937_64 rng(20240301);
  std::uniform_real_distribution<double> step(-0.03, 0.03);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<std::size_t> lengths{1, 2, 3, 17, 64, 100, 257, 1000};
  for (const std::size_t n : lengths) {
    std::vector<double> pv(n);
    double value = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
      value *= 1.0 + step(rng);
      pv[i] = value;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double u = unit(rng);
      if (u < 0.08) pv[i] = kNaN;
      if (u > 0.995) {
        for (std::size_t j = i; j < std::min(n, i + 12); ++j) pv[j] = kNaN;
      }
    }
    const std::vector<std::size_t> windows{1, 2,     3,    4, 5, 8, 10, 16, 33, n > 1 ? n - 1 : 1,
                                           n, n + 1, 3 * n};
    for (const std::size_t w : windows) {
      const std::vector<double> expected = naive_drawdown(pv, w);
      const Series actual = rolling_maximum_drawdown(pv, static_cast<std::int64_t>(w));
      ASSERT_EQ(actual.size(), n);
      std::size_t mismatches = 0;
      for (std::size_t t = 0; t < n; ++t) {
        if (!same(actual[t], expected[t])) {
          if (mismatches++ == 0) {
            ADD_FAILURE() << "n=" << n << " w=" << w << " t=" << t << ": " << actual[t] << " vs "
                          << expected[t];
          }
        }
      }
      EXPECT_EQ(mismatches, 0u) << "n=" << n << " w=" << w;
    }
  }
}

// ---- Series ------------------------------------------------------------------------

TEST(Series, IndexMustMatchTheValues) {
  EXPECT_THROW(Series({1.0, 2.0}, std::vector<DateTime>(3)), ValueError);
  const Series s({1.0, 2.0}, std::vector<DateTime>(2), "x");
  EXPECT_THROW(s.with_values({1.0}), ValueError);
}

TEST(Series, WithValuesKeepsIndexAndName) {
  const std::vector<DateTime> index{DateTime{}, DateTime{} + std::chrono::seconds{1}};
  const Series s({1.0, 2.0}, index, "x");
  const Series t = s.with_values({3.0, 4.0});
  EXPECT_EQ(t.name(), "x");
  EXPECT_TRUE(std::ranges::equal(t.datetime_index(), index));
  EXPECT_EQ(t[1], 4.0);
  EXPECT_TRUE(Series({1.0}).datetime_index().empty());
}

TEST(Series, CountLeavesMissingValuesOut) {
  EXPECT_EQ(Series({1.0, kNaN, 3.0, kNaN}).count(), 2u);
  EXPECT_EQ(Series().count(), 0u);
}

}  // namespace
}  // namespace zantrix::plugins::analysis
