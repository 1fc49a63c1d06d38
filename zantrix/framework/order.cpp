#include "zantrix/framework/order.h"

#include "zantrix/framework/text.h"

namespace zantrix::framework {

std::string to_string(const Order& o) {
  return RecordText("Order")
      .add("security", core::to_string(o.security))
      .add("price", format_number(o.price))
      .add("quantity", format_number(o.quantity))
      .add("direction", repr(o.direction))
      .add("offset", repr(o.offset))
      .add("order_type", repr(o.order_type))
      .add("gateway_name", quote_text(o.gateway_name))
      .add("stop_price", format_optional(o.stop_price, format_number))
      .add("order_id", quote_text(o.order_id))
      .add("status", repr(o.status))
      .add("create_time", format_datetime(o.create_time))
      .add("updated_time", format_datetime(o.updated_time))
      .add("filled_avg_price", format_number(o.filled_avg_price))
      .add("filled_quantity", format_number(o.filled_quantity))
      .add("remark", quote_text(o.remark))
      .finish();
}

std::ostream& operator<<(std::ostream& os, const Order& order) { return os << to_string(order); }

}  // namespace zantrix::framework
