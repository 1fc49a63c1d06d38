// The performance report of a run of portfolio values, and of the trades
// behind it when there are any: a text table for the console, one
// self-contained HTML page (a tear sheet), and the tables behind its charts
// as CSV files.
//
// The page holds its charts as inline SVG and its styles inline: it loads
// nothing, runs no script, prints on A4 landscape and narrows to one column
// on a small screen. It shows the key figures, the equity against its
// benchmark rebased to 1, the drawdown from the running peak with the worst
// periods marked and listed, the monthly returns as a heatmap, the rolling
// Sharpe ratio and volatility, the distribution of the period returns with
// their 5th and 95th percentiles, and, for a trading run, the round trips and
// the fees by instrument. A panel that the series is too short for says why.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zantrix/plugins/analysis/report/performance.h"
#include "zantrix/plugins/analysis/report/round_trips.h"

namespace zantrix::plugins::analysis::report {

struct Trading {
  std::vector<RoundTrip> trips;
  std::vector<InstrumentFees> fees;
};

struct Report {
  std::string title;
  Performance performance;
  // Lines shown before the figures, as (label, value) pairs.
  std::vector<std::pair<std::string, std::string>> facts;
  std::optional<Trading> trading;  // absent for a series of values alone
};

// The facts, then the figures, one "label  value" line each, aligned.
std::string render_text(const Report& report);

// The page, as one HTML document.
std::string render_html(const Report& report);

// The names of the files write_csv writes, in the order written.
std::vector<std::string> csv_files(const Report& report);

// Writes the tables behind the charts into `dir` (created when missing):
// equity.csv, drawdown.csv, drawdown_periods.csv, monthly_returns.csv,
// rolling.csv, and for a trading run trades.csv and fees.csv. Numbers are
// written in full; times as "%Y-%m-%d %H:%M:%S". A std::runtime_error naming
// the file when one cannot be written.
void write_csv(const Report& report, const std::filesystem::path& dir);

}  // namespace zantrix::plugins::analysis::report
