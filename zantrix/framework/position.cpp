#include "zantrix/framework/position.h"

#include "zantrix/framework/text.h"

namespace zantrix::framework {

std::string to_string(const PositionData& p) {
  return RecordText("PositionData")
      .add("security", core::to_string(p.security))
      .add("direction", repr(p.direction))
      .add("holding_price", format_number(p.holding_price))
      .add("quantity", format_number(p.quantity))
      .add("update_time", format_datetime(p.update_time))
      .finish();
}

std::ostream& operator<<(std::ostream& os, const PositionData& position) {
  return os << to_string(position);
}

}  // namespace zantrix::framework
