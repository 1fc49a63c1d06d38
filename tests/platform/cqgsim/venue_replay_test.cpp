// The simulated client's paper-trading side: replayed bars traded through and
// completed, the books of accounts with starting cash, and the fill journal.
#include <gtest/gtest.h>

#include <chrono>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
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
using namespace std::chrono_literals;
using test_support::PumpingThread;

// Writes its values separated by "/".
template <class... Values>
std::string Text(const Values&... values) {
  std::ostringstream out;
  out << std::setprecision(12);
  ((out << values << "/"), ...);
  return out.str();
}

// One line per quote change, fill, position and bar event. Touched on the
// client's thread only; read by the test after Sync.
class ReplayLog : public test_support::NullSink {
 public:
  void OnInstrumentChanged(std::shared_ptr<cqg::Instrument>, std::shared_ptr<cqg::Quotes> quotes,
                           cqg::Object) override {
    std::string line = "Quotes ";
    for (long i = 0; i < quotes->Count(); ++i) {
      const auto quote = quotes->ItemByIndex(i);
      line += Text(quote->Type(), quote->Price(), quote->Volume());
    }
    log.push_back(line);
  }
  void OnOrderChanged(cqg::eChangeType, std::shared_ptr<cqg::Order>,
                      std::shared_ptr<cqg::OrderProperties>, std::shared_ptr<cqg::Fill> fill,
                      std::shared_ptr<cqg::Error>) override {
    if (fill) log.push_back("Fill " + Text(fill->Price(), fill->Quantity()));
  }
  void OnAccountChanged(cqg::eAccountChangeType, std::shared_ptr<cqg::Account>,
                        std::shared_ptr<cqg::Position> position) override {
    if (position) log.push_back("Position " + Text(position->Quantity()));
  }
  void OnTimedBarsUpdated(std::shared_ptr<cqg::TimedBars> bars, long index) override {
    log.push_back("BarsUpdated " + Text(index, bars->Count()));
  }
  void OnTimedBarsAdded(std::shared_ptr<cqg::TimedBars> bars) override {
    log.push_back("BarsAdded " + Text(bars->Count()));
  }

  std::vector<std::string> log;
};

const auto T0 = zantrix::framework::make_datetime(std::chrono::year{2024} / 4 / 2, 10h);
// Rises from 100 to 102 through 99 and 103; 10 lots, so 3 at each point.
const BarSetup RISING{
    .timestamp = T0, .open = 100, .high = 103, .low = 99, .close = 102, .volume = 10};

auto Fields(const BarSetup& bar) {
  return std::tuple(bar.timestamp, bar.open, bar.high, bar.low, bar.close, bar.volume);
}
auto Fields(cqg::TimedBar& bar) {
  return std::tuple(bar.Timestamp(), bar.Open(), bar.High(), bar.Low(), bar.Close(),
                    bar.ActualVolume());
}

class PaperTradingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = Register();
    simulator->DefineInstrument(
        {.fullName = "F.US.EPM4", .bid = 100, .ask = 100.25, .pointValue = 50});
    simulator->AddAccount({.id = 9, .name = "Paper", .startingCash = 100'000});
    simulator->AddAccount({.id = 7, .name = "Main", .summary = {.balance = {5}}});
    thread = std::make_unique<PumpingThread>([this] {
      cel = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
      cel->FindConnectionPoint().Advise(sink, {});
    });
    cel = thread->ProxyOf(cel);
    cel->NewInstrument("EPM4");
    simulator->Sync();
    instrument = cel->Instruments()->Item("F.US.EPM4");
    instrument->put_DataSubscriptionLevel(cqg::dsQuotesAndBBA);
    cel->put_AccountSubscriptionLevel(cqg::aslAccountUpdatesAndOrders);
    cel->Accounts()->Item(9)->put_PositionSubcriptionLevel(cqg::pslSnapshotAndUpdates);
  }

  void TearDown() override {
    thread->Stop();
    Unregister();
  }

  std::vector<std::string> Log() {
    simulator->Sync();
    return std::exchange(sink->log, {});
  }

  // A market order, or a limit order at `limit`, placed and answered.
  std::shared_ptr<cqg::Order> Place(long account, cqg::eOrderSide side, long quantity,
                                    std::optional<double> limit = std::nullopt) {
    auto order =
        cel->CreateOrder(limit ? cqg::otLimit : cqg::otMarket, instrument,
                         cel->Accounts()->Item(account), quantity, side, limit, std::nullopt);
    order->Place();
    simulator->Sync();
    return order;
  }

  void Quote(double bid, double ask, std::optional<double> trade = std::nullopt) {
    simulator->SetQuotes("EPM4", {{cqg::qtBid, bid, 1}, {cqg::qtAsk, ask, 1}});
    if (trade) simulator->SetQuotes("EPM4", {{cqg::qtTrade, *trade, 1}});
    simulator->Sync();
  }

  // Balance, NLV, P&L and UPL as the gateway reads them.
  std::string Figures(long account) {
    const auto summary = cel->Accounts()->Item(account)->Summary();
    EXPECT_EQ(summary->Collaterals(1), 0);
    EXPECT_EQ(summary->MaintenanceMargin(1), 0);
    return Text(summary->Balance(0), summary->NLV(0), summary->ProfitLoss(0), summary->UPL(0));
  }

  std::shared_ptr<Simulator> simulator;
  com::ComInitialization com;
  std::unique_ptr<PumpingThread> thread;
  std::shared_ptr<cqg::CQGCEL> cel;
  std::shared_ptr<ReplayLog> sink = std::make_shared<ReplayLog>();
  std::shared_ptr<cqg::Instrument> instrument;
};

TEST_F(PaperTradingTest, AReplayedBarIsTradedAlongItsPathAndFillsLimitsItReaches) {
  const auto far = Place(9, cqg::osdSell, 1, 110.0);
  Place(9, cqg::osdBuy, 1, 99.5);
  Place(9, cqg::osdSell, 2, 102.5);
  Log();
  simulator->ReplayBar("EPM4", RISING);
  // Bid, ask a tick above, trade; each fill and its position are delivered
  // before the next point is made.
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Quotes 1/100/3/0/100.25/3/15/100/3/", "Quotes 1/99/3/0/99.25/3/15/99/3/",
                       "Fill 99.25/1/", "Position 1/", "Quotes 1/103/3/0/103.25/3/15/103/3/",
                       "Fill 103/2/", "Position -1/", "Quotes 1/102/3/0/102.25/3/15/102/3/"}));
  EXPECT_EQ(std::get<long>(far->Properties()->Item(cqg::opGWStatus)->Value()), cqg::osInOrderBook);
  Place(9, cqg::osdBuy, 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Fill 102.25/1/", "Position 0/"}));

  // A falling bar visits its high first; one of no volume still trades a lot.
  simulator->ReplayBar(
      "EPM4", {.timestamp = T0 + 1min, .open = 3, .high = 4, .low = 1, .close = 2, .volume = 0});
  const auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "Quotes 1/4/1/0/4.25/1/15/4/1/");
  EXPECT_EQ(log[2], "Quotes 1/1/1/0/1.25/1/15/1/1/");
}

TEST_F(PaperTradingTest, AReplayedBarCompletesInUpdatingSeriesAndTheNextStartsForming) {
  const BarSetup before{
      .timestamp = T0 - 1min, .open = 9, .high = 9, .low = 9, .close = 9, .volume = 7};
  simulator->SetBars(
      "EPM4", {before, {.timestamp = T0, .open = 9, .high = 9, .low = 9, .close = 9, .volume = 0}});
  std::vector<std::shared_ptr<cqg::TimedBars>> series;
  for (const bool updates : {true, false}) {
    const auto request = cel->CreateTimedBarsRequest();
    request->put_Symbol("EPM4");
    request->put_RangeEnd(-5);
    request->put_IntradayPeriod(cqg::pfds1Min);
    request->put_UpdatesEnabled(updates);
    series.push_back(cel->RequestTimedBars(request));
  }
  Log();
  simulator->ReplayBar("EPM4", RISING);
  const auto log = Log();
  ASSERT_EQ(log.size(), 6u);
  // Told of the completed bar while it is still the last one.
  EXPECT_EQ(log[4], "BarsUpdated 1/2/");
  EXPECT_EQ(log[5], "BarsAdded 3/");
  const auto& live = series[0];
  ASSERT_EQ(live->Count(), 3);
  EXPECT_EQ(Fields(*live->Item(0)), Fields(before));
  EXPECT_EQ(Fields(*live->Item(1)), Fields(RISING));
  EXPECT_EQ(Fields(*live->Item(2)), Fields(BarSetup{.timestamp = T0 + 1min,
                                                    .open = 102,
                                                    .high = 102,
                                                    .low = 102,
                                                    .close = 102,
                                                    .volume = 0}));
  EXPECT_EQ(series[1]->Count(), 2);

  // The clock moves to a bar's start, and to its end once it has completed,
  // never back: what follows a bar is stamped after it.
  simulator->ReplayBar(
      "EPM4", {.timestamp = T0 - 1h, .open = 9, .high = 9, .low = 9, .close = 9, .volume = 1});
  const auto request = cel->CreateTicksRequest();
  request->put_Symbol("EPM4");
  const auto ticks = cel->RequestTicks(request);
  simulator->Sync();
  ASSERT_EQ(ticks->Count(), 24);
  EXPECT_EQ(ticks->Item(0)->Timestamp(), T0 - 1min + 250ms);
  EXPECT_EQ(ticks->Item(12)->Timestamp(), T0 + 250ms);
}

// Months of replayed minutes hold no more bars or ticks than a day's: the
// listing keeps BAR_HISTORY bars, a series what its request asked for plus
// the forming bar, a tick series at most twice TICK_HISTORY ticks.
TEST_F(PaperTradingTest, AReplayOfAnyLengthKeepsOnlyTheBarsAndTicksThatCanBeAskedFor) {
  simulator->Record(false);
  const auto request = [&](long count) {
    const auto asked = cel->CreateTimedBarsRequest();
    asked->put_Symbol("EPM4");
    asked->put_RangeEnd(-count);
    asked->put_IntradayPeriod(cqg::pfds1Min);
    asked->put_UpdatesEnabled(true);
    return cel->RequestTimedBars(asked);
  };
  const auto series = request(5);
  const auto ticksRequest = cel->CreateTicksRequest();
  ticksRequest->put_Symbol("EPM4");
  const auto ticks = cel->RequestTicks(ticksRequest);
  const long replayed = static_cast<long>(BAR_HISTORY) + 30;
  for (long i = 0; i < replayed; ++i) {
    simulator->ReplayBar("EPM4", {.timestamp = T0 + i * 1min,
                                  .open = 100,
                                  .high = 101,
                                  .low = 99,
                                  .close = 100.25,
                                  .volume = 4});
    if (i % 1000 == 0) Log();
  }
  Log();
  ASSERT_EQ(series->Count(), 6);
  EXPECT_EQ(series->Item(4)->Timestamp(), T0 + (replayed - 1) * 1min);
  EXPECT_LE(ticks->Count(), static_cast<long>(2 * TICK_HISTORY));
  EXPECT_GE(ticks->Count(), static_cast<long>(TICK_HISTORY));
  const auto all = request(2 * static_cast<long>(BAR_HISTORY));
  simulator->Sync();
  ASSERT_EQ(all->Count(), static_cast<long>(BAR_HISTORY));
  // The newest bars, the forming one last.
  EXPECT_EQ(all->Item(static_cast<long>(BAR_HISTORY) - 1)->Timestamp(), T0 + replayed * 1min);
}

TEST_F(PaperTradingTest, BooksRealizeWhatFillsCloseAndMarkPositionsToTheLastTrade) {
  EXPECT_EQ(Figures(9), "100000/100000/0/0/");
  Place(7, cqg::osdBuy, 2);  // an account without books
  Place(9, cqg::osdBuy, 2);  // at 100.25
  const auto position = cel->Accounts()->Item(9)->Positions()->Item("F.US.EPM4");
  EXPECT_EQ(position->OTE(), 0);  // marked to its fill while nothing traded
  Quote(100, 100.25, 110.25);
  EXPECT_EQ(Figures(9), "100000/101000/0/1000/");
  Quote(120.25, 120.5);
  Place(9, cqg::osdSell, 1);  // realizes 20 points
  EXPECT_EQ(position->ProfitLoss(), 1000);
  EXPECT_EQ(Figures(9), "101000/101500/1000/500/");
  // Reverses to short 2 at 90, realizing -10.25 points on the long one.
  Quote(90, 90.25, 90);
  Place(9, cqg::osdSell, 3);
  EXPECT_EQ(position->AveragePrice(), 90);
  EXPECT_EQ(Figures(9), "100487.5/100487.5/487.5/0/");
  Quote(85, 85.25, 85);
  EXPECT_EQ(position->OTE(), 500);
  Place(9, cqg::osdBuy, 2);  // covers at 85.25, realizing 4.75 points on each
  EXPECT_EQ(Figures(9), "100962.5/100962.5/962.5/0/");
  EXPECT_EQ(position->ProfitLoss(), 962.5);

  // An account without books keeps exactly the figures it was given.
  const auto plain = cel->Accounts()->Item(7);
  const auto held = plain->Positions()->Item("F.US.EPM4");
  EXPECT_EQ(Text(held->Quantity(), held->OTE(), held->ProfitLoss()), "2/0/0/");
  EXPECT_EQ(plain->Summary()->Balance(0), 5);
  EXPECT_THROW(plain->Summary()->UPL(0), com::ComError);
}

TEST_F(PaperTradingTest, TheFillJournalListsNormalFillsInDeliveryOrder) {
  simulator->Record(false);
  const auto first = Place(9, cqg::osdBuy, 2);
  Quote(101, 101.25);
  const auto second = Place(7, cqg::osdSell, 1);
  simulator->FillOrder(second->GUID(), 99, cqg::fsBusted);
  simulator->FillOrder(first->GUID(), 98.5);
  Place(9, cqg::osdBuy, 1, 90.0);
  // Read while the client trades.
  for (int i = 0; i < 20; ++i) {
    simulator->ReplayBar("EPM4", {.timestamp = T0 + i * 1min,
                                  .open = 100,
                                  .high = 101,
                                  .low = 89,
                                  .close = 100,
                                  .volume = 4});
    EXPECT_LE(simulator->Fills().size(), 4u);
  }
  simulator->Sync();
  const auto fills = simulator->Fills();
  ASSERT_EQ(fills.size(), 4u);
  const auto row = [](const FillReport& fill) {
    return Text(fill.orderGuid, fill.instrument, fill.side, fill.price, fill.quantity);
  };
  EXPECT_EQ(row(fills[0]), Text(first->GUID(), "F.US.EPM4", cqg::osdBuy, 100.25, 2));
  EXPECT_EQ(row(fills[1]), Text(second->GUID(), "F.US.EPM4", cqg::osdSell, 101, 1));
  EXPECT_EQ(row(fills[2]), Text(first->GUID(), "F.US.EPM4", cqg::osdBuy, 98.5, 0));
  EXPECT_EQ(fills[3].price, 89.25);
  EXPECT_NE(fills[0].fillId, fills[2].fillId);
  EXPECT_LT(fills[1].timestamp, fills[2].timestamp);
}

}  // namespace
}  // namespace platform::cqgsim
