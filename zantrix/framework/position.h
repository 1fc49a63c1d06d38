// PositionData: one open position of an account.
#pragma once

#include <ostream>
#include <string>

#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework {

struct PositionData {
  core::Security security;
  Direction direction = Direction::LONG;
  double holding_price = 0;
  double quantity = 0;
  DateTime update_time = {};

  friend bool operator==(const PositionData&, const PositionData&) = default;
};

std::string to_string(const PositionData& position);
std::ostream& operator<<(std::ostream& os, const PositionData& position);

}  // namespace zantrix::framework
