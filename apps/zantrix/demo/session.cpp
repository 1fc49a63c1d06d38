#include "apps/zantrix/demo/session.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "apps/zantrix/demo/paper_market.h"
#include "apps/zantrix/demo/trade_journal.h"
#include "platform/com/apartment.h"
#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/tollbook.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/own_orders.h"
#include "zantrix/gateways/recording_gateway.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::app::demo {

namespace {

namespace cqgsim = platform::cqgsim;
using framework::DateTime;
using gateways::cqg::VexGate;
using namespace std::chrono_literals;

std::vector<gateways::RecordingGateway::Symbol> symbols_of(
    const std::vector<TapeInstrument>& instruments) {
  std::vector<gateways::RecordingGateway::Symbol> symbols;
  for (const auto& instrument : instruments) {
    symbols.push_back({instrument.cqg_symbol, instrument.security});
  }
  return symbols;
}

// The instruments as the strategy and the result keep them: the bars stay
// with the tape.
std::vector<TapeInstrument> without_bars(const std::vector<TapeInstrument>& instruments) {
  std::vector<TapeInstrument> bare;
  for (const auto& instrument : instruments) {
    bare.push_back({.security = instrument.security,
                    .cqg_full_name = instrument.cqg_full_name,
                    .cqg_symbol = instrument.cqg_symbol,
                    .tick_size = instrument.tick_size,
                    .point_value = instrument.point_value,
                    .trade_size = instrument.trade_size,
                    .can_short = instrument.can_short});
  }
  return bare;
}

std::string_view first_line(std::string_view text) {
  return text.substr(0, text.find('\n'));
}

class Session {
 public:
  Session(const MarketTape& tape, const SessionOptions& options)
      : tape_(tape),
        options_(options),
        gateway_(symbols_of(tape.instruments)),
        strategy_(without_bars(tape.instruments), options.strategy),
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
    if (options_.passes == 0) {
      throw framework::ValueError("the demo replays its tape at least once");
    }
    connect();
    open_store();
    simulator().SetQuirks(options_.quirks);
    simulator().SetMisbehaviour(options_.misbehaviour);
    const DateTime start = tape_.steps.front().time;
    snapshot(start - 1min, "Running");
    journal_->flush();
    replay();
    const DateTime end = time_at(replayed_ == 0 ? 0 : replayed_ - 1);
    if (!interrupted_) wind_down(end);
    settle();
    snapshot(end, interrupted_ ? "Interrupted" : "Stopped");
    journal_->flush();
    venue_positions_ = simulator().Positions();
    vex_->Logoff();
    host_->Shutdown();
    db_->close();
    return result();
  }

 private:
  void connect() {
    market_.emplace(tape_, PaperMarketOptions{.lookback = options_.strategy.slow,
                                              .seed = options_.seed,
                                              .account_id = options_.account_id,
                                              .account_name = options_.account_name,
                                              .starting_cash = options_.starting_cash});
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

  DateTime time_at(std::size_t s) const { return market_->time_at(s); }
  cqgsim::Simulator& simulator() { return market_->simulator(); }

  void replay() {
    const auto bucket = [&](DateTime t) {
      return std::chrono::floor<std::chrono::minutes>(t).time_since_epoch() /
             options_.snapshot_every;
    };
    const std::size_t per_pass = tape_.steps.size();
    const std::size_t steps = per_pass * options_.passes;
    for (std::size_t s = 0; s < steps; ++s) {
      if (options_.stop && options_.stop->load()) {
        interrupted_ = true;
        break;
      }
      const TapeStep& step = market_->step_at(s);
      const DateTime now = market_->time_at(s);
      market_->replay(s);
      for (const auto& [i, b] : step.bars) closes_[i] = tape_.instruments[i].bars[b].close;
      simulator().Sync();
      handle_events();
      std::vector<std::size_t> moved;
      for (const auto& [i, b] : step.bars) {
        ++bar_numbers_[i];
        moved.push_back(i);
      }
      trade(moved, now);
      replayed_ = s + 1;
      const bool last = s + 1 == steps;
      if (last || framework::date_of(time_at(s + 1)) != framework::date_of(now) ||
          bucket(time_at(s + 1)) != bucket(now)) {
        snapshot(now, "Running");
      }
      // The minute's rows, in one commit.
      journal_->flush();
      if (options_.progress) {
        options_.progress({s + 1, steps, now, orders_, deals_.size(), snapshots_.back().value});
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
      simulator().Sync();
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
    simulator().Sync();
    handle_events();
  }

  bool carry_out(const std::vector<Decision>& decisions) {
    for (const auto& decision : decisions) {
      if (const auto* place = std::get_if<PlaceOrder>(&decision)) {
        framework::Order order = place->order;
        order.order_id = place_order(order);
        journal_->record_order(order, order.order_id);
        strategy_.placed(*place, order.order_id, bar_numbers_[place->instrument]);
        orders_by_id_.insert_or_assign(order.order_id, order);
        ++orders_;
        ++(order.order_type == framework::OrderType::MARKET ? market_orders_ : limit_orders_);
        // What came for the order before its id was known.
        for (const auto& update : own_.adopt(order.order_id)) book(update);
      } else {
        const auto& cancel = std::get<CancelOrder>(decision);
        vex_->cancel_order(cancel.order_id);
        strategy_.cancel_sent(cancel, bar_numbers_[cancel.instrument]);
        ++cancels_sent_;
      }
    }
    return !decisions.empty();
  }

  // The id the order has at the venue. A placement the gateway could not
  // confirm may still rest and fill there, so its order is kept under the id
  // its error carries, like any other.
  std::string place_order(const framework::Order& order) {
    try {
      return vex_->place_order(order);
    } catch (const framework::OrderPlacingError& error) {
      std::string line = "order " + error.order_id() + " kept, its placement unconfirmed: ";
      line += first_line(error.what());
      line += '\n';
      std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
      std::cout.flush();
      ++unconfirmed_orders_;
      return error.order_id();
    }
  }

  void handle_events() {
    for (auto& taken : gateway_.take_calls()) {
      auto& event = taken.call;
      if (const auto* quote = std::get_if<core::Quote>(&event)) {
        ++handed_on_.quotes;
        strategy_.on_quote(*quote);
      } else if (const auto* book = std::get_if<core::OrderBook>(&event)) {
        ++handed_on_.orderbooks;
        strategy_.on_orderbook(*book);
      } else if (auto* update = std::get_if<framework::OrderUpdate>(&event)) {
        ++handed_on_.orders;
        route(std::move(*update));
      } else {
        ++handed_on_.deals;
        route(std::move(std::get<framework::DealUpdate>(event)));
      }
    }
  }

  void route(gateways::OwnOrders::Update update) {
    if (own_.sort(update) == gateways::OwnOrders::Sort::Book) book(update);
  }

  // An update or deal of one of the session's orders, new to its books.
  void book(const gateways::OwnOrders::Update& booked) {
    if (const auto* update = std::get_if<framework::OrderUpdate>(&booked)) {
      journal_->record_order_update(*update);
      strategy_.on_order(*update);
      if (update->status == framework::OrderStatus::CANCELLED) ++cancelled_;
    } else {
      const auto& deal = std::get<framework::DealUpdate>(booked);
      journal_->record_deal(deal);
      strategy_.on_deal(deal);
      record_deal(deal);
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
    r.instruments = without_bars(tape_.instruments);
    r.days = tape_.days * options_.passes;
    r.minutes = replayed_;
    r.interrupted = interrupted_;
    r.session_tag = options_.session_tag;
    r.database = database_;
    r.orders = orders_;
    r.unconfirmed_orders = unconfirmed_orders_;
    r.market_orders = market_orders_;
    r.limit_orders = limit_orders_;
    r.cancels_sent = cancels_sent_;
    r.cancelled = cancelled_;
    r.deals = deals_;
    r.repeated_deals = own_.repeated();
    r.handed_on = handed_on_;
    r.snapshots = snapshots_;
    r.starting_cash = options_.starting_cash;
    r.fees = gateways::cqg::Tollbook(deals_).total_fees;
    r.market_fills = simulator().Fills();
    for (std::size_t i = 0; i < tape_.instruments.size(); ++i) {
      r.positions.push_back(strategy_.position(i));
      double held = 0;
      for (const auto& position : venue_positions_) {
        if (position.accountId == options_.account_id &&
            position.instrument == tape_.instruments[i].cqg_full_name) {
          held += static_cast<double>(position.quantity);
        }
      }
      r.venue_positions.push_back(held);
    }
    return r;
  }

  const MarketTape& tape_;
  const SessionOptions& options_;
  // The session's requests reach the client from this thread.
  platform::com::ComInitialization com_;
  std::optional<PaperMarket> market_;
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
  gateways::OwnOrders own_;
  std::map<std::string, framework::Order, std::less<>> orders_by_id_;
  std::vector<framework::Deal> deals_;
  std::vector<Snapshot> snapshots_;
  std::size_t replayed_ = 0;
  bool interrupted_ = false;
  std::size_t orders_ = 0;
  std::size_t unconfirmed_orders_ = 0;
  std::size_t market_orders_ = 0;
  std::size_t limit_orders_ = 0;
  std::size_t cancels_sent_ = 0;
  std::size_t cancelled_ = 0;
  HandedOn handed_on_;
  std::vector<cqgsim::PositionSnapshot> venue_positions_;
};

}  // namespace

SessionResult run_session(const MarketTape& tape, const SessionOptions& options) {
  Session session(tape, options);
  return session.run();
}

}  // namespace zantrix::app::demo
