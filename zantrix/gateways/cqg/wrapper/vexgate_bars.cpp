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
  const auto security = the_gateway().get_zx_security_from_cqg_symbol(cqg_symbol);
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    const auto cached = subscribe_bars_data_.find(*security);
    const auto length = bar_freqs_.find(*security);
    if (cached != subscribe_bars_data_.end() && !cached->second.empty() &&
        length != bar_freqs_.end() && length->second != freq) {
      throw framework::ValueError("Parameter freq=" + freq + " does not match the " +
                                  length->second + " bars cached for " + cqg_symbol +
                                  "; unsubscribe_bar first.");
    }
  }
  Trace("Create " + freq + " timed bars request for " + cqg_symbol);
  const auto request = client().CreateTimedBarsRequest();
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
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    const auto cached = subscribe_bars_data_.find(*security);
    if (cached == subscribe_bars_data_.end() || cached->second.empty()) {
      bar_freqs_.insert_or_assign(*security, freq);
    }
  }
  eventBarDone.clear();
  client().RequestTimedBars(request);
  Trace("Waiting for eventBarDone in subscribe_bar(" + cqg_symbol + ")...");
  eventBarDone.wait(wait_timeout);
  Trace("eventBarDone is done.");
}

void VexGate::unsubscribe_bar(const std::string& cqg_symbol) {
  framework::safe_call(
      "unsubscribe_bar", [this](const std::string& symbol) { remove_bar_subscription(symbol); },
      cqg_symbol);
}

void VexGate::remove_bar_subscription(const std::string& cqg_symbol) {
  const auto timedbars = get_timedbars_from_cqg_symbol(cqg_symbol);
  if (!timedbars) return;
  client().RemoveTimedBars(timedbars);
  const auto security = the_gateway().get_zx_security_from_cqg_symbol(cqg_symbol);
  eventBarDone.clear();
  if (security) {
    const std::lock_guard guard(bars_mutex_);
    subscribe_bars_data_.erase(*security);
    bar_freqs_.erase(*security);
  }
  Trace("Successfully unsubscribe timedbar for " + cqg_symbol);
}

std::shared_ptr<cel::TimedBars> VexGate::get_timedbars_from_cqg_symbol(
    const std::string& cqg_symbol) {
  const auto all = client().AllTimedBars();
  return detail::find_by_symbol(
      all->Count(), cqg_symbol, [&](long i) { return all->ItemByIndex(i); },
      [](cel::TimedBars& bars) { return bars.Request()->Symbol(); });
}

core::Bar VexGate::make_bar(const std::shared_ptr<cel::TimedBar>& bar,
                            const core::Security& security) {
  return core::Bar{.datetime = detail::whole_seconds(bar->Timestamp()),
                   .security = security,
                   .open = bar->Open(),
                   .high = bar->High(),
                   .low = bar->Low(),
                   .close = bar->Close(),
                   .volume = bar->ActualVolume()};
}

void VexGate::OnTimedBarsResolved(std::shared_ptr<cel::TimedBars> cqgTimedBars,
                                  std::shared_ptr<cel::Error> cqgError) {
  if (cqgError) {
    eventBarDone.set();
    return;
  }
  const long count = cqgTimedBars->Count();
  if (count == 0) {
    eventBarDone.set();
    return;
  }
  const auto security =
      the_gateway().get_zx_security_from_cqg_symbol(cqgTimedBars->Request()->Symbol());
  if (!security) {
    eventBarDone.set();
    return;
  }
  {
    const std::lock_guard guard(bars_mutex_);
    const auto cached = subscribe_bars_data_.find(*security);
    if (cached != subscribe_bars_data_.end() && !cached->second.empty()) {
      eventBarDone.set();
      return;
    }
  }
  // The bar at the highest index is still forming: it stays out.
  std::vector<core::Bar> bars;
  bars.reserve(static_cast<std::size_t>(count - 1));
  for (long i = 0; i < count - 1; ++i) bars.push_back(make_bar(cqgTimedBars->Item(i), *security));
  {
    const std::lock_guard guard(bars_mutex_);
    subscribe_bars_data_.insert_or_assign(*security, std::move(bars));
  }
  eventBarDone.set();
}

// A new bar has started, so the one before it (at Count - 2) has completed.
// It joins the cache only when it is later than the newest cached bar, which
// absorbs repeated notifications of the same bar.
void VexGate::OnTimedBarsAdded(std::shared_ptr<cel::TimedBars> cqgTimedBars) {
  const long count = cqgTimedBars->Count();
  if (count < 2) return;
  const auto security =
      the_gateway().get_zx_security_from_cqg_symbol(cqgTimedBars->Request()->Symbol());
  if (!security) return;
  {
    const std::lock_guard guard(bars_mutex_);
    if (!subscribe_bars_data_.contains(*security))
      throw framework::KeyError(core::to_string(*security));
  }
  core::Bar bar = make_bar(cqgTimedBars->Item(count - 2), *security);
  {
    const std::lock_guard guard(bars_mutex_);
    const auto cached = subscribe_bars_data_.find(*security);
    if (cached == subscribe_bars_data_.end()) return;
    auto& bars = cached->second;
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
  if (cached == subscribe_bars_data_.end() || cached->second.empty()) return std::nullopt;
  auto& bars = cached->second;
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

void VexGate::dumpBar(const std::shared_ptr<cel::TimedBar>& bar, long index) {
  using framework::format_number;
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
