#include "zantrix/gateways/recording_gateway.h"

#include <utility>

#include "zantrix/framework/errors.h"

namespace zantrix::gateways {

RecordingGateway::RecordingGateway(const std::vector<Symbol>& symbols) {
  for (const auto& [cqg_symbol, security] : symbols) {
    if (!securities_.try_emplace(cqg_symbol, security).second) {
      throw framework::ValueError("the CQG symbol " + cqg_symbol + " is listed twice");
    }
    if (!symbols_.try_emplace(security, cqg_symbol).second) {
      throw framework::ValueError("the security " + core::to_string(security) + " is listed twice");
    }
    cqg_quotes.open(security);
    cqg_orderbooks.open(security);
  }
}

void RecordingGateway::process_quote(const core::Quote& quote) {
  record(quote);
}

void RecordingGateway::process_orderbook(const core::OrderBook& orderbook) {
  record(orderbook);
}

void RecordingGateway::process_order(const framework::OrderUpdate& update) {
  record(update);
}

void RecordingGateway::process_deal(const framework::DealUpdate& deal) {
  record(deal);
}

std::optional<core::Security> RecordingGateway::get_zx_security_from_cqg_symbol(
    const std::string& cqg_symbol) const {
  const auto it = securities_.find(cqg_symbol);
  if (it == securities_.end()) return std::nullopt;
  return it->second;
}

std::string RecordingGateway::get_cqg_symbol_from_zx_security(
    const core::Security& security) const {
  const auto it = symbols_.find(security);
  if (it == symbols_.end()) throw framework::KeyError(core::to_string(security));
  return it->second;
}

std::vector<RecordingGateway::Recorded> RecordingGateway::calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordingGateway::Recorded> RecordingGateway::take_calls() {
  std::vector<Recorded> taken;
  const std::lock_guard lock(mutex_);
  taken.swap(calls_);
  return taken;
}

void RecordingGateway::record(Call call) {
  const std::lock_guard lock(mutex_);
  calls_.push_back({std::move(call), std::this_thread::get_id()});
}

}  // namespace zantrix::gateways
