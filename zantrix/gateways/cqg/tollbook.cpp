#include "zantrix/gateways/cqg/tollbook.h"

namespace zantrix::gateways::cqg {

Tollbook::Tollbook(std::span<const framework::Deal> deals) {
  for (const auto& deal : deals) {
    commissions += kCommissionPerUnit * deal.filled_quantity;
  }
  total_fees = commissions + platform_fees + system_fees + settlement_fees + stamp_fees +
               trade_fees + transaction_fees;
}

}  // namespace zantrix::gateways::cqg
