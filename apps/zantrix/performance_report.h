// The performance of a run of portfolio values: its returns, risk ratios and
// drawdowns, written as an aligned text table and as a self-contained HTML
// page with the equity curve and the drawdown drawn as inline SVG.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "zantrix/framework/datetime.h"

namespace zantrix::app {

struct PerformanceInput {
  std::vector<framework::DateTime> times;
  std::vector<double> values;
  std::vector<double> benchmark;  // empty, or one value per time
  int days = 252;                 // periods per year
  std::int64_t window = 252;      // periods of the rolling drawdown
};

struct PerformanceReport {
  PerformanceInput input;
  std::vector<double> drawdown;  // the rolling maximum drawdown, per period
  double total_return = 0;
  double sharpe = 0;
  double information_ratio = 0;  // NaN without a benchmark
  double m2 = 0;                 // NaN without a benchmark
  double worst_drawdown = 0;
  // Lines shown first in the table, as (label, value) pairs.
  std::vector<std::pair<std::string, std::string>> facts;
};

// A ValueError when there are fewer than two values, when a value is not a
// positive number, or when the benchmark has another length.
PerformanceReport analyse(PerformanceInput input);

std::string render_table(const PerformanceReport& report);
std::string render_html(const PerformanceReport& report, const std::string& title);

}  // namespace zantrix::app
