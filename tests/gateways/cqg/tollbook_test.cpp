#include "zantrix/gateways/cqg/tollbook.h"

#include <gtest/gtest.h>

#include "zantrix/core/security.h"

using zantrix::core::Futures;
using zantrix::framework::Deal;
using zantrix::gateways::cqg::Tollbook;

namespace {

Deal deal(double quantity) {
  return Deal{.security = Futures("CLmain", "Crude oil"), .filled_quantity = quantity};
}

void expect_only_commission(const Tollbook& t, double commissions) {
  EXPECT_DOUBLE_EQ(t.commissions, commissions);
  EXPECT_DOUBLE_EQ(t.total_fees, commissions);
  for (double other : {t.platform_fees, t.system_fees, t.settlement_fees, t.stamp_fees,
                       t.trade_fees, t.transaction_fees}) {
    EXPECT_EQ(other, 0.0);
  }
}

}  // namespace

TEST(Tollbook, NoDealsChargesNothing) {
  expect_only_commission(Tollbook(), 0.0);
  expect_only_commission(Tollbook{}, 0.0);
}

TEST(Tollbook, CommissionIsPerUnitOfFilledQuantityDealByDeal) {
  expect_only_commission(Tollbook(deal(10)), 19.2);
  const Tollbook two(deal(3), deal(2));
  EXPECT_EQ(two.commissions, 1.92 * 3 + 1.92 * 2);  // added deal by deal, not 1.92 * 5
  EXPECT_NEAR(two.total_fees, 9.6, 1e-12);
  expect_only_commission(Tollbook{deal(0), deal(4)}, 1.92 * 4);
  const std::vector<Deal> many{deal(1), deal(-1), deal(5)};
  expect_only_commission(Tollbook(many), 1.92 * 1 + 1.92 * -1 + 1.92 * 5);
}
