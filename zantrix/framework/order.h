// Order: an order of the framework's engine, as a gateway places it and as
// the engine follows it. `security` may hold any instrument kind.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework {

struct Order {
  core::Security security;
  double price = 0;
  double quantity = 0;
  Direction direction = Direction::LONG;
  Offset offset = Offset::NONE;
  OrderType order_type = OrderType::MARKET;
  std::string gateway_name = {};
  std::optional<double> stop_price = {};
  std::string order_id = {};
  OrderStatus status = OrderStatus::UNKNOWN;
  DateTime create_time = {};
  DateTime updated_time = {};
  double filled_avg_price = 0;
  double filled_quantity = 0;
  std::string remark = {};

  friend bool operator==(const Order&, const Order&) = default;
};

// "Order(security=..., price=..., ...)", every field in declaration order.
std::string to_string(const Order& order);
std::ostream& operator<<(std::ostream& os, const Order& order);

}  // namespace zantrix::framework
