#include "apps/zantrix/demo/demo_gateway.h"

#include <utility>

#include "zantrix/framework/errors.h"

namespace zantrix::app::demo {

DemoGateway::DemoGateway(const std::vector<TapeInstrument>& instruments) {
  for (const auto& instrument : instruments) {
    symbols_.emplace_back(instrument.cqg_symbol, instrument.security);
    cqg_quotes.open(instrument.security);
    cqg_orderbooks.open(instrument.security);
  }
}

void DemoGateway::process_quote(const core::Quote& quote) {
  push(quote);
}

void DemoGateway::process_orderbook(const core::OrderBook& orderbook) {
  push(orderbook);
}

void DemoGateway::process_order(const framework::OrderUpdate& update) {
  push(update);
}

void DemoGateway::process_deal(const framework::DealUpdate& deal) {
  push(deal);
}

std::optional<core::Security> DemoGateway::get_zx_security_from_cqg_symbol(
    const std::string& cqg_symbol) const {
  for (const auto& [symbol, security] : symbols_) {
    if (symbol == cqg_symbol) return security;
  }
  return std::nullopt;
}

std::string DemoGateway::get_cqg_symbol_from_zx_security(const core::Security& security) const {
  for (const auto& [symbol, known] : symbols_) {
    if (known == security) return symbol;
  }
  throw framework::KeyError(core::to_string(security));
}

std::vector<GatewayEvent> DemoGateway::drain() {
  std::vector<GatewayEvent> taken;
  const std::lock_guard guard(mutex_);
  taken.swap(queue_);
  return taken;
}

void DemoGateway::push(GatewayEvent event) {
  const std::lock_guard guard(mutex_);
  queue_.push_back(std::move(event));
}

}  // namespace zantrix::app::demo
