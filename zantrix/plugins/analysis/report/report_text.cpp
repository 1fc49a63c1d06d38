#include <algorithm>

#include "zantrix/plugins/analysis/report/format.h"
#include "zantrix/plugins/analysis/report/report.h"

namespace zantrix::plugins::analysis::report {

namespace {

std::string drawdown_dates(const Performance& p, const DrawdownPeriod& d) {
  const auto& times = p.input.times;
  return "peak " + time_text(times[d.peak]) + ", trough " + time_text(times[d.trough]) + ", " +
         (d.recovery ? "recovered " + time_text(times[*d.recovery]) : std::string("not recovered"));
}

}  // namespace

std::string render_text(const Report& report) {
  const Performance& p = report.performance;
  const auto& in = p.input;
  std::vector<std::pair<std::string, std::string>> rows = report.facts;
  rows.emplace_back("period", time_text(in.times.front()) + " - " + time_text(in.times.back()));
  rows.emplace_back("values", std::to_string(in.values.size()));
  rows.emplace_back("start value", fixed(in.values.front(), 2));
  rows.emplace_back("end value", fixed(in.values.back(), 2));
  rows.emplace_back("total return", percent(p.total_return));
  rows.emplace_back("annualised return", percent(p.annualised_return));
  rows.emplace_back("volatility", percent(p.volatility));
  rows.emplace_back("Sharpe ratio", fixed(p.sharpe, 4));
  rows.emplace_back("information ratio", fixed(p.information_ratio, 4));
  rows.emplace_back("M2", fixed(p.m2, 6));
  if (p.has_benchmark())
    rows.emplace_back("benchmark total return", percent(p.benchmark_total_return));
  rows.emplace_back("worst drawdown", p.worst_drawdowns.empty()
                                          ? std::string("none")
                                          : percent(p.worst_drawdowns.front().depth) + " (" +
                                                drawdown_dates(p, p.worst_drawdowns.front()) + ")");
  rows.emplace_back("worst rolling max drawdown", percent(p.worst_rolling_max_drawdown));
  rows.emplace_back("rolling window", std::to_string(in.window) + " periods");
  std::size_t width = 0;
  for (const auto& [label, value] : rows) width = std::max(width, label.size());
  std::string out;
  for (const auto& [label, value] : rows) {
    out += label + std::string(width - label.size() + 2, ' ') + value + "\n";
  }
  return out;
}

}  // namespace zantrix::plugins::analysis::report
