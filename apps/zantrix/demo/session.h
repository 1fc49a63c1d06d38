// The paper-trading session: the simulated CQG market replays the stored
// history of the demo's instruments while the sample strategy trades it
// through VexGate, and the session's balances, positions, orders and deals go
// to the record store.
//
// run_session runs on the calling thread, which is the strategy's thread: it
// drives the market one minute at a time, waits until the CQG worker has
// delivered that minute's events, feeds them to the strategy through the
// gateway's queue, and carries out the strategy's orders and cancellations.
// The worker thread only serves the client and queues records; no waiting
// request is made from it. The same history, options and seed give the same
// session, order ids included.
//
// The session books every order it placed as its own: under the id
// place_order returned or, when the placement could not be confirmed, under
// the id its framework::OrderPlacingError carries (traced as one line on
// standard output). Updates and deals pass through gateways::OwnOrders: held
// while their id is not known yet, booked (stored, fed to the strategy,
// counted) once it is, a fill booked before refused. Orders entered on the
// account elsewhere stay out of the session's books.
//
// The session registers the simulated CQG client library for its duration
// and removes it at the end, so it must not run alongside another user of
// that library in the process. `stop`, when set (from a signal handler, say),
// ends the replay after the current minute: the session then records what
// is still in flight, logs off, shuts the client environment down and closes
// the store, leaving positions open.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apps/zantrix/demo/market_tape.h"
#include "apps/zantrix/demo/strategy.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/framework/balance.h"
#include "zantrix/framework/deal.h"

namespace zantrix::app::demo {

struct SessionProgress {
  std::size_t step;   // minutes replayed
  std::size_t steps;  // minutes in all
  framework::DateTime time;
  std::size_t orders;
  std::size_t fills;
  double value;
};

struct SessionOptions {
  StrategyOptions strategy = {};
  // Replays of the tape. Each pass is shifted forward by the same whole
  // number of weeks past the one before, so that times keep increasing and
  // weekdays stay weekdays; the strategy, the market and the account carry
  // on from one pass to the next. At least 1.
  std::size_t passes = 1;
  // The simulated client's faults, drawn at random from the seed, and its
  // quirks, set before the replay; none by default.
  platform::cqgsim::Misbehaviour misbehaviour = {};
  platform::cqgsim::Quirks quirks = {};
  double starting_cash = 1'000'000;
  long account_id = 20240319;
  std::string account_name = "DEMO-HK";
  std::uint64_t seed = 20240319;
  // Balance snapshots are taken when the market time crosses a multiple of
  // this, and at the end of each day and of the session.
  std::chrono::minutes snapshot_every{30};
  // The tag in every row's remark.
  std::string session_tag = "demo";
  // Each replayed minute's rows are written in one transaction (true), or
  // each row is committed as it is recorded (false); the rows are the same.
  bool group_writes = true;
  const std::atomic<bool>* stop = nullptr;
  std::function<void(const SessionProgress&)> progress = {};
};

// The account at one moment of market time.
struct Snapshot {
  framework::DateTime time;
  framework::AccountBalance balance;
  double fees;       // of every deal so far
  double value;      // net liquidation value less fees
  double benchmark;  // buy-and-hold of each instrument's trade size
};

// What the gateway handed on, as the session took it from its queue.
struct HandedOn {
  std::size_t quotes = 0;
  std::size_t orderbooks = 0;
  std::size_t orders = 0;  // order updates
  std::size_t deals = 0;

  std::size_t total() const { return quotes + orderbooks + orders + deals; }
};

struct SessionResult {
  std::vector<TapeInstrument> instruments;  // without their bars
  std::size_t days = 0;                     // trading days of every pass
  std::size_t minutes = 0;                  // replayed
  bool interrupted = false;
  std::string session_tag;
  std::string database;  // the store's file
  // Every order placed, those whose placement could not be confirmed
  // (unconfirmed) included.
  std::size_t orders = 0;
  std::size_t unconfirmed_orders = 0;
  std::size_t market_orders = 0;
  std::size_t limit_orders = 0;
  std::size_t cancels_sent = 0;
  std::size_t cancelled = 0;
  std::vector<framework::Deal> deals;
  // Deals refused because their fill had been booked before.
  std::size_t repeated_deals = 0;
  HandedOn handed_on;
  std::vector<Snapshot> snapshots;
  double starting_cash = 0;
  double fees = 0;
  // Every normal fill the simulated market reported, in order.
  std::vector<platform::cqgsim::FillReport> market_fills;
  // Open positions at the end, by instrument (0 when flat): the strategy's,
  // and the venue's as the simulated client held them before it shut down.
  std::vector<double> positions;
  std::vector<double> venue_positions;
};

// Runs the session on the tape. The record store's folder (DB) is created
// when missing. Errors of the history, the store or the gateway are raised
// after the client environment has been shut down.
SessionResult run_session(const MarketTape& tape, const SessionOptions& options);

}  // namespace zantrix::app::demo
