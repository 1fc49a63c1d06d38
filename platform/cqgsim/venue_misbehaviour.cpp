// The venue's misbehaviour: what a real venue does now and then, on cue or
// drawn at random from the seeded sequence at the rates a test sets.
#include <array>
#include <stdexcept>

#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

namespace {

// The properties a random empty-property defect picks from.
constexpr std::array EMPTY_PROPERTIES{
    OrderEventDefect::EmptyTimestamp, OrderEventDefect::EmptyAveragePrice,
    OrderEventDefect::EmptyFilledQuantity, OrderEventDefect::EmptyStatus};

}  // namespace

void Venue::SetMisbehaviour(const Misbehaviour& rates) {
  misbehaviour_ = rates;
}

void Venue::FailNextPlaceAfterArrival() {
  failNextPlace_ = true;
}

void Venue::RepeatFill(const std::string& guid) {
  const auto order = RequireOrder(guid);
  if (order->fills->items().empty()) {
    throw std::invalid_argument("the order " + guid + " holds no fill to report again");
  }
  Emit(Repetition(order));
}

// A rate of 0 draws nothing, so that a session that asks for no misbehaviour
// draws exactly the numbers it drew before misbehaviour existed.
bool Venue::Chance(double rate) {
  if (rate <= 0) return false;
  // The top 53 bits make a uniform double in [0, 1) on every platform.
  return static_cast<double>(random_() >> 11) * 0x1.0p-53 < rate;
}

long Venue::TradeQuantity(const Order& order) {
  const long remaining = order.ticket.quantity - order.filledQuantity;
  if (remaining > 1 &&
      (servant_.state()->quirks.partialFills || Chance(misbehaviour_.partialFill))) {
    return 1 + static_cast<long>(random_() % static_cast<std::uint64_t>(remaining));
  }
  return remaining;
}

Notification Venue::Repetition(const std::shared_ptr<Order>& order) {
  return OrderEvent(cqg::ctChanged, order, [order](Venue&, OrderReport& report) {
    report.repeat = true;
    report.fill = order->fills->items().back();
  });
}

void Venue::Misbehave(const std::shared_ptr<Order>& order, OrderReport& report) {
  if (!report.defect) {
    if (report.fill && Chance(misbehaviour_.nullOrderWithFill)) {
      report.defect = OrderEventDefect::NullOrder;
    } else if (Chance(misbehaviour_.emptyProperty)) {
      report.defect = EMPTY_PROPERTIES[random_() % EMPTY_PROPERTIES.size()];
    }
  }
  // A repetition is not repeated itself, so that a rate of 1 still ends.
  if (!report.repeat && !order->fills->items().empty() && Chance(misbehaviour_.repeatFill)) {
    Emit(Repetition(order));
  }
}

void Venue::RepeatFillsAfterReload() {
  const bool always = servant_.state()->quirks.repeatFillsOnReload;
  for (const auto& order : orders->items()) {
    if (order->fills->items().empty()) continue;
    if (always || Chance(misbehaviour_.repeatFillOnReload)) Emit(Repetition(order));
  }
}

}  // namespace platform::cqgsim
