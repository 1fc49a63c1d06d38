// VexGate's orders: the arguments of CreateOrder, the GUID hand-over with
// and without an arrival in time, orders not placed by the gateway, the
// status mapping, fills into deals, cancellation and errors.
#include <algorithm>
#include <atomic>
#include <future>
#include <limits>
#include <string>
#include <vector>

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

// The error of a placement that timed out names the order it left at the
// venue, in its text (the order's text form with that id) and as a field.
TEST_F(VexGateOrderTest, APlacementWithoutAnArrivalTimesOutWithTheOrdersText) {
  simulator->HoldAnswers("Order.Place");
  vex->wait_timeout = 50ms;
  Order order = Limit(Direction::LONG, 4990);
  std::string carried;
  try {
    vex->place_order(order);
    ADD_FAILURE() << "the placement did not time out";
  } catch (const framework::OrderPlacingError& error) {
    carried = error.order_id();
    order.order_id = carried;
    EXPECT_EQ(std::string(error.what()),
              "Order placing timeout!\n" + framework::to_string(order) + " ");
  }
  EXPECT_EQ(vex->order_id(), std::nullopt);
  std::string timed_out;
  simulator->Act([&](cqgsim::Venue& venue) { timed_out = venue.orders->items().at(0)->guid; });
  TakeOutput();
  EXPECT_EQ(carried, timed_out);

  // Its late arrival is that order's update, and does not release the next
  // placement.
  simulator->ReleaseAnswers("Order.Place");
  const auto late = TakeOutput();
  ASSERT_FALSE(late.empty());
  EXPECT_EQ(late[0],
            (Line{worker, "orderid " + timed_out + " arrived after its placement timed out"}));
  EXPECT_EQ(vex->order_id(), std::nullopt);
  ASSERT_FALSE(gateway->orders().empty());
  EXPECT_EQ(gateway->orders()[0].order_id, timed_out);

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

// Quantities and prices the client would take wrongly are refused, naming
// the field, before anything is sent: nothing is rounded, and a price of 0 is
// no price.
TEST_F(VexGateOrderTest, AQuantityOrPriceTheClientWouldTakeWronglyIsRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    Order order;
    std::string text;
  } cases[] = {
      {{.security = EP, .quantity = 2.5, .order_type = OrderType::MARKET},
       "Order quantity 2.5 is not a whole positive number of lots"},
      {{.security = EP, .quantity = 0, .order_type = OrderType::MARKET},
       "Order quantity 0.0 is not a whole positive number of lots"},
      {{.security = EP, .quantity = -1, .order_type = OrderType::MARKET},
       "Order quantity -1.0 is not a whole positive number of lots"},
      {{.security = EP, .quantity = nan, .order_type = OrderType::MARKET},
       "Order quantity nan is not a whole positive number of lots"},
      {{.security = EP, .price = 0, .quantity = 1, .order_type = OrderType::LIMIT},
       "A LIMIT order needs a positive price, not 0.0"},
      {{.security = EP, .price = -5, .quantity = 1, .order_type = OrderType::LIMIT},
       "A LIMIT order needs a positive price, not -5.0"},
      {{.security = EP, .price = 5000, .quantity = 1, .order_type = OrderType::STOP},
       "A STOP order needs a positive stop_price, not None"},
      {{.security = EP,
        .price = 5000,
        .quantity = 1,
        .order_type = OrderType::STOP,
        .stop_price = 0},
       "A STOP order needs a positive stop_price, not 0.0"},
  };
  for (const auto& c : cases) {
    ExpectError<framework::ValueError>([&] { vex->place_order(c.order); }, c.text);
  }
  EXPECT_TRUE(CallsOf("CQGCEL.CreateOrder").empty());
}

// A gateway object whose process_order waits until place_order has returned
// the order's id, as an engine that matches updates by that id might: it
// never waits in vain, because place_order asks the client nothing after
// Place and so does not queue behind the order's own events.
TEST_F(VexGateOrderTest, PlaceOrderReturnsBeforeTheOrdersLaterEventsAreServed) {
  struct WaitingGateway final : framework::BaseGateway {
    explicit WaitingGateway(RecordingGateway& symbols) : symbols(symbols) {}
    ~WaitingGateway() override { retire(); }
    void process_quote(const core::Quote&) override {}
    void process_orderbook(const core::OrderBook&) override {}
    void process_order(const framework::OrderUpdate&) override {
      if (!returned.wait(5s)) waited_in_vain = true;
    }
    void process_deal(const framework::DealUpdate&) override {}
    std::optional<core::Security> get_zx_security_from_cqg_symbol(
        const std::string& cqg_symbol) const override {
      return symbols.get_zx_security_from_cqg_symbol(cqg_symbol);
    }
    std::string get_cqg_symbol_from_zx_security(const core::Security& security) const override {
      return symbols.get_cqg_symbol_from_zx_security(security);
    }
    RecordingGateway& symbols;
    framework::Event returned;
    std::atomic<bool> waited_in_vain{false};
  } waiting(*gateway);
  waiting.ravelhost = host.get();
  vex->Init(waiting);
  vex->place_order({.security = EP, .quantity = 1, .order_type = OrderType::MARKET});
  waiting.returned.set();
  simulator->Sync();
  EXPECT_FALSE(waiting.waited_in_vain);
  vex->Init(*gateway);
}

// The client's error out of Place may come after the order reached the
// venue: the error names the order, keeps the client's error nested, and
// the order's later events are handed on under that id.
TEST_F(VexGateOrderTest, APlaceThatFailsRaisesAnErrorCarryingTheOrdersId) {
  simulator->FailNextCall("Order.Place", "the gateway connection dropped");
  std::string carried;
  try {
    vex->place_order(Limit(Direction::LONG, 4990));
    ADD_FAILURE() << "Place did not fail";
  } catch (const framework::OrderPlacingError& error) {
    carried = error.order_id();
    EXPECT_TRUE(std::string(error.what()).starts_with("Order placing failed: "));
    EXPECT_NE(std::string(error.what()).find("order_id='" + carried + "'"), std::string::npos);
    EXPECT_THROW(std::rethrow_if_nested(error), platform::com::ComError);
  }
  EXPECT_EQ(CallsOf("Order.GUID").size(), 1u);
  ASSERT_EQ(carried.size(), 38u);
}

// A placement that timed out arrives while the next one is under way: it is
// the late arrival of the gateway's own order, not the next placement and
// not an order placed by hand.
TEST_F(VexGateOrderTest, ALateArrivalDuringTheNextPlacementIsTheEarlierOrder) {
  simulator->HoldAnswers("Order.Place");
  vex->wait_timeout = 50ms;
  std::string first;
  try {
    vex->place_order(Limit(Direction::LONG, 4990));
  } catch (const framework::OrderPlacingError& error) {
    first = error.order_id();
  }
  ASSERT_FALSE(first.empty());
  vex->wait_timeout = 10s;
  // Both arrivals are held: released once the second placement waits.
  auto release = std::async(std::launch::async, [&] {
    while (CallsOf("Order.Place").size() < 2) std::this_thread::sleep_for(1ms);
    simulator->ReleaseAnswers("Order.Place");
  });
  const std::string placed = vex->place_order(Limit(Direction::LONG, 4980));
  release.get();
  EXPECT_NE(placed, first);
  const auto lines = TakeOutput();
  EXPECT_TRUE(HasText(lines, "orderid " + first + " arrived after its placement timed out"));
  for (const auto& line : lines) EXPECT_FALSE(line.text.ends_with("is not placed by algo"));
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
  // Without its own instrument, ESZ4 is not traded as MESZ4.
  vex->unsubscribe_quote("ESZ4");
  const auto created = CallsOf("CQGCEL.CreateOrder").size();
  ExpectError<framework::ValueError>(
      [&] { vex->place_order({.security = ES, .quantity = 1, .order_type = OrderType::MARKET}); },
      "cqg_symbol ESZ4 has not been subscribed.");
  EXPECT_EQ(CallsOf("CQGCEL.CreateOrder").size(), created);
}

// However the client hands the new order over (its events during Place, a
// GUID that changes at Place, a fill in the arrival), place_order returns the
// GUID every later event reports, and its fill is the order's deal.
TEST_F(VexGateOrderTest, ThePlacedOrderIsFoundUnderEveryHandOver) {
  vex->wait_timeout = 2s;
  const struct {
    const char* name;
    cqgsim::Quirks quirks;
  } cases[] = {
      {"plain", {}},
      {"events during calls", {.eventsDuringCalls = true}},
      {"GUID changes at Place", {.guidChangesOnPlace = true}},
      {"both", {.eventsDuringCalls = true, .guidChangesOnPlace = true}},
      {"all, filled in the arrival",
       {.eventsDuringCalls = true, .fillOnArrival = true, .guidChangesOnPlace = true}},
  };
  for (const auto& c : cases) {
    simulator->SetQuirks(c.quirks);
    TakeOutput();
    gateway->take_calls();
    std::string guid;
    EXPECT_NO_THROW(
        guid = vex->place_order({.security = EP, .quantity = 1, .order_type = OrderType::MARKET}))
        << c.name;
    simulator->Sync();
    const auto deals = gateway->deals();
    ASSERT_EQ(deals.size(), 1u) << c.name;
    EXPECT_EQ(deals[0].order_id, guid) << c.name;
    ASSERT_FALSE(gateway->orders().empty()) << c.name;
    EXPECT_EQ(gateway->orders().back().order_id, guid) << c.name;
    EXPECT_EQ(gateway->orders().back().status, OrderStatus::FILLED) << c.name;
    // An arrival under another GUID than the order was created with is the
    // placed order, traced as an error.
    const auto lines = TakeOutput();
    EXPECT_EQ(HasText(lines, "Error: orderid " + guid +
                                 " arrived while another order was being placed; it is taken "
                                 "as the placed order"),
              c.quirks.guidChangesOnPlace)
        << c.name;
    for (const auto& line : lines) {
      EXPECT_FALSE(line.text.ends_with("is not placed by algo")) << c.name << ": " << line.text;
    }
  }
}

// Fills that come with unusual events: the arrival of a placement that timed
// out, the arrival of an order entered by hand, the acceptance of an order
// whose arrival was never reported. Each becomes a deal after its order's
// update.
TEST_F(VexGateOrderTest, EveryFillBecomesADeal) {
  simulator->SetQuirks({.fillOnArrival = true});
  simulator->HoldAnswers("Order.Place");
  vex->wait_timeout = 50ms;
  EXPECT_THROW(vex->place_order({.security = EP, .quantity = 1, .order_type = OrderType::MARKET}),
               std::runtime_error);
  simulator->ReleaseAnswers("Order.Place");
  simulator->PlaceManualOrder(
      {.accountId = 101, .symbol = "EPZ4", .side = cel::osdSell, .quantity = 2});
  simulator->PlaceManualOrder(
      {.accountId = 101, .symbol = "EPZ4", .side = cel::osdBuy, .quantity = 3, .announced = false});
  simulator->Sync();
  std::vector<std::string> guids;
  simulator->Act([&](cqgsim::Venue& venue) {
    for (const auto& order : venue.orders->items()) guids.push_back(order->guid);
  });
  simulator->Sync();
  ASSERT_EQ(guids.size(), 3u);
  const auto deals = gateway->deals();
  ASSERT_EQ(deals.size(), 3u);
  const auto calls = gateway->calls();
  for (std::size_t i = 0; i < guids.size(); ++i) {
    EXPECT_EQ(deals[i].order_id, guids[i]);
    // The order's update comes first, and says it is filled.
    const auto deal = std::find_if(calls.begin(), calls.end(), [&](const auto& call) {
      const auto* d = std::get_if<framework::DealUpdate>(&call.call);
      return d != nullptr && d->order_id == guids[i];
    });
    const auto update = std::find_if(calls.begin(), deal, [&](const auto& call) {
      const auto* u = std::get_if<framework::OrderUpdate>(&call.call);
      return u != nullptr && u->order_id == guids[i] && u->status == OrderStatus::FILLED;
    });
    EXPECT_NE(update, deal) << guids[i];
  }
}

// An event that gets an object or a property wrong is traced, and the rest
// of it still done: the placement is handed over, the fill becomes a deal.
TEST_F(VexGateOrderTest, AnOrderEventThatGetsSomethingWrongStillHandsOnItsFill) {
  vex->wait_timeout = 2s;
  for (const auto defect :
       {cqgsim::OrderEventDefect::NullOrder, cqgsim::OrderEventDefect::FillWithoutOrder,
        cqgsim::OrderEventDefect::EmptyStatus, cqgsim::OrderEventDefect::EmptyGuid,
        cqgsim::OrderEventDefect::StatusOutsideTable}) {
    const auto name = static_cast<int>(defect);
    gateway->take_calls();
    simulator->DefectNextOrderEvent(defect);  // the arrival
    std::string guid;
    EXPECT_NO_THROW(guid = vex->place_order(Limit(Direction::LONG, 4990))) << name;
    simulator->DefectNextOrderEvent(defect);  // the fill
    simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4990.0, 1}});
    simulator->Sync();
    const auto deals = gateway->deals();
    ASSERT_EQ(deals.size(), 1u) << name;
    EXPECT_EQ(deals[0].order_id, guid) << name;
    simulator->SetQuotes("EPZ4", {{cel::qtAsk, 5000.25, 1}});
  }
}

// A fill the client reports again, on a later event or after its accounts
// reload, is booked once: its event's update is still handed on, and the
// skip is traced.
TEST_F(VexGateOrderTest, AFillReportedAgainIsBookedOnce) {
  simulator->SetQuirks({.repeatFillsOnReload = true});
  for (const bool on_reload : {false, true}) {
    gateway->take_calls();
    const std::string guid =
        vex->place_order({.security = EP, .quantity = 2, .order_type = OrderType::MARKET});
    simulator->Sync();
    const auto updates_of = [&] {
      const auto orders = gateway->orders();
      return std::count_if(orders.begin(), orders.end(),
                           [&](const auto& update) { return update.order_id == guid; });
    };
    const auto updates = updates_of();
    TakeOutput();
    if (on_reload) {
      vex->subscribe_account_and_positions(101);
    } else {
      simulator->RepeatFill(guid);
    }
    const auto lines = TakeOutput();
    const auto deals = gateway->deals();
    ASSERT_EQ(deals.size(), 1u) << on_reload;
    EXPECT_EQ(updates_of(), updates + 1) << on_reload;
    EXPECT_TRUE(HasText(lines, "fill " + deals[0].deal_id + " of orderid " + guid +
                                   " was handed on before: it is not booked again"))
        << on_reload;
  }
}

// A property the client leaves empty does not lose the update: the status
// reaches the gateway, and the empty value is made up (the last one handed
// on, the fills booked, the time of arrival), traced once per order.
TEST_F(VexGateOrderTest, AnEmptyPropertyIsMadeUpAndTracedOnce) {
  const struct {
    cqgsim::OrderEventDefect defect;
    const char* traced;
  } cases[] = {
      {cqgsim::OrderEventDefect::EmptyFilledQuantity,
       "opFilledQuantity holds no value: the quantity filled so far stands in"},
      {cqgsim::OrderEventDefect::EmptyAveragePrice,
       "opAverageFillPrice holds no value: its last price stands in"},
      {cqgsim::OrderEventDefect::EmptyTimestamp,
       "opEventServerTimestamp holds no value: the time of arrival stands in"},
      {cqgsim::OrderEventDefect::EmptyStatus,
       "opGWStatus holds no value: its last status stands in"},
  };
  for (const auto& c : cases) {
    gateway->take_calls();
    const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
    simulator->Sync();
    TakeOutput();
    simulator->DefectNextOrderEvent(c.defect);  // the fill
    simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4990.0, 1}});
    simulator->DefectNextOrderEvent(c.defect);
    simulator->SetOrderStatus(guid, cel::osFilled);
    const auto lines = TakeOutput();
    const auto orders = gateway->orders();
    ASSERT_EQ(orders.size(), 3u) << c.traced;
    EXPECT_EQ(orders[1].filled_quantity, 2) << c.traced;
    EXPECT_EQ(orders[2].filled_quantity, 2) << c.traced;
    if (c.defect != cqgsim::OrderEventDefect::EmptyAveragePrice) {
      EXPECT_EQ(orders[2].filled_avg_price, 4990) << c.traced;
    }
    EXPECT_EQ(orders[2].status, c.defect == cqgsim::OrderEventDefect::EmptyStatus
                                    ? OrderStatus::SUBMITTED
                                    : OrderStatus::FILLED)
        << c.traced;
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), Line{worker, "order " + guid + ": " + c.traced}), 1)
        << c.traced;
    EXPECT_EQ(gateway->deals().size(), 1u) << c.traced;
    simulator->SetQuotes("EPZ4", {{cel::qtAsk, 5000.25, 1}});
  }
}

// Fills made while the gateway connection was down reach the gateway object
// when it comes back: the order's update, then each fill once.
TEST_F(VexGateOrderTest, AnOutageLosesNoFillOfTheGatewaysOrders) {
  simulator->SetQuirks({.partialFills = true});
  const std::string guid = vex->place_order(Limit(Direction::LONG, 4990));
  simulator->Sync();
  gateway->take_calls();
  simulator->SetGWConnectionStatus(cel::csConnectionDown);
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4990.0, 1}});
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4989.0, 1}});
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 4988.0, 1}});
  simulator->Sync();
  EXPECT_TRUE(gateway->calls().empty());
  simulator->SetGWConnectionStatus(cel::csConnectionUp);
  simulator->Sync();
  double dealt = 0;
  for (const auto& deal : gateway->deals()) dealt += deal.filled_quantity;
  const auto venue = simulator->Orders();
  ASSERT_EQ(venue.size(), 1u);
  EXPECT_EQ(dealt, static_cast<double>(venue[0].filledQuantity));
  EXPECT_GT(dealt, 0);
  ASSERT_FALSE(gateway->orders().empty());
  EXPECT_EQ(gateway->orders().front().order_id, guid);
  EXPECT_EQ(gateway->orders().front().filled_quantity, dealt);
  // A second reconnection finds nothing new.
  gateway->take_calls();
  simulator->SetGWConnectionStatus(cel::csConnectionDown);
  simulator->SetGWConnectionStatus(cel::csConnectionUp);
  simulator->Sync();
  EXPECT_TRUE(gateway->calls().empty());
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
