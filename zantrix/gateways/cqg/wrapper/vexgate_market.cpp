// VexGate: quote and order-book subscriptions, and the quote and tick events
// that become the gateway's Quote and OrderBook records.
#include <algorithm>
#include <optional>
#include <string>

#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

namespace {

std::optional<std::string_view> quote_type_text(cel::eQuoteType quoteType) {
  switch (quoteType) {
    case cel::qtAsk:
      return "Best ask";
    case cel::qtBid:
      return "Best bid";
    case cel::qtCohUndAsk:
      return "Coherent underlying price for the best ask";
    case cel::qtCohUndBid:
      return "Coherent underlying price for the best bid";
    case cel::qtDayHigh:
      return "Current day high price";
    case cel::qtDayLow:
      return "Current day low price";
    case cel::qtDayOpen:
      return "Day open price";
    case cel::qtImpliedAsk:
      return "Implied best ask";
    case cel::qtImpliedBid:
      return "Implied best bid";
    case cel::qtIndicativeOpen:
      return "Indicative open";
    case cel::qtMarker:
      return "Marker price";
    case cel::qtOutrightAsk:
      return "Outright best ask";
    case cel::qtOutrightBid:
      return "Outright best bid";
    case cel::qtSettlement:
      return "Settlement price";
    case cel::qtTodayMarker:
      return "Marker price";
    case cel::qtTrade:
      return "Last trade price";
    case cel::qtYesterdaySettlement:
      return "Yesterday's settlement price";
  }
  return std::nullopt;
}

// The Quote field a quote type sets, by its text; null for a type that sets
// none.
double core::Quote::*quote_field(std::string_view text) {
  if (text == "Last trade price") return &core::Quote::last_price;
  if (text == "Best bid") return &core::Quote::bid_price;
  if (text == "Best ask") return &core::Quote::ask_price;
  if (text == "Day open price") return &core::Quote::open_price;
  if (text == "Current day high price") return &core::Quote::high_price;
  if (text == "Current day low price") return &core::Quote::low_price;
  if (text == "Yesterday's settlement price") return &core::Quote::prev_close_price;
  return nullptr;
}

// A security that names no exchange is routed.
framework::Exchange exchange_of(const core::Security& security) {
  return security.exchange().value_or(framework::Exchange::SMART);
}

}  // namespace

std::string_view QuoteType2String(cel::eQuoteType quoteType) {
  if (const auto text = quote_type_text(quoteType)) return *text;
  throw framework::KeyError(std::to_string(static_cast<long>(quoteType)));
}

std::string_view TickType2String(cel::eTickPriceType tickType) {
  switch (tickType) {
    case cel::tptAsk:
      return "Ask price";
    case cel::tptBid:
      return "Bid price";
    case cel::tptSettlement:
      return "Settlement price";
    case cel::tptTrade:
      return "Trade price";
  }
  throw framework::KeyError(std::to_string(static_cast<long>(tickType)));
}

void VexGate::subscribe_quote(const std::string& cqg_symbol) {
  refuse_on_worker("subscribe_quote");
  eventQuoteDone.clear();
  client()->NewInstrument(cqg_symbol);
  Trace("Waiting for eventQuoteDone in subscribe_quote(" + cqg_symbol + ")...");
  eventQuoteDone.wait(wait_timeout);
  Trace("eventQuoteDone is done.");
}

void VexGate::unsubscribe_quote(const std::string& cqg_symbol) {
  refuse_proxy_on_worker("unsubscribe_quote");
  const auto instrument = get_instrument_from_cqg_symbol(cqg_symbol);
  if (!instrument) return;
  client()->RemoveInstrument(instrument);
  eventQuoteDone.clear();
  Trace("Successfully unsubscribe quote for " + cqg_symbol);
}

void VexGate::subscribe_orderbook(const std::string& cqg_symbol) {
  refuse_on_worker("subscribe_orderbook");
  const auto request =
      detail::returned(client()->CreateTicksRequest(), "CQGCEL.CreateTicksRequest");
  request->put_Symbol(cqg_symbol);
  request->put_Type(cel::trtCurrentNotify);
  request->put_TickFilter(cel::tfAll);
  request->put_SessionsFilter(31);
  request->put_Limit(10);
  Trace("Limit: " + std::to_string(request->Limit()));
  eventOrderbookDone.clear();
  client()->RequestTicks(request);
  Trace("Waiting for eventOrderbookDone in subscribe_orderbook(" + cqg_symbol + ")...");
  eventOrderbookDone.wait(wait_timeout);
  Trace("eventOrderbookDone is done.");
}

void VexGate::unsubscribe_orderbook(const std::string& cqg_symbol) {
  refuse_proxy_on_worker("unsubscribe_orderbook");
  const auto ticks = get_ticks_from_cqg_symbol(cqg_symbol);
  if (!ticks) return;
  client()->RemoveTicks(ticks);
  eventOrderbookDone.clear();
  Trace("Successfully unsubscribe orderbook for " + cqg_symbol);
}

std::shared_ptr<cel::Instrument> VexGate::get_instrument_from_cqg_symbol(
    const std::string& cqg_symbol) {
  refuse_proxy_on_worker("get_instrument_from_cqg_symbol");
  const auto instruments = detail::returned(client()->Instruments(), "CQGCEL.Instruments");
  return detail::find_by_symbol(
      instruments->Count(), cqg_symbol, [&](long i) { return instruments->ItemByIndex(i); },
      [](cel::Instrument& instrument) { return instrument.FullName(); });
}

std::shared_ptr<cel::Ticks> VexGate::get_ticks_from_cqg_symbol(const std::string& cqg_symbol) {
  refuse_proxy_on_worker("get_ticks_from_cqg_symbol");
  const auto all = detail::returned(client()->AllTicks(), "CQGCEL.AllTicks");
  return detail::find_by_symbol(
      all->Count(), cqg_symbol, [&](long i) { return all->ItemByIndex(i); },
      [](cel::Ticks& ticks) {
        return detail::returned(ticks.Request(), "Ticks.Request")->Symbol();
      });
}

void VexGate::OnInstrumentResolved(const std::string& /*symbol*/,
                                   std::shared_ptr<cel::Instrument> cqgInstrument,
                                   std::shared_ptr<cel::Error> cqgError) {
  if (!cqgError && cqgInstrument) cqgInstrument->put_DataSubscriptionLevel(cel::dsQuotesAndBBA);
  eventQuoteDone.set();
}

// Each valid quote of a known type makes a new copy of the security's latest
// Quote, stored back; the copy is handed on once it has a last price or both
// a bid and an ask.
void VexGate::OnInstrumentChanged(std::shared_ptr<cel::Instrument> cqgInstrument,
                                  std::shared_ptr<cel::Quotes> cqgQuotes,
                                  cel::Object /*cqgInstrumentProperties*/) {
  const auto guard = hold_gateway();
  auto& target = the_gateway(guard);
  const auto instrument = detail::require(cqgInstrument, "instrument");
  // Every quote of the notification belongs to the one instrument: its
  // security is looked up once, at the first valid quote.
  std::optional<std::optional<core::Security>> mapped;
  const long count = detail::require(cqgQuotes, "quotes collection")->Count();
  for (long i = 0; i < count; ++i) {
    const auto quote = cqgQuotes->ItemByIndex(i);
    if (!quote || !quote->IsValid()) continue;
    if (!mapped) {
      const std::string full_name = instrument->FullName();
      mapped = target.get_zx_security_from_cqg_symbol(std::string(detail::last_piece(full_name)));
    }
    if (!*mapped) return;
    const core::Security& security = **mapped;
    const auto stored = target.cqg_quotes.at(security);
    std::optional<framework::DateTime> now;
    const auto clock = [&now] {
      if (!now) now = framework::local_now();
      return *now;
    };
    core::Quote record =
        stored ? *stored
               : core::Quote{
                     .security = security, .exchange = exchange_of(security), .datetime = clock()};
    const auto text = quote_type_text(quote->Type());
    if (!text) continue;
    if (const auto field = quote_field(*text)) {
      record.*field = quote->Price();
      record.datetime = clock();
    }
    target.cqg_quotes.store(security, record);
    if (record.last_price != 0 || (record.bid_price != 0 && record.ask_price != 0)) {
      target.process_quote(record);
    }
  }
}

void VexGate::OnTicksResolved(std::shared_ptr<cel::Ticks> /*cqgTicks*/,
                              std::shared_ptr<cel::Error> /*cqgError*/) {
  eventOrderbookDone.set();
}

// Each newly added tick makes a new copy of the security's latest OrderBook;
// bid and ask ticks set level 1 of their side. The copy is handed on once
// both sides have a price and a volume.
void VexGate::OnTicksAdded(std::shared_ptr<cel::Ticks> cqgTicks, long addedTicksCount) {
  const auto guard = hold_gateway();
  auto& target = the_gateway(guard);
  const auto ticks = detail::require(cqgTicks, "ticks object");
  const long count = ticks->Count();
  const auto security = target.get_zx_security_from_cqg_symbol(
      detail::require(ticks->Request(), "tick request")->Symbol());
  if (!security) return;
  for (long i = std::max(0L, count - addedTicksCount); i < count; ++i) {
    const auto tick = ticks->Item(i);
    if (!tick) continue;
    const auto stored = target.cqg_orderbooks.at(*security);
    core::OrderBook record = stored ? *stored
                                    : core::OrderBook{.security = *security,
                                                      .exchange = exchange_of(*security),
                                                      .datetime = framework::local_now()};
    const auto text = TickType2String(tick->PriceType());
    if (text == "Ask price") {
      record.ask_volume_1 = static_cast<double>(tick->Volume());
      record.ask_price_1 = tick->Price();
      record.datetime = framework::local_now();
    } else if (text == "Bid price") {
      record.bid_volume_1 = static_cast<double>(tick->Volume());
      record.bid_price_1 = tick->Price();
      record.datetime = framework::local_now();
    }
    target.cqg_orderbooks.store(*security, record);
    if (record.bid_price_1 != 0 && record.ask_price_1 != 0 && record.bid_volume_1 != 0 &&
        record.ask_volume_1 != 0) {
      target.process_orderbook(record);
    }
  }
}

void VexGate::OnTicksRemoved(std::shared_ptr<cel::Ticks> /*cqgTicks*/, long /*removedTickIndex*/) {}

}  // namespace zantrix::gateways::cqg
