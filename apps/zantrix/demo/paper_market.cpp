#include "apps/zantrix/demo/paper_market.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "zantrix/framework/errors.h"

namespace zantrix::app::demo {

namespace {

namespace cqgsim = platform::cqgsim;
using namespace std::chrono_literals;

cqgsim::BarSetup bar_setup(const TapeBar& bar, std::chrono::microseconds shift = {}) {
  return {.timestamp = bar.time + shift,
          .open = bar.open,
          .high = bar.high,
          .low = bar.low,
          .close = bar.close,
          .volume = bar.volume};
}

const MarketTape& replayable(const MarketTape& tape) {
  if (tape.steps.empty()) throw framework::ValueError("the demo has no bars to replay");
  return tape;
}

// Whole weeks, so that weekdays stay weekdays, and more than the tape spans,
// so that a pass starts after the one before it has ended.
std::chrono::microseconds pass_shift(const MarketTape& tape) {
  const auto span = tape.steps.back().time - tape.steps.front().time;
  return std::chrono::weeks(span / std::chrono::weeks(1) + 1);
}

// The market before the replay: each instrument quoted at its last warm-up
// close, its minute series holding the warm-up bars and the first replayed
// bar still forming.
void list_instruments(cqgsim::Simulator& simulator, const MarketTape& tape, std::size_t lookback) {
  for (const auto& instrument : tape.instruments) {
    const TapeBar& first = instrument.bars.front();
    const double price = instrument.warmup.empty() ? first.open : instrument.warmup.back().close;
    simulator.DefineInstrument({.fullName = instrument.cqg_full_name,
                                .bid = price,
                                .ask = price + instrument.tick_size,
                                .last = price,
                                .tickSize = instrument.tick_size,
                                .pointValue = instrument.point_value});
    const std::size_t kept = std::min(instrument.warmup.size(), lookback + 1);
    std::vector<cqgsim::BarSetup> bars;
    for (auto it = instrument.warmup.end() - static_cast<std::ptrdiff_t>(kept);
         it != instrument.warmup.end(); ++it) {
      bars.push_back(bar_setup(*it));
    }
    bars.push_back({.timestamp = first.time,
                    .open = price,
                    .high = price,
                    .low = price,
                    .close = price,
                    .volume = 0});
    simulator.SetBars(instrument.cqg_full_name, std::move(bars));
  }
}

}  // namespace

PaperMarket::PaperMarket(const MarketTape& tape, const PaperMarketOptions& options)
    : tape_(replayable(tape)), pass_shift_(pass_shift(tape)) {
  cqgsim::Simulator& market = simulator();
  market.Record(false);
  market.Seed(options.seed);
  market.SetClock(tape_.steps.front().time - 2min);
  list_instruments(market, tape_, options.lookback);
  market.AddAccount({.id = options.account_id,
                     .name = options.account_name,
                     .startingCash = options.starting_cash});
}

std::chrono::microseconds PaperMarket::shift_of(std::size_t s) const {
  return pass_shift_ * static_cast<std::chrono::microseconds::rep>(s / tape_.steps.size());
}

void PaperMarket::replay(std::size_t s) {
  const auto shift = shift_of(s);
  for (const auto& [i, b] : step_at(s).bars) {
    const TapeInstrument& instrument = tape_.instruments[i];
    simulator().ReplayBar(instrument.cqg_full_name, bar_setup(instrument.bars[b], shift));
  }
}

}  // namespace zantrix::app::demo
