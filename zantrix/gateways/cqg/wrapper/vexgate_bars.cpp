// VexGate: timed-bar subscriptions and the bar cache.
//
// The cache keeps, per security, the completed bars of its subscription,
// oldest first: the resolution loads them (leaving out the bar still
// forming), each completed bar then pushes out the oldest. The worker thread
// fills it while the framework reads it, so it lives under bars_mutex_, which
// is held only around work on memory.
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/framework/utility.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

namespace {

// The bar fields the client may mark INVALID_VALUE, in repair order.
constexpr std::array<double core::Bar::*, 5> REPAIRED_FIELDS{
    &core::Bar::open, &core::Bar::high, &core::Bar::low, &core::Bar::close, &core::Bar::volume};

void repair_from(core::Bar& bar, const core::Bar& neighbour) {
  for (const auto field : REPAIRED_FIELDS) {
    if (bar.*field == INVALID_VALUE && neighbour.*field != INVALID_VALUE) {
      bar.*field = neighbour.*field;
    }
  }
}

}  // namespace

void VexGate::subscribe_bar(const std::string& cqg_symbol, long lookback_period,
                            const std::string& freq) {
  refuse_on_worker("subscribe_bar");
  if (std::find(FREQ_ALLOWED.begin(), FREQ_ALLOWED.end(), freq) == FREQ_ALLOWED.end()) {
    throw framework::ValueError("Parameter freq=" + freq + " is Not supported. Only ('" +
                                std::string(FREQ_ALLOWED[0]) + "', '" +
                                std::string(FREQ_ALLOWED[1]) + "') are allowed.");
  }
  const auto security = security_of(cqg_symbol);
  std::shared_ptr<cel::TimedBars> previous;
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed != subscribe_bars_data_.end()) {
      if (subscribed->second.freq != freq) {
        throw framework::ValueError("Parameter freq=" + freq + " does not match the " +
                                    subscribed->second.freq + " bars subscribed for " + cqg_symbol +
                                    "; unsubscribe_bar first.");
      }
      previous = subscribed->second.timedbars;
    }
  }
  // One series per security: the previous one goes before the new one is
  // asked for. Should its removal fail, the subscription stands as it was.
  if (previous) client()->RemoveTimedBars(previous);
  if (security) {
    // Recorded before the request, so that its resolution finds the
    // subscription even when it comes during the call; a list already cached
    // stays until the new series replaces it.
    const std::lock_guard guard(bars_mutex_);
    auto& subscription = subscribe_bars_data_[*security];
    subscription.freq = freq;
    subscription.timedbars.reset();
    if (subscription.series) retired_series_.insert(*std::exchange(subscription.series, {}));
  }
  Trace("Create " + freq + " timed bars request for " + cqg_symbol);
  const auto request =
      detail::returned(client()->CreateTimedBarsRequest(), "CQGCEL.CreateTimedBarsRequest");
  request->put_Symbol(cqg_symbol);
  request->put_RangeStart(0);
  request->put_RangeEnd(-lookback_period - 1);
  if (freq == "1Day") {
    request->put_HistoricalPeriod(cel::hpDaily);
  } else {
    request->put_IntradayPeriod(cel::pfds1Min);
  }
  request->put_DailyBarClose(cel::dbcLastQuoteOrSettlement);
  request->put_UpdatesEnabled(true);
  request->put_IncludeOutput(cel::tbrContractVolume, true);
  request->put_IncludeOutput(cel::tbrCommodityVolume, true);
  request->put_SessionsFilter("all");
  eventBarDone.clear();
  auto series = detail::returned(client()->RequestTimedBars(request), "CQGCEL.RequestTimedBars");
  if (security) {
    const std::string id = series->Id();
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed != subscribe_bars_data_.end()) {
      auto& subscription = subscribed->second;
      if (subscription.series != id) {
        // Whatever resolved while the request was on its way came from
        // another series.
        if (subscription.series) subscription.bars.clear();
        subscription.series = id;
      }
      subscription.timedbars = std::move(series);
    }
  }
  Trace("Waiting for eventBarDone in subscribe_bar(" + cqg_symbol + ")...");
  eventBarDone.wait(wait_timeout);
  Trace("eventBarDone is done.");
}

void VexGate::unsubscribe_bar(const std::string& cqg_symbol) {
  framework::safe_call(
      "unsubscribe_bar", [this](const std::string& symbol) { remove_bar_subscription(symbol); },
      cqg_symbol);
}

// The series the subscription kept is removed whether or not it has
// resolved: a series asked for and never removed would go on growing at the
// client.
void VexGate::remove_bar_subscription(const std::string& cqg_symbol) {
  refuse_proxy_on_worker("unsubscribe_bar");
  const auto security = security_of(cqg_symbol);
  std::shared_ptr<cel::TimedBars> timedbars;
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed != subscribe_bars_data_.end()) timedbars = subscribed->second.timedbars;
  }
  if (!timedbars) timedbars = get_timedbars_from_cqg_symbol(cqg_symbol);
  if (timedbars) client()->RemoveTimedBars(timedbars);
  eventBarDone.clear();
  bool removed = false;
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed != subscribe_bars_data_.end()) {
      if (subscribed->second.series) retired_series_.insert(*subscribed->second.series);
      subscribe_bars_data_.erase(subscribed);
      removed = true;
    }
  }
  if (timedbars || removed) Trace("Successfully unsubscribe timedbar for " + cqg_symbol);
}

std::shared_ptr<cel::TimedBars> VexGate::get_timedbars_from_cqg_symbol(
    const std::string& cqg_symbol) {
  refuse_proxy_on_worker("get_timedbars_from_cqg_symbol");
  const auto all = detail::returned(client()->AllTimedBars(), "CQGCEL.AllTimedBars");
  return detail::find_by_symbol(
      all->Count(), cqg_symbol, [&](long i) { return all->ItemByIndex(i); },
      [](cel::TimedBars& bars) {
        return detail::returned(bars.Request(), "TimedBars.Request")->Symbol();
      });
}

core::Bar VexGate::make_bar(const std::shared_ptr<cel::TimedBar>& bar,
                            const core::Security& security) {
  const auto item = detail::require(bar, "bar");
  return core::Bar{.datetime = detail::whole_seconds(item->Timestamp()),
                   .security = security,
                   .open = item->Open(),
                   .high = item->High(),
                   .low = item->Low(),
                   .close = item->Close(),
                   .volume = item->ActualVolume()};
}

VexGate::BarSubscription* VexGate::subscription_fed_by(const core::Security& security,
                                                       const std::string& series) {
  const auto subscribed = subscribe_bars_data_.find(security);
  if (subscribed == subscribe_bars_data_.end()) return nullptr;
  auto& subscription = subscribed->second;
  if (!subscription.series && !retired_series_.contains(series)) subscription.series = series;
  return subscription.series == series ? &subscription : nullptr;
}

// The initial load. Whatever happens, the waiting subscribe_bar is released.
void VexGate::OnTimedBarsResolved(std::shared_ptr<cel::TimedBars> cqgTimedBars,
                                  std::shared_ptr<cel::Error> cqgError) {
  const detail::SetOnExit release(eventBarDone);
  if (cqgError) return;
  const auto timedbars = detail::require(cqgTimedBars, "timed-bars object");
  const long count = timedbars->Count();
  if (count == 0) return;
  const auto security = security_of(detail::require(timedbars->Request(), "bar request")->Symbol());
  if (!security) return;
  const std::string series = timedbars->Id();
  {
    const std::lock_guard guard(bars_mutex_);
    const auto* subscription = subscription_fed_by(*security, series);
    if (!subscription || !subscription->bars.empty()) return;
  }
  // The bar at the highest index is still forming: it stays out.
  std::vector<core::Bar> bars;
  bars.reserve(static_cast<std::size_t>(count - 1));
  for (long i = 0; i < count - 1; ++i) bars.push_back(make_bar(timedbars->Item(i), *security));
  const std::lock_guard guard(bars_mutex_);
  if (auto* subscription = subscription_fed_by(*security, series)) {
    if (subscription->bars.empty()) subscription->bars = std::move(bars);
  }
}

// A new bar has started, so the one before it (at Count - 2) has completed.
// It joins the cache only when it is later than the newest cached bar, which
// absorbs repeated notifications of the same bar.
void VexGate::OnTimedBarsAdded(std::shared_ptr<cel::TimedBars> cqgTimedBars) {
  const auto timedbars = detail::require(cqgTimedBars, "timed-bars object");
  const long count = timedbars->Count();
  if (count < 2) return;
  const auto security = security_of(detail::require(timedbars->Request(), "bar request")->Symbol());
  if (!security) return;
  const std::string series = timedbars->Id();
  {
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed == subscribe_bars_data_.end() || subscribed->second.series != series) return;
  }
  core::Bar bar = make_bar(timedbars->Item(count - 2), *security);
  {
    const std::lock_guard guard(bars_mutex_);
    const auto subscribed = subscribe_bars_data_.find(*security);
    if (subscribed == subscribe_bars_data_.end() || subscribed->second.series != series) return;
    auto& bars = subscribed->second.bars;
    if (!bars.empty() && bar.datetime <= bars.back().datetime) return;
    if (!bars.empty()) bars.erase(bars.begin());
    bars.push_back(bar);
  }
  detail::print_line("[2] OnTimedBarsAdded: " + core::to_string(bar));
}

void VexGate::OnTimedBarsUpdated(std::shared_ptr<cel::TimedBars> /*cqgTimedBars*/, long /*index*/) {
}

void VexGate::OnTimedBarsRemoved(std::shared_ptr<cel::TimedBars> /*cqgTimedBars*/, long /*index*/) {
}

// Repairs in place: a run of invalid values takes the last valid value
// before it (forward pass, which reads the bar it has just repaired), and
// invalid values at the start of the list the first valid value after them
// (backward pass). A field still invalid in the newest bar was invalid in
// every bar.
std::optional<std::vector<core::Bar>> VexGate::get_subscribe_bars_data(
    const core::Security& security) {
  const std::lock_guard guard(bars_mutex_);
  const auto cached = subscribe_bars_data_.find(security);
  if (cached == subscribe_bars_data_.end() || cached->second.bars.empty()) return std::nullopt;
  auto& bars = cached->second.bars;
  for (std::size_t i = 1; i < bars.size(); ++i) repair_from(bars[i], bars[i - 1]);
  for (std::size_t i = bars.size() - 1; i-- > 0;) repair_from(bars[i], bars[i + 1]);
  const core::Bar& latest = bars.back();
  for (const auto field : REPAIRED_FIELDS) {
    if (latest.*field == INVALID_VALUE) {
      throw framework::ValueError("The latest bar is INVALID: " + core::to_string(latest) + ".");
    }
  }
  return bars;
}

void VexGate::dumpBar(const std::shared_ptr<cel::TimedBar>& cqgBar, long index) {
  using framework::format_number;
  const auto bar = detail::require(cqgBar, "bar");
  Trace("Bar index: " + std::to_string(index) + " Timestamp " +
        framework::format_datetime(bar->Timestamp()) + " Open " + format_number(bar->Open()) +
        " High " + format_number(bar->High()) + " Low " + format_number(bar->Low()) + " Close " +
        format_number(bar->Close()) + " ActualVolumeFractional " +
        format_number(bar->ActualVolumeFractional()) + " CommodityVolumeFractional " +
        format_number(bar->CommodityVolumeFractional()) + " ContractVolumeFractional " +
        format_number(bar->ContractVolumeFractional()) + " TickVolume " +
        format_number(bar->TickVolume()));
}

}  // namespace zantrix::gateways::cqg
