// OwnOrders: updates that come before their id is known are held and handed
// back in order once it is; a deal comes once; orders placed elsewhere stay
// out.
#include "zantrix/gateways/own_orders.h"

#include <gtest/gtest.h>

namespace zantrix::gateways {
namespace {

using framework::DealUpdate;
using framework::OrderStatus;
using framework::OrderUpdate;
using Sort = OwnOrders::Sort;

OrderUpdate update(const std::string& id, OrderStatus status) {
  return {.order_id = id,
          .updated_time = {},
          .filled_avg_price = 0,
          .filled_quantity = 0,
          .status = status};
}

DealUpdate deal(const std::string& id, const std::string& fill) {
  return {.deal_id = fill,
          .order_id = id,
          .updated_time = {},
          .filled_avg_price = 10,
          .filled_quantity = 1};
}

TEST(OwnOrdersTest, EarlyUpdatesWaitForTheirIdAndADealIsBookedOnce) {
  OwnOrders own;
  EXPECT_EQ(own.sort(update("A", OrderStatus::SUBMITTED)), Sort::Held);
  EXPECT_EQ(own.sort(deal("A", "f1")), Sort::Held);
  EXPECT_EQ(own.sort(deal("A", "f1")), Sort::Held);
  EXPECT_EQ(own.sort(deal("elsewhere", "f9")), Sort::Held);

  const auto taken = own.adopt("A");
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(std::get<OrderUpdate>(taken[0]).status, OrderStatus::SUBMITTED);
  EXPECT_EQ(std::get<DealUpdate>(taken[1]).deal_id, "f1");
  EXPECT_EQ(own.repeated(), 1u);
  EXPECT_EQ(own.held(), 1u);

  EXPECT_EQ(own.sort(deal("A", "f1")), Sort::Repeated);
  EXPECT_EQ(own.sort(deal("A", "f2")), Sort::Book);
  EXPECT_EQ(own.sort(update("A", OrderStatus::FILLED)), Sort::Book);
  EXPECT_TRUE(own.adopt("A").empty());
  EXPECT_FALSE(own.owns("elsewhere"));
}

}  // namespace
}  // namespace zantrix::gateways
