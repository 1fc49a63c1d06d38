#include "apps/zantrix/demo/strategy.h"

#include <cmath>

namespace zantrix::app::demo {

using framework::Direction;
using framework::OrderStatus;
using framework::OrderType;

namespace {

double mean_close(std::span<const core::Bar> bars) {
  double sum = 0;
  for (const auto& bar : bars) sum += bar.close;
  return sum / static_cast<double>(bars.size());
}

bool finished(OrderStatus status) {
  return status == OrderStatus::FILLED || status == OrderStatus::CANCELLED ||
         status == OrderStatus::FAILED;
}

}  // namespace

MovingAverageCross::MovingAverageCross(const std::vector<TapeInstrument>& instruments,
                                       StrategyOptions options)
    : instruments_(instruments), options_(options), books_(instruments.size()) {}

std::optional<std::size_t> MovingAverageCross::index_of(const core::Security& security) const {
  for (std::size_t i = 0; i < instruments_.size(); ++i) {
    if (instruments_[i].security == security) return i;
  }
  return std::nullopt;
}

void MovingAverageCross::on_quote(const core::Quote& quote) {
  const auto i = index_of(quote.security);
  if (!i) return;
  Book& book = books_[*i];
  if (quote.last_price > 0) book.last = quote.last_price;
  if (quote.bid_price > 0) book.bid = quote.bid_price;
  if (quote.ask_price > 0) book.ask = quote.ask_price;
}

void MovingAverageCross::on_orderbook(const core::OrderBook& orderbook) {
  const auto i = index_of(orderbook.security);
  if (!i) return;
  Book& book = books_[*i];
  if (orderbook.bid_price_1 > 0) book.bid = orderbook.bid_price_1;
  if (orderbook.ask_price_1 > 0) book.ask = orderbook.ask_price_1;
}

void MovingAverageCross::on_order(const framework::OrderUpdate& update) {
  const auto known = orders_.find(update.order_id);
  if (known == orders_.end() || !finished(update.status)) return;
  Book& book = books_[known->second.instrument];
  if (book.working && book.working->order_id == update.order_id) book.working.reset();
}

void MovingAverageCross::on_deal(const framework::DealUpdate& deal) {
  const auto known = orders_.find(deal.order_id);
  if (known == orders_.end()) return;
  Placed& placed = known->second;
  Book& book = books_[placed.instrument];
  book.position +=
      placed.direction == Direction::LONG ? deal.filled_quantity : -deal.filled_quantity;
  placed.filled += deal.filled_quantity;
  if (placed.filled >= placed.quantity && book.working && book.working->order_id == deal.order_id) {
    book.working.reset();
  }
}

std::vector<Decision> MovingAverageCross::on_bar(std::size_t i, std::span<const core::Bar> bars,
                                                 std::size_t bar_number, framework::DateTime now) {
  Book& book = books_.at(i);
  if (book.working && book.working->cancelled_at &&
      bar_number >= *book.working->cancelled_at + options_.patience) {
    // The venue answered the cancellation with no final status (one it
    // reported empty): the order is taken as ended. A deal it still brings
    // moves the position all the same.
    book.working.reset();
  }
  if (book.working) {
    const Working& working = *book.working;
    if (working.type == OrderType::LIMIT && !working.cancelled_at &&
        bar_number >= working.placed_at + options_.patience) {
      return {CancelOrder{i, working.order_id}};
    }
    return {};
  }
  if (bars.size() >= options_.slow && options_.fast <= options_.slow) {
    const double fast = mean_close(bars.last(options_.fast));
    const double slow = mean_close(bars.last(options_.slow));
    const TapeInstrument& instrument = instruments_[i];
    if (fast > slow) {
      book.target = instrument.trade_size;
    } else if (fast < slow) {
      book.target = instrument.can_short ? -instrument.trade_size : 0;
    }
  }
  if (auto decision = next_order(i, now)) return {std::move(*decision)};
  return {};
}

std::vector<Decision> MovingAverageCross::wind_down(framework::DateTime now) {
  std::vector<Decision> decisions;
  for (std::size_t i = 0; i < books_.size(); ++i) {
    Book& book = books_[i];
    book.target = 0;
    book.chase = true;
    if (book.working) {
      if (!book.working->cancelled_at) decisions.push_back(CancelOrder{i, book.working->order_id});
    } else if (auto decision = next_order(i, now)) {
      decisions.push_back(std::move(*decision));
    }
  }
  return decisions;
}

// Closing comes first: a position on the wrong side is closed at the market,
// and the new one is opened once the close has filled.
std::optional<Decision> MovingAverageCross::next_order(std::size_t i, framework::DateTime now) {
  Book& book = books_[i];
  if (book.target == book.position) return std::nullopt;
  if (book.position != 0 && (book.target == 0 || (book.target > 0) != (book.position > 0))) {
    const Direction side = book.position > 0 ? Direction::SHORT : Direction::LONG;
    return PlaceOrder{i, make_order(i, side, std::abs(book.position), framework::Offset::CLOSE,
                                    OrderType::MARKET, now)};
  }
  const double need = book.target - book.position;
  const Direction side = need > 0 ? Direction::LONG : Direction::SHORT;
  const std::optional<double> near = side == Direction::LONG ? book.bid : book.ask;
  const OrderType type = book.chase || !near ? OrderType::MARKET : OrderType::LIMIT;
  return PlaceOrder{i, make_order(i, side, std::abs(need), framework::Offset::OPEN, type, now)};
}

framework::Order MovingAverageCross::make_order(std::size_t i, Direction direction,
                                                double quantity, framework::Offset offset,
                                                OrderType type, framework::DateTime now) const {
  const Book& book = books_[i];
  // A market order carries the price it was decided at, for the record.
  double price = book.last.value_or(0);
  if (type == OrderType::LIMIT) price = direction == Direction::LONG ? *book.bid : *book.ask;
  return {.security = instruments_[i].security,
          .price = price,
          .quantity = quantity,
          .direction = direction,
          .offset = offset,
          .order_type = type,
          .gateway_name = "CQG",
          .status = OrderStatus::SUBMITTING,
          .create_time = now,
          .updated_time = now,
          .remark = "moving-average cross"};
}

void MovingAverageCross::placed(const PlaceOrder& decision, const std::string& order_id,
                                std::size_t bar_number) {
  Book& book = books_.at(decision.instrument);
  orders_.insert_or_assign(order_id, Placed{.instrument = decision.instrument,
                                            .direction = decision.order.direction,
                                            .quantity = decision.order.quantity});
  book.working = Working{order_id, decision.order.order_type, bar_number};
  if (decision.order.order_type == OrderType::MARKET) book.chase = false;
}

void MovingAverageCross::cancel_sent(const CancelOrder& decision, std::size_t bar_number) {
  Book& book = books_.at(decision.instrument);
  if (book.working && book.working->order_id == decision.order_id) {
    book.working->cancelled_at = bar_number;
    book.chase = true;
  }
}

}  // namespace zantrix::app::demo
