// The replay of stored bars: the market trades through a bar's prices, then
// the bar completes and the next one starts forming.
#include <algorithm>
#include <array>
#include <cmath>

#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

void Venue::ReplayBar(const std::string& symbol, const BarSetup& bar, BarPeriod period) {
  Listing& listing = RequireListing(symbol);
  const auto length = LengthOf(period);
  clock_ = std::max(clock_, bar.timestamp - length);

  // The path a bar's prices most plausibly took: towards the extreme on the
  // side it opened from, across to the other one, back to its close.
  const bool rising = bar.close >= bar.open;
  const std::array path{bar.open, rising ? bar.low : bar.high, rising ? bar.high : bar.low,
                        bar.close};
  const long volume = std::max(1L, std::lround(bar.volume / 4));
  std::vector<QuoteUpdate> point(3);
  for (const double price : path) {
    point[0] = {cqg::qtBid, price, volume};
    point[1] = {cqg::qtAsk, price + listing.tickSize, volume};
    point[2] = {cqg::qtTrade, price, volume};
    ApplyQuotes(listing, point);
    Flush();
  }

  CompleteBar(listing, bar, period);
  // Delivered before the next bar starts forming, so that a sink told of the
  // completed bar finds it last in its series.
  Flush();
  clock_ = std::max(clock_, bar.timestamp);
  GrowBars(listing,
           {.timestamp = bar.timestamp + length,
            .open = bar.close,
            .high = bar.close,
            .low = bar.close,
            .close = bar.close,
            .volume = 0,
            .tickVolume = 0},
           period);
}

void Venue::CompleteBar(Listing& listing, const BarSetup& bar, BarPeriod period) {
  auto& bars = listing.bars[period];
  if (bars.empty()) {
    bars.push_back(bar);
  } else {
    bars.back() = bar;
  }
  for (const auto& series : allTimedBars->items()) {
    if (series->listing != listing.fullName || series->period != period ||
        !series->request->updatesEnabled) {
      continue;
    }
    series->ReplaceLast(bar);
    Emit(TimedBarsUpdated(series, static_cast<long>(series->bars.size()) - 1));
  }
}

}  // namespace platform::cqgsim
