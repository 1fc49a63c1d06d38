#include "zantrix/framework/deal.h"

#include "zantrix/framework/text.h"

namespace zantrix::framework {

std::string to_string(const Deal& d) {
  return RecordText("Deal")
      .add("security", core::to_string(d.security))
      .add("direction", repr(d.direction))
      .add("offset", repr(d.offset))
      .add("order_type", repr(d.order_type))
      .add("updated_time", format_datetime(d.updated_time))
      .add("filled_avg_price", format_number(d.filled_avg_price))
      .add("filled_quantity", format_number(d.filled_quantity))
      .add("deal_id", quote_text(d.deal_id))
      .add("order_id", quote_text(d.order_id))
      .add("gateway_name", quote_text(d.gateway_name))
      .finish();
}

std::ostream& operator<<(std::ostream& os, const Deal& deal) { return os << to_string(deal); }

}  // namespace zantrix::framework
