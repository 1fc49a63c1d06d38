#include "apps/zantrix/demo/session_report.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "zantrix/gateways/cqg/tollbook.h"
#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::app::demo {

namespace {

namespace report = plugins::analysis::report;

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

// Each instrument's fills and the fees the CQG fee model charges for them.
std::vector<report::InstrumentFees> fees_by_instrument(const SessionResult& session) {
  std::map<std::string, std::vector<framework::Deal>> deals;
  for (const auto& deal : session.deals) deals[deal.security.code()].push_back(deal);
  std::vector<report::InstrumentFees> fees;
  for (const auto& instrument : session.instruments) {
    const auto found = deals.find(instrument.security.code());
    if (found == deals.end()) continue;
    double quantity = 0;
    for (const auto& deal : found->second) quantity += deal.filled_quantity;
    fees.push_back({.instrument = found->first,
                    .fills = found->second.size(),
                    .quantity = quantity,
                    .fees = gateways::cqg::Tollbook(found->second).total_fees});
  }
  return fees;
}

}  // namespace

report::Report session_report(const SessionResult& session) {
  report::PerformanceInput input;
  for (const auto& snapshot : session.snapshots) {
    input.times.push_back(snapshot.time);
    input.values.push_back(snapshot.value);
    input.benchmark.push_back(snapshot.benchmark);
  }
  const double per_day = session.days == 0 ? 1.0
                                           : static_cast<double>(session.snapshots.size()) /
                                                 static_cast<double>(session.days);
  input.days = static_cast<int>(std::lround(252 * per_day));
  input.window = std::max<std::int64_t>(1, std::lround(21 * per_day));

  std::map<std::string, double> point_values;
  for (const auto& instrument : session.instruments) {
    point_values[instrument.security.code()] = instrument.point_value;
  }
  report::Trading trading{.trips = report::round_trips(session.deals, point_values),
                          .fees = fees_by_instrument(session)};
  std::vector<double> held;
  for (const auto& trip : trading.trips) {
    if (trip.exit_time) held.push_back(trip.holding_minutes);
  }
  const Snapshot& last = session.snapshots.back();

  report::Report out{.title = "zantrix paper-trading session",
                     .performance = report::analyse(std::move(input)),
                     .facts = {},
                     .trading = std::nullopt};
  std::string instruments;
  for (const auto& instrument : session.instruments) {
    instruments += (instruments.empty() ? "" : ", ") + instrument.security.code();
  }
  auto& facts = out.facts;
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
  facts.emplace_back("round trips", std::to_string(held.size()) + " closed, " +
                                        std::to_string(trading.trips.size() - held.size()) +
                                        " open");
  facts.emplace_back("holding period p50", minutes(plugins::analysis::percentile(50)(held)));
  facts.emplace_back("holding period p95", minutes(plugins::analysis::percentile(95)(held)));
  facts.emplace_back("benchmark", "buy-and-hold of each instrument's trade size");
  out.trading = std::move(trading);
  return out;
}

}  // namespace zantrix::app::demo
