// Timed-bar requests and the bar series they produce.
//
// A TimedBarsRequest is made by CQGCEL::CreateTimedBarsRequest, filled in,
// and sent with CQGCEL::RequestTimedBars, which returns the TimedBars series
// at once; the series is resolved later (OnTimedBarsResolved) and then grows
// and changes (OnTimedBarsAdded, OnTimedBarsUpdated, ...). Bars are reached
// by position, 0 to Count - 1, oldest first; the last one is still being
// formed. A bar field without a valid value holds -2147483648.
// CQGCEL::AllTimedBars holds the series of every request still in force,
// keyed by series id.
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/collection.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework::cqg {

class TimedBarsRequest : public platform::com::IDispatch {
 public:
  virtual std::string Symbol() = 0;
  virtual void put_Symbol(const std::string& value) = 0;
  // Bar positions relative to the newest bar (0) when negative or zero.
  virtual long RangeStart() = 0;
  virtual void put_RangeStart(long value) = 0;
  virtual long RangeEnd() = 0;
  virtual void put_RangeEnd(long value) = 0;
  virtual eHistoricalPeriod HistoricalPeriod() = 0;
  virtual void put_HistoricalPeriod(eHistoricalPeriod value) = 0;
  virtual eIntradayPeriod IntradayPeriod() = 0;
  virtual void put_IntradayPeriod(eIntradayPeriod value) = 0;
  virtual eDailyBarClose DailyBarClose() = 0;
  virtual void put_DailyBarClose(eDailyBarClose value) = 0;
  virtual bool UpdatesEnabled() = 0;
  virtual void put_UpdatesEnabled(bool value) = 0;
  // Named sessions ("all"), unlike the numeric filter of a tick request.
  virtual std::string SessionsFilter() = 0;
  virtual void put_SessionsFilter(const std::string& value) = 0;
  // Whether the bars carry the optional output `kind`.
  virtual bool IncludeOutput(eTimedBarsRequestOutput kind) = 0;
  virtual void put_IncludeOutput(eTimedBarsRequestOutput kind, bool include) = 0;
};

class TimedBar : public platform::com::IDispatch {
 public:
  virtual DateTime Timestamp() = 0;
  virtual double Open() = 0;
  virtual double High() = 0;
  virtual double Low() = 0;
  virtual double Close() = 0;
  virtual double ActualVolume() = 0;
  virtual double ActualVolumeFractional() = 0;
  virtual double CommodityVolumeFractional() = 0;
  virtual double ContractVolumeFractional() = 0;
  virtual double TickVolume() = 0;
};

class TimedBars : public platform::com::IDispatch {
 public:
  virtual std::string Id() = 0;
  virtual long Count() = 0;
  virtual std::shared_ptr<TimedBar> Item(long index) = 0;
  virtual std::shared_ptr<TimedBarsRequest> Request() = 0;
};

class TimedBarsCollection : public Collection<TimedBars, std::string> {};

}  // namespace zantrix::framework::cqg
