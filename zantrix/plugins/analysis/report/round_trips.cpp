#include "zantrix/plugins/analysis/report/round_trips.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::plugins::analysis::report {

namespace {

// A trip still open: its signed position and the money its fills moved.
struct OpenTrip {
  std::size_t trip;  // index into the result
  double position = 0;
  double opened_cost = 0;  // price * quantity of the opening fills
  double closed_quantity = 0;
  double closed_cost = 0;  // price * quantity of the closing fills
};

// The text form holding_period reads: fractions of a second are left out.
std::string whole_seconds(framework::DateTime t) {
  return framework::format_datetime(std::chrono::floor<std::chrono::seconds>(t));
}

}  // namespace

std::vector<RoundTrip> round_trips(std::span<const framework::Deal> deals,
                                   const std::map<std::string, double>& point_values) {
  std::vector<RoundTrip> trips;
  std::map<std::string, OpenTrip> open;
  for (const auto& deal : deals) {
    const std::string code = deal.security.code();
    const auto known = point_values.find(code);
    const double point_value = known == point_values.end() ? 1.0 : known->second;
    const double sign = deal.direction == framework::Direction::LONG ? 1.0 : -1.0;
    const double price = deal.filled_avg_price;
    double left = deal.filled_quantity;
    while (left > 0) {
      auto at = open.find(code);
      if (at == open.end()) {
        trips.push_back({.instrument = code,
                         .direction = deal.direction,
                         .quantity = 0,
                         .entry_time = deal.updated_time,
                         .entry_price = 0,
                         .exit_time = std::nullopt,
                         .exit_price = 0,
                         .holding_minutes = std::numeric_limits<double>::quiet_NaN(),
                         .pnl = std::numeric_limits<double>::quiet_NaN()});
        at = open.emplace(code, OpenTrip{.trip = trips.size() - 1}).first;
      }
      OpenTrip& o = at->second;
      RoundTrip& trip = trips[o.trip];
      if (o.position == 0 || (o.position > 0) == (sign > 0)) {
        o.position += sign * left;
        o.opened_cost += price * left;
        trip.quantity += left;
        trip.entry_price = o.opened_cost / trip.quantity;
        break;
      }
      const double closing = std::min(left, std::abs(o.position));
      o.position += sign * closing;
      o.closed_quantity += closing;
      o.closed_cost += price * closing;
      left -= closing;
      trip.exit_price = o.closed_cost / o.closed_quantity;
      if (o.position != 0) continue;
      const double direction = trip.direction == framework::Direction::LONG ? 1.0 : -1.0;
      trip.exit_time = deal.updated_time;
      trip.holding_minutes =
          holding_period(HoldingPeriodRow{.open_datetime = whole_seconds(trip.entry_time),
                                          .close_datetime = whole_seconds(deal.updated_time)});
      trip.pnl = direction * (o.closed_cost - o.opened_cost) * point_value;
      open.erase(at);
    }
  }
  return trips;
}

}  // namespace zantrix::plugins::analysis::report
