// VexGate's orders: the arguments of CreateOrder, the GUID hand-over with
// and without an arrival in time, orders not placed by the gateway, the
// status mapping, fills into deals, cancellation and errors.
#include <string>

#include "tests/gateways/cqg/wrapper/vexgate_fixture.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/order.h"

namespace zantrix::gateways::cqg::test {
namespace {

using framework::Direction;
using framework::Order;
using framework::OrderStatus;
using framework::OrderType;

class VexGateOrderTest : public VexGateTest {
 protected:
  void SetUp() override {
    VexGateTest::SetUp();
    LogOnWithAccount();
    vex->subscribe_quote("EPZ4");
    vex->subscribe_quote("MESZ4");
    vex->subscribe_quote("ESZ4");
    TakeOutput();
  }

  static Order Limit(Direction direction, double price, const core::Security& security = EP) {
    return {.security = security,
            .price = price,
            .quantity = 2,
            .direction = direction,
            .order_type = OrderType::LIMIT};
  }

  // The arguments CreateOrder was last called with.
  std::vector<cel::Variant> LastCreateOrder() {
    return CallsOf("CQGCEL.CreateOrder").back().arguments;
  }
};

TEST_F(VexGateOrderTest, EachOrderTypeCarriesItsPrices) {
  vex->place_order({.security = EP, .quantity = 1, .order_type = OrderType::MARKET});
  EXPECT_EQ(LastCreateOrder().size(), 5u);
  EXPECT_EQ(LastCreateOrder()[0], cel::Variant(static_cast<long>(cel::otMarket)));

  vex->place_order(Limit(Direction::LONG, 4990));
  ASSERT_EQ(LastCreateOrder().size(), 6u);
  EXPECT_EQ(LastCreateOrder()[5], cel::Variant(4990.0));

  vex->place_order({.security = EP,
                    .price = 5010,
                    .quantity = 1,
                    .order_type = OrderType::STOP,
                    .stop_price = 5005});
  ASSERT_EQ(LastCreateOrder().size(), 7u);
  EXPECT_EQ(LastCreateOrder()[0], cel::Variant(static_cast<long>(cel::otStop)));
  EXPECT_EQ(LastCreateOrder()[5], cel::Variant(5010.0));
  EXPECT_EQ(LastCreateOrder()[6], cel::Variant(5005.0));
}

TEST_F(VexGateOrderTest, AShortLimitOrderIsASellMarkedNotManualBeforeItIsPlaced) {
  const auto from = simulator->Calls().size();
  const std::string guid = vex->place_order(Limit(Direction::SHORT, 5010));
  EXPECT_EQ(LastCreateOrder()[3], cel::Variant(2L));
  EXPECT_EQ(LastCreateOrder()[4], cel::Variant(static_cast<long>(cel::osdSell)));
  const auto members = MembersSince(from);
  const auto at = [&](const std::string& member) {
    return std::find(members.begin(), members.end(), member) - members.begin();
  };
  EXPECT_LT(at("CQGCEL.CreateOrder"), at("Order.put_Manual"));
  EXPECT_LT(at("Order.put_Manual"), at("Order.Place"));
  EXPECT_EQ(CallsOf("Order.put_Manual").back().arguments, std::vector<cel::Variant>{false});
  EXPECT_EQ(guid.size(), 38u);
  EXPECT_EQ(vex->order_id(), std::nullopt);
}

TEST_F(VexGateOrderTest, AMarketOrderIsFilledIntoAnUpdateAndADeal) {
  const std::string guid =
      vex->place_order({.security = EP, .quantity = 3, .order_type = OrderType::MARKET});
  simulator->Sync();
  const auto orders = gateway->orders();
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[0].order_id, guid);
  EXPECT_EQ(orders[0].status, OrderStatus::SUBMITTED);
  EXPECT_EQ(orders[1].status, OrderStatus::FILLED);
  EXPECT_EQ(orders[1].filled_quantity, 3);
  EXPECT_EQ(orders[1].filled_avg_price, 5000.25);
  const auto deals = gateway->deals();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].order_id, guid);
  EXPECT_EQ(deals[0].deal_id, "fill-1");
  EXPECT_EQ(deals[0].filled_avg_price, 5000.25);
  EXPECT_EQ(deals[0].filled_quantity, 3);
  // Whole seconds: the simulated clock stamps 250 ms steps.
  EXPECT_EQ(deals[0].updated_time.time_since_epoch() % std::chrono::seconds{1},
            std::chrono::microseconds{0});
  // The update comes before the deal of the same event, on the worker thread.
  const auto calls = gateway->calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<framework::OrderUpdate>(calls[1].call));
  EXPECT_TRUE(std::holds_alternative<framework::DealUpdate>(calls[2].call));
  for (const auto& call : calls) EXPECT_EQ(call.thread, workerId);
}

TEST_F(VexGateOrderTest, ARestingLimitOrderFillsWhenTheMarketCrossesIt) {
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4995.0, 1}});
  simulator->Sync();
  EXPECT_TRUE(gateway->deals().empty());
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4990.0, 1}});
  simulator->Sync();
  const auto deals = gateway->deals();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].filled_avg_price, 4990.0);
}

TEST_F(VexGateOrderTest, APlacementWithoutAnArrivalTimesOutWithTheOrdersText) {
  simulator->HoldAnswers("Order.Place");
  vex->wait_timeout = 50ms;
  const Order order = Limit(Direction::LONG, 4990);
  ExpectError<std::runtime_error>([&] { vex->place_order(order); },
                                  "Order placing timeout!\n" + framework::to_string(order) + " ");
  EXPECT_EQ(vex->order_id(), std::nullopt);
  std::string timed_out;
  simulator->Act([&](cqgsim::Venue& venue) { timed_out = venue.orders->items().at(0)->guid; });
  TakeOutput();

  // Its late arrival does not release the next placement.
  simulator->ReleaseAnswers("Order.Place");
  const auto late = TakeOutput();
  ASSERT_FALSE(late.empty());
  EXPECT_EQ(late[0], (Line{0, "orderid " + timed_out + " is not placed by algo"}));
  EXPECT_EQ(vex->order_id(), std::nullopt);

  vex->wait_timeout = 10s;
  const std::string next = vex->place_order(Limit(Direction::LONG, 4980));
  EXPECT_NE(next, timed_out);
  EXPECT_EQ(vex->order_id(), std::nullopt);
}

TEST_F(VexGateOrderTest, AnOrderEnteredByHandIsNotTakenForThePlacement) {
  simulator->PlaceManualOrder(
      {.accountId = 101, .symbol = "EPZ4", .side = cel::osdBuy, .quantity = 1});
  const auto lines = TakeOutput();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].thread, 0);
  EXPECT_TRUE(lines[0].text.ends_with(" is not placed by algo"));
  EXPECT_TRUE(lines[1].text.starts_with("OnAccountChanged - open position is added"));
  EXPECT_EQ(vex->order_id(), std::nullopt);
  // Its later changes and fills are processed like any other order's.
  const auto orders = gateway->orders();
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[1].status, OrderStatus::FILLED);
  EXPECT_EQ(gateway->deals().size(), 1u);
}

TEST_F(VexGateOrderTest, ChecksRunInOrderBeforeAnythingIsSent) {
  ExpectError<framework::ValueError>([&] { vex->place_order(Limit(Direction::NET, 1, EPU)); },
                                     "cqg_symbol EPU23 has not been subscribed.");
  ExpectError<framework::ValueError>([&] { vex->place_order(Limit(Direction::NET, 1)); },
                                     "Unsupported order side Direction.NET");
  ExpectError<framework::ValueError>(
      [&] {
        vex->place_order({.security = EP, .quantity = 1, .order_type = static_cast<OrderType>(7)});
      },
      "Unsupported order type OrderType.7");
  EXPECT_THROW(vex->place_order(Limit(Direction::LONG, 1, core::Futures("CLZ4", "Crude"))),
               framework::KeyError);
  EXPECT_TRUE(CallsOf("CQGCEL.CreateOrder").empty());
}

TEST_F(VexGateOrderTest, AnAccountThatIsGoneIsReportedBeforeCreatingTheOrder) {
  simulator->Act(
      [](cqgsim::Venue& venue) { venue.accounts->Remove(venue.accounts->Find(101).get()); });
  simulator->Sync();
  ExpectError<framework::ValueError>([&] { vex->place_order(Limit(Direction::LONG, 1)); },
                                     "GWAccountID 101 can not be found!");
  EXPECT_TRUE(CallsOf("CQGCEL.CreateOrder").empty());
}

TEST_F(VexGateOrderTest, TheExactContractIsTradedNotOneWhoseNameContainsIt) {
  vex->place_order({.security = ES, .quantity = 1, .order_type = OrderType::MARKET});
  const auto instrument = std::get<std::shared_ptr<platform::com::IDispatch>>(LastCreateOrder()[1]);
  EXPECT_EQ(platform::com::Dispatch<cqgsim::Instrument>(instrument)->fullName, "F.US.ESZ4");
}

TEST_F(VexGateOrderTest, CancellingReportsTheCancelledOrder) {
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  vex->cancel_order(guid);
  simulator->Sync();
  const auto orders = gateway->orders();
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[1].status, OrderStatus::CANCELLED);
  // Cancelling again is refused by the client with an error event: nothing.
  vex->cancel_order(guid);
  simulator->Sync();
  EXPECT_EQ(gateway->orders().size(), 2u);
  EXPECT_THROW(vex->cancel_order("{00000000-0000-0000-0000-000000000000}"),
               platform::com::ComError);
}

TEST_F(VexGateOrderTest, EveryStatusChangeAndRemovalIsAnUpdate) {
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  simulator->SetOrderStatus(guid, cel::osExpired);
  simulator->RemoveOrder(guid);
  simulator->Sync();
  const auto orders = gateway->orders();
  ASSERT_EQ(orders.size(), 3u);
  EXPECT_EQ(orders[1].status, OrderStatus::FAILED);
  EXPECT_EQ(orders[2].status, OrderStatus::FAILED);
}

TEST_F(VexGateOrderTest, AStatusOutsideTheTableEndsTheHandler) {
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  TakeOutput();
  simulator->SetOrderStatus(guid, static_cast<cel::eOrderStatus>(99));
  const auto lines = TakeOutput();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Line{worker,
                            "Exception in OnOrderChanged: Order status 99 is not valid to "
                            "be handled by zantrix."}));
  EXPECT_EQ(gateway->orders().size(), 1u);
}

TEST_F(VexGateOrderTest, OnlyNormalFillsBecomeDeals) {
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  simulator->FillOrder(guid, 4989, cel::fsBusted);
  simulator->FillOrder(guid, 4989, cel::fsNormal);
  simulator->Sync();
  const auto deals = gateway->deals();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].filled_avg_price, 4989);
  EXPECT_EQ(gateway->orders().size(), 3u);
}

TEST(OrderStatusTest, AllSeventeenStatusesMap) {
  const std::vector<std::pair<cel::eOrderStatus, OrderStatus>> table{
      {cel::osActiveAt, OrderStatus::UNKNOWN},       {cel::osContingent, OrderStatus::UNKNOWN},
      {cel::osInCancel, OrderStatus::UNKNOWN},       {cel::osInClient, OrderStatus::UNKNOWN},
      {cel::osInModify, OrderStatus::UNKNOWN},       {cel::osInTransit, OrderStatus::UNKNOWN},
      {cel::osNotSent, OrderStatus::UNKNOWN},        {cel::osParked, OrderStatus::UNKNOWN},
      {cel::osInOrderBook, OrderStatus::SUBMITTED},  {cel::osFilled, OrderStatus::FILLED},
      {cel::osBusted, OrderStatus::FILLED},          {cel::osCanceled, OrderStatus::CANCELLED},
      {cel::osRejectFCM, OrderStatus::FAILED},       {cel::osRejectGW, OrderStatus::FAILED},
      {cel::osDisconnected, OrderStatus::FAILED},    {cel::osExpired, OrderStatus::FAILED},
      {cel::osInTransitTimeout, OrderStatus::FAILED}};
  for (const auto& [cqg_status, status] : table) {
    EXPECT_EQ(convert_orderstatus_cqg2zx(cqg_status), status) << cqg_status;
  }
  ExpectError<framework::ValueError>(
      [] { convert_orderstatus_cqg2zx(static_cast<cel::eOrderStatus>(-1)); },
      "Order status -1 is not valid to be handled by zantrix.");
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
