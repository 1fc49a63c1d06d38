#include "apps/zantrix/demo/session.h"

#include <filesystem>
#include <map>
#include <optional>
#include <utility>

#include "apps/zantrix/demo/trade_journal.h"
#include "platform/com/apartment.h"
#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/tollbook.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/recording_gateway.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::app::demo {

namespace {

namespace cqgsim = platform::cqgsim;
using framework::DateTime;
using gateways::cqg::VexGate;
using namespace std::chrono_literals;

// Keeps the simulated client library registered for the session's lifetime.
class Registration {
 public:
  Registration() : simulator(cqgsim::Register()) {}
  ~Registration() { cqgsim::Unregister(); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  const std::shared_ptr<cqgsim::Simulator> simulator;
};

std::vector<gateways::RecordingGateway::Symbol> symbols_of(
    const std::vector<TapeInstrument>& instruments) {
  std::vector<gateways::RecordingGateway::Symbol> symbols;
  for (const auto& instrument : instruments) {
    symbols.push_back({instrument.cqg_symbol, instrument.security});
  }
  return symbols;
}

cqgsim::BarSetup bar_setup(const TapeBar& bar) {
  return {.timestamp = bar.time,
          .open = bar.open,
          .high = bar.high,
          .low = bar.low,
          .close = bar.close,
          .volume = bar.volume};
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

class Session {
 public:
  Session(const MarketTape& tape, const SessionOptions& options)
      : tape_(tape),
        options_(options),
        simulator_(*registration_.simulator),
        gateway_(symbols_of(tape.instruments)),
        strategy_(tape.instruments, options.strategy),
        bar_numbers_(tape.instruments.size(), 0),
        closes_(tape.instruments.size()) {
    for (std::size_t i = 0; i < tape.instruments.size(); ++i) {
      const auto& instrument = tape.instruments[i];
      closes_[i] =
          instrument.warmup.empty() ? instrument.bars.front().open : instrument.warmup.back().close;
    }
    first_closes_ = closes_;
  }

  SessionResult run() {
    if (tape_.steps.empty()) throw framework::ValueError("the demo has no bars to replay");
    connect();
    open_store();
    const DateTime start = tape_.steps.front().time;
    snapshot(start - 1min, "Running");
    journal_->flush();
    replay();
    const DateTime end = tape_.steps[replayed_ == 0 ? 0 : replayed_ - 1].time;
    if (!interrupted_) wind_down(end);
    settle();
    snapshot(end, interrupted_ ? "Interrupted" : "Stopped");
    journal_->flush();
    vex_->Logoff();
    host_->Shutdown();
    db_->close();
    return result();
  }

 private:
  void connect() {
    simulator_.Record(false);
    simulator_.Seed(options_.seed);
    simulator_.SetClock(tape_.steps.front().time - 2min);
    list_instruments(simulator_, tape_, options_.strategy.slow);
    simulator_.AddAccount({.id = options_.account_id,
                           .name = options_.account_name,
                           .startingCash = options_.starting_cash});
    host_.emplace();
    vex_ = host_->Init<VexGate>();
    gateway_.ravelhost = &*host_;
    vex_->Init(gateway_);
    // The simulated client switches account data at once, and the
    // subscription waits for its reload of the accounts all the same: the
    // pause a real client needs between off and on would be idle time here.
    vex_->account_reload_pause = 0s;
    vex_->Logon(options_.account_name, "paper");
    vex_->subscribe_account_and_positions(options_.account_id);
    for (const auto& instrument : tape_.instruments) {
      vex_->subscribe_quote(instrument.cqg_symbol);
      vex_->subscribe_orderbook(instrument.cqg_symbol);
      vex_->subscribe_bar(instrument.cqg_symbol, static_cast<long>(options_.strategy.slow), "1Min");
    }
  }

  void open_store() {
    if (const auto uri = plugins::sqlite3::_db_uri()) {
      db_.emplace();
      database_ = *uri;
    } else {
      const auto folder = plugins::sqlite3::_db_path();
      if (folder) std::filesystem::create_directories(*folder);
      db_.emplace();
      database_ = (std::filesystem::path(folder.value_or(".")) / "zantrix.db").string();
    }
    std::string description = "moving-average cross " + std::to_string(options_.strategy.fast) +
                              "/" + std::to_string(options_.strategy.slow) + " on";
    for (const auto& instrument : tape_.instruments)
      description += " " + instrument.security.code();
    journal_.emplace(*db_,
                     JournalIdentity{.broker_account_id = options_.account_id,
                                     .broker_account = options_.account_name,
                                     .strategy_version_desc = description,
                                     .session = options_.session_tag},
                     options_.group_writes);
  }

  void replay() {
    const auto bucket = [&](DateTime t) {
      return std::chrono::floor<std::chrono::minutes>(t).time_since_epoch() /
             options_.snapshot_every;
    };
    for (std::size_t s = 0; s < tape_.steps.size(); ++s) {
      if (options_.stop && options_.stop->load()) {
        interrupted_ = true;
        break;
      }
      const TapeStep& step = tape_.steps[s];
      for (const auto& [i, b] : step.bars) {
        const TapeBar& bar = tape_.instruments[i].bars[b];
        simulator_.ReplayBar(tape_.instruments[i].cqg_full_name, bar_setup(bar));
        closes_[i] = bar.close;
      }
      simulator_.Sync();
      handle_events();
      std::vector<std::size_t> moved;
      for (const auto& [i, b] : step.bars) {
        ++bar_numbers_[i];
        moved.push_back(i);
      }
      trade(moved, step.time);
      replayed_ = s + 1;
      const bool last = s + 1 == tape_.steps.size();
      if (last || framework::date_of(tape_.steps[s + 1].time) != framework::date_of(step.time) ||
          bucket(tape_.steps[s + 1].time) != bucket(step.time)) {
        snapshot(step.time, "Running");
      }
      // The minute's rows, in one commit.
      journal_->flush();
      if (options_.progress) {
        options_.progress({s + 1, tape_.steps.size(), step.time, orders_, deals_.size(),
                           snapshots_.back().value});
      }
    }
  }

  // The strategy decides on each instrument that moved; once its orders have
  // been answered it may decide again on the same bar (a close that filled
  // lets it open the other way).
  void trade(const std::vector<std::size_t>& moved, DateTime now) {
    for (int round = 0; round < 3; ++round) {
      bool acted = false;
      for (const std::size_t i : moved) {
        const auto bars = vex_->get_subscribe_bars_data(tape_.instruments[i].security);
        if (!bars) continue;
        acted |= carry_out(strategy_.on_bar(i, *bars, bar_numbers_[i], now));
      }
      if (!acted) return;
      simulator_.Sync();
      handle_events();
    }
  }

  // Cancels what works and closes every position, a few rounds at most.
  void wind_down(DateTime now) {
    for (int round = 0; round < 5; ++round) {
      const auto decisions = strategy_.wind_down(now);
      bool open = false;
      for (std::size_t i = 0; i < tape_.instruments.size(); ++i) {
        open |= strategy_.position(i) != 0 || strategy_.has_working_order(i);
      }
      if (!open) return;
      carry_out(decisions);
      settle();
    }
  }

  void settle() {
    simulator_.Sync();
    handle_events();
  }

  bool carry_out(const std::vector<Decision>& decisions) {
    for (const auto& decision : decisions) {
      if (const auto* place = std::get_if<PlaceOrder>(&decision)) {
        framework::Order order = place->order;
        order.order_id = vex_->place_order(order);
        journal_->record_order(order, order.order_id);
        strategy_.placed(*place, order.order_id, bar_numbers_[place->instrument]);
        orders_by_id_.insert_or_assign(order.order_id, order);
        ++orders_;
        ++(order.order_type == framework::OrderType::MARKET ? market_orders_ : limit_orders_);
      } else {
        const auto& cancel = std::get<CancelOrder>(decision);
        vex_->cancel_order(cancel.order_id);
        strategy_.cancel_sent(cancel);
        ++cancels_sent_;
      }
    }
    return !decisions.empty();
  }

  void handle_events() {
    for (const auto& taken : gateway_.take_calls()) {
      const auto& event = taken.call;
      if (const auto* quote = std::get_if<core::Quote>(&event)) {
        strategy_.on_quote(*quote);
      } else if (const auto* book = std::get_if<core::OrderBook>(&event)) {
        strategy_.on_orderbook(*book);
      } else if (const auto* update = std::get_if<framework::OrderUpdate>(&event)) {
        journal_->record_order_update(*update);
        strategy_.on_order(*update);
        if (update->status == framework::OrderStatus::CANCELLED) ++cancelled_;
      } else {
        const auto& deal = std::get<framework::DealUpdate>(event);
        journal_->record_deal(deal);
        strategy_.on_deal(deal);
        record_deal(deal);
      }
    }
  }

  void record_deal(const framework::DealUpdate& update) {
    const auto known = orders_by_id_.find(update.order_id);
    if (known == orders_by_id_.end()) return;
    const framework::Order& order = known->second;
    deals_.push_back({.security = order.security,
                      .direction = order.direction,
                      .offset = order.offset,
                      .order_type = order.order_type,
                      .updated_time = update.updated_time,
                      .filled_avg_price = update.filled_avg_price,
                      .filled_quantity = update.filled_quantity,
                      .deal_id = update.deal_id,
                      .order_id = update.order_id,
                      .gateway_name = "CQG"});
  }

  void snapshot(DateTime time, const std::string& status) {
    vex_->update_account_balance();
    vex_->update_positions();
    const framework::AccountBalance balance = vex_->account_balance();
    journal_->record_balance(balance, time, status);
    journal_->record_positions(vex_->positions(), time);
    const double fees = gateways::cqg::Tollbook(deals_).total_fees;
    double benchmark = options_.starting_cash;
    for (std::size_t i = 0; i < tape_.instruments.size(); ++i) {
      const auto& instrument = tape_.instruments[i];
      benchmark += instrument.trade_size * instrument.point_value * (closes_[i] - first_closes_[i]);
    }
    snapshots_.push_back({time, balance, fees, balance.net_cash_power - fees, benchmark});
  }

  SessionResult result() {
    SessionResult r;
    for (const auto& instrument : tape_.instruments) {
      TapeInstrument bare = instrument;
      bare.warmup.clear();
      bare.bars.clear();
      r.instruments.push_back(std::move(bare));
    }
    r.days = tape_.days;
    r.minutes = replayed_;
    r.interrupted = interrupted_;
    r.session_tag = options_.session_tag;
    r.database = database_;
    r.orders = orders_;
    r.market_orders = market_orders_;
    r.limit_orders = limit_orders_;
    r.cancels_sent = cancels_sent_;
    r.cancelled = cancelled_;
    r.deals = deals_;
    r.snapshots = snapshots_;
    r.starting_cash = options_.starting_cash;
    r.fees = gateways::cqg::Tollbook(deals_).total_fees;
    r.market_fills = simulator_.Fills();
    for (std::size_t i = 0; i < tape_.instruments.size(); ++i) {
      r.positions.push_back(strategy_.position(i));
    }
    return r;
  }

  const MarketTape& tape_;
  const SessionOptions& options_;
  // The session's requests reach the client from this thread.
  platform::com::ComInitialization com_;
  Registration registration_;
  cqgsim::Simulator& simulator_;
  // Queues what VexGate hands over on the worker thread until
  // handle_events takes it on this one.
  gateways::RecordingGateway gateway_;
  // Declared after the gateway: the environment ends before the gateway its
  // handlers use.
  std::optional<gateways::cqg::Ravelhost> host_;
  std::shared_ptr<VexGate> vex_;
  std::optional<plugins::sqlite3::DB> db_;
  std::optional<TradeJournal> journal_;
  std::string database_;
  MovingAverageCross strategy_;
  std::vector<std::size_t> bar_numbers_;
  std::vector<double> closes_;
  std::vector<double> first_closes_;
  std::map<std::string, framework::Order, std::less<>> orders_by_id_;
  std::vector<framework::Deal> deals_;
  std::vector<Snapshot> snapshots_;
  std::size_t replayed_ = 0;
  bool interrupted_ = false;
  std::size_t orders_ = 0;
  std::size_t market_orders_ = 0;
  std::size_t limit_orders_ = 0;
  std::size_t cancels_sent_ = 0;
  std::size_t cancelled_ = 0;
};

}  // namespace

SessionResult run_session(const MarketTape& tape, const SessionOptions& options) {
  Session session(tape, options);
  return session.run();
}

}  // namespace zantrix::app::demo
