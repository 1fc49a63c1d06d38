// Deal: one fill of an order.
#pragma once

#include <ostream>
#include <string>

#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework {

struct Deal {
  core::Security security;
  Direction direction = Direction::LONG;
  Offset offset = Offset::NONE;
  OrderType order_type = OrderType::MARKET;
  DateTime updated_time = {};
  double filled_avg_price = 0;
  double filled_quantity = 0;
  std::string deal_id = {};
  std::string order_id = {};
  std::string gateway_name = {};

  friend bool operator==(const Deal&, const Deal&) = default;
};

std::string to_string(const Deal& deal);
std::ostream& operator<<(std::ostream& os, const Deal& deal);

}  // namespace zantrix::framework
