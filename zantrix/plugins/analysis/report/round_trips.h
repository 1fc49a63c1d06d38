// Round trips: the trades of a run of deals, each from the deal that opens a
// position in an instrument to the deal that closes or reverses it. Deals
// that add to the position belong to its trip; a reversing deal closes one
// trip and opens the next with the quantity beyond flat.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/deal.h"

namespace zantrix::plugins::analysis::report {

struct RoundTrip {
  std::string instrument;  // the security's code
  framework::Direction direction = framework::Direction::LONG;
  double quantity = 0;  // opened in all
  framework::DateTime entry_time;
  double entry_price = 0;                        // mean price of the opening fills
  std::optional<framework::DateTime> exit_time;  // absent while open
  double exit_price = 0;                         // mean price of the closing fills
  double holding_minutes = 0;                    // NaN while open
  double pnl = 0;                                // in money, before fees; NaN while open
};

// The trips of `deals`, taken in the order given, by entry time. P&L is the
// price difference times the quantity times the instrument's point value
// (`point_values` by security code, 1 when absent).
std::vector<RoundTrip> round_trips(std::span<const framework::Deal> deals,
                                   const std::map<std::string, double>& point_values = {});

// The fees a run of deals paid in one instrument.
struct InstrumentFees {
  std::string instrument;
  std::size_t fills = 0;
  double quantity = 0;
  double fees = 0;
};

}  // namespace zantrix::plugins::analysis::report
