// The simulated client's market side: what each request answers, quotes by
// subscription level, ticks and bar series, the order book's matching,
// positions, collections, actions and the replay of a seeded session.
#include "platform/cqgsim/venue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
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

std::string StatusOf(cqg::Order& order) {
  const auto value = order.Properties()->Item(cqg::opGWStatus)->Value();
  return std::to_string(std::get<long>(value));
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
    } else {
      line += " status " + StatusOf(*order);
    }
    if (fill) line += " fill " + std::to_string(fill->Price());
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
                                             "Order 1 status 9 fill 101.000000"}));
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
            (std::vector<std::string>{"Quotes F.US.EPZ4 1", "Order 1 status 9 fill 102.000000"}));
  simulator->SetQuotes("EPZ4", {{cqg::qtAsk, 103.0, 1}});
  EXPECT_EQ(Log(),
            (std::vector<std::string>{"Quotes F.US.EPZ4 0", "Order 1 status 9 fill 103.000000"}));
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

// Runs a seeded session on a fresh client and returns what a sink saw.
std::vector<std::string> Session(std::uint64_t seed) {
  const com::ComInitialization com;
  auto simulator = Register();
  simulator->Seed(seed);
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
  const auto order = cel->CreateOrder(cqg::otLimit, instrument, cel->Accounts()->Item(7), 1,
                                      cqg::osdBuy, 99.5, std::nullopt);
  order->Place();
  simulator->RunMarket("EPZ4", 200);
  simulator->Sync();
  auto log = sink->log;
  log.push_back(order->GUID());
  thread.Stop();
  Unregister();
  return log;
}

TEST(VenueReplayTest, TheSameSeedReplaysTheSameSession) {
  const auto first = Session(42);
  EXPECT_GT(first.size(), 200u);
  EXPECT_EQ(Session(42), first);
  EXPECT_NE(Session(43), first);
}

}  // namespace
}  // namespace platform::cqgsim
