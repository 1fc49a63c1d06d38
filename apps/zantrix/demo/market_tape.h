// MarketTape: the stored one-minute history of the demo's instruments, cut
// into the warm-up that seeds each instrument's bar series and the bars the
// session replays, merged into one time-ordered list of steps.
//
// The replay starts on the second day on which every instrument has bars; the
// bars before it are the warm-up. A futures series is loaded back-adjusted
// over its rolls, so its prices run on without a jump at a roll.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "zantrix/core/security.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::app::demo {

struct TapeBar {
  framework::DateTime time;
  double open;
  double high;
  double low;
  double close;
  double volume;
};

// One instrument of the session and how the simulated market lists it.
struct TapeInstrument {
  core::Security security;
  std::string cqg_full_name;  // "S.HK.00700"
  std::string cqg_symbol;     // the part after the last ".": "00700"
  double tick_size;
  double point_value;  // money per unit of price per unit of quantity
  double trade_size;   // the strategy's position size
  bool can_short;
  std::vector<TapeBar> warmup = {};
  std::vector<TapeBar> bars = {};  // replayed, oldest first
};

// The bars of one minute: (instrument index, bar index) pairs.
struct TapeStep {
  framework::DateTime time;
  std::vector<std::pair<std::size_t, std::size_t>> bars;
};

struct MarketTape {
  std::vector<TapeInstrument> instruments;
  std::vector<TapeStep> steps;
  // Trading days replayed.
  std::size_t days = 0;
};

// The demo's two instruments: the stock HK.00700 and the continuous futures
// series HK.HSImain, without their bars.
std::vector<TapeInstrument> demo_instruments();

// Loads every stored one-minute bar of the instruments (DATA_PATH "kline")
// and cuts the tape. A ValueError when the instruments have fewer than two
// trading days in common.
MarketTape load_tape(std::vector<TapeInstrument> instruments);

}  // namespace zantrix::app::demo
