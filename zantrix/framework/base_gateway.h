// BaseGateway: the framework's gateway object as the CQG gateway (VexGate)
// uses it, and LatestRecords, the map of the latest quote or order book of
// each security that it keeps for the gateway.
//
// VexGate calls the process_* operations and writes cqg_quotes and
// cqg_orderbooks on the CQG worker thread, while the framework reads them on
// its own: every member here is safe to call from any thread, and an
// implementation must keep its process_* operations so. The process_*
// operations receive copies; the gateway never changes a record it has handed
// over. `ravelhost` is set by whoever owns the client environment before
// VexGate.Init reads it, and is not owned here.
//
// What a gateway object may do in a process_* callback, and what it must not:
// - The engine's thread races the worker: updates and deals of an order may
//   arrive before place_order has returned its id, so an engine that matches
//   them by that id holds what it cannot match yet until the id is known
//   (OwnOrders in zantrix/gateways/own_orders.h does this). An order whose
//   placement could not be confirmed is still the engine's: its id comes
//   with the framework::OrderPlacingError that place_order raised.
// - Every gateway call waits on the worker thread, which runs these
//   callbacks. So a callback must not call the gateway (VexGate refuses such a
//   call on the worker thread), and a gateway object must never hold, across
//   a gateway call, a lock that its process_* operations also take: the two
//   threads would wait for each other for ever.
// - A callback records or queues what it receives and returns; the engine
//   acts on it (cancels, places) from its own thread.
// - A fill is handed on once (process_deal); the same fill reported again by
//   the client is not. A deal's deal_id is the venue's fill id: an engine
//   that restarts can refuse a deal id it has already stored.
//
// A sink calls the gateway back only through its hold (gateway_hold.h), so
// that no callback reaches a gateway that has been destroyed: the hold is
// released by the destructor, or by retire(), which a derived gateway whose
// callbacks use its own members calls first thing in its destructor.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "zantrix/core/data.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/gateway_hold.h"

namespace zantrix::gateways::cqg {
class Ravelhost;
}

namespace zantrix::framework {

// The latest record of each security, or null before its first one. A
// security has an entry once open() gave it one (the gateway opens an entry
// for every security whose quotes or order book it subscribes); reading a
// security without an entry is a KeyError naming it.
template <class Record>
class LatestRecords {
 public:
  // Gives `security` a null entry unless it has one.
  void open(const core::Security& security) {
    const std::lock_guard lock(mutex_);
    records_.try_emplace(security);
  }

  bool contains(const core::Security& security) const {
    const std::lock_guard lock(mutex_);
    return records_.contains(security);
  }

  std::optional<Record> at(const core::Security& security) const {
    const std::lock_guard lock(mutex_);
    const auto it = records_.find(security);
    if (it == records_.end()) throw KeyError(core::to_string(security));
    return it->second;
  }

  void store(const core::Security& security, Record record) {
    const std::lock_guard lock(mutex_);
    records_.insert_or_assign(security, std::optional<Record>(std::move(record)));
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<core::Security, std::optional<Record>> records_;
};

// The named values of an order update.
struct OrderUpdate {
  std::string order_id;
  DateTime updated_time;
  double filled_avg_price;
  double filled_quantity;
  OrderStatus status;

  friend bool operator==(const OrderUpdate&, const OrderUpdate&) = default;
};

// The named values of a deal: one fill of an order.
struct DealUpdate {
  std::string deal_id;
  std::string order_id;
  DateTime updated_time;
  double filled_avg_price;
  double filled_quantity;

  friend bool operator==(const DealUpdate&, const DealUpdate&) = default;
};

class BaseGateway {
 public:
  BaseGateway() = default;
  // Releases the hold: waits for callbacks under way, refuses later ones.
  virtual ~BaseGateway();
  BaseGateway(const BaseGateway&) = delete;
  BaseGateway& operator=(const BaseGateway&) = delete;

  // A quote that carries a last price, or both a bid and an ask.
  virtual void process_quote(const core::Quote& quote) = 0;
  // A top-of-book with both sides' level-1 prices and volumes.
  virtual void process_orderbook(const core::OrderBook& orderbook) = 0;
  virtual void process_order(const OrderUpdate& update) = 0;
  virtual void process_deal(const DealUpdate& deal) = 0;

  // The security a CQG symbol ("EPZ4") stands for; null for a symbol the
  // gateway does not trade.
  virtual std::optional<core::Security> get_zx_security_from_cqg_symbol(
      const std::string& cqg_symbol) const = 0;
  // The CQG symbol of a security; a KeyError for one the gateway does not
  // trade.
  virtual std::string get_cqg_symbol_from_zx_security(const core::Security& security) const = 0;

  // What a sink keeps of this gateway.
  const std::shared_ptr<GatewayHold<BaseGateway>>& hold() const { return hold_; }
  // Ends callbacks into this gateway now: those under way finish first.
  void retire() { hold_->release(); }

  gateways::cqg::Ravelhost* ravelhost = nullptr;
  LatestRecords<core::Quote> cqg_quotes;
  LatestRecords<core::OrderBook> cqg_orderbooks;

 private:
  const std::shared_ptr<GatewayHold<BaseGateway>> hold_ =
      std::make_shared<GatewayHold<BaseGateway>>(*this);
};

}  // namespace zantrix::framework
