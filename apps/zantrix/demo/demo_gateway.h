// DemoGateway: the demo's gateway object. It maps the session's securities
// to their CQG symbols and hands every record VexGate gives it to the
// strategy's thread through a queue.
//
// The latest quote and order book of every instrument start out empty.
//
// Threads: the process_* operations run on the CQG worker thread and only
// append to the queue; `drain` runs on the session's thread. The queue keeps
// the records in the order the worker delivered them.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "apps/zantrix/demo/market_tape.h"
#include "zantrix/framework/base_gateway.h"

namespace zantrix::app::demo {

using GatewayEvent = std::variant<core::Quote, core::OrderBook, framework::OrderUpdate,
                                  framework::DealUpdate>;

class DemoGateway final : public framework::BaseGateway {
 public:
  explicit DemoGateway(const std::vector<TapeInstrument>& instruments);

  void process_quote(const core::Quote& quote) override;
  void process_orderbook(const core::OrderBook& orderbook) override;
  void process_order(const framework::OrderUpdate& update) override;
  void process_deal(const framework::DealUpdate& deal) override;

  std::optional<core::Security> get_zx_security_from_cqg_symbol(
      const std::string& cqg_symbol) const override;
  std::string get_cqg_symbol_from_zx_security(const core::Security& security) const override;

  // Everything queued since the last drain, oldest first.
  std::vector<GatewayEvent> drain();

 private:
  void push(GatewayEvent event);

  std::vector<std::pair<std::string, core::Security>> symbols_;
  std::mutex mutex_;
  std::vector<GatewayEvent> queue_;
};

}  // namespace zantrix::app::demo
