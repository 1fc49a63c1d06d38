// OrderLedger: what VexGate remembers of orders and fills, so that every fill
// is handed on once, an order update survives a property the client left
// empty, and the engine's own orders are told from orders placed elsewhere.
//
// Per order it keeps whether the gateway placed it (and how its placement
// ended), the last status, average price and filled quantity handed on, and
// the quantity and value of the fills handed on. Per fill it keeps the pair
// (order GUID, fill id) once the fill has been handed on. Both are bounded:
// the most recent `capacity` orders and `capacity` fills are kept, the oldest
// forgotten first, so memory does not grow with a session; a fill repeated
// after that many newer ones would be handed on again.
//
// Not synchronised: VexGate keeps it under its order lock.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "zantrix/framework/constants.h"

namespace zantrix::gateways::cqg {

class OrderLedger {
 public:
  // How a placement by the gateway stands.
  enum class Placement {
    // Not placed by the gateway (as far as it knows).
    None,
    // place_order is waiting for its arrival.
    Pending,
    // Its arrival has been seen.
    Arrived,
    // place_order ended without its arrival: timed out or failed.
    Unconfirmed,
  };

  // What has been handed on for one order. The `empty_*` flags record that an
  // empty property has been traced once for the order.
  struct OrderState {
    Placement placement = Placement::None;
    // Why an unconfirmed placement ended: "timed out" or "failed".
    std::string ended = {};
    std::optional<framework::OrderStatus> status = {};
    double filled_avg_price = 0;
    double filled_quantity = 0;
    double booked_quantity = 0;
    double booked_value = 0;
    bool empty_status = false;
    bool empty_time = false;
    bool empty_price = false;
    bool empty_quantity = false;
  };

  static constexpr std::size_t DEFAULT_CAPACITY = 100'000;

  explicit OrderLedger(std::size_t capacity = DEFAULT_CAPACITY) : capacity_(capacity) {}

  // The order's state, made (empty) when the ledger has none.
  OrderState& order(const std::string& guid);
  // The order's state, or null.
  OrderState* find(const std::string& guid);
  const OrderState* find(const std::string& guid) const;
  // Whether the gateway placed the order.
  bool is_own(const std::string& guid) const;

  // Whether the fill has been handed on.
  bool handed_on(const std::string& order_guid, const std::string& fill_id) const;
  // Records that the fill is handed on and books it on its order; false
  // (and nothing recorded) when it was handed on before.
  bool hand_on(const std::string& order_guid, const std::string& fill_id, double quantity,
               double price);

 private:
  static std::string fill_key(const std::string& order_guid, const std::string& fill_id);

  std::size_t capacity_;
  std::unordered_map<std::string, OrderState> orders_;
  std::deque<std::string> order_age_;
  std::unordered_set<std::string> fills_;
  std::deque<std::string> fill_age_;
};

}  // namespace zantrix::gateways::cqg
