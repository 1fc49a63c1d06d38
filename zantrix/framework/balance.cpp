#include "zantrix/framework/balance.h"

#include "zantrix/framework/text.h"

namespace zantrix::framework {

std::string to_string(const AccountBalance& b) {
  return RecordText("AccountBalance")
      .add("cash", format_number(b.cash))
      .add("cash_by_currency", format_optional(b.cash_by_currency, quote_text))
      .add("available_cash", format_number(b.available_cash))
      .add("max_power_short", format_optional(b.max_power_short, format_number))
      .add("net_cash_power", format_number(b.net_cash_power))
      .add("maintenance_margin", format_number(b.maintenance_margin))
      .add("realized_pnl", format_number(b.realized_pnl))
      .add("unrealized_pnl", format_number(b.unrealized_pnl))
      .finish();
}

std::ostream& operator<<(std::ostream& os, const AccountBalance& balance) {
  return os << to_string(balance);
}

}  // namespace zantrix::framework
