// PaperMarket: the simulated CQG market of a paper-trading session, replaying
// a market tape.
//
// Construction registers the simulated client library for the market's life
// (one PaperMarket at a time in a process: it owns that registration) and
// arranges the market before the client environment starts: each instrument
// quoted at its last warm-up close, its minute series holding the newest
// `lookback` + 1 warm-up bars and the first replayed bar still forming, and
// the account holding the starting cash. The client's calls and events are
// not recorded. replay(s) then trades and completes the bars of replayed
// minute s. A tape replayed in several passes is shifted forward by the same
// whole number of weeks each pass, more than the tape spans, so that times
// keep increasing and weekdays stay weekdays. The same tape, options and
// calls give the same market every time.
//
// The market's calls may come from any thread: they queue actions for the
// client's thread, and simulator().Sync() waits until those have been done.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/zantrix/demo/market_tape.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::app::demo {

struct PaperMarketOptions {
  std::size_t lookback = 120;
  std::uint64_t seed = 20240319;
  long account_id = 20240319;
  std::string account_name = "DEMO-HK";
  double starting_cash = 1'000'000;
};

class PaperMarket {
 public:
  // Keeps a reference to `tape`, which must outlive the market. A ValueError
  // when the tape has no bars to replay.
  PaperMarket(const MarketTape& tape, const PaperMarketOptions& options);
  PaperMarket(const PaperMarket&) = delete;
  PaperMarket& operator=(const PaperMarket&) = delete;

  platform::cqgsim::Simulator& simulator() const { return *registration_.simulator; }
  const MarketTape& tape() const { return tape_; }

  // The tape's step that replayed minute `s`, counted over every pass, is.
  const TapeStep& step_at(std::size_t s) const { return tape_.steps[s % tape_.steps.size()]; }
  // How far replayed minute `s` lies after its step of the tape.
  std::chrono::microseconds shift_of(std::size_t s) const;
  framework::DateTime time_at(std::size_t s) const { return step_at(s).time + shift_of(s); }

  // Trades and completes the bars of replayed minute `s` (ReplayBar, one
  // action per bar); returns without waiting for the client.
  void replay(std::size_t s);

 private:
  const platform::cqgsim::Registration registration_;
  const MarketTape& tape_;
  const std::chrono::microseconds pass_shift_;
};

}  // namespace zantrix::app::demo
