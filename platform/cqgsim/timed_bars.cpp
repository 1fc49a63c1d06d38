#include "platform/cqgsim/timed_bars.h"

#include <algorithm>

#include "platform/com/error.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;
using zantrix::framework::DateTime;

std::string TimedBarsRequest::Symbol() {
  return servant_.Serve("TimedBarsRequest.Symbol", {}, [this] { return symbol; });
}

void TimedBarsRequest::put_Symbol(const std::string& value) {
  servant_.Serve("TimedBarsRequest.put_Symbol", {value}, [this, &value] { symbol = value; });
}

long TimedBarsRequest::RangeStart() {
  return servant_.Serve("TimedBarsRequest.RangeStart", {}, [this] { return rangeStart; });
}

void TimedBarsRequest::put_RangeStart(long value) {
  servant_.Serve("TimedBarsRequest.put_RangeStart", {value}, [this, value] { rangeStart = value; });
}

long TimedBarsRequest::RangeEnd() {
  return servant_.Serve("TimedBarsRequest.RangeEnd", {}, [this] { return rangeEnd; });
}

void TimedBarsRequest::put_RangeEnd(long value) {
  servant_.Serve("TimedBarsRequest.put_RangeEnd", {value}, [this, value] { rangeEnd = value; });
}

cqg::eHistoricalPeriod TimedBarsRequest::HistoricalPeriod() {
  return servant_.Serve("TimedBarsRequest.HistoricalPeriod", {},
                        [this] { return historicalPeriod; });
}

void TimedBarsRequest::put_HistoricalPeriod(cqg::eHistoricalPeriod value) {
  servant_.Serve("TimedBarsRequest.put_HistoricalPeriod", {static_cast<long>(value)},
                 [this, value] {
                   historicalPeriod = value;
                   period = BarPeriod::Day;
                 });
}

cqg::eIntradayPeriod TimedBarsRequest::IntradayPeriod() {
  return servant_.Serve("TimedBarsRequest.IntradayPeriod", {}, [this] { return intradayPeriod; });
}

void TimedBarsRequest::put_IntradayPeriod(cqg::eIntradayPeriod value) {
  servant_.Serve("TimedBarsRequest.put_IntradayPeriod", {static_cast<long>(value)}, [this, value] {
    intradayPeriod = value;
    period = BarPeriod::Minute;
  });
}

cqg::eDailyBarClose TimedBarsRequest::DailyBarClose() {
  return servant_.Serve("TimedBarsRequest.DailyBarClose", {},
                        [this] { return dailyBarClose.value_or(cqg::dbcLastQuoteOrSettlement); });
}

void TimedBarsRequest::put_DailyBarClose(cqg::eDailyBarClose value) {
  servant_.Serve("TimedBarsRequest.put_DailyBarClose", {static_cast<long>(value)},
                 [this, value] { dailyBarClose = value; });
}

bool TimedBarsRequest::UpdatesEnabled() {
  return servant_.Serve("TimedBarsRequest.UpdatesEnabled", {}, [this] { return updatesEnabled; });
}

void TimedBarsRequest::put_UpdatesEnabled(bool value) {
  servant_.Serve("TimedBarsRequest.put_UpdatesEnabled", {value},
                 [this, value] { updatesEnabled = value; });
}

std::string TimedBarsRequest::SessionsFilter() {
  return servant_.Serve("TimedBarsRequest.SessionsFilter", {}, [this] { return sessionsFilter; });
}

void TimedBarsRequest::put_SessionsFilter(const std::string& value) {
  servant_.Serve("TimedBarsRequest.put_SessionsFilter", {value},
                 [this, &value] { sessionsFilter = value; });
}

bool TimedBarsRequest::IncludeOutput(cqg::eTimedBarsRequestOutput kind) {
  return servant_.Serve("TimedBarsRequest.IncludeOutput", {static_cast<long>(kind)},
                        [this, kind] { return outputs.contains(kind); });
}

void TimedBarsRequest::put_IncludeOutput(cqg::eTimedBarsRequestOutput kind, bool include) {
  servant_.Serve("TimedBarsRequest.put_IncludeOutput", {static_cast<long>(kind), include},
                 [this, kind, include] {
                   if (include) {
                     outputs.insert(kind);
                   } else {
                     outputs.erase(kind);
                   }
                 });
}

DateTime TimedBar::Timestamp() {
  return servant_.Serve("TimedBar.Timestamp", {}, [this] { return value.timestamp; });
}

double TimedBar::Open() {
  return servant_.Serve("TimedBar.Open", {}, [this] { return value.open; });
}

double TimedBar::High() {
  return servant_.Serve("TimedBar.High", {}, [this] { return value.high; });
}

double TimedBar::Low() {
  return servant_.Serve("TimedBar.Low", {}, [this] { return value.low; });
}

double TimedBar::Close() {
  return servant_.Serve("TimedBar.Close", {}, [this] { return value.close; });
}

double TimedBar::ActualVolume() {
  return servant_.Serve("TimedBar.ActualVolume", {}, [this] { return value.volume; });
}

double TimedBar::ActualVolumeFractional() {
  return servant_.Serve("TimedBar.ActualVolumeFractional", {}, [this] { return value.volume; });
}

double TimedBar::CommodityVolumeFractional() {
  return servant_.Serve("TimedBar.CommodityVolumeFractional", {},
                        [this] { return commodityVolume_ ? value.volume : INVALID_BAR_VALUE; });
}

double TimedBar::ContractVolumeFractional() {
  return servant_.Serve("TimedBar.ContractVolumeFractional", {},
                        [this] { return contractVolume_ ? value.volume : INVALID_BAR_VALUE; });
}

double TimedBar::TickVolume() {
  return servant_.Serve("TimedBar.TickVolume", {}, [this] { return value.tickVolume; });
}

std::string TimedBars::Id() {
  return servant_.Serve("TimedBars.Id", {}, [this] { return id; });
}

long TimedBars::Count() {
  return servant_.Serve("TimedBars.Count", {}, [this] { return static_cast<long>(bars.size()); });
}

std::shared_ptr<cqg::TimedBar> TimedBars::Item(long index) {
  return servant_.Serve(
      "TimedBars.Item", {index}, [this, index]() -> std::shared_ptr<cqg::TimedBar> {
        if (index < 0 || index >= static_cast<long>(bars.size())) {
          throw com::ComError(com::E_INVALIDARG, "TimedBars.Item: index " + std::to_string(index) +
                                                     " is out of range");
        }
        return bars[static_cast<std::size_t>(index)];
      });
}

std::shared_ptr<cqg::TimedBarsRequest> TimedBars::Request() {
  return servant_.Serve("TimedBars.Request", {},
                        [this]() -> std::shared_ptr<cqg::TimedBarsRequest> { return request; });
}

void TimedBars::Append(const BarSetup& bar) {
  bars.push_back(Make(bar));
  const long asked = std::max(1L, request->rangeStart - request->rangeEnd);
  if (bars.size() > static_cast<std::size_t>(asked) + 1) bars.erase(bars.begin());
}

void TimedBars::ReplaceLast(const BarSetup& bar) {
  if (bars.empty()) {
    bars.push_back(Make(bar));
  } else {
    bars.back() = Make(bar);
  }
}

std::shared_ptr<TimedBar> TimedBars::Make(const BarSetup& bar) const {
  return std::make_shared<TimedBar>(servant_, bar,
                                    request->outputs.contains(cqg::tbrContractVolume),
                                    request->outputs.contains(cqg::tbrCommodityVolume));
}

}  // namespace platform::cqgsim
