#include "apps/zantrix/demo/session_report.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "zantrix/framework/text.h"
#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::app::demo {

namespace {

std::string money(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::string minutes(double v) {
  if (std::isnan(v)) return "n/a";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f min", v);
  return buf;
}

}  // namespace

std::vector<double> holding_periods(const std::vector<framework::Deal>& deals) {
  struct Holding {
    double quantity = 0;
    framework::DateTime opened;
  };
  std::map<std::string, Holding> held;
  std::vector<double> periods;
  for (const auto& deal : deals) {
    Holding& h = held[deal.security.code()];
    const double change =
        deal.direction == framework::Direction::LONG ? deal.filled_quantity : -deal.filled_quantity;
    const double after = h.quantity + change;
    if (h.quantity != 0 && (after == 0 || (after > 0) != (h.quantity > 0))) {
      periods.push_back(plugins::analysis::_holding_period(
          framework::format_datetime(h.opened), framework::format_datetime(deal.updated_time)));
      h.opened = deal.updated_time;
    } else if (h.quantity == 0) {
      h.opened = deal.updated_time;
    }
    h.quantity = after;
  }
  return periods;
}

PerformanceReport session_performance(const SessionResult& session) {
  PerformanceInput input;
  for (const auto& snapshot : session.snapshots) {
    input.times.push_back(snapshot.time);
    input.values.push_back(snapshot.value);
    input.benchmark.push_back(snapshot.benchmark);
  }
  const double per_day =
      session.days == 0 ? 1.0
                        : static_cast<double>(session.snapshots.size()) /
                              static_cast<double>(session.days);
  input.days = static_cast<int>(std::lround(252 * per_day));
  // A rolling window of about one trading month.
  input.window = std::max<std::int64_t>(1, std::lround(21 * per_day));

  const auto periods = holding_periods(session.deals);
  const auto p50 = plugins::analysis::percentile(50)(periods);
  const auto p95 = plugins::analysis::percentile(95)(periods);
  const Snapshot& last = session.snapshots.back();

  PerformanceReport report = analyse(std::move(input));
  std::string instruments;
  for (const auto& instrument : session.instruments) {
    instruments += (instruments.empty() ? "" : ", ") + instrument.security.code();
  }
  auto& facts = report.facts;
  facts.emplace_back("instruments", instruments);
  facts.emplace_back("minutes replayed", std::to_string(session.minutes) + " over " +
                                             std::to_string(session.days) + " trading days" +
                                             (session.interrupted ? " (interrupted)" : ""));
  facts.emplace_back("orders", std::to_string(session.orders) + " (" +
                                   std::to_string(session.market_orders) + " market, " +
                                   std::to_string(session.limit_orders) + " limit)");
  facts.emplace_back("cancelled", std::to_string(session.cancelled) + " of " +
                                      std::to_string(session.cancels_sent) + " cancel requests");
  facts.emplace_back("fills", std::to_string(session.deals.size()));
  facts.emplace_back("fees", money(session.fees));
  facts.emplace_back("realized P&L", money(last.balance.realized_pnl));
  facts.emplace_back("unrealized P&L", money(last.balance.unrealized_pnl));
  facts.emplace_back("P&L after fees", money(last.value - session.starting_cash));
  facts.emplace_back("holding periods", std::to_string(periods.size()));
  facts.emplace_back("holding period p50", minutes(p50));
  facts.emplace_back("holding period p95", minutes(p95));
  facts.emplace_back("benchmark", "buy-and-hold of each instrument's trade size");
  return report;
}

}  // namespace zantrix::app::demo
