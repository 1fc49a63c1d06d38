#include "apps/zantrix/demo/session_invariants.h"

#include <cstdio>
#include <map>
#include <utility>

namespace zantrix::app::demo {

namespace {

// A fill is known by its order and its fill id.
using FillKey = std::pair<std::string, std::string>;

std::string quantity(double q) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", q);
  return text;
}

// "<count> <what> (first: fill <id> of order <guid>)".
class Tally {
 public:
  void add(const FillKey& key) {
    if (count_++ == 0) first_ = key;
  }
  void report(std::vector<std::string>& lines, const std::string& what) const {
    if (count_ == 0) return;
    lines.push_back(std::to_string(count_) + " " + what + " (first: fill " + first_.second +
                    " of order " + first_.first + ")");
  }

 private:
  std::size_t count_ = 0;
  FillKey first_;
};

}  // namespace

std::vector<std::string> broken_invariants(const SessionResult& session) {
  std::map<FillKey, double> reported;
  for (const auto& fill : session.market_fills) {
    reported.emplace(FillKey{fill.orderGuid, fill.fillId}, static_cast<double>(fill.quantity));
  }
  std::map<FillKey, std::size_t> booked;
  Tally unknown, twice, differing, missing;
  for (const auto& deal : session.deals) {
    const FillKey key{deal.order_id, deal.deal_id};
    const auto fill = reported.find(key);
    if (fill == reported.end()) {
      unknown.add(key);
    } else if (fill->second != deal.filled_quantity) {
      differing.add(key);
    }
    if (++booked[key] == 2) twice.add(key);
  }
  for (const auto& [key, q] : reported) {
    if (!booked.contains(key)) missing.add(key);
  }
  std::vector<std::string> lines;
  missing.report(lines, "of the market's " + std::to_string(session.market_fills.size()) +
                            " fills are not among the session's deals");
  unknown.report(lines, "deals are of fills the market never reported");
  twice.report(lines, "fills are booked as more than one deal");
  differing.report(lines, "deals differ in quantity from their fill");
  for (std::size_t i = 0; i < session.instruments.size(); ++i) {
    const double held = i < session.positions.size() ? session.positions[i] : 0;
    const double venue = i < session.venue_positions.size() ? session.venue_positions[i] : 0;
    if (held != venue) {
      lines.push_back(session.instruments[i].security.code() + ": the strategy holds " +
                      quantity(held) + ", the venue " + quantity(venue));
    }
  }
  return lines;
}

}  // namespace zantrix::app::demo
