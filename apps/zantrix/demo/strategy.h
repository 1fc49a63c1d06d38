// MovingAverageCross: the demo's sample strategy. On each completed one-minute
// bar of an instrument it compares the mean close of the last `fast` bars with
// that of the last `slow` bars: above, it wants to be long `trade_size`; below,
// short where the instrument can be sold short and flat otherwise.
//
// Orders: a position is closed with a market order; a position is opened with
// a limit order at the near side of the book (the best bid to buy, the best
// ask to sell), cancelled after `patience` bars without a fill, after which the
// next opening order of that instrument goes to the market. An instrument has
// at most one working order. An order ends with its final status, once its
// deals add up to its quantity, or `patience` bars after its cancellation was
// sent: a venue may report a status empty, and the gateway hands on no answer
// to a cancellation of an order that has ended. The position is the sum of
// the deals, each booked once by the session, whenever they come.
//
// The strategy only decides: the session carries its decisions out and feeds
// it the gateway's records. It is used from one thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "apps/zantrix/demo/market_tape.h"
#include "zantrix/core/data.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/framework/order.h"

namespace zantrix::app::demo {

struct StrategyOptions {
  std::size_t fast = 30;
  std::size_t slow = 120;
  std::size_t patience = 5;
};

struct PlaceOrder {
  std::size_t instrument;
  framework::Order order;
};

struct CancelOrder {
  std::size_t instrument;
  std::string order_id;
};

using Decision = std::variant<PlaceOrder, CancelOrder>;

class MovingAverageCross {
 public:
  MovingAverageCross(const std::vector<TapeInstrument>& instruments, StrategyOptions options);

  // The gateway's records, in the order it delivered them.
  void on_quote(const core::Quote& quote);
  void on_orderbook(const core::OrderBook& book);
  void on_order(const framework::OrderUpdate& update);
  void on_deal(const framework::DealUpdate& deal);

  // The decisions for instrument `i` given its completed bars, oldest first;
  // `bar_number` counts the instrument's bars and is the same on a second
  // call for the same bar.
  std::vector<Decision> on_bar(std::size_t i, std::span<const core::Bar> bars,
                               std::size_t bar_number, framework::DateTime now);
  // Cancels what works and closes every position.
  std::vector<Decision> wind_down(framework::DateTime now);

  // The session reports what it did with a decision.
  void placed(const PlaceOrder& decision, const std::string& order_id, std::size_t bar_number);
  void cancel_sent(const CancelOrder& decision, std::size_t bar_number);

  double position(std::size_t i) const { return books_.at(i).position; }
  bool has_working_order(std::size_t i) const { return books_.at(i).working.has_value(); }

 private:
  struct Working {
    std::string order_id;
    framework::OrderType type;
    std::size_t placed_at;
    // The bar its cancellation was sent on, if it was.
    std::optional<std::size_t> cancelled_at = std::nullopt;
  };
  struct Placed {
    std::size_t instrument;
    framework::Direction direction;
    double quantity;
    double filled = 0;
  };
  struct Book {
    std::optional<double> bid;
    std::optional<double> ask;
    std::optional<double> last;
    double position = 0;
    double target = 0;
    std::optional<Working> working;
    bool chase = false;
  };

  std::optional<std::size_t> index_of(const core::Security& security) const;
  framework::Order make_order(std::size_t i, framework::Direction direction, double quantity,
                              framework::Offset offset, framework::OrderType type,
                              framework::DateTime now) const;
  std::optional<Decision> next_order(std::size_t i, framework::DateTime now);

  std::vector<TapeInstrument> instruments_;
  StrategyOptions options_;
  std::vector<Book> books_;
  // Every order placed.
  std::map<std::string, Placed, std::less<>> orders_;
};

}  // namespace zantrix::app::demo
