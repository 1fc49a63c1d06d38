// VexGate's timed bars: the request, the initial load without the forming
// bar, sliding, absorbed duplicates, the repair of invalid values, the
// one-length-per-security rule, and which series unsubscription and
// re-subscription remove.
#include <algorithm>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tests/gateways/cqg/wrapper/vexgate_fixture.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"

namespace zantrix::gateways::cqg::test {
namespace {

using cqgsim::BarSetup;
using framework::DateTime;

DateTime Minute(int n) {
  return framework::make_datetime(std::chrono::year{2024} / 3 / 5, 9h, std::chrono::minutes{n});
}

BarSetup BarAt(int minute, double close) {
  return {.timestamp = Minute(minute) + 250ms,
          .open = close - 1,
          .high = close + 1,
          .low = close - 2,
          .close = close,
          .volume = 10.0 + minute};
}

std::vector<BarSetup> Bars(int count) {
  std::vector<BarSetup> bars;
  for (int i = 0; i < count; ++i) bars.push_back(BarAt(i, 100.0 + i));
  return bars;
}

class VexGateBarTest : public VexGateTest {
 protected:
  // The symbol's series: `count` bars, the last still forming.
  void Subscribe(int count, const std::string& freq = "1Min") {
    simulator->SetBars("EPZ4", Bars(count),
                       freq == "1Day" ? cqgsim::BarPeriod::Day : cqgsim::BarPeriod::Minute);
    vex->subscribe_bar("EPZ4", count - 1, freq);
    TakeOutput();
  }

  std::vector<core::Bar> Cached() { return vex->get_subscribe_bars_data(EP).value(); }
};

TEST_F(VexGateBarTest, AnUnsupportedLengthIsRefusedBeforeAnythingIsSent) {
  ExpectError<framework::ValueError>(
      [&] { vex->subscribe_bar("EPZ4", 100, "5Min"); },
      "Parameter freq=5Min is Not supported. Only ('1Day', '1Min') are allowed.");
  EXPECT_TRUE(TakeOutput().empty());
  EXPECT_TRUE(CallsOf("CQGCEL.CreateTimedBarsRequest").empty());
}

TEST_F(VexGateBarTest, TheRequestIsFilledInOrderThenSent) {
  const auto from = simulator->Calls().size();
  vex->subscribe_bar("EPZ4", 100);
  const long caller = ::gettid();
  const auto lines = TakeOutput();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], (Line{caller, "Create 1Min timed bars request for EPZ4"}));
  EXPECT_EQ(lines[1], (Line{caller, "Waiting for eventBarDone in subscribe_bar(EPZ4)..."}));
  EXPECT_EQ(lines[2], (Line{caller, "eventBarDone is done."}));
  auto members = MembersSince(from);
  members.resize(std::min<std::size_t>(members.size(), 12));
  EXPECT_EQ(members,
            (std::vector<std::string>{
                "CQGCEL.CreateTimedBarsRequest", "TimedBarsRequest.put_Symbol",
                "TimedBarsRequest.put_RangeStart", "TimedBarsRequest.put_RangeEnd",
                "TimedBarsRequest.put_IntradayPeriod", "TimedBarsRequest.put_DailyBarClose",
                "TimedBarsRequest.put_UpdatesEnabled", "TimedBarsRequest.put_IncludeOutput",
                "TimedBarsRequest.put_IncludeOutput", "TimedBarsRequest.put_SessionsFilter",
                "CQGCEL.RequestTimedBars", "TimedBars.Count"}));
  EXPECT_EQ(CallsOf("TimedBarsRequest.put_RangeStart")[0].arguments, std::vector<cel::Variant>{0L});
  EXPECT_EQ(CallsOf("TimedBarsRequest.put_RangeEnd")[0].arguments,
            std::vector<cel::Variant>{-101L});
  EXPECT_EQ(CallsOf("TimedBarsRequest.put_SessionsFilter")[0].arguments,
            std::vector<cel::Variant>{std::string("all")});
  const auto outputs = CallsOf("TimedBarsRequest.put_IncludeOutput");
  EXPECT_EQ(outputs[0].arguments,
            (std::vector<cel::Variant>{static_cast<long>(cel::tbrContractVolume), true}));
  EXPECT_EQ(outputs[1].arguments,
            (std::vector<cel::Variant>{static_cast<long>(cel::tbrCommodityVolume), true}));
}

TEST_F(VexGateBarTest, DailyBarsAskForTheHistoricalPeriod) {
  Subscribe(5, "1Day");
  EXPECT_EQ(CallsOf("TimedBarsRequest.put_HistoricalPeriod").size(), 1u);
  EXPECT_TRUE(CallsOf("TimedBarsRequest.put_IntradayPeriod").empty());
  EXPECT_EQ(Cached().size(), 4u);
}

TEST_F(VexGateBarTest, TheInitialLoadLeavesOutTheFormingBar) {
  Subscribe(101);
  const auto bars = Cached();
  ASSERT_EQ(bars.size(), 100u);
  EXPECT_EQ(bars.front().datetime, Minute(0));
  EXPECT_EQ(bars.back().datetime, Minute(99));
  EXPECT_EQ(bars.back().close, 199.0);
  EXPECT_EQ(bars.back().volume, 109.0);
  EXPECT_EQ(bars.back().security, EP);
}

TEST_F(VexGateBarTest, ACompletedBarSlidesTheListAndIsPrinted) {
  Subscribe(101);
  simulator->AddBar("EPZ4", BarAt(101, 300));
  const auto lines = TakeOutput();
  const auto bars = Cached();
  ASSERT_EQ(bars.size(), 100u);
  EXPECT_EQ(bars.front().datetime, Minute(1));
  EXPECT_EQ(bars.back().datetime, Minute(100));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Line{0, "[2] OnTimedBarsAdded: " + core::to_string(bars.back())}));
}

TEST_F(VexGateBarTest, ARepeatedNotificationOfTheSameBarChangesNothing) {
  Subscribe(101);
  simulator->AddBar("EPZ4", BarAt(101, 300));
  TakeOutput();
  const auto before = Cached();
  simulator->RaiseBarsAdded("EPZ4");
  EXPECT_TRUE(TakeOutput().empty());
  EXPECT_EQ(Cached(), before);
}

TEST_F(VexGateBarTest, InvalidValuesAreRepairedForwardThenBackwardAndStayRepaired) {
  auto bars = Bars(6);
  bars[2].open = INVALID_VALUE;
  bars[3].open = INVALID_VALUE;
  bars[0].volume = INVALID_VALUE;
  bars[1].volume = INVALID_VALUE;
  simulator->SetBars("EPZ4", bars);
  vex->subscribe_bar("EPZ4", 5);
  const auto repaired = Cached();
  EXPECT_EQ(repaired[2].open, bars[1].open);
  EXPECT_EQ(repaired[3].open, bars[1].open);
  EXPECT_EQ(repaired[0].volume, bars[2].volume);
  EXPECT_EQ(repaired[1].volume, bars[2].volume);
  EXPECT_EQ(repaired[4].open, bars[4].open);
  EXPECT_EQ(Cached(), repaired);
}

TEST_F(VexGateBarTest, ANewestBarThatCannotBeRepairedIsAnError) {
  auto bars = Bars(4);
  for (auto& bar : bars) bar.close = INVALID_VALUE;
  simulator->SetBars("EPZ4", bars);
  vex->subscribe_bar("EPZ4", 3);
  try {
    vex->get_subscribe_bars_data(EP);
    ADD_FAILURE() << "an invalid newest bar was handed out";
  } catch (const framework::ValueError& error) {
    const std::string text = error.what();
    EXPECT_TRUE(text.starts_with("The latest bar is INVALID: Bar(datetime=2024-03-05 09:02:00"));
    EXPECT_TRUE(text.ends_with(".")) << text;
    EXPECT_NE(text.find("close=-2147483648.0"), std::string::npos) << text;
  }
}

TEST_F(VexGateBarTest, NoCachedBarsGiveNull) {
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
  Subscribe(1);
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
}

TEST_F(VexGateBarTest, ABarAddedToAnEmptyListIsAppended) {
  Subscribe(1);
  simulator->AddBar("EPZ4", BarAt(1, 101));
  TakeOutput();
  const auto bars = Cached();
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].datetime, Minute(0));
}

TEST_F(VexGateBarTest, AnEmptyResolutionReleasesTheWaitAndCachesNothing) {
  vex->subscribe_bar("NOPE", 10);
  EXPECT_TRUE(vex->eventBarDone.is_set());
  // A look-back of -1 asks for no bar at all.
  vex->subscribe_bar("EPZ4", -1);
  EXPECT_TRUE(vex->eventBarDone.is_set());
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
  TakeOutput();
  // The series takes updates: its completed bars fill the empty list.
  simulator->AddBar("EPZ4", BarAt(0, 100));
  simulator->AddBar("EPZ4", BarAt(1, 101));
  const auto lines = TakeOutput();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].thread, 0);
  EXPECT_TRUE(lines[0].text.starts_with("[2] OnTimedBarsAdded: Bar(datetime=2024-03-05 09:00:00"));
  EXPECT_EQ(Cached().size(), 1u);
}

TEST_F(VexGateBarTest, AMissingAnswerEndsTheWaitAfterTheTimeOut) {
  simulator->DropAnswers("CQGCEL.RequestTimedBars");
  vex->wait_timeout = 50ms;
  vex->subscribe_bar("EPZ4", 10);
  EXPECT_FALSE(vex->eventBarDone.is_set());
  EXPECT_EQ(TextsOf(TakeOutput()).back(), "eventBarDone is done.");
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
}

TEST_F(VexGateBarTest, ASecondSubscriptionKeepsTheCachedList) {
  Subscribe(11);
  simulator->SetBars("EPZ4", Bars(21));
  vex->subscribe_bar("EPZ4", 20);
  EXPECT_EQ(Cached().size(), 10u);
}

TEST_F(VexGateBarTest, AnotherLengthForACachedSecurityIsRefused) {
  Subscribe(11);
  ExpectError<framework::ValueError>(
      [&] { vex->subscribe_bar("EPZ4", 10, "1Day"); },
      "Parameter freq=1Day does not match the 1Min bars subscribed for EPZ4; unsubscribe_bar "
      "first.");
  vex->unsubscribe_bar("EPZ4");
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
  simulator->SetBars("EPZ4", Bars(6), cqgsim::BarPeriod::Day);
  vex->subscribe_bar("EPZ4", 5, "1Day");
  EXPECT_EQ(Cached().size(), 5u);
}

// A minute subscription whose resolution comes late still holds the
// security: a daily one is refused until it is removed, and afterwards the
// late minute series, and the bars it grows, never reach the daily cache.
TEST_F(VexGateBarTest, BarsOfOneLengthNeverMixWithAnother) {
  std::vector<BarSetup> days;
  for (int i = 0; i < 6; ++i) {
    days.push_back({.timestamp = framework::make_datetime(std::chrono::year{2024} / 3 / (i + 1)),
                    .open = 200.0 + i,
                    .high = 201.0 + i,
                    .low = 199.0 + i,
                    .close = 200.0 + i,
                    .volume = 1000});
  }
  simulator->SetBars("EPZ4", Bars(11));
  simulator->SetBars("EPZ4", days, cqgsim::BarPeriod::Day);
  simulator->HoldAnswers("CQGCEL.RequestTimedBars");
  vex->wait_timeout = 50ms;
  vex->subscribe_bar("EPZ4", 10);
  EXPECT_THROW(vex->subscribe_bar("EPZ4", 5, "1Day"), framework::ValueError);

  vex->unsubscribe_bar("EPZ4");
  simulator->ReleaseAnswers("CQGCEL.RequestTimedBars");
  vex->wait_timeout = 10s;
  vex->subscribe_bar("EPZ4", 5, "1Day");
  simulator->AddBar("EPZ4", BarAt(20, 120));
  simulator->AddBar("EPZ4", BarAt(21, 121));
  TakeOutput();
  const auto bars = Cached();
  ASSERT_EQ(bars.size(), 5u);
  for (const auto& bar : bars) EXPECT_GE(bar.close, 200.0) << core::to_string(bar);
}

TEST_F(VexGateBarTest, UnsubscribingRemovesTheSeriesAndTheCache) {
  Subscribe(11);
  vex->unsubscribe_bar("EPZ4");
  EXPECT_EQ(TextsOf(TakeOutput()),
            (std::vector<std::string>{"Successfully unsubscribe timedbar for EPZ4"}));
  EXPECT_FALSE(vex->eventBarDone.is_set());
  vex->unsubscribe_bar("EPZ4");
  EXPECT_TRUE(TakeOutput().empty());
  EXPECT_EQ(CallsOf("CQGCEL.RemoveTimedBars").size(), 1u);
}

// The series removed is the one the request returned: the previous one when
// the security is subscribed again, the new one when it is unsubscribed
// before its resolution has come. Nothing of a removed series reaches the
// cache, even when the client goes on to resolve and grow it.
TEST_F(VexGateBarTest, TheSeriesTheRequestReturnedIsTheOneRemoved) {
  const auto removed_id = [this](std::size_t n) {
    const auto calls = CallsOf("CQGCEL.RemoveTimedBars");
    if (calls.size() <= n) return std::string("(not removed)");
    const auto& object = std::get<std::shared_ptr<platform::com::IDispatch>>(calls[n].arguments[0]);
    return std::dynamic_pointer_cast<cel::TimedBars>(object)->Id();
  };
  Subscribe(11);
  const std::string first = vex->get_timedbars_from_cqg_symbol("EPZ4")->Id();
  simulator->HoldAnswers("CQGCEL.RequestTimedBars");
  vex->wait_timeout = 50ms;
  const auto from = simulator->Calls().size();
  vex->subscribe_bar("EPZ4", 10);
  EXPECT_EQ(removed_id(0), first);
  const auto members = MembersSince(from);
  const auto at = [&members](const std::string& member) {
    return std::find(members.begin(), members.end(), member) - members.begin();
  };
  EXPECT_LT(at("CQGCEL.RemoveTimedBars"), at("CQGCEL.RequestTimedBars"));

  vex->unsubscribe_bar("EPZ4");
  EXPECT_TRUE(HasText(TakeOutput(), "Successfully unsubscribe timedbar for EPZ4"));
  simulator->ReleaseAnswers("CQGCEL.RequestTimedBars");
  simulator->AddBar("EPZ4", BarAt(11, 111));
  simulator->AddBar("EPZ4", BarAt(12, 112));
  const auto lines = TakeOutput();
  const auto late = vex->get_timedbars_from_cqg_symbol("EPZ4");
  ASSERT_NE(late, nullptr);
  EXPECT_NE(late->Id(), first);
  EXPECT_EQ(removed_id(1), late->Id());
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(vex->get_subscribe_bars_data(EP), std::nullopt);
}

TEST_F(VexGateBarTest, AnUnsubscriptionErrorIsReportedNotRaised) {
  Subscribe(11);
  simulator->FailNextCall("CQGCEL.RemoveTimedBars", "series is busy");
  EXPECT_NO_THROW(vex->unsubscribe_bar("EPZ4"));
  EXPECT_EQ(TakeOutput(), (std::vector<Line>{{0, "unsubscribe_bar: series is busy"}}));
  EXPECT_EQ(Cached().size(), 10u);
}

TEST_F(VexGateBarTest, SeriesAreFoundByTheirExactSymbolFirst) {
  simulator->SetBars("MESZ4", Bars(3));
  simulator->SetBars("ESZ4", Bars(3));
  vex->subscribe_bar("MESZ4", 2);
  vex->subscribe_bar("ESZ4", 2);
  EXPECT_EQ(vex->get_timedbars_from_cqg_symbol("ESZ4")->Request()->Symbol(), "ESZ4");
  EXPECT_EQ(vex->get_timedbars_from_cqg_symbol("SZ4"), nullptr);
}

TEST_F(VexGateBarTest, DumpBarTracesEveryValue) {
  Subscribe(3);
  const auto bar = vex->get_timedbars_from_cqg_symbol("EPZ4")->Item(1);
  vex->dumpBar(bar, 1);
  EXPECT_EQ(TextsOf(TakeOutput()),
            (std::vector<std::string>{
                "Bar index: 1 Timestamp 2024-03-05 09:01:00.250000 Open 100.0 High 102.0 Low 99.0 "
                "Close 101.0 ActualVolumeFractional 11.0 CommodityVolumeFractional 11.0 "
                "ContractVolumeFractional 11.0 TickVolume 0.0"}));
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
