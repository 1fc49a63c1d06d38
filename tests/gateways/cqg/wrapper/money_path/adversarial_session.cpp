#include "tests/gateways/cqg/wrapper/money_path/adversarial_session.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/own_orders.h"
#include "zantrix/gateways/recording_gateway.h"

namespace zantrix::gateways::cqg::test {

namespace {

namespace cqgsim = platform::cqgsim;
namespace cel = zantrix::framework::cqg;
using framework::Direction;
using framework::OrderStatus;
using framework::OrderType;
using namespace std::chrono_literals;

constexpr long ACCOUNT = 7;

struct Instrument {
  std::string full_name;
  std::string symbol;
  core::Futures security;
  double tick;
};

const std::array<Instrument, 2> INSTRUMENTS{{
    {"F.US.EPZ4", "EPZ4", core::Futures("EPZ4", "E-mini S&P 500 Dec 2024"), 0.25},
    {"F.US.NQZ4", "NQZ4", core::Futures("NQZ4", "E-mini Nasdaq-100 Dec 2024"), 0.25},
}};

bool finished(OrderStatus status) {
  return status == OrderStatus::FILLED || status == OrderStatus::CANCELLED ||
         status == OrderStatus::FAILED;
}

// The engine: it places orders, learns their ids from place_order or from
// the error of a placement that could not be confirmed, and books what the
// gateway hands on from its own thread, holding updates of ids it does not
// know yet.
class Engine {
 public:
  struct Placed {
    std::size_t instrument;
    Direction direction;
  };

  void adopt(const std::string& id, const Placed& placed) {
    placed_.insert_or_assign(id, placed);
    for (const auto& update : own_.adopt(id)) book(update);
  }

  void drain(RecordingGateway& gateway) {
    for (auto& taken : gateway.take_calls()) {
      if (const auto* update = std::get_if<framework::OrderUpdate>(&taken.call)) {
        last_update_.insert_or_assign(update->order_id, *update);
        if (own_.sort(*update) == OwnOrders::Sort::Book) book(*update);
      } else if (const auto* deal = std::get_if<framework::DealUpdate>(&taken.call)) {
        deals_.push_back(*deal);
        if (own_.sort(*deal) == OwnOrders::Sort::Book) book(*deal);
      }
    }
  }

  // An order of the engine that may still work, picked by `draw`.
  std::optional<std::string> working(std::mt19937_64& random) const {
    std::vector<std::string> open;
    for (const auto& [id, placed] : placed_) {
      const auto status = status_.find(id);
      if (status == status_.end() || !finished(status->second)) open.push_back(id);
    }
    if (open.empty()) return std::nullopt;
    return open[std::uniform_int_distribution<std::size_t>(0, open.size() - 1)(random)];
  }

  bool knows(const std::string& id) const { return own_.owns(id); }
  double position(std::size_t instrument) const { return position_[instrument]; }
  const std::vector<framework::DealUpdate>& deals() const { return deals_; }
  const std::map<std::string, framework::OrderUpdate>& last_updates() const { return last_update_; }
  std::size_t repeated() const { return own_.repeated(); }

 private:
  void book(const OwnOrders::Update& update) {
    if (const auto* order = std::get_if<framework::OrderUpdate>(&update)) {
      status_.insert_or_assign(order->order_id, order->status);
      return;
    }
    const auto& deal = std::get<framework::DealUpdate>(update);
    const auto& placed = placed_.at(deal.order_id);
    position_[placed.instrument] +=
        placed.direction == Direction::LONG ? deal.filled_quantity : -deal.filled_quantity;
  }

  OwnOrders own_;
  std::map<std::string, Placed> placed_;
  std::map<std::string, OrderStatus> status_;
  std::map<std::string, framework::OrderUpdate> last_update_;
  std::vector<framework::DealUpdate> deals_;
  std::array<double, INSTRUMENTS.size()> position_{};
};

class Session {
 public:
  Session(std::uint64_t seed, const cqgsim::Misbehaviour& rates)
      : random_(seed),
        simulator_(*registration_.simulator),
        gateway_({{INSTRUMENTS[0].symbol, INSTRUMENTS[0].security},
                  {INSTRUMENTS[1].symbol, INSTRUMENTS[1].security}}) {
    report_.seed = seed;
    simulator_.Record(false);
    simulator_.Seed(seed);
    // The client keeps an order's GUID from its creation (the gateway relies
    // on it), so guidChangesOnPlace is not drawn.
    simulator_.SetQuirks({.eventsDuringCalls = coin(0.25),
                          .fillOnArrival = coin(0.3),
                          .accountsReload = coin(0.5),
                          .partialFills = coin(0.5),
                          .repeatFillsOnReload = coin(0.5),
                          .reloadOnSwitchOff = coin(0.3),
                          .itemByGuidFollowsConfiguration = coin(0.5)});
    simulator_.SetMisbehaviour(rates);
    for (std::size_t i = 0; i < INSTRUMENTS.size(); ++i) {
      mid_[i] = i == 0 ? 5000 : 20000;
      simulator_.DefineInstrument({.fullName = INSTRUMENTS[i].full_name,
                                   .bid = mid_[i],
                                   .ask = mid_[i] + INSTRUMENTS[i].tick,
                                   .last = mid_[i],
                                   .tickSize = INSTRUMENTS[i].tick,
                                   .pointValue = 50});
    }
    simulator_.AddAccount({.id = ACCOUNT, .name = "Adversary", .startingCash = 1'000'000});
  }

  SessionReport run() {
    connect();
    const std::size_t operations = std::uniform_int_distribution<std::size_t>(20, 60)(random_);
    for (std::size_t n = 0; n < operations; ++n) operate();
    report_.operations = operations;
    settle();
    check();
    vex_->Logoff();
    host_->Shutdown();
    return report_;
  }

 private:
  bool coin(double p) { return std::bernoulli_distribution(p)(random_); }
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  void connect() {
    host_.emplace();
    vex_ = host_->Init<VexGate>();
    gateway_.ravelhost = &*host_;
    vex_->Init(gateway_);
    vex_->account_reload_pause = 0s;
    vex_->Logon("adversary", "secret");
    vex_->subscribe_account_and_positions(ACCOUNT);
    for (const auto& instrument : INSTRUMENTS) vex_->subscribe_quote(instrument.symbol);
  }

  void operate() {
    const auto roll = pick(100);
    if (roll < 35) {
      place();
    } else if (roll < 40) {
      place_with_late_arrival();
    } else if (roll < 60) {
      move_market(pick(INSTRUMENTS.size()));
    } else if (roll < 70) {
      cancel();
    } else if (roll < 75) {
      enter_by_hand();
    } else if (roll < 80) {
      ++report_.reloads;
      vex_->subscribe_account_and_positions(ACCOUNT);
    } else if (roll < 85) {
      outage();
    } else {
      settle();
    }
  }

  framework::Order draw_order(std::size_t i) {
    const double tick = INSTRUMENTS[i].tick;
    const auto direction = coin(0.5) ? Direction::LONG : Direction::SHORT;
    const double away = tick * static_cast<double>(pick(9)) - 4 * tick;
    framework::Order order{.security = INSTRUMENTS[i].security,
                           .quantity = static_cast<double>(1 + pick(5)),
                           .direction = direction};
    switch (pick(5)) {
      case 0:
      case 1:
        order.order_type = OrderType::MARKET;
        break;
      case 2:
      case 3:
        order.order_type = OrderType::LIMIT;
        order.price = mid_[i] + away;
        break;
      default:
        order.order_type = OrderType::STOP;
        order.stop_price = mid_[i] + away;
        order.price = *order.stop_price;
        break;
    }
    return order;
  }

  void place() {
    const auto i = pick(INSTRUMENTS.size());
    const auto order = draw_order(i);
    const Engine::Placed placed{i, order.direction};
    ++report_.orders;
    try {
      engine_.adopt(vex_->place_order(order), placed);
    } catch (const framework::OrderPlacingError& error) {
      ++report_.unconfirmed;
      engine_.adopt(error.order_id(), placed);
    } catch (const std::exception& error) {
      report_.violations.push_back(std::string("place_order raised: ") + error.what());
    }
  }

  // The arrivals of one or two placements are held past their wait, so that
  // they end unconfirmed, and come afterwards.
  void place_with_late_arrival() {
    simulator_.HoldAnswers("Order.Place");
    vex_->wait_timeout = 5ms;
    const auto placements = 1 + pick(2);
    for (std::size_t n = 0; n < placements; ++n) place();
    vex_->wait_timeout = 10s;
    simulator_.ReleaseAnswers("Order.Place");
  }

  void move_market(std::size_t i) {
    const double tick = INSTRUMENTS[i].tick;
    mid_[i] += tick * (static_cast<double>(pick(9)) - 4);
    simulator_.SetQuotes(
        INSTRUMENTS[i].full_name,
        {{cel::qtBid, mid_[i], 5}, {cel::qtAsk, mid_[i] + tick, 5}, {cel::qtTrade, mid_[i], 1}});
  }

  void cancel() {
    engine_.drain(gateway_);
    const auto id = engine_.working(random_);
    if (!id) return;
    try {
      vex_->cancel_order(*id);
    } catch (const framework::ValueError&) {
      // The client no longer holds it.
    } catch (const platform::com::ComError&) {
      // The client refused: the order is gone.
    }
  }

  void enter_by_hand() {
    simulator_.PlaceManualOrder({.accountId = ACCOUNT,
                                 .symbol = INSTRUMENTS[pick(INSTRUMENTS.size())].symbol,
                                 .side = coin(0.5) ? cel::osdBuy : cel::osdSell,
                                 .quantity = static_cast<long>(1 + pick(3)),
                                 .announced = coin(0.7)});
    simulator_.Sync();
  }

  // The gateway connection goes down, the market trades meanwhile, and it
  // comes back.
  void outage() {
    ++report_.outages;
    simulator_.SetGWConnectionStatus(cel::csConnectionDown);
    const auto moves = 1 + pick(3);
    for (std::size_t n = 0; n < moves; ++n) move_market(pick(INSTRUMENTS.size()));
    simulator_.SetGWConnectionStatus(cel::csConnectionUp);
  }

  void settle() {
    simulator_.Sync();
    engine_.drain(gateway_);
  }

  void violation(std::string text) { report_.violations.push_back(std::move(text)); }

  void check() {
    const auto fills = simulator_.Fills();
    const auto orders = simulator_.Orders();
    const auto positions = simulator_.Positions();
    report_.venue_fills = fills.size();
    report_.deals = engine_.deals().size();

    std::map<std::string, bool> manual;
    for (const auto& order : orders) manual[order.guid] = order.manual;

    // Each venue fill of the engine's orders is exactly one deal with its own
    // quantity; one of an order placed elsewhere at most one (its events are
    // handed on while the connection is up, and it is not reconciled).
    std::map<std::pair<std::string, std::string>, std::vector<double>> dealt;
    std::map<std::string, double> dealt_by_order;
    for (const auto& deal : engine_.deals()) {
      dealt[{deal.order_id, deal.deal_id}].push_back(deal.filled_quantity);
      dealt_by_order[deal.order_id] += deal.filled_quantity;
    }
    for (const auto& fill : fills) {
      const auto found = dealt.find({fill.orderGuid, fill.fillId});
      if (found == dealt.end()) {
        if (!manual[fill.orderGuid]) {
          violation("fill " + fill.fillId + " of order " + fill.orderGuid + " became no deal");
        }
        continue;
      }
      if (found->second.size() != 1) {
        violation("fill " + fill.fillId + " of order " + fill.orderGuid + " became " +
                  std::to_string(found->second.size()) + " deals");
      }
      if (found->second.front() != static_cast<double>(fill.quantity)) {
        violation("fill " + fill.fillId + " of " + std::to_string(fill.quantity) +
                  " became a deal of " + std::to_string(found->second.front()));
      }
      dealt.erase(found);
    }
    for (const auto& [key, quantities] : dealt) {
      violation("deal " + key.second + " of order " + key.first + " is no fill of the venue");
    }

    // The deals of each of the engine's orders add up to its last reported
    // filled quantity.
    for (const auto& [order, quantity] : dealt_by_order) {
      if (manual[order]) continue;
      const auto update = engine_.last_updates().find(order);
      if (update == engine_.last_updates().end()) {
        violation("order " + order + " has deals but no update");
      } else if (update->second.filled_quantity != quantity) {
        violation("order " + order + " was last reported filled " +
                  std::to_string(update->second.filled_quantity) + " while its deals add up to " +
                  std::to_string(quantity));
      }
    }

    // Every order the engine placed is known to it; positions agree net of
    // the orders entered by hand.
    for (const auto& order : orders) {
      if (!order.manual && !engine_.knows(order.guid)) {
        violation("order " + order.guid + " of the engine is not known to it");
      }
    }
    for (std::size_t i = 0; i < INSTRUMENTS.size(); ++i) {
      double venue = 0;
      for (const auto& position : positions) {
        if (position.accountId == ACCOUNT && position.instrument == INSTRUMENTS[i].full_name) {
          venue += static_cast<double>(position.quantity);
        }
      }
      for (const auto& fill : fills) {
        if (fill.instrument != INSTRUMENTS[i].full_name || !manual[fill.orderGuid]) continue;
        venue -= fill.side == cel::osdBuy ? fill.quantity : -fill.quantity;
      }
      if (engine_.position(i) != venue) {
        violation("the engine holds " + std::to_string(engine_.position(i)) + " " +
                  INSTRUMENTS[i].symbol + " where the venue holds " + std::to_string(venue) +
                  " for it");
      }
    }
  }

  std::mt19937_64 random_;
  SessionReport report_;
  platform::com::ComInitialization com_;
  cqgsim::Registration registration_;
  cqgsim::Simulator& simulator_;
  RecordingGateway gateway_;
  // After the gateway: the environment ends before the gateway its handlers
  // use.
  std::optional<Ravelhost> host_;
  std::shared_ptr<VexGate> vex_;
  Engine engine_;
  std::array<double, INSTRUMENTS.size()> mid_{};
};

}  // namespace

cqgsim::Misbehaviour session_misbehaviour() {
  return {.partialFill = 0.3,
          .repeatFill = 0.1,
          .repeatFillOnReload = 0.5,
          .placeFailsAfterArrival = 0.05,
          .emptyProperty = 0.1,
          .nullOrderWithFill = 0.05};
}

SessionReport run_session(std::uint64_t seed, const cqgsim::Misbehaviour& rates) {
  try {
    return Session(seed, rates).run();
  } catch (const std::exception& error) {
    SessionReport failed;
    failed.seed = seed;
    failed.violations.push_back(std::string("the session failed: ") + error.what());
    return failed;
  }
}

SessionReport run_watched_session(std::uint64_t seed, const cqgsim::Misbehaviour& rates,
                                  std::chrono::seconds limit) {
  std::promise<SessionReport> outcome;
  auto report = outcome.get_future();
  std::thread session([&] { outcome.set_value(run_session(seed, rates)); });
  if (report.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "session %llu did not end within %llds; replay: %s\n",
                 static_cast<unsigned long long>(seed), static_cast<long long>(limit.count()),
                 replay_command(seed).c_str());
    std::fflush(stderr);
    std::_Exit(2);
  }
  session.join();
  return report.get();
}

std::string replay_command(std::uint64_t seed) {
  return std::string(MONEY_PATH_SOAK) + " --seed " + std::to_string(seed) + " --sessions 1";
}

}  // namespace zantrix::gateways::cqg::test
