// AccountBalance: a snapshot of an account's money. Built empty and filled
// field by field; the two optional fields are absent when the broker does not
// report them.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace zantrix::framework {

struct AccountBalance {
  double cash = 0;
  std::optional<std::string> cash_by_currency = {};
  double available_cash = 0;
  std::optional<double> max_power_short = {};
  double net_cash_power = 0;
  double maintenance_margin = 0;
  double realized_pnl = 0;
  double unrealized_pnl = 0;

  friend bool operator==(const AccountBalance&, const AccountBalance&) = default;
};

std::string to_string(const AccountBalance& balance);
std::ostream& operator<<(std::ostream& os, const AccountBalance& balance);

}  // namespace zantrix::framework
