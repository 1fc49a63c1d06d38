// The simulated client's market side: what each request answers, quotes by
// subscription level, ticks and bar series, the order book's matching,
// positions, collections, actions, misbehaviour on cue and at random, and the
// replay of a seeded session.
#include "platform/cqgsim/venue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/cqgsim/simulator.h"
#include "tests/platform/cqgsim/null_sink.h"
#include "tests/platform/pumping_thread.h"
#include "zantrix/framework/cqg/type_library.h"

namespace platform::cqgsim {
namespace {

namespace cqg = zantrix::framework::cqg;
using test_support::NullSink;
using test_support::PumpingThread;
using zantrix::framework::DateTime;

// An order's status, "-" when it reads empty, then each other property that
// reads empty.
std::string StatusOf(cqg::Order& order) {
  const auto properties = order.Properties();
  const auto status = properties->Item(cqg::opGWStatus)->Value();
  std::string text =
      std::holds_alternative<long>(status) ? std::to_string(std::get<long>(status)) : "-";
  for (const auto& [property, name] : {std::pair{cqg::opGUID, "guid"},
                                       {cqg::opEventServerTimestamp, "time"},
                                       {cqg::opAverageFillPrice, "price"},
                                       {cqg::opFilledQuantity, "filled"}}) {
    if (std::holds_alternative<std::monostate>(properties->Item(property)->Value())) {
      text += std::string(" empty ") + name;
    }
  }
  return text;
}

// A fill as "<id> <quantity>@<price>".
std::string Piece(cqg::Fill& fill) {
  std::ostringstream text;
  text << fill.Id() << " " << fill.Quantity() << "@" << fill.Price();
  return text.str();
}

// Writes one line per event, with what a gateway would read from it then.
// Touched on the client's thread only; read by the test after Sync.
class EventLog : public NullSink {
 public:
  void OnGWConnectionStatusChanged(cqg::eConnectionStatus status) override {
    log.push_back("GW " + std::to_string(status));
  }
  void OnInstrumentResolved(const std::string& symbol, std::shared_ptr<cqg::Instrument> instrument,
                            std::shared_ptr<cqg::Error> error) override {
    log.push_back("Resolved " + symbol + " " + (instrument ? instrument->FullName() : "-") +
                  (error ? " error " + std::to_string(error->Code()) : ""));
  }
  void OnInstrumentChanged(std::shared_ptr<cqg::Instrument> instrument,
                           std::shared_ptr<cqg::Quotes> quotes, cqg::Object) override {
    std::string line = "Quotes " + instrument->FullName();
    for (long i = 0; i < quotes->Count(); ++i) {
      line += " " + std::to_string(quotes->ItemByIndex(i)->Type());
    }
    log.push_back(line);
  }
  void OnTicksResolved(std::shared_ptr<cqg::Ticks> ticks,
                       std::shared_ptr<cqg::Error> error) override {
    log.push_back("TicksResolved " + std::to_string(ticks->Count()) + (error ? " error" : ""));
  }
  void OnTicksAdded(std::shared_ptr<cqg::Ticks> ticks, long added) override {
    log.push_back("TicksAdded " + std::to_string(ticks->Count()) + " " + std::to_string(added));
  }
  void OnTimedBarsResolved(std::shared_ptr<cqg::TimedBars> bars,
                           std::shared_ptr<cqg::Error> error) override {
    log.push_back("BarsResolved " + std::to_string(bars->Count()) +
                  (error ? " error " + std::to_string(error->Code()) : ""));
  }
  void OnTimedBarsAdded(std::shared_ptr<cqg::TimedBars> bars) override {
    log.push_back("BarsAdded " + std::to_string(bars->Count()));
  }
  void OnAccountChanged(cqg::eAccountChangeType change, std::shared_ptr<cqg::Account>,
                        std::shared_ptr<cqg::Position> position) override {
    log.push_back(
        "Account " + std::to_string(change) +
        (position ? " " + position->InstrumentName() + " " + std::to_string(position->Quantity())
                  : ""));
  }
  void OnOrderChanged(cqg::eChangeType change, std::shared_ptr<cqg::Order> order,
                      std::shared_ptr<cqg::OrderProperties>, std::shared_ptr<cqg::Fill> fill,
                      std::shared_ptr<cqg::Error> error) override {
    std::string line = "Order " + std::to_string(change);
    if (error) {
      line += " error " + std::to_string(error->Code());
    } else if (!order) {
      line += " no order";
    } else {
      line += " status " + StatusOf(*order);
    }
    if (fill) line += " " + Piece(*fill) + (fill->Order() ? "" : " of no order");
    log.push_back(line);
  }

  std::vector<std::string> log;
};

class VenueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = Register();
    simulator->DefineInstrument({.fullName = "F.US.EPZ4", .bid = 100, .ask = 101});
    simulator->AddAccount({.id = 7, .name = "Main"});
    thread = std::make_unique<PumpingThread>([this] {
      cel = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
      sink = std::make_shared<EventLog>();
      cel->FindConnectionPoint().Advise(sink, {});
      cel->APIConfiguration()->put_CollectionsThrowException(false);
    });
    cel = thread->ProxyOf(cel);
  }

  void TearDown() override {
    thread->Stop();
    Unregister();
  }

  std::vector<std::string> Log() {
    simulator->Sync();
    return std::exchange(sink->log, {});
  }

  std::shared_ptr<cqg::Instrument> Subscribe(const std::string& symbol) {
    cel->NewInstrument(symbol);
    simulator->Sync();
    auto instrument = cel->Instruments()->Item("F.US." + symbol);
    instrument->put_DataSubscriptionLevel(cqg::dsQuotesAndBBA);
    Log();
    return instrument;
  }

  std::shared_ptr<cqg::Order> Market(cqg::eOrderSide side, long quantity) {
    return cel->CreateOrder(cqg::otMarket, cel->Instruments()->Item("F.US.EPZ4"),
                            cel->Accounts()->Item(7), quantity, side, std::nullopt, std::nullopt);
  }

  std::shared_ptr<Simulator> simulator;
  com::ComInitialization com;
  std::unique_ptr<PumpingThread> thread;
  std::shared_ptr<cqg::CQGCEL> cel;
  std::shared_ptr<EventLog> sink;
};

TEST_F(VenueTest, LogOnAndOffAnswerWithTheConnectionStatus) {
  cel->GWLogon("u", "p");
  cel->GWLogoff();
  EXPECT_EQ(Log(), (std::vector<std::string>{"GW 0", "GW 2"}));
}

TEST_F(VenueTest, SymbolsResolveByFullNameOrLastPieceAndUnknownOnesWithAnError) {
  cel->NewInstrument("EPZ4");
  cel->NewInstrument("F.US.EPZ4");
  cel->NewInstrument("ZZZ");
  EXPECT_EQ(Log(),
            (std::vector<std::string>{"Resolved EPZ4 F.US.EPZ4", "Resolved F.US.EPZ4 F.US.EPZ4",
                                      "Resolved ZZZ - error 1"}));
  EXPECT_EQ(cel->Instruments()->Count(), 1);
}

TEST_F(VenueTest, QuotesFollowTheInstrumentsSubscriptionLevel) {
  cel->NewInstrument("EPZ4");
  simulator->Sync();
  const auto instrument = cel->Instruments()->ItemByIndex(0);
  Log();
  const std::vector<QuoteUpdate> quotes{
      {cqg::qtBid, 100}, {cqg::qtAsk, 101}, {cqg::qtTrade, 100.5}};
  simulator->SetQuotes("EPZ4", quotes);
  instrument->put_DataSubscriptionLevel(cqg::dsQuotesAndBBA);
  simulator->SetQuotes("EPZ4", quotes);
  instrument->put_DataSubscriptionLevel(cqg::dsNone);
  simulator->SetQuotes("EPZ4", quotes);
  cel->RemoveInstrument(instrument);
  instrument->put_DataSubscriptionLevel(cqg::dsQuotesAndBBA);
  simulator->SetQuotes("EPZ4", quotes);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Quotes F.US.EPZ4 15", "Quotes F.US.EPZ4 1 0 15"}));
}

TEST_F(VenueTest, TickRequestsResolveWithTheNewestTicksAndGrowWithQuotes) {
  for (int i = 0; i < 4; ++i) simulator->SetQuotes("EPZ4", {{cqg::qtTrade, 100.0 + i, 1}});
  const auto request = cel->CreateTicksRequest();
  EXPECT_EQ(request->Limit(), 100);
  request->put_Symbol("EPZ4");
  request->put_Limit(3);
  const auto ticks = cel->RequestTicks(request);
  simulator->SetQuotes("EPZ4",
                       {{cqg::qtBid, 99, 2}, {cqg::qtIndicativeOpen, 98}, {cqg::qtAsk, 101, 3}});
  EXPECT_EQ(Log(), (std::vector<std::string>{"TicksResolved 3", "TicksAdded 5 2"}));
  EXPECT_EQ(ticks->Item(0)->Price(), 101.0);
  EXPECT_EQ(ticks->Item(4)->PriceType(), cqg::tptAsk);
  EXPECT_EQ(ticks->Item(4)->Volume(), 3);
  EXPECT_EQ(cel->AllTicks()->Count(), 1);
  cel->RemoveTicks(ticks);
  simulator->SetQuotes("EPZ4", {{cqg::qtBid, 99, 2}});
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(cel->AllTicks()->Count(), 0);

  const auto unknown = cel->CreateTicksRequest();
  unknown->put_Symbol("ZZZ");
  cel->RequestTicks(unknown);
  EXPECT_EQ(Log(), (std::vector<std::string>{"TicksResolved 0 error"}));
}

TEST_F(VenueTest, BarSeriesHoldTheRequestedRangeAndTakeUpdatesWhenEnabled) {
  const auto request = cel->CreateTimedBarsRequest();
  request->put_Symbol("EPZ4");
  request->put_RangeStart(0);
  request->put_RangeEnd(-11);
  cel->RequestTimedBars(request);
  EXPECT_EQ(Log(), (std::vector<std::string>{"BarsResolved 0 error 2"}));

  request->put_IntradayPeriod(cqg::pfds1Min);
  const auto frozen = cel->RequestTimedBars(request);
  const auto updating = cel->CreateTimedBarsRequest();
  updating->put_Symbol("EPZ4");
  updating->put_RangeEnd(-11);
  updating->put_IntradayPeriod(cqg::pfds1Min);
  updating->put_UpdatesEnabled(true);
  updating->put_IncludeOutput(cqg::tbrContractVolume, true);
  const auto live = cel->RequestTimedBars(updating);
  EXPECT_EQ(Log(), (std::vector<std::string>{"BarsResolved 11", "BarsResolved 11"}));
  // Generated minute bars end at the clock's minute, one minute apart.
  const auto last = live->Item(10)->Timestamp();
  EXPECT_EQ(last,
            zantrix::framework::make_datetime(std::chrono::year{2024} / 3 / 5,
                                              std::chrono::hours{9}, std::chrono::minutes{30}));
  EXPECT_EQ(last - live->Item(9)->Timestamp(), std::chrono::minutes{1});
  EXPECT_EQ(live->Item(3)->ContractVolumeFractional(), live->Item(3)->ActualVolume());
  EXPECT_EQ(live->Item(3)->CommodityVolumeFractional(), INVALID_BAR_VALUE);
  EXPECT_EQ(frozen->Item(3)->ContractVolumeFractional(), INVALID_BAR_VALUE);

  simulator->AddBar("EPZ4", {.timestamp = last + std::chrono::minutes{1},
                             .open = 1,
                             .high = 2,
                             .low = 0.5,
                             .close = 1.5,
                             .volume = 9});
  EXPECT_EQ(Log(), (std::vector<std::string>{"BarsAdded 12"}));
  EXPECT_EQ(frozen->Count(), 11);
  EXPECT_EQ(cel->AllTimedBars()->Count(), 2);
}

TEST_F(VenueTest, AMarketOrderArrivesReachesTheBookAndFillsAtTheAsk) {
  Subscribe("EPZ4");
  const auto order = Market(cqg::osdBuy, 2);
  EXPECT_TRUE(order->Manual());
  order->Place();
  EXPECT_EQ(Log(), (std::vector<std::string>{"Order 0 status 5", "Order 1 status 8",
                                             "Order 1 status 9 fill-1 2@101"}));
  const auto properties = order->Properties();
  EXPECT_EQ(std::get<long>(properties->Item(cqg::opFilledQuantity)->Value()), 2);
  EXPECT_EQ(std::get<double>(properties->Item(cqg::opAverageFillPrice)->Value()), 101.0);
  EXPECT_EQ(std::get<std::string>(properties->Item(cqg::opGUID)->Value()), order->GUID());
  const auto stamp = std::get<DateTime>(properties->Item(cqg::opEventServerTimestamp)->Value());
  EXPECT_NE(stamp.time_since_epoch() % std::chrono::seconds{1}, std::chrono::microseconds{0});
  EXPECT_EQ(cel->Orders()->ItemByGuid(order->GUID()), order);
  EXPECT_THROW(order->Place(), com::ComError);
}

TEST_F(VenueTest, LimitAndStopOrdersWaitForTheMarketToReachThem) {
  Subscribe("EPZ4");
  const auto instrument = cel->Instruments()->Item("F.US.EPZ4");
  const auto account = cel->Accounts()->Item(7);
  cel->CreateOrder(cqg::otLimit, instrument, account, 1, cqg::osdSell, 102.0, std::nullopt)
      ->Place();
  cel->CreateOrder(cqg::otStop, instrument, account, 1, cqg::osdBuy, 105.0, 103.0)->Place();
  EXPECT_EQ(Log().size(), 4u);
  simulator->SetQuotes("EPZ4", {{cqg::qtBid, 102.0, 1}});
  EXPECT_EQ(Log(),
            (std::vector<std::string>{"Quotes F.US.EPZ4 1", "Order 1 status 9 fill-1 1@102"}));
  simulator->SetQuotes("EPZ4", {{cqg::qtAsk, 103.0, 1}});
  EXPECT_EQ(Log(),
            (std::vector<std::string>{"Quotes F.US.EPZ4 0", "Order 1 status 9 fill-2 1@103"}));
}

TEST_F(VenueTest, CreateOrderRefusesArgumentsThatDoNotFitTheType) {
  Subscribe("EPZ4");
  const auto instrument = cel->Instruments()->Item("F.US.EPZ4");
  const auto account = cel->Accounts()->Item(7);
  EXPECT_THROW(
      cel->CreateOrder(cqg::otMarket, instrument, account, 1, cqg::osdBuy, 1.0, std::nullopt),
      com::ComError);
  EXPECT_THROW(cel->CreateOrder(cqg::otLimit, instrument, account, 1, cqg::osdBuy, std::nullopt,
                                std::nullopt),
               com::ComError);
  EXPECT_THROW(
      cel->CreateOrder(cqg::otStop, instrument, account, 1, cqg::osdBuy, 1.0, std::nullopt),
      com::ComError);
  EXPECT_THROW(cel->CreateOrder(cqg::otMarket, instrument, nullptr, 1, cqg::osdBuy, std::nullopt,
                                std::nullopt),
               com::ComError);
  EXPECT_THROW(cel->CreateOrder(cqg::otMarket, instrument, account, 0, cqg::osdBuy, std::nullopt,
                                std::nullopt),
               com::ComError);
  EXPECT_THROW(cel->CreateOrder(cqg::otMarket, instrument, account, 1, cqg::osdUndefined,
                                std::nullopt, std::nullopt),
               com::ComError);
}

TEST_F(VenueTest, CancelRejectAndStatusChangesOnDemand) {
  Subscribe("EPZ4");
  const auto instrument = cel->Instruments()->Item("F.US.EPZ4");
  const auto account = cel->Accounts()->Item(7);
  const auto resting =
      cel->CreateOrder(cqg::otLimit, instrument, account, 1, cqg::osdBuy, 90.0, std::nullopt);
  resting->Place();
  Log();
  resting->Cancel();
  resting->Cancel();
  EXPECT_EQ(Log(), (std::vector<std::string>{"Order 1 status 11", "Order 1 error 3"}));

  simulator->RejectNextOrder();
  Market(cqg::osdBuy, 1)->Place();
  EXPECT_EQ(Log(), (std::vector<std::string>{"Order 0 status 5", "Order 1 status 13"}));

  simulator->SetOrderStatus(resting->GUID(), cqg::osExpired);
  simulator->RemoveOrder(resting->GUID());
  EXPECT_EQ(Log(), (std::vector<std::string>{"Order 1 status 15", "Order 2 status 15"}));
  EXPECT_THROW(cel->Orders()->ItemByGuid(resting->GUID()), com::ComError);
  simulator->SetOrderStatus("{nothing}", cqg::osFilled);
  EXPECT_THROW(simulator->Sync(), std::invalid_argument);
}

TEST_F(VenueTest, FillsMoveThePositionAndReportItOnceSubscribed) {
  Subscribe("EPZ4");
  cel->put_AccountSubscriptionLevel(cqg::aslAccountUpdatesAndOrders);
  cel->Accounts()->Item(7)->put_PositionSubcriptionLevel(cqg::pslSnapshotAndUpdates);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Account 1"}));
  Market(cqg::osdBuy, 3)->Place();
  Market(cqg::osdSell, 5)->Place();
  const auto log = Log();
  EXPECT_EQ(log[3], "Account 3 F.US.EPZ4 3");
  EXPECT_EQ(log.back(), "Account 4 F.US.EPZ4 -2");
  const auto position = cel->Accounts()->Item(7)->Positions()->Item("F.US.EPZ4");
  EXPECT_EQ(position->Side(), cqg::osdSell);
  EXPECT_EQ(position->AveragePrice(), 100.0);
}

TEST_F(VenueTest, SummaryFiguresExistOnlyAtTheirIndexes) {
  simulator->SetSummary(7, {.balance = {1000}, .collaterals = {0, 250}});
  simulator->Sync();
  const auto summary = cel->Accounts()->Item(7)->Summary();
  EXPECT_EQ(summary->Balance(0), 1000);
  EXPECT_EQ(summary->Collaterals(1), 250);
  EXPECT_THROW(summary->Balance(1), com::ComError);
  EXPECT_THROW(summary->NLV(0), com::ComError);
}

TEST_F(VenueTest, MissingItemsAreNullOrAnErrorAsConfigured) {
  EXPECT_EQ(cel->Accounts()->Item(8), nullptr);
  EXPECT_EQ(cel->Accounts()->ItemByIndex(1), nullptr);
  cel->APIConfiguration()->put_CollectionsThrowException(true);
  EXPECT_THROW(cel->Accounts()->Item(8), com::ComError);
  EXPECT_THROW(cel->Instruments()->ItemByIndex(0), com::ComError);
}

TEST_F(VenueTest, ActionsAskedForBeforeTheClientExistsAreDoneAtItsCreation) {
  EXPECT_EQ(cel->Accounts()->Count(), 1);
  EXPECT_EQ(cel->Accounts()->ItemByIndex(0)->GWAccountName(), "Main");
  simulator->AddAccount({.id = 7, .name = "Again"});
  EXPECT_THROW(simulator->Sync(), std::invalid_argument);
  EXPECT_NO_THROW(simulator->Sync());
}

TEST_F(VenueTest, PartialFillsAddUpToTheOrderAndEachIsBookedOnce) {
  Subscribe("EPZ4");
  simulator->SetQuirks({.partialFills = true});
  const auto order = Market(cqg::osdBuy, 5);
  order->Place();
  // Each new ask lets the rest of the order trade again.
  for (int i = 1; i <= 10; ++i) simulator->SetQuotes("EPZ4", {{cqg::qtAsk, 101 + 0.25 * i, 1}});
  std::vector<std::string> pieces;
  for (const auto& line : Log()) {
    if (line.starts_with("Order 1") && line.find("fill-") != std::string::npos) {
      pieces.push_back(line);
    }
  }
  const auto journal = simulator->Fills();
  ASSERT_GT(journal.size(), 1u);
  ASSERT_EQ(pieces.size(), journal.size());
  long filled = 0;
  double cost = 0;
  std::set<std::string> ids;
  for (std::size_t i = 0; i < journal.size(); ++i) {
    filled += journal[i].quantity;
    cost += journal[i].quantity * journal[i].price;
    ids.insert(journal[i].fillId);
    EXPECT_NE(pieces[i].find(journal[i].fillId), std::string::npos) << pieces[i];
    EXPECT_TRUE(
        pieces[i].starts_with(i + 1 < journal.size() ? "Order 1 status 8 " : "Order 1 status 9 "))
        << pieces[i];
  }
  EXPECT_EQ(filled, 5);
  EXPECT_EQ(ids.size(), journal.size());
  EXPECT_EQ(order->Fills()->Count(), static_cast<long>(journal.size()));
  const auto properties = order->Properties();
  EXPECT_EQ(std::get<long>(properties->Item(cqg::opFilledQuantity)->Value()), 5);
  EXPECT_DOUBLE_EQ(std::get<double>(properties->Item(cqg::opAverageFillPrice)->Value()), cost / 5);
  EXPECT_EQ(cel->Accounts()->Item(7)->Positions()->Item("F.US.EPZ4")->Quantity(), 5);
}

// However a fill comes again, it is the same fill and changes nothing.
TEST_F(VenueTest, AFillDeliveredAgainChangesNothingAtTheVenue) {
  struct Case {
    const char* name;
    Quirks quirks;
    Misbehaviour rates;
    std::function<void(const std::string& guid)> repeat;
  };
  const std::vector<Case> cases{
      {"on cue", {}, {}, [this](const std::string& guid) { simulator->RepeatFill(guid); }},
      {"after an account reload",
       {.repeatFillsOnReload = true},
       {},
       [this](const std::string&) {
         cel->put_AccountSubscriptionLevel(cqg::aslNone);
         cel->put_AccountSubscriptionLevel(cqg::aslAccountUpdatesAndOrders);
       }},
      {"at random, after its own event", {}, {.repeatFill = 1}, {}},
  };
  Subscribe("EPZ4");
  long position = 0;
  for (const auto& [name, quirks, rates, repeat] : cases) {
    SCOPED_TRACE(name);
    simulator->SetQuirks(quirks);
    simulator->SetMisbehaviour(rates);
    const auto order = Market(cqg::osdBuy, 2);
    order->Place();
    if (repeat) repeat(order->GUID());
    const auto log = Log();
    position += 2;
    ASSERT_EQ(order->Fills()->Count(), 1);
    const std::string id = order->Fills()->ItemByIndex(0)->Id();
    std::vector<std::string> carried;
    for (const auto& line : log) {
      if (line.find(id + " ") != std::string::npos) carried.push_back(line);
    }
    EXPECT_EQ(carried, std::vector<std::string>(2, "Order 1 status 9 " + id + " 2@101"));
    EXPECT_EQ(simulator->Fills().size(), static_cast<std::size_t>(position / 2));
    EXPECT_EQ(std::get<long>(order->Properties()->Item(cqg::opFilledQuantity)->Value()), 2);
    EXPECT_EQ(cel->Accounts()->Item(7)->Positions()->Item("F.US.EPZ4")->Quantity(), position);
  }
}

TEST_F(VenueTest, PlaceCanFailAfterTheOrderReachedTheVenue) {
  Subscribe("EPZ4");
  struct Case {
    bool eventsDuringCalls;
    bool atRandom;
  };
  for (const auto [eventsDuringCalls, atRandom] :
       {Case{false, false}, Case{true, false}, Case{false, true}}) {
    SCOPED_TRACE(testing::Message() << eventsDuringCalls << atRandom);
    simulator->SetQuirks({.eventsDuringCalls = eventsDuringCalls});
    simulator->SetMisbehaviour({.placeFailsAfterArrival = atRandom ? 1.0 : 0.0});
    if (!atRandom) simulator->FailNextPlaceAfterArrival();
    const auto order = Market(cqg::osdBuy, 1);
    try {
      order->Place();
      ADD_FAILURE() << "Place succeeded";
    } catch (const com::ComError& error) {
      EXPECT_EQ(error.hr(), com::RPC_E_DISCONNECTED);
    }
    const auto log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Order 0 status 5");
    EXPECT_EQ(log[1], "Order 1 status 8");
    EXPECT_TRUE(log[2].starts_with("Order 1 status 9 fill-")) << log[2];
    EXPECT_EQ(cel->Orders()->ItemByGuid(order->GUID()), order);
  }
  simulator->SetMisbehaviour({});
  EXPECT_NO_THROW(Market(cqg::osdBuy, 1)->Place());
}

TEST_F(VenueTest, WhileTheGatewayIsDownOrderEventsAreLostButWhatTheyReportHappens) {
  Subscribe("EPZ4");
  const auto resting =
      cel->CreateOrder(cqg::otLimit, cel->Instruments()->Item("F.US.EPZ4"),
                       cel->Accounts()->Item(7), 2, cqg::osdBuy, 99.0, std::nullopt);
  resting->Place();
  Log();
  simulator->SetGWConnectionStatus(cqg::csConnectionDown);
  simulator->SetQuotes("EPZ4", {{cqg::qtAsk, 99.0, 1}});
  EXPECT_EQ(Log(), (std::vector<std::string>{"GW 2", "Quotes F.US.EPZ4 0"}));
  const auto events = simulator->Events();
  EXPECT_EQ(events.back().name, "OnInstrumentChanged");
  EXPECT_EQ(StatusOf(*resting), "9");
  ASSERT_EQ(resting->Fills()->Count(), 1);
  EXPECT_EQ(simulator->Fills().size(), 1u);
  const auto orders = simulator->Orders();
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].guid, resting->GUID());
  EXPECT_EQ(orders[0].instrument, "F.US.EPZ4");
  EXPECT_EQ(orders[0].filledQuantity, 2);
  EXPECT_EQ(orders[0].status, cqg::osFilled);
  const auto positions = simulator->Positions();
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].accountId, 7);
  EXPECT_EQ(positions[0].quantity, 2);

  // Nothing lost comes back.
  simulator->SetGWConnectionStatus(cqg::csConnectionUp);
  Market(cqg::osdSell, 2)->Place();
  EXPECT_EQ(Log(), (std::vector<std::string>{"GW 0", "Order 0 status 5", "Order 1 status 8",
                                             "Order 1 status 9 fill-2 2@100"}));
  EXPECT_EQ(simulator->Positions()[0].quantity, 0);
}

TEST_F(VenueTest, AnOrderEventCanShowAnEmptyProperty) {
  Subscribe("EPZ4");
  for (const auto& [defect, arrival] :
       {std::pair{OrderEventDefect::EmptyTimestamp, "Order 0 status 5 empty time"},
        {OrderEventDefect::EmptyAveragePrice, "Order 0 status 5 empty price"},
        {OrderEventDefect::EmptyFilledQuantity, "Order 0 status 5 empty filled"},
        {OrderEventDefect::EmptyStatus, "Order 0 status -"}}) {
    SCOPED_TRACE(arrival);
    simulator->DefectNextOrderEvent(defect);
    Market(cqg::osdBuy, 1)->Place();
    const auto log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], arrival);
    // Shown while that event is delivered only.
    EXPECT_EQ(log[1], "Order 1 status 8");
  }
}

TEST_F(VenueTest, QuirksOfOrderLookupAndAccountData) {
  cel->put_AccountSubscriptionLevel(cqg::aslNone);
  EXPECT_TRUE(Log().empty());
  EXPECT_THROW(cel->Orders()->ItemByGuid("{none}"), com::ComError);

  simulator->SetQuirks({.reloadOnSwitchOff = true, .itemByGuidFollowsConfiguration = true});
  cel->put_AccountSubscriptionLevel(cqg::aslNone);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Account 1"}));
  EXPECT_EQ(cel->Orders()->ItemByGuid("{none}"), nullptr);
  cel->APIConfiguration()->put_CollectionsThrowException(true);
  EXPECT_THROW(cel->Orders()->ItemByGuid("{none}"), com::ComError);
}

// Runs a seeded session on a fresh client, misbehaving at `rates` when given,
// and returns what a sink saw, the calls that failed, the number of recorded
// events, the fill journal and the GUID of an order made at the end.
std::vector<std::string> Session(std::uint64_t seed,
                                 std::optional<Misbehaviour> rates = std::nullopt) {
  const com::ComInitialization com;
  auto simulator = Register();
  simulator->Seed(seed);
  if (rates) simulator->SetMisbehaviour(*rates);
  simulator->DefineInstrument({.fullName = "F.US.EPZ4", .bid = 100, .ask = 100.25});
  simulator->AddAccount({.id = 7, .name = "Main"});
  std::shared_ptr<cqg::CQGCEL> cel;
  auto sink = std::make_shared<EventLog>();
  PumpingThread thread([&] {
    cel = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
    cel->FindConnectionPoint().Advise(sink, {});
  });
  cel = thread.ProxyOf(cel);
  cel->NewInstrument("EPZ4");
  simulator->Sync();
  const auto instrument = cel->Instruments()->Item("F.US.EPZ4");
  instrument->put_DataSubscriptionLevel(cqg::dsQuotesAndBBA);
  cel->put_AccountSubscriptionLevel(cqg::aslAccountUpdatesAndOrders);
  const auto account = cel->Accounts()->Item(7);
  account->put_PositionSubcriptionLevel(cqg::pslSnapshotAndUpdates);
  std::vector<std::string> failures;
  const auto place = [&](cqg::eOrderType type, cqg::eOrderSide side, long quantity,
                         std::optional<double> limit) {
    try {
      cel->CreateOrder(type, instrument, account, quantity, side, limit, std::nullopt)->Place();
    } catch (const com::ComError& error) {
      failures.emplace_back(error.what());
    }
  };
  place(cqg::otLimit, cqg::osdBuy, 3, 100.0);
  place(cqg::otLimit, cqg::osdSell, 4, 100.5);
  place(cqg::otMarket, cqg::osdBuy, 2, std::nullopt);
  place(cqg::otMarket, cqg::osdSell, 5, std::nullopt);
  simulator->RunMarket("EPZ4", 200);
  cel->put_AccountSubscriptionLevel(cqg::aslNone);
  cel->put_AccountSubscriptionLevel(cqg::aslAccountUpdatesAndOrders);
  simulator->Sync();
  auto log = sink->log;
  log.insert(log.end(), failures.begin(), failures.end());
  log.push_back(std::to_string(simulator->Events().size()) + " events");
  for (const auto& fill : simulator->Fills()) {
    log.push_back(fill.fillId + " " + std::to_string(fill.quantity));
  }
  log.push_back(cel->CreateOrder(cqg::otMarket, instrument, account, 1, cqg::osdSell, std::nullopt,
                                 std::nullopt)
                    ->GUID());
  thread.Stop();
  Unregister();
  return log;
}

bool Shows(const std::vector<std::string>& log, std::string_view what) {
  return std::any_of(log.begin(), log.end(),
                     [what](const std::string& line) { return line.find(what) != line.npos; });
}

TEST(VenueReplayTest, TheSameSeedReplaysTheSameSession) {
  const auto first = Session(42);
  EXPECT_GT(first.size(), 200u);
  EXPECT_EQ(Session(42), first);
  EXPECT_NE(Session(43), first);
  // Misbehaviour at no rate draws nothing: the session draws what it always
  // has, down to the GUID of its last order.
  EXPECT_EQ(Session(42, Misbehaviour{}), first);
  EXPECT_EQ(first.back(), "{89389C92-1D00-78D6-FC98-70146080C4CB}");
}

TEST(VenueReplayTest, TheRandomModeReplaysTheSameMisbehaviourFromASeed) {
  const Misbehaviour rates{.partialFill = 0.5,
                           .repeatFill = 0.3,
                           .repeatFillOnReload = 0.5,
                           .placeFailsAfterArrival = 0.3,
                           .emptyProperty = 0.2,
                           .nullOrderWithFill = 0.3};
  const auto first = Session(42, rates);
  EXPECT_EQ(Session(42, rates), first);
  EXPECT_NE(Session(42), first);
  EXPECT_TRUE(Shows(first, "no order"));
  EXPECT_TRUE(Shows(first, "empty") || Shows(first, "status -"));
  EXPECT_TRUE(Shows(first, "Order.Place"));
}

}  // namespace
}  // namespace platform::cqgsim
