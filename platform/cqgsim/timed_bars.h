// The simulated timed-bar requests and bar series.
//
// A TimedBarsRequest keeps what is written to it, including which of
// HistoricalPeriod and IntradayPeriod was set (the one set last decides the
// bar length) and which optional outputs were asked for; it starts from
// values the gateway never uses, so a property left unset shows. A TimedBars
// series holds the bars it was resolved with, the last one still forming, and
// grows as the simulator completes bars, while its request's UpdatesEnabled
// is true and until RemoveTimedBars; a replayed bar (venue.h) replaces its
// last bar before the next one starts forming. It keeps at most the bars its
// request asked for (RangeStart - RangeEnd, at least one: the bar that has
// just completed) plus the one forming, the oldest dropped first, so that a
// series fed for months stays its asked-for size.
//
// A bar field without a valid value holds INVALID_BAR_VALUE; so do the
// contract and commodity volumes of a request that did not include them.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cqgsim/collection.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/timed_bars.h"
#include "zantrix/framework/datetime.h"

namespace platform::cqgsim {

inline constexpr double INVALID_BAR_VALUE = -2147483648.0;

// The length of a series' bars.
enum class BarPeriod { Minute, Day };

inline std::chrono::microseconds LengthOf(BarPeriod period) {
  return period == BarPeriod::Minute ? std::chrono::microseconds(std::chrono::minutes(1))
                                     : std::chrono::microseconds(std::chrono::hours(24));
}

class TimedBarsRequest final : public zantrix::framework::cqg::TimedBarsRequest {
 public:
  explicit TimedBarsRequest(Servant servant) : servant_(std::move(servant)) {}

  std::string Symbol() override;
  void put_Symbol(const std::string& value) override;
  long RangeStart() override;
  void put_RangeStart(long value) override;
  long RangeEnd() override;
  void put_RangeEnd(long value) override;
  zantrix::framework::cqg::eHistoricalPeriod HistoricalPeriod() override;
  void put_HistoricalPeriod(zantrix::framework::cqg::eHistoricalPeriod value) override;
  zantrix::framework::cqg::eIntradayPeriod IntradayPeriod() override;
  void put_IntradayPeriod(zantrix::framework::cqg::eIntradayPeriod value) override;
  zantrix::framework::cqg::eDailyBarClose DailyBarClose() override;
  void put_DailyBarClose(zantrix::framework::cqg::eDailyBarClose value) override;
  bool UpdatesEnabled() override;
  void put_UpdatesEnabled(bool value) override;
  std::string SessionsFilter() override;
  void put_SessionsFilter(const std::string& value) override;
  bool IncludeOutput(zantrix::framework::cqg::eTimedBarsRequestOutput kind) override;
  void put_IncludeOutput(zantrix::framework::cqg::eTimedBarsRequestOutput kind,
                         bool include) override;

  std::string symbol;
  long rangeStart = 0;
  long rangeEnd = 0;
  zantrix::framework::cqg::eHistoricalPeriod historicalPeriod = zantrix::framework::cqg::hpDaily;
  zantrix::framework::cqg::eIntradayPeriod intradayPeriod = zantrix::framework::cqg::pfds1Min;
  // The period the request asks for; none until one of the two is set.
  std::optional<BarPeriod> period;
  std::optional<zantrix::framework::cqg::eDailyBarClose> dailyBarClose;
  bool updatesEnabled = false;
  std::string sessionsFilter;
  std::set<zantrix::framework::cqg::eTimedBarsRequestOutput> outputs;

 private:
  Servant servant_;
};

// One bar as the simulator keeps it; `volume` is its actual volume.
struct BarSetup {
  zantrix::framework::DateTime timestamp;
  double open;
  double high;
  double low;
  double close;
  double volume;
  double tickVolume = 0;
};

class TimedBar final : public zantrix::framework::cqg::TimedBar {
 public:
  TimedBar(Servant servant, BarSetup value, bool contractVolume, bool commodityVolume)
      : value(value),
        contractVolume_(contractVolume),
        commodityVolume_(commodityVolume),
        servant_(std::move(servant)) {}

  zantrix::framework::DateTime Timestamp() override;
  double Open() override;
  double High() override;
  double Low() override;
  double Close() override;
  double ActualVolume() override;
  double ActualVolumeFractional() override;
  double CommodityVolumeFractional() override;
  double ContractVolumeFractional() override;
  double TickVolume() override;

  const BarSetup value;

 private:
  const bool contractVolume_;
  const bool commodityVolume_;
  Servant servant_;
};

class TimedBars final : public zantrix::framework::cqg::TimedBars {
 public:
  TimedBars(Servant servant, std::string id, std::shared_ptr<TimedBarsRequest> request)
      : id(std::move(id)), request(std::move(request)), servant_(std::move(servant)) {}

  std::string Id() override;
  long Count() override;
  std::shared_ptr<zantrix::framework::cqg::TimedBar> Item(long index) override;
  std::shared_ptr<zantrix::framework::cqg::TimedBarsRequest> Request() override;

  const std::string& key() const { return id; }
  // Adds `bar` as the newest, dropping the oldest beyond the series' size.
  void Append(const BarSetup& bar);
  // The last bar becomes `bar` (the first one when the series holds none).
  void ReplaceLast(const BarSetup& bar);

  const std::string id;
  const std::shared_ptr<TimedBarsRequest> request;
  // The full name of the instrument the request resolved to, and the period.
  std::string listing;
  BarPeriod period = BarPeriod::Minute;
  std::vector<std::shared_ptr<TimedBar>> bars;

 private:
  std::shared_ptr<TimedBar> Make(const BarSetup& bar) const;

  Servant servant_;
};

inline constexpr CollectionNames ALLTIMEDBARS_NAMES{
    "AllTimedBars", "AllTimedBars.Count", "AllTimedBars.Item", "AllTimedBars.ItemByIndex"};
using TimedBarsCollection = Collection<zantrix::framework::cqg::TimedBarsCollection, TimedBars,
                                       std::string, ALLTIMEDBARS_NAMES>;

}  // namespace platform::cqgsim
