// OwnOrders: what an engine keeps to match the gateway's order updates and
// deals to the orders it placed.
//
// An order becomes the engine's when place_order returns its id, or raises a
// framework::OrderPlacingError that carries it: adopt(id) then. The gateway
// may hand on an order's updates before place_order returns (its worker
// thread races the engine's), so an update or deal of an id not adopted yet
// is held, in order, and handed back by adopt once the id is known; those of
// an id never adopted are orders placed elsewhere on the account and stay
// out of the engine's book. A deal whose (order id, deal id) has been booked
// before is refused, so a fill is booked once even if it comes again.
//
// Memory: the ids adopted and the deals booked grow with the orders and
// fills of a session (tens of bytes each); at most `held_capacity` updates
// are held, the oldest dropped first. Used from the engine's thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_set>
#include <variant>
#include <vector>

#include "zantrix/framework/base_gateway.h"

namespace zantrix::gateways {

class OwnOrders {
 public:
  using Update = std::variant<framework::OrderUpdate, framework::DealUpdate>;

  // Where an update goes.
  enum class Sort {
    // Its order is the engine's (and, for a deal, its fill is new): book it.
    Book,
    // Its order is not known (yet): kept until adopt.
    Held,
    // A deal booked before: refused.
    Repeated,
  };

  explicit OwnOrders(std::size_t held_capacity = 10'000) : held_capacity_(held_capacity) {}

  // Makes `order_id` the engine's and returns what was held for it, oldest
  // first, less deals booked before: book them now.
  std::vector<Update> adopt(const std::string& order_id);
  Sort sort(const Update& update);

  bool owns(const std::string& order_id) const { return own_.contains(order_id); }
  // Updates held for ids not adopted.
  std::size_t held() const { return held_.size(); }
  // Deals refused as repeats so far.
  std::size_t repeated() const { return repeated_; }

 private:
  static const std::string& order_of(const Update& update);
  // Records a deal as booked; false when it was booked before.
  bool book(const framework::DealUpdate& deal);

  std::size_t held_capacity_;
  std::unordered_set<std::string> own_;
  std::unordered_set<std::string> booked_;
  std::deque<Update> held_;
  std::size_t repeated_ = 0;
};

}  // namespace zantrix::gateways
