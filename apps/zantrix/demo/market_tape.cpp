#include "apps/zantrix/demo/market_tape.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "zantrix/core/data/history.h"
#include "zantrix/framework/errors.h"

namespace zantrix::app::demo {

namespace {

using framework::Date;
using framework::DateTime;

std::vector<TapeBar> load_bars(const core::Security& security) {
  // The whole stored history: the loader reads only the day files in range.
  const DateTime first = framework::make_datetime(std::chrono::year{1990} / 1 / 1);
  const DateTime last = framework::make_datetime(std::chrono::year{2100} / 1 / 1);
  const framework::Table table =
      core::_get_data(security, first, last, "kline", std::nullopt, {{"interval", "1min"}});
  const auto times = table.column("time_key").datetimes();
  const auto& open = table.column("open");
  const auto& high = table.column("high");
  const auto& low = table.column("low");
  const auto& close = table.column("close");
  const auto& volume = table.column("volume");
  std::vector<TapeBar> bars;
  bars.reserve(table.rows());
  for (std::size_t r = 0; r < table.rows(); ++r) {
    bars.push_back({times[r], open.number_at(r), high.number_at(r), low.number_at(r),
                    close.number_at(r), volume.number_at(r)});
  }
  return bars;
}

std::set<Date> days_of(const std::vector<TapeBar>& bars) {
  std::set<Date> days;
  for (const auto& bar : bars) days.insert(framework::date_of(bar.time));
  return days;
}

}  // namespace

std::vector<TapeInstrument> demo_instruments() {
  using framework::Exchange;
  return {
      {.security = core::Stock("HK.00700", "Tencent", {.lot_size = 100, .exchange = Exchange::SEHK, .quote_currency = "HKD"}),
       .cqg_full_name = "S.HK.00700",
       .cqg_symbol = "00700",
       .tick_size = 0.1,
       .point_value = 1,
       .trade_size = 100,
       .can_short = false},
      // Names fit the store's security_name column (at most 20 characters).
      {.security = core::Futures("HK.HSImain", "Hang Seng Futures",
                                 {.lot_size = 50, .exchange = Exchange::HKFE, .quote_currency = "HKD"}),
       .cqg_full_name = "F.HK.HSI",
       .cqg_symbol = "HSI",
       .tick_size = 1,
       .point_value = 50,
       .trade_size = 1,
       .can_short = true},
  };
}

MarketTape load_tape(std::vector<TapeInstrument> instruments) {
  std::vector<std::vector<TapeBar>> all;
  std::set<Date> common;
  for (std::size_t i = 0; i < instruments.size(); ++i) {
    all.push_back(load_bars(instruments[i].security));
    const auto days = days_of(all.back());
    if (i == 0) {
      common = days;
    } else {
      std::set<Date> both;
      std::set_intersection(common.begin(), common.end(), days.begin(), days.end(),
                            std::inserter(both, both.end()));
      common = std::move(both);
    }
  }
  if (common.size() < 2) {
    throw framework::ValueError(
        "the demo needs at least two trading days on which every instrument has bars, "
        "one to warm up and one to trade; the stored history has " +
        std::to_string(common.size()));
  }
  const DateTime start = framework::make_datetime(*std::next(common.begin()));
  MarketTape tape;
  tape.days = common.size() - 1;
  std::vector<std::pair<DateTime, std::pair<std::size_t, std::size_t>>> order;
  for (std::size_t i = 0; i < instruments.size(); ++i) {
    auto& bars = all[i];
    const auto split = std::partition_point(bars.begin(), bars.end(),
                                            [&](const TapeBar& b) { return b.time < start; });
    instruments[i].warmup.assign(bars.begin(), split);
    instruments[i].bars.assign(split, bars.end());
    for (std::size_t b = 0; b < instruments[i].bars.size(); ++b) {
      order.push_back({instruments[i].bars[b].time, {i, b}});
    }
  }
  // Stable: bars of the same minute keep the order of the instruments.
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [time, where] : order) {
    if (tape.steps.empty() || tape.steps.back().time != time) tape.steps.push_back({time, {}});
    tape.steps.back().bars.push_back(where);
  }
  tape.instruments = std::move(instruments);
  return tape;
}

}  // namespace zantrix::app::demo
