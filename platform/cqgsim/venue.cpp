#include "platform/cqgsim/venue.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "platform/com/error.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;
using zantrix::framework::DateTime;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t DEFAULT_SEED = 20240305;

DateTime OpeningTime() {
  return zantrix::framework::make_datetime(std::chrono::year{2024} / 3 / 5, 9h, 30min);
}

// The part of a full name after its last ".", or the whole name.
std::string_view LastPiece(std::string_view fullName) {
  const auto dot = fullName.rfind('.');
  return dot == std::string_view::npos ? fullName : fullName.substr(dot + 1);
}

std::optional<cqg::eTickPriceType> TickTypeOf(cqg::eQuoteType type) {
  switch (type) {
    case cqg::qtBid:
      return cqg::tptBid;
    case cqg::qtAsk:
      return cqg::tptAsk;
    case cqg::qtTrade:
      return cqg::tptTrade;
    case cqg::qtSettlement:
      return cqg::tptSettlement;
    default:
      return std::nullopt;
  }
}

// Drops a listing's oldest bars beyond BAR_HISTORY.
void KeepNewest(std::deque<BarSetup>& bars) {
  while (bars.size() > BAR_HISTORY) bars.pop_front();
}

template <class Object, class Interface>
std::shared_ptr<Object> Own(const std::shared_ptr<Interface>& object, std::string_view what) {
  auto own = std::dynamic_pointer_cast<Object>(object);
  if (!own) {
    throw com::ComError(com::E_INVALIDARG, std::string(what) + " is not an object of this client");
  }
  return own;
}

}  // namespace

Venue::Venue(Servant servant)
    : accounts(std::make_shared<Accounts>(servant)),
      instruments(std::make_shared<Instruments>(servant)),
      orders(std::make_shared<Orders>(servant)),
      allTicks(std::make_shared<TicksCollection>(servant)),
      allTimedBars(std::make_shared<TimedBarsCollection>(servant)),
      servant_(std::move(servant)),
      random_(DEFAULT_SEED),
      clock_(OpeningTime()) {}

void Venue::Bind(Outlet outlet) {
  outlet_ = std::move(outlet);
}

void Venue::Flush() {
  while (!emitted_.empty()) {
    Notification next = std::move(emitted_.front());
    emitted_.pop_front();
    outlet_.deliver(next);
  }
}

void Venue::Answer(std::string_view member, std::vector<Notification> usual) {
  const bool now = servant_.state()->quirks.eventsDuringCalls;
  for (auto& notification : servant_.script()->Answer(member, std::move(usual))) {
    if (now) {
      outlet_.deliver(notification);
    } else {
      outlet_.post(std::move(notification));
    }
  }
}

void Venue::Emit(Notification notification) {
  emitted_.push_back(std::move(notification));
}

DateTime Venue::Stamp() {
  clock_ += 250ms;
  return clock_;
}

void Venue::SetQuirks(const Quirks& quirks) {
  servant_.state()->quirks = quirks;
}

void Venue::DefectNextOrderEvent(OrderEventDefect defect) {
  orderDefects_.push_back(defect);
}

void Venue::Seed(std::uint64_t seed) {
  random_.seed(seed);
}

void Venue::SetClock(DateTime time) {
  clock_ = time;
}

void Venue::GWLogon() {
  Answer("CQGCEL.GWLogon", {GWConnectionStatusChanged(cqg::csConnectionUp)});
}

void Venue::GWLogoff() {
  Answer("CQGCEL.GWLogoff", {GWConnectionStatusChanged(cqg::csConnectionDown)});
}

// Order events are lost from the delivery of a connection down to that of a
// connection up, whatever lies between.
void Venue::SetGWConnectionStatus(cqg::eConnectionStatus status) {
  Notification changed = GWConnectionStatusChanged(status);
  changed.prepare = [weak = weak_from_this(), status] {
    const auto venue = weak.lock();
    if (!venue) return;
    if (status == cqg::csConnectionDown) venue->gatewayDown_ = true;
    if (status == cqg::csConnectionUp) venue->gatewayDown_ = false;
  };
  Emit(std::move(changed));
}

void Venue::SetDataConnectionStatus(cqg::eConnectionStatus status) {
  Emit(DataConnectionStatusChanged(status));
}

Venue::Listing* Venue::FindListing(const std::string& symbol) {
  for (auto& listing : listings_) {
    if (listing.fullName == symbol || LastPiece(listing.fullName) == symbol) return &listing;
  }
  return nullptr;
}

Venue::Listing& Venue::RequireListing(const std::string& symbol) {
  if (auto* listing = FindListing(symbol)) return *listing;
  throw std::invalid_argument("no instrument is defined for the symbol " + symbol);
}

void Venue::DefineInstrument(const InstrumentSetup& setup) {
  if (FindListing(setup.fullName)) {
    throw std::invalid_argument("the instrument " + setup.fullName + " is defined already");
  }
  Listing listing{
      .fullName = setup.fullName, .tickSize = setup.tickSize, .pointValue = setup.pointValue};
  listing.bid = setup.bid;
  listing.ask = setup.ask;
  listing.last = setup.last;
  listing.bidVolume = setup.bidVolume;
  listing.askVolume = setup.askVolume;
  listings_.push_back(std::move(listing));
}

void Venue::NewInstrument(const std::string& symbol) {
  const Listing* listing = FindListing(symbol);
  if (!listing) {
    Answer("CQGCEL.NewInstrument",
           {InstrumentResolved(symbol, nullptr,
                               MakeError(UNKNOWN_SYMBOL_ERROR, "Unknown symbol: " + symbol))});
    return;
  }
  auto instrument = instruments->Find(listing->fullName);
  if (!instrument) instrument = std::make_shared<Instrument>(servant_, listing->fullName);
  Notification resolved = InstrumentResolved(symbol, instrument, nullptr);
  resolved.prepare = [weak = weak_from_this(), instrument] {
    const auto venue = weak.lock();
    if (venue && !venue->instruments->Find(instrument->fullName)) {
      venue->instruments->Add(instrument);
    }
  };
  Answer("CQGCEL.NewInstrument", {std::move(resolved)});
}

void Venue::RemoveInstrument(const std::shared_ptr<cqg::Instrument>& instrument) {
  instruments->Remove(Own<Instrument>(instrument, "the instrument").get());
}

void Venue::SetQuotes(const std::string& symbol, const std::vector<QuoteUpdate>& quotes) {
  ApplyQuotes(RequireListing(symbol), quotes);
}

void Venue::ApplyQuotes(Listing& listing, const std::vector<QuoteUpdate>& quotes) {
  const DateTime now = Stamp();
  std::vector<TickSetup> ticks;
  bool traded = false;
  for (const auto& quote : quotes) {
    if (!quote.valid) continue;
    switch (quote.type) {
      case cqg::qtBid:
        listing.bid = quote.price;
        listing.bidVolume = quote.volume;
        break;
      case cqg::qtAsk:
        listing.ask = quote.price;
        listing.askVolume = quote.volume;
        break;
      case cqg::qtTrade:
        listing.last = quote.price;
        listing.lastVolume = quote.volume;
        traded = true;
        break;
      case cqg::qtSettlement:
        listing.settlement = quote.price;
        break;
      default:
        break;
    }
    if (const auto tickType = TickTypeOf(quote.type)) {
      ticks.push_back({*tickType, quote.price, quote.volume, now});
    }
  }
  if (const auto instrument = instruments->Find(listing.fullName)) {
    auto changed = std::make_shared<Quotes>(servant_);
    for (const auto& quote : quotes) {
      if (!instrument->Follows(quote.type)) continue;
      changed->Add(
          std::make_shared<Quote>(servant_, quote.valid, quote.type, quote.price, quote.volume));
    }
    if (!changed->items().empty()) Emit(InstrumentChanged(instrument, std::move(changed)));
  }
  AppendTicks(listing, ticks);
  if (traded) RevalueListing(listing);
  MatchOrders(listing);
}

void Venue::AddTicks(const std::string& symbol, const std::vector<TickSetup>& ticks) {
  Listing& listing = RequireListing(symbol);
  const DateTime now = Stamp();
  std::vector<TickSetup> stamped = ticks;
  for (auto& tick : stamped) {
    if (tick.timestamp == DateTime{}) tick.timestamp = now;
  }
  AppendTicks(listing, stamped);
}

void Venue::AppendTicks(Listing& listing, const std::vector<TickSetup>& ticks) {
  if (ticks.empty()) return;
  listing.ticks.insert(listing.ticks.end(), ticks.begin(), ticks.end());
  // Trimmed in halves, so that a long stream moves each tick once at most.
  if (listing.ticks.size() > 2 * TICK_HISTORY) {
    listing.ticks.erase(listing.ticks.begin(),
                        listing.ticks.end() - static_cast<std::ptrdiff_t>(TICK_HISTORY));
  }
  // A series keeps at least the ticks its event will announce.
  const std::size_t kept = std::max(TICK_HISTORY, ticks.size());
  for (const auto& series : allTicks->items()) {
    if (series->listing != listing.fullName) continue;
    for (const auto& tick : ticks) series->Append(tick);
    if (series->ticks.size() > 2 * kept) {
      series->ticks.erase(series->ticks.begin(),
                          series->ticks.end() - static_cast<std::ptrdiff_t>(kept));
    }
    Emit(TicksAdded(series, static_cast<long>(ticks.size())));
  }
}

void Venue::RunMarket(const std::string& symbol, long steps) {
  Listing& listing = RequireListing(symbol);
  const double tick = listing.tickSize;
  if (listing.bid <= 0 || listing.ask <= listing.bid) {
    listing.bid = listing.last > 0 ? listing.last : 100.0;
    listing.ask = listing.bid + tick;
  }
  std::vector<QuoteUpdate> step(1);
  for (long i = 0; i < steps; ++i) {
    // Separate draws, so that the side, the move and the volume are
    // independent of each other.
    const auto kind = random_() % 3;
    const double move = tick * static_cast<double>(static_cast<long>(random_() % 3) - 1);
    const long volume = 1 + static_cast<long>(random_() % 10);
    switch (kind) {
      case 0:
        step[0] = {cqg::qtBid, std::max(tick, std::min(listing.bid + move, listing.ask - tick)),
                   volume};
        break;
      case 1:
        step[0] = {cqg::qtAsk, std::max(listing.ask + move, listing.bid + tick), volume};
        break;
      default:
        step[0] = {cqg::qtTrade, random_() % 2 == 0 ? listing.bid : listing.ask, volume};
        break;
    }
    ApplyQuotes(listing, step);
    Flush();
  }
}

std::shared_ptr<TicksRequest> Venue::CreateTicksRequest() {
  return std::make_shared<TicksRequest>(servant_);
}

std::shared_ptr<Ticks> Venue::RequestTicks(const std::shared_ptr<cqg::TicksRequest>& request) {
  auto own = Own<TicksRequest>(request, "the tick request");
  auto series = std::make_shared<Ticks>(servant_, "ticks-" + std::to_string(nextSeries_++), own);
  if (!FindListing(own->symbol)) {
    Answer(
        "CQGCEL.RequestTicks",
        {TicksResolved(series, MakeError(UNKNOWN_SYMBOL_ERROR, "Unknown symbol: " + own->symbol))});
    return series;
  }
  Notification resolved = TicksResolved(series, nullptr);
  resolved.prepare = [weak = weak_from_this(), series] {
    if (const auto venue = weak.lock()) venue->ResolveTicks(series);
  };
  Answer("CQGCEL.RequestTicks", {std::move(resolved)});
  return series;
}

void Venue::ResolveTicks(const std::shared_ptr<Ticks>& series) {
  const Listing& listing = RequireListing(series->request->symbol);
  series->listing = listing.fullName;
  const auto limit = static_cast<std::size_t>(std::max(0L, series->request->limit));
  const auto from = listing.ticks.size() > limit ? listing.ticks.size() - limit : 0;
  for (auto i = from; i < listing.ticks.size(); ++i) series->Append(listing.ticks[i]);
  allTicks->Add(series);
}

void Venue::RemoveTicks(const std::shared_ptr<cqg::Ticks>& ticks) {
  allTicks->Remove(Own<Ticks>(ticks, "the tick series").get());
}

std::shared_ptr<TimedBarsRequest> Venue::CreateTimedBarsRequest() {
  return std::make_shared<TimedBarsRequest>(servant_);
}

std::shared_ptr<TimedBars> Venue::RequestTimedBars(
    const std::shared_ptr<cqg::TimedBarsRequest>& request) {
  auto own = Own<TimedBarsRequest>(request, "the timed-bars request");
  auto series = std::make_shared<TimedBars>(servant_, "bars-" + std::to_string(nextSeries_++), own);
  std::shared_ptr<cqg::Error> error;
  if (!FindListing(own->symbol)) {
    error = MakeError(UNKNOWN_SYMBOL_ERROR, "Unknown symbol: " + own->symbol);
  } else if (!own->period) {
    error = MakeError(BAD_REQUEST_ERROR,
                      "Neither HistoricalPeriod nor IntradayPeriod of the request is set");
  }
  if (error) {
    Answer("CQGCEL.RequestTimedBars", {TimedBarsResolved(series, error)});
    return series;
  }
  Notification resolved = TimedBarsResolved(series, nullptr);
  resolved.prepare = [weak = weak_from_this(), series] {
    if (const auto venue = weak.lock()) venue->ResolveTimedBars(series);
  };
  Answer("CQGCEL.RequestTimedBars", {std::move(resolved)});
  return series;
}

void Venue::ResolveTimedBars(const std::shared_ptr<TimedBars>& series) {
  Listing& listing = RequireListing(series->request->symbol);
  series->listing = listing.fullName;
  series->period = *series->request->period;
  const long count = std::max(0L, series->request->rangeStart - series->request->rangeEnd);
  const auto& bars = BarsOf(listing, series->period, count);
  const auto from = bars.size() > static_cast<std::size_t>(count) ? bars.size() - count : 0;
  for (auto i = from; i < bars.size(); ++i) series->Append(bars[i]);
  allTimedBars->Add(series);
}

const std::deque<BarSetup>& Venue::BarsOf(Listing& listing, BarPeriod period, long count) {
  auto& bars = listing.bars[period];
  if (!bars.empty()) return bars;
  const std::chrono::microseconds length = LengthOf(period);
  const DateTime last = clock_ - clock_.time_since_epoch() % length;
  const long n = std::max(2L, count);
  const double tick = listing.tickSize;
  double close = listing.last > 0 ? listing.last : (listing.bid > 0 ? listing.bid : 100.0);
  for (long i = 0; i < n; ++i) {
    const double open = close;
    close = open + tick * static_cast<double>(static_cast<long>(random_() % 5) - 2);
    const double high = std::max(open, close) + tick * static_cast<double>(random_() % 2);
    const double low = std::min(open, close) - tick * static_cast<double>(random_() % 2);
    bars.push_back({.timestamp = last - length * (n - 1 - i),
                    .open = open,
                    .high = high,
                    .low = low,
                    .close = close,
                    .volume = static_cast<double>(10 + random_() % 100),
                    .tickVolume = static_cast<double>(1 + random_() % 20)});
  }
  KeepNewest(bars);
  return bars;
}

void Venue::SetBars(const std::string& symbol, std::vector<BarSetup> bars, BarPeriod period) {
  auto& kept = RequireListing(symbol).bars[period];
  kept.assign(std::make_move_iterator(bars.begin()), std::make_move_iterator(bars.end()));
  KeepNewest(kept);
}

void Venue::AddBar(const std::string& symbol, const BarSetup& bar, BarPeriod period) {
  GrowBars(RequireListing(symbol), bar, period);
}

void Venue::GrowBars(Listing& listing, const BarSetup& bar, BarPeriod period) {
  auto& bars = listing.bars[period];
  bars.push_back(bar);
  KeepNewest(bars);
  for (const auto& series : allTimedBars->items()) {
    if (series->listing != listing.fullName || series->period != period ||
        !series->request->updatesEnabled) {
      continue;
    }
    series->Append(bar);
    Emit(TimedBarsAdded(series));
  }
}

void Venue::RaiseBarsAdded(const std::string& symbol, BarPeriod period) {
  const Listing& listing = RequireListing(symbol);
  for (const auto& series : allTimedBars->items()) {
    if (series->listing == listing.fullName && series->period == period) {
      Emit(TimedBarsAdded(series));
    }
  }
}

void Venue::RemoveTimedBars(const std::shared_ptr<cqg::TimedBars>& timedBars) {
  allTimedBars->Remove(Own<TimedBars>(timedBars, "the timed-bars series").get());
}

}  // namespace platform::cqgsim
