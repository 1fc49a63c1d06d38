// VexGate: the CQG gateway, "CQG Integrated Client API".
//
// The client environment (ravelhost.h) makes the one VexGate on its worker
// thread and attaches it to the client's events; the framework's gateway
// object hands itself to Init and then drives the connection from its own
// thread: Logon, subscribe_account_and_positions, the quote, order-book and
// bar subscriptions, place_order and cancel_order, the balance and position
// updates, Logoff. A request clears the event it waits on, sends its request
// through the environment's proxy and waits at most `wait_timeout` for the
// handler of the answer to set the event; Logon, Logoff, place_order and the
// account subscription turn a time-out into a std::runtime_error, the quote,
// order-book and bar subscriptions go on after it. Every handler runs on the
// worker thread and turns the client's events into the framework's records,
// handed to the gateway object there.
//
// Threads: a request that waits for an answer (Logon, Logoff, the
// subscriptions, place_order, the account subscription) and the two updates
// (which hold the module-wide `lock` while the worker serves their calls)
// fail at once with a std::runtime_error when called on the worker thread,
// which could never deliver their answer. The other requests that call the
// client through the environment's proxy (the unsubscriptions, the lookups by
// symbol or account id) fail there at once too, before anything is sent, as
// the client serves its proxy only to other threads; handlers never call
// them. The bar cache, the balance, the positions and the account id are
// guarded by locks of their own, taken only around plain memory work;
// readers get copies.
//
// Lifetimes: VexGate keeps what Init gives it as holds that can be checked.
// Once the environment has been shut down or destroyed, every request fails
// with a std::runtime_error saying so; once the gateway object has been
// destroyed (or retired), requests fail and handlers skip their event with a
// traced error, and none touches the gateway. A null object handed over by
// the client is traced as an error and its event skipped; a fill is handed on
// whenever its event carries one, whatever else in the event is wrong. A
// request whose own call of the client returns no object where one is due
// fails with the traced std::runtime_error "<call> returned no object"
// ("CQGCEL.Accounts returned no object") instead of reaching through nothing;
// unsubscribe_bar and update_account_balance report it like their other
// errors.
//
// Orders: placements are one at a time. The client keeps the GUID an order is
// created with (its events, its fills and Orders know it by that GUID), and
// the gateway relies on it: place_order reads the GUID before Place and
// returns as soon as that order's arrival (ctAdded, or any later event of it
// should the arrival be lost) is seen, asking the client nothing after Place,
// so as not to queue behind the order's own events. Updates of the order may
// therefore reach the gateway object before place_order returns (see
// base_gateway.h). Another order arriving while ours is pending is traced as
// an error and taken as the placed order. A placement that times out, or whose
// Place fails, raises framework::OrderPlacingError carrying the GUID (in its
// text, the order's text form with that order_id, and as order_id()); the
// order stays the gateway's own: its late arrival is traced and handed on
// with all its later events. Any other arrival is "not placed by algo"; its
// later events are handed on too. The quantity must be a whole positive
// number, a LIMIT order's price and a STOP order's stop price positive finite
// numbers (a ValueError naming the field, nothing sent). cancel_order refuses
// on the worker thread like the other proxy calls.
//
// Fills: each normal fill is handed on once: the gateway remembers the fills
// it handed on (the most recent OrderLedger::DEFAULT_CAPACITY of them) and
// skips one reported again, with a traced line, while still handing on the
// order's update. An update survives an empty property: an empty status is
// the last one handed on for the order (UNKNOWN before any), an empty average
// price the last one, an empty filled quantity the larger of the last one and
// the quantity of the fills handed on, an empty time the time the event
// arrived; each is traced once per order. When the gateway connection comes
// up (at log-on and after an outage) the gateway reads the client's orders and
// hands on, for each of its own orders, the update it has not seen and the
// fills it has not handed on.
//
// Lines on standard output: Trace lines, and the plain lines
// "DataConnectionStatus=<n>", "[2] OnTimedBarsAdded: <bar>",
// "orderid <GUID> is not placed by algo" and the balance update's error line
// "<local date-time>: <error>".
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zantrix/core/data.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/balance.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/event.h"
#include "zantrix/framework/gateway_hold.h"
#include "zantrix/framework/order.h"
#include "zantrix/framework/position.h"
#include "zantrix/gateways/cqg/wrapper/order_ledger.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

namespace zantrix::gateways::cqg {

// The bound of every wait on an answer of the client.
inline constexpr std::chrono::seconds TIMEOUT{10};
// The pause of the account subscription between switching account data off
// and on again.
inline constexpr std::chrono::seconds ACCOUNT_RELOAD_PAUSE{2};
// The exchange time zone of the gateway; no time here is converted to it.
inline constexpr std::string_view TIMEZONE = "Asia/Hong_Kong";
// The client's mark of a bar value that is not valid (-2^31).
inline constexpr double INVALID_VALUE = -2147483648.0;
// The bar lengths subscribe_bar accepts.
inline constexpr std::array<std::string_view, 2> FREQ_ALLOWED{"1Day", "1Min"};

// Serialises the balance and position updates of every VexGate of the
// process. Never taken on the worker thread.
extern std::mutex lock;

// The text of a quote type ("Best ask", ...); a KeyError for a type outside
// the table.
std::string_view QuoteType2String(cel::eQuoteType quoteType);
// The text of a tick price type ("Ask price", ...); a KeyError for a type
// outside the table.
std::string_view TickType2String(cel::eTickPriceType tickType);
// The framework's status of a CQG order status; a ValueError for a status
// outside the table.
framework::OrderStatus convert_orderstatus_cqg2zx(cel::eOrderStatus status);

class VexGate : public CELSinkBase {
 public:
  // Made by the environment on its worker thread; remembers that thread.
  VexGate();

  // Takes the gateway object and its environment (gateway.ravelhost, which
  // must be set) as holds (see Lifetimes). Init may be called again to hand
  // the events to another gateway.
  void Init(framework::BaseGateway& gateway);

  // Connection.
  void Logon(const std::string& user_name, const std::string& password);
  // A std::runtime_error when no account has been selected, a ValueError when
  // the selected one was never found; nothing is sent then. An account the
  // client no longer lists (account data switched off) is logged off under
  // the name it had when it was selected.
  void Logoff();
  // The client's account with this id, or null; traces every account it
  // looks at.
  std::shared_ptr<cel::Account> get_account_from_gwaccountid(long GWAccountID);

  // Quotes and order books.
  void subscribe_quote(const std::string& cqg_symbol);
  void unsubscribe_quote(const std::string& cqg_symbol);
  void subscribe_orderbook(const std::string& cqg_symbol);
  void unsubscribe_orderbook(const std::string& cqg_symbol);
  // The subscribed instrument whose full name is the symbol; failing that,
  // the one whose full name holds it as whole "."-separated pieces ("ESZ4"
  // in "F.US.ESZ4", never in "F.US.MESZ4"); null when none does. A ValueError
  // naming them when several contracts do.
  std::shared_ptr<cel::Instrument> get_instrument_from_cqg_symbol(const std::string& cqg_symbol);
  // The same search over the tick requests' symbols.
  std::shared_ptr<cel::Ticks> get_ticks_from_cqg_symbol(const std::string& cqg_symbol);

  // Timed bars: one series per security. `freq` is one of FREQ_ALLOWED; the
  // bar length is recorded when the subscription is made, whether or not its
  // resolution comes in time, and a subscription of the other length for the
  // same security is refused (a ValueError) until unsubscribe_bar. The
  // subscription keeps the series its request returned; a re-subscription
  // first removes that series at the client, then requests the new one. The
  // cache of a security is filled only by the series of its latest request;
  // events of any other series are ignored.
  void subscribe_bar(const std::string& cqg_symbol, long lookback_period,
                     const std::string& freq = "1Min");
  // Removes the series the security's subscription requested, resolved or
  // not (the one found by its symbol when the subscription kept none), and
  // its cache. Errors are reported by framework::safe_call, not raised.
  void unsubscribe_bar(const std::string& cqg_symbol);
  // The cached bars of the security after repair of invalid values (the
  // repair stays in the cache), oldest first; null when there are none. A
  // ValueError when the newest bar cannot be repaired.
  std::optional<std::vector<core::Bar>> get_subscribe_bars_data(const core::Security& security);
  // The same search as get_ticks_from_cqg_symbol over the bar series.
  std::shared_ptr<cel::TimedBars> get_timedbars_from_cqg_symbol(const std::string& cqg_symbol);
  // Traces one bar of the client.
  void dumpBar(const std::shared_ptr<cel::TimedBar>& bar, long index);

  // Orders. place_order returns the GUID of the placed order.
  std::string place_order(const framework::Order& order);
  void cancel_order(const std::string& orderid);

  // Account, balance and positions. The subscription clears
  // eventAccountIsReady, switches account data off and on again, which makes
  // the client reload its accounts, and waits for the reload. Only a reload
  // reported while account data is on sets the event: a client may report
  // one for the switch-off too.
  void subscribe_account_and_positions(long GWAccountID);
  // The account is looked up before account data is switched off (the client
  // drops its accounts then); a missing one is the ValueError, raised after
  // account data has been switched off.
  void unsubscribe_account_and_positions(long GWAccountID);
  // Errors are printed as "<local date-time>: <error>", not raised; the
  // balance is then a new, empty record, unless no account was selected.
  void update_account_balance();
  // Errors are raised; the positions made before one are kept.
  void update_positions();
  framework::AccountBalance account_balance() const;
  std::vector<framework::PositionData> positions() const;
  // The selected account's id; null before the first subscription.
  std::optional<long> GWAccountID() const;
  // The GUID handed from the order's arrival to place_order; null except
  // between the two.
  std::optional<std::string> order_id() const;

  // Handlers of the client's events.
  void OnGWConnectionStatusChanged(cel::eConnectionStatus connectionStatus) override;
  void OnDataConnectionStatusChanged(cel::eConnectionStatus newStatus) override;
  void OnDataError(std::shared_ptr<cel::Error> cqgError,
                   const std::string& errorDescription) override;
  void OnInstrumentResolved(const std::string& symbol,
                            std::shared_ptr<cel::Instrument> cqgInstrument,
                            std::shared_ptr<cel::Error> cqgError) override;
  void OnInstrumentChanged(std::shared_ptr<cel::Instrument> cqgInstrument,
                           std::shared_ptr<cel::Quotes> cqgQuotes,
                           cel::Object cqgInstrumentProperties) override;
  void OnTicksResolved(std::shared_ptr<cel::Ticks> cqgTicks,
                       std::shared_ptr<cel::Error> cqgError) override;
  void OnTicksAdded(std::shared_ptr<cel::Ticks> cqgTicks, long addedTicksCount) override;
  void OnTicksRemoved(std::shared_ptr<cel::Ticks> cqgTicks, long removedTickIndex) override;
  void OnTimedBarsResolved(std::shared_ptr<cel::TimedBars> cqgTimedBars,
                           std::shared_ptr<cel::Error> cqgError) override;
  void OnTimedBarsAdded(std::shared_ptr<cel::TimedBars> cqgTimedBars) override;
  void OnTimedBarsUpdated(std::shared_ptr<cel::TimedBars> cqgTimedBars, long index) override;
  void OnTimedBarsRemoved(std::shared_ptr<cel::TimedBars> cqgTimedBars, long index) override;
  void OnAccountChanged(cel::eAccountChangeType change, std::shared_ptr<cel::Account> cqgAccount,
                        std::shared_ptr<cel::Position> cqgPosition) override;
  void OnOrderChanged(cel::eChangeType changeType, std::shared_ptr<cel::Order> cqgOrder,
                      std::shared_ptr<cel::OrderProperties> oldProperties,
                      std::shared_ptr<cel::Fill> cqgFill,
                      std::shared_ptr<cel::Error> cqgError) override;

  framework::Event eventGatewayIsUp;
  framework::Event eventGatewayIsDown;
  framework::Event eventAccountIsReady;
  framework::Event eventOrderPlaced;
  framework::Event eventQuoteDone;
  framework::Event eventOrderbookDone;
  framework::Event eventBarDone;

  // Test seams: tests shorten these so that time-outs take milliseconds. Set
  // them before the requests they are meant for, on the requesting thread.
  std::chrono::duration<double> wait_timeout = TIMEOUT;
  std::chrono::duration<double> account_reload_pause = ACCOUNT_RELOAD_PAUSE;

 private:
  using GatewayGuard = framework::GatewayHold<framework::BaseGateway>::Guard;

  // One bar subscription: its length, the series its latest request returned
  // (null until the request has returned it), that series' id (claimed by
  // the first series that resolves for the security while the request is on
  // its way), and the cached bars. Ids tell series apart: the worker's
  // object of a series is not the proxy the request returned.
  struct BarSubscription {
    std::string freq;
    std::shared_ptr<cel::TimedBars> timedbars;
    std::optional<std::string> series;
    std::vector<core::Bar> bars;
  };

  // How an order's arrival stands to the placement under way: the placed
  // order itself, another order taken for it (an arrival while ours was
  // pending), the late arrival of a placement that ended unconfirmed, one of
  // the gateway's orders arriving again, or an order placed elsewhere.
  enum class Standing { Placed, Substituted, Late, Known, NotPlacedByAlgo };

  // Fails at once when called on the worker thread.
  void refuse_on_worker(std::string_view request) const;
  // The same for a request that does not wait but calls the client through
  // the proxy, which the client serves only to other threads.
  void refuse_proxy_on_worker(std::string_view request) const;
  // The client; a std::runtime_error when there is none or the environment
  // has been shut down. The pointer keeps the proxy for the length of a call.
  std::shared_ptr<cel::CQGCEL> client() const;
  // The gateway for the life of the guard.
  GatewayGuard hold_gateway() const;
  // The guard's gateway; a std::runtime_error when it has none.
  static framework::BaseGateway& the_gateway(const GatewayGuard& guard);
  // One lookup of the gateway under a guard of its own.
  std::optional<core::Security> security_of(const std::string& cqg_symbol) const;
  Standing arrival_of(const std::string& guid, bool added);
  static std::string guid_of(cel::Order& order, cel::OrderProperties& properties);
  // The order part of an order event: the hand-over of an arrival and the
  // order update. `deal` is the event's normal fill, if any.
  void handle_order_change(framework::BaseGateway& target, cel::eChangeType changeType,
                           const std::shared_ptr<cel::Order>& order,
                           const std::optional<framework::DealUpdate>& deal,
                           framework::DateTime arrival);
  // The order's update as it stands; `fresh_fill` is the quantity of fills
  // about to be handed on with it.
  framework::OrderUpdate make_update(cel::OrderProperties& properties, const std::string& orderid,
                                     double fresh_fill, framework::DateTime arrival);
  void hand_on_deal(framework::BaseGateway& target, const framework::DealUpdate& deal);
  // Hands on what the client's orders show and their lost events did not
  // (worker thread, when the gateway connection is up).
  void reconcile_orders();
  void reconcile_order(framework::BaseGateway& target, cel::Order& order,
                       framework::DateTime arrival);
  // The bar subscription an event of `cqgTimedBars` feeds, claimed for it
  // when its request is still on its way (never for a retired series); null
  // when it feeds none. Under bars_mutex_.
  BarSubscription* subscription_fed_by(const core::Security& security, const std::string& series);
  // The selected account id, or the std::runtime_error of having none.
  long selected_account_id() const;
  // The account with this id, or a ValueError naming it.
  std::shared_ptr<cel::Account> require_account(long GWAccountID);
  void publish_balance(framework::AccountBalance balance);
  void publish_positions(std::vector<framework::PositionData> positions);
  void remove_bar_subscription(const std::string& cqg_symbol);
  core::Bar make_bar(const std::shared_ptr<cel::TimedBar>& bar, const core::Security& security);

  const std::thread::id worker_;

  // Given by Init; read by requests and handlers on either thread.
  std::atomic<std::shared_ptr<ClientHold>> client_hold_;
  std::atomic<std::shared_ptr<framework::GatewayHold<framework::BaseGateway>>> gateway_hold_;

  mutable std::mutex bars_mutex_;
  std::unordered_map<core::Security, BarSubscription> subscribe_bars_data_;
  // The ids of the series subscriptions have let go (removed, or replaced by
  // a new request): an event of one may still be on its way, and must not be
  // taken for the resolution of a request in flight.
  std::unordered_set<std::string> retired_series_;

  mutable std::mutex records_mutex_;
  framework::AccountBalance account_balance_;
  std::vector<framework::PositionData> positions_;
  std::optional<long> account_id_;
  // The selected account's name, once the client has listed it.
  std::optional<std::string> account_name_;

  mutable std::mutex order_mutex_;
  // The GUID of the order being placed, until its arrival takes it.
  std::optional<std::string> pending_guid_;
  std::optional<std::string> order_id_;
  OrderLedger ledger_;
};

}  // namespace zantrix::gateways::cqg
