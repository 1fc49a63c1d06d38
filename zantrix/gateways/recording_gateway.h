// RecordingGateway: the framework's gateway object for tests and the demo.
//
// It maps the CQG symbols of its table to securities and back, opens the
// latest-quote and latest-order-book entries of every security in the table,
// and records every process_* call in the order the calls came, with the
// thread that made each. The table is fixed at construction, so lookups take
// no lock; the record is guarded, read as a copy or taken away whole.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include "zantrix/core/data.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/base_gateway.h"

namespace zantrix::gateways {

class RecordingGateway final : public framework::BaseGateway {
 public:
  struct Symbol {
    std::string cqg_symbol;
    core::Security security;
  };

  using Call =
      std::variant<core::Quote, core::OrderBook, framework::OrderUpdate, framework::DealUpdate>;

  struct Recorded {
    Call call;
    std::thread::id thread;
  };

  // A ValueError when a symbol or a security appears twice.
  explicit RecordingGateway(const std::vector<Symbol>& symbols);
  // Ends callbacks before the record they write to goes.
  ~RecordingGateway() override { retire(); }
  RecordingGateway(const RecordingGateway&) = delete;
  RecordingGateway& operator=(const RecordingGateway&) = delete;

  void process_quote(const core::Quote& quote) override;
  void process_orderbook(const core::OrderBook& orderbook) override;
  void process_order(const framework::OrderUpdate& update) override;
  void process_deal(const framework::DealUpdate& deal) override;

  std::optional<core::Security> get_zx_security_from_cqg_symbol(
      const std::string& cqg_symbol) const override;
  std::string get_cqg_symbol_from_zx_security(const core::Security& security) const override;

  std::vector<Recorded> calls() const;
  // The recorded calls, oldest first, leaving the record empty: a consumer on
  // another thread takes what came since its last take.
  std::vector<Recorded> take_calls();
  // The recorded calls of one kind, in order.
  std::vector<core::Quote> quotes() const { return recorded<core::Quote>(); }
  std::vector<core::OrderBook> orderbooks() const { return recorded<core::OrderBook>(); }
  std::vector<framework::OrderUpdate> orders() const { return recorded<framework::OrderUpdate>(); }
  std::vector<framework::DealUpdate> deals() const { return recorded<framework::DealUpdate>(); }

 private:
  template <class T>
  std::vector<T> recorded() const {
    const std::lock_guard lock(mutex_);
    std::vector<T> found;
    for (const auto& entry : calls_) {
      if (const auto* call = std::get_if<T>(&entry.call)) found.push_back(*call);
    }
    return found;
  }

  void record(Call call);

  std::unordered_map<std::string, core::Security> securities_;
  std::unordered_map<core::Security, std::string> symbols_;
  mutable std::mutex mutex_;
  std::vector<Recorded> calls_;
};

}  // namespace zantrix::gateways
