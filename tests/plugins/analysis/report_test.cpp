// The performance report: its figures against a series worked by hand, the
// dated axis, round trips from deals, the panels a short series cannot fill,
// the CSV tables, and the inputs it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/error_of.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/analysis/report/report.h"
#include "zantrix/plugins/analysis/report/svg_chart.h"
#include "zantrix/plugins/analysis/report/time_axis.h"

namespace zantrix::plugins::analysis::report {
namespace {

using namespace std::chrono;
using framework::DateTime;

DateTime day(int y, unsigned m, unsigned d) {
  return framework::make_datetime(year{y} / m / d);
}

// The weekdays from `from` to `to`, both included.
std::vector<DateTime> weekdays(DateTime from, DateTime to) {
  std::vector<DateTime> out;
  for (auto t = from; t <= to; t += days{1}) {
    const weekday w{floor<days>(t)};
    if (w != Saturday && w != Sunday) out.push_back(t);
  }
  return out;
}

// Two weeks of daily values: up 10% and back, then a 20% fall from a new
// peak that is not made good by the end.
PerformanceInput worked_series() {
  return {.times = weekdays(day(2024, 1, 29), day(2024, 2, 9)),
          .values = {100, 110, 99, 104.5, 110, 121, 108.9, 114.95, 96.8, 104.5},
          .benchmark = {},
          .days = 252,
          .window = 3};
}

TEST(Report, FiguresOfASeriesWorkedByHand) {
  const Performance p = analyse(worked_series());
  const auto& t = p.input.times;
  EXPECT_NEAR(p.total_return, 0.045, 1e-12);
  // 1.045 over 9 periods, 252 periods a year: 1.045^28 - 1.
  EXPECT_NEAR(p.annualised_return, 2.4297, 1e-4);
  // January closes at 99 against 100; February at 104.5 against 99.
  ASSERT_EQ(p.monthly.size(), 1u);
  EXPECT_EQ(p.monthly[0].year, 2024);
  EXPECT_NEAR(p.monthly[0].months[0].value(), -0.01, 1e-12);
  EXPECT_NEAR(p.monthly[0].months[1].value(), 0.055556, 1e-6);
  EXPECT_FALSE(p.monthly[0].months[2].has_value());
  EXPECT_NEAR(p.monthly[0].total, 0.045, 1e-12);
  EXPECT_EQ(p.months, 2u);
  // 121 on 5 Feb to 96.8 on 8 Feb, deepest; 110 on 30 Jan to 99 the next
  // day, back at 110 on 2 Feb.
  ASSERT_EQ(p.worst_drawdowns.size(), 2u);
  EXPECT_NEAR(p.worst_drawdowns[0].depth, -0.2, 1e-12);
  EXPECT_EQ(t[p.worst_drawdowns[0].peak], day(2024, 2, 5));
  EXPECT_EQ(t[p.worst_drawdowns[0].trough], day(2024, 2, 8));
  EXPECT_FALSE(p.worst_drawdowns[0].recovery.has_value());
  EXPECT_NEAR(p.worst_drawdowns[1].depth, -0.1, 1e-12);
  EXPECT_EQ(t[p.worst_drawdowns[1].peak], day(2024, 1, 30));
  EXPECT_EQ(t[p.worst_drawdowns[1].trough], day(2024, 1, 31));
  EXPECT_EQ(t[p.worst_drawdowns[1].recovery.value()], day(2024, 2, 2));
  EXPECT_NEAR(p.drawdown.back(), 104.5 / 121 - 1, 1e-12);
  // Within 3 values the worst is 96.8 against 114.95.
  EXPECT_NEAR(p.worst_rolling_max_drawdown, -0.157895, 1e-6);
  // On 1 Feb the window holds 0.1, -0.1 and 0.0556: mean 0.018519, population
  // standard deviation 0.085747, so sqrt(252) * 0.018519 / 0.085747.
  EXPECT_TRUE(std::isnan(p.rolling_sharpe[2]));
  EXPECT_EQ(t[3], day(2024, 2, 1));
  EXPECT_NEAR(p.rolling_sharpe[3], 3.4284, 1e-4);
  EXPECT_NEAR(p.rolling_volatility[3], 0.085747 * std::sqrt(252.0), 1e-5);
  // Sorted returns -0.1579, -0.1, ...: 0.4 of the way from the first to the second.
  EXPECT_NEAR(p.return_p5, -0.134737, 1e-6);
}

TEST(Report, DatedAxisTicksAtTheUnitTheSpanSuits) {
  struct Case {
    const char* name;
    std::vector<DateTime> times;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"10 trading days: days",
       weekdays(day(2024, 3, 18), day(2024, 3, 29)),
       {"19 Mar", "20 Mar", "21 Mar", "22 Mar", "25 Mar", "26 Mar", "27 Mar", "28 Mar", "29 Mar"}},
      {"a year: months",
       weekdays(day(2023, 1, 2), day(2023, 12, 29)),
       {"Feb 2023", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}},
      {"6 years: years",
       weekdays(day(2018, 1, 1), day(2023, 12, 29)),
       {"2019", "2020", "2021", "2022", "2023"}},
      {"an afternoon of half hours: hours",
       {day(2024, 3, 18) + 13h, day(2024, 3, 18) + 13h + 30min, day(2024, 3, 18) + 14h,
        day(2024, 3, 18) + 14h + 30min, day(2024, 3, 18) + 15h},
       {"14:00", "15:00"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ticks = time_ticks(c.times);
    std::vector<std::string> labels;
    for (const auto& tick : ticks) {
      labels.push_back(tick.label);
      // Each tick marks the first period of its unit.
      ASSERT_GT(tick.index, 0u);
      EXPECT_LT(c.times[tick.index - 1], c.times[tick.index]);
    }
    EXPECT_EQ(labels, c.labels);
  }
  // The first Monday of the 6-year span's second year is its first tick.
  const auto six_years = weekdays(day(2018, 1, 1), day(2023, 12, 29));
  EXPECT_EQ(six_years[time_ticks(six_years).front().index], day(2019, 1, 1));
}

TEST(Report, RoundTripsRunFromTheOpeningFillToTheClosingOrReversingOne) {
  const core::Stock stock("HK.00700", "Tencent");
  const core::Stock other("HK.00005", "HSBC");
  const auto at = [](int minute) { return day(2024, 3, 18) + 10h + minutes{minute}; };
  using framework::Direction;
  const auto deal = [](const core::Security& s, Direction d, DateTime t, double price, double q) {
    return framework::Deal{.security = s,
                           .direction = d,
                           .updated_time = t,
                           .filled_avg_price = price,
                           .filled_quantity = q};
  };
  const std::vector<framework::Deal> deals{
      deal(stock, Direction::LONG, at(0), 10, 100),
      deal(stock, Direction::LONG, at(5), 12, 100),
      deal(other, Direction::SHORT, at(7), 50, 10),
      deal(stock, Direction::SHORT, at(15), 13, 300),
      deal(other, Direction::LONG, at(20), 45.5, 10),
      deal(stock, Direction::LONG, at(45), 12, 100),
      deal(stock, Direction::LONG, at(50), 11, 50),
  };
  // Long 200 at a mean 11 closed at 13 by the reversal at 15 (2 * 200 * 2
  // points); short 100 from 13 to 12 (1 * 100 * 2); the other short 10 from
  // 50 to 45.5 at the default point value 1; long 50 from 50 still open.
  const auto trips = round_trips(deals, {{"HK.00700", 2.0}});
  ASSERT_EQ(trips.size(), 4u);
  struct Expected {
    std::string instrument;
    Direction direction;
    double quantity, entry_price, exit_price, held, pnl;
  };
  const Expected expected[] = {{"HK.00700", Direction::LONG, 200, 11, 13, 15, 800},
                               {"HK.00005", Direction::SHORT, 10, 50, 45.5, 13, 45},
                               {"HK.00700", Direction::SHORT, 100, 13, 12, 30, 200}};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const auto& e = expected[i];
    EXPECT_EQ(trips[i].instrument, e.instrument);
    EXPECT_EQ(trips[i].direction, e.direction);
    EXPECT_DOUBLE_EQ(trips[i].quantity, e.quantity);
    EXPECT_DOUBLE_EQ(trips[i].entry_price, e.entry_price);
    EXPECT_DOUBLE_EQ(trips[i].exit_price, e.exit_price);
    EXPECT_DOUBLE_EQ(trips[i].holding_minutes, e.held);
    EXPECT_DOUBLE_EQ(trips[i].pnl, e.pnl);
  }
  EXPECT_EQ(trips[3].entry_time, at(50));
  EXPECT_FALSE(trips[3].exit_time.has_value());
  EXPECT_TRUE(std::isnan(trips[3].pnl));
}

TEST(Report, PanelsASeriesIsTooShortForSayWhyAndEveryChartDraws) {
  struct Case {
    const char* name;
    PerformanceInput input;
    std::optional<Trading> trading;
    std::vector<std::string> notes;
  };
  const auto january = weekdays(day(2024, 1, 1), day(2024, 1, 5));
  const Case cases[] = {
      {"fewer periods than the window, all in one month",
       {.times = january, .values = {100, 101, 99, 102, 103}, .days = 252, .window = 252},
       std::nullopt,
       {"A window of 252 periods needs that many returns; the series has 4.",
        "Every period falls in January 2024: a month-by-month view needs at least two months."}},
      {"two values, always rising, no trades",
       {.times = {january[0], january[1]}, .values = {100, 101}, .days = 252, .window = 1},
       Trading{},
       {"A distribution needs at least two period returns; the series has 1.",
        "No drawdown: the value never fell below its running peak.",
        "No round trips: no position was opened."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string page = render_html(
        {.title = "t", .performance = analyse(c.input), .facts = {}, .trading = c.trading});
    for (const auto& note : c.notes) EXPECT_NE(page.find(note), std::string::npos) << note;
    std::size_t charts = 0;
    for (auto at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 1)) {
      ++charts;
      const std::string svg = page.substr(at, page.find("</svg>", at) - at);
      EXPECT_NE(svg.find("<path d=\"M"), std::string::npos) << svg;
    }
    EXPECT_GE(charts, 2u);
  }
}

// The y coordinates of the points of the chart's data line.
std::vector<double> line_ys(const std::string& svg) {
  const auto at = svg.find("class=\"line\" d=\"");
  const std::string d = svg.substr(at + 16, svg.find('"', at + 16) - at - 16);
  std::vector<double> ys;
  for (std::size_t i = 0; i < d.size();) {
    const std::size_t space = d.find(' ', i);
    const std::size_t end = d.find_first_of("ML", space);
    ys.push_back(std::stod(d.substr(space + 1, end - space - 1)));
    i = end;
  }
  return ys;
}

TEST(Report, ALongSeriesIsDrawnAtABoundedSizeKeepingItsExtremes) {
  // A spike in a flat series, among 200000 periods and among 10: drawn with
  // at most four points per unit of width, it still reaches the same height.
  const auto chart = [](std::size_t n) {
    std::vector<double> y(n, 0.0);
    y[n / 2 + 1] = 1;
    return render_chart({.title = "t", .periods = n, .lines = {{y, "#000", "spike", false}}});
  };
  const auto long_ys = line_ys(chart(200'000));
  const auto short_ys = line_ys(chart(10));
  EXPECT_LE(long_ys.size(), 4 * 960u);
  EXPECT_EQ(*std::min_element(long_ys.begin(), long_ys.end()),
            *std::min_element(short_ys.begin(), short_ys.end()));
  EXPECT_EQ(*std::max_element(long_ys.begin(), long_ys.end()),
            *std::max_element(short_ys.begin(), short_ys.end()));
}

TEST(Report, CsvTablesHoldARowPerPeriodAndPerTrade) {
  const auto dir = std::filesystem::temp_directory_path() / "zantrix_report_csv";
  std::filesystem::remove_all(dir);
  const core::Stock stock("HK.00700", "Tencent");
  const std::vector<framework::Deal> deals{{.security = stock,
                                            .direction = framework::Direction::LONG,
                                            .updated_time = day(2024, 1, 30),
                                            .filled_avg_price = 10,
                                            .filled_quantity = 5},
                                           {.security = stock,
                                            .direction = framework::Direction::SHORT,
                                            .updated_time = day(2024, 2, 2),
                                            .filled_avg_price = 11,
                                            .filled_quantity = 5}};
  const Report report{
      .title = "t",
      .performance = analyse(worked_series()),
      .facts = {},
      .trading = Trading{.trips = round_trips(deals), .fees = {{"HK.00700", 2, 10, 19.2}}}};
  write_csv(report, dir);
  const std::map<std::string, std::size_t> lines{{"equity.csv", 11},
                                                 {"drawdown.csv", 11},
                                                 {"drawdown_periods.csv", 3},
                                                 {"monthly_returns.csv", 2},
                                                 {"rolling.csv", 11},
                                                 {"trades.csv", 2},
                                                 {"fees.csv", 2}};
  ASSERT_EQ(csv_files(report).size(), lines.size());
  for (const auto& name : csv_files(report)) {
    std::ifstream in(dir / name);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    EXPECT_EQ(count, lines.at(name)) << name;
  }
  std::ifstream trades(dir / "trades.csv");
  std::string header, trip;
  std::getline(trades, header);
  std::getline(trades, trip);
  EXPECT_EQ(trip, "HK.00700,LONG,5.0,2024-01-30 00:00:00,10.0,2024-02-02 00:00:00,11.0,4320.0,5.0");
  std::filesystem::remove_all(dir);
}

TEST(Report, RefusesSeriesItCannotMeasure) {
  const auto t = weekdays(day(2024, 1, 1), day(2024, 1, 3));
  struct Case {
    PerformanceInput input;
    std::string message;
  };
  const Case cases[] = {
      {{.times = {t[0]}, .values = {100}}, "at least two portfolio values are needed"},
      {{.times = t, .values = {100, 0, 101}}, "portfolio value 0.0 is not a positive number"},
      {{.times = t, .values = {100, 101, 102}, .benchmark = {1, 2}},
       "the benchmark has 2 values, the portfolio 3"},
      {{.times = {t[0], t[2], t[1]}, .values = {100, 101, 102}},
       "portfolio times go back: 2024-01-02 00:00:00 follows 2024-01-03 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::error_of<framework::ValueError>([&] { analyse(c.input); }), c.message);
  }
}

}  // namespace
}  // namespace zantrix::plugins::analysis::report
