// BaseFees: the fee components of a set of deals, all in the deals' currency.
// `commissions` and `platform_fees` are the platform's fees; the other five
// are the fees of other parties. A fee model derives from it and fills the
// components at construction; `total_fees` is their sum.
#pragma once

namespace zantrix::framework {

struct BaseFees {
  double commissions = 0;
  double platform_fees = 0;
  double system_fees = 0;
  double settlement_fees = 0;
  double stamp_fees = 0;
  double trade_fees = 0;
  double transaction_fees = 0;
  double total_fees = 0;
};

}  // namespace zantrix::framework
