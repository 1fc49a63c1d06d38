// Venue: the market, the accounts and the order book behind one simulated
// client, and the events they raise.
//
// Everything here runs on the client's thread. Requests of the library
// (served by CQGCEL and its objects) change what they change at once and
// answer with events through the script (script.h: a test may replace, drop
// or hold an answer); the change an event reports is made when the event is
// delivered (Notification::prepare). The simulator's own actions (a new
// quote, a completed bar, a position, a status) emit their events, which are
// delivered to the sinks before the action returns; so are the events that
// follow from delivering another (a fill after an order reaches the book, a
// position after a fill), right after it.
//
// Instruments are known by their full name ("F.US.EPZ4"); a symbol names one
// when it is the full name or its part after the last "." ("EPZ4"). A symbol
// that names no instrument resolves with an error. Market model:
// - a market order fills at the ask (buy) or the bid (sell) once there is
//   one; a limit order fills at the opposite quote once that reaches its
//   price; a stop order once the opposite quote reaches its stop price;
// - a trade fills the order's whole remaining quantity, or a part of it when
//   partial fills are asked for, and the order stays in the book until it is
//   filled in full; each fill has an id of its own, moves the account's
//   position in the instrument and, when normal, enters the script's fill
//   journal (script.h) once, when the event that reports it is delivered;
// - bid, ask, trade and settlement quotes also become ticks; an instrument
//   keeps at least its newest TICK_HISTORY ticks for new tick requests, and
//   so does each tick series (at most twice as many, the oldest dropped
//   first), however long the market runs;
// - a bar series with no bars set is generated, like RunMarket's quotes,
//   from the seeded random sequence; the same seed and the same calls give
//   the same session, GUIDs and time stamps included;
// - an instrument keeps at most its newest BAR_HISTORY bars of each period,
//   the oldest dropped first as bars are added (a request asking for more
//   gets those), and a bar series at most the bars its request asked for plus
//   the bar still forming (timed_bars.h), so that a replay of any length
//   holds the same bars in memory;
// - a replayed bar (ReplayBar) is traded through before it completes: the
//   market walks its open, its low then its high (its high then its low when
//   it closes below its open) and its close, each point a bid at the price,
//   an ask one tick above and a trade at the price, whose events and fills
//   are delivered before the next point is made.
// An account added with starting cash has books: a fill that reduces or
// reverses its position realizes the closed quantity times the fill's
// distance from the average price, signed by the side closed, times the
// instrument's point value; a position's OTE marks it to the instrument's
// last trade (to its own last fill while there is none). Its summary holds,
// at index 0 and 1 alike: balance = starting cash + realized P&L, P&L =
// realized, UPL = OTE = the positions' OTE, NLV = balance + UPL, collaterals
// and maintenance margin 0. The books revalue the position when a fill is
// reported and when a trade moves the instrument's last price; they overwrite
// what SetSummary or SetPosition set then. Accounts without starting cash
// keep exactly the figures they are given.
// Time stamps come from the venue's clock, which starts at 2024-03-05
// 09:30:00 and moves 250 milliseconds with each stamped event; a replayed
// bar moves it forward to the bar's start, and to its end (its time stamp)
// once it has completed, so that whatever follows the bar is stamped after it.
//
// The client's quirks (quirks.h) change some of this when a test asks: the
// answers of a request raised during the call, an order filled in its
// arrival, accounts dropped while account data is off, a GUID that changes at
// Place, and order events that get an object or a property wrong. Like a real
// venue it also misbehaves on cue, or at random at the rates of a
// Misbehaviour: a trade fills part of an order; a fill already reported comes
// again, the same object with the same id, on a later ctChanged of its order
// and changes nothing; Place fails with a ComError (RPC_E_DISCONNECTED)
// after its order has reached the venue, whose events follow as usual.
//
// While the gateway connection is down (from the delivery of a
// csConnectionDown set by SetGWConnectionStatus to that of a csConnectionUp)
// the client loses its OnOrderChanged events: no sink hears them and none is
// replayed later, but what they report happens (orders fill, positions move,
// the journal records), and Orders, each order's properties and its Fills
// show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/cqgsim/account.h"
#include "platform/cqgsim/instrument.h"
#include "platform/cqgsim/notification.h"
#include "platform/cqgsim/order.h"
#include "platform/cqgsim/quirks.h"
#include "platform/cqgsim/servant.h"
#include "platform/cqgsim/ticks.h"
#include "platform/cqgsim/timed_bars.h"
#include "zantrix/framework/cqg/cel.h"
#include "zantrix/framework/datetime.h"

namespace platform::cqgsim {

// Error codes of the events that report a failed request.
inline constexpr long UNKNOWN_SYMBOL_ERROR = 1;
inline constexpr long BAD_REQUEST_ERROR = 2;
inline constexpr long ORDER_NOT_WORKING_ERROR = 3;

inline constexpr std::size_t TICK_HISTORY = 10'000;
inline constexpr std::size_t BAR_HISTORY = 10'000;

struct InstrumentSetup {
  std::string fullName;
  double bid = 0;
  double ask = 0;
  double last = 0;
  long bidVolume = 0;
  long askVolume = 0;
  // The step of RunMarket's prices and of generated bars, and the spread of
  // a replayed bar's quotes.
  double tickSize = 0.25;
  // The money value of one unit of price per unit of quantity (50 for an
  // index future, 1 for a share).
  double pointValue = 1;
};

// One changed quote. An invalid quote is handed to sinks as it is and changes
// nothing else.
struct QuoteUpdate {
  zantrix::framework::cqg::eQuoteType type;
  double price;
  long volume = 0;
  bool valid = true;
};

// An account with starting cash has books, whose figures replace `summary`.
struct AccountSetup {
  long id;
  std::string name;
  SummarySetup summary = {};
  std::optional<double> startingCash = std::nullopt;
};

// A position's side follows the sign of its quantity unless given.
struct PositionSetup {
  std::string instrumentName;
  double averagePrice;
  long quantity;
  double ote = 0;
  double profitLoss = 0;
  std::optional<zantrix::framework::cqg::eOrderSide> side = std::nullopt;
};

// One order of the client as it stands.
struct OrderSnapshot {
  std::string guid;
  bool manual;
  // The instrument's full name.
  std::string instrument;
  zantrix::framework::cqg::eOrderSide side;
  long quantity;
  long filledQuantity;
  zantrix::framework::cqg::eOrderStatus status;
};

// One position of an account, signed: negative when short.
struct PositionSnapshot {
  long accountId;
  std::string instrument;
  long quantity;
};

// A market order entered on the account by hand, outside the gateway. An
// order that is not announced reaches the client's orders without a ctAdded
// event: its first event is its acceptance.
struct ManualOrderSetup {
  long accountId;
  std::string symbol;
  zantrix::framework::cqg::eOrderSide side;
  long quantity;
  bool announced = true;
};

class Venue : public std::enable_shared_from_this<Venue> {
 public:
  // How the venue's events leave it: `post` queues an answer for later
  // delivery on the client's thread; `deliver` hands an event to the sinks
  // now.
  struct Outlet {
    std::function<void(Notification)> post;
    std::function<void(const Notification&)> deliver;
  };

  explicit Venue(Servant servant);
  void Bind(Outlet outlet);

  // Delivers every emitted event, in order, with whatever follows from them.
  void Flush();

  const std::shared_ptr<Accounts> accounts;
  const std::shared_ptr<Instruments> instruments;
  const std::shared_ptr<Orders> orders;
  const std::shared_ptr<TicksCollection> allTicks;
  const std::shared_ptr<TimedBarsCollection> allTimedBars;
  zantrix::framework::cqg::eAccountSubscriptionLevel accountLevel =
      zantrix::framework::cqg::aslNone;

  // Requests of the library.
  void GWLogon();
  void GWLogoff();
  void SetAccountSubscriptionLevel(zantrix::framework::cqg::eAccountSubscriptionLevel level);
  void NewInstrument(const std::string& symbol);
  void RemoveInstrument(const std::shared_ptr<zantrix::framework::cqg::Instrument>& instrument);
  std::shared_ptr<TicksRequest> CreateTicksRequest();
  std::shared_ptr<Ticks> RequestTicks(
      const std::shared_ptr<zantrix::framework::cqg::TicksRequest>& request);
  void RemoveTicks(const std::shared_ptr<zantrix::framework::cqg::Ticks>& ticks);
  std::shared_ptr<TimedBarsRequest> CreateTimedBarsRequest();
  std::shared_ptr<TimedBars> RequestTimedBars(
      const std::shared_ptr<zantrix::framework::cqg::TimedBarsRequest>& request);
  void RemoveTimedBars(const std::shared_ptr<zantrix::framework::cqg::TimedBars>& timedBars);
  std::shared_ptr<Order> CreateOrder(
      zantrix::framework::cqg::eOrderType type,
      const std::shared_ptr<zantrix::framework::cqg::Instrument>& instrument,
      const std::shared_ptr<zantrix::framework::cqg::Account>& account, long quantity,
      zantrix::framework::cqg::eOrderSide side, std::optional<double> limitPrice,
      std::optional<double> stopPrice);
  void Place(const std::shared_ptr<Order>& order);
  void Cancel(const std::shared_ptr<Order>& order);

  // The simulator's actions.
  void SetQuirks(const Quirks& quirks);
  // The next order event raised gets `defect` wrong (quirks.h).
  void DefectNextOrderEvent(OrderEventDefect defect);
  void Seed(std::uint64_t seed);
  void SetClock(zantrix::framework::DateTime time);
  void SetGWConnectionStatus(zantrix::framework::cqg::eConnectionStatus status);
  void SetDataConnectionStatus(zantrix::framework::cqg::eConnectionStatus status);
  void DefineInstrument(const InstrumentSetup& setup);
  void SetQuotes(const std::string& symbol, const std::vector<QuoteUpdate>& quotes);
  void AddTicks(const std::string& symbol, const std::vector<TickSetup>& ticks);
  // `steps` random quote changes (a bid, an ask or a trade each), each
  // delivered before the next is made.
  void RunMarket(const std::string& symbol, long steps);
  // The bars of the symbol's series of `period`, oldest first; the last one
  // is the bar still forming. Only the newest BAR_HISTORY are kept.
  void SetBars(const std::string& symbol, std::vector<BarSetup> bars, BarPeriod period);
  // `bar` starts forming; the one before it has completed. Series that take
  // updates grow by it and are told (OnTimedBarsAdded).
  void AddBar(const std::string& symbol, const BarSetup& bar, BarPeriod period);
  // Tells the series of the symbol again that a bar was added, with no new bar.
  void RaiseBarsAdded(const std::string& symbol, BarPeriod period);
  // Replays a stored bar whose time stamp is the one its history gives it:
  // the clock moves to the bar's start (never back), the market walks the
  // bar's path, each point delivered before the next; then `bar` replaces
  // the forming bar of the symbol's bars of `period` and of every series
  // that takes updates (OnTimedBarsUpdated, delivered at once), and a flat
  // bar at its close, one period later, starts forming as AddBar adds one.
  void ReplayBar(const std::string& symbol, const BarSetup& bar, BarPeriod period);
  void AddAccount(const AccountSetup& setup);
  void SetSummary(long accountId, const SummarySetup& figures);
  void SetPosition(long accountId, const PositionSetup& setup);
  // The next order to reach the venue is rejected (osRejectGW).
  void RejectNextOrder();
  void SetOrderStatus(const std::string& guid, zantrix::framework::cqg::eOrderStatus status);
  void FillOrder(const std::string& guid, double price,
                 zantrix::framework::cqg::eFillStatus fillStatus);
  void RemoveOrder(const std::string& guid);
  void PlaceManualOrder(const ManualOrderSetup& setup);

  // Misbehaviour (venue_misbehaviour.cpp). The rates apply from now on.
  void SetMisbehaviour(const Misbehaviour& rates);
  // The next Place fails once its order has reached the venue.
  void FailNextPlaceAfterArrival();
  // The order's latest fill is carried again by a ctChanged of the order;
  // an order that holds no fill is an error.
  void RepeatFill(const std::string& guid);

  // The client's orders, and the positions of every account, the ones dropped
  // while account data is off included.
  std::vector<OrderSnapshot> OrderSnapshots() const;
  std::vector<PositionSnapshot> PositionSnapshots() const;

 private:
  struct Listing {
    std::string fullName;
    double tickSize;
    double pointValue = 1;
    double bid = 0;
    double ask = 0;
    double last = 0;
    double settlement = 0;
    long bidVolume = 0;
    long askVolume = 0;
    long lastVolume = 0;
    std::vector<TickSetup> ticks = {};
    std::map<BarPeriod, std::deque<BarSetup>> bars = {};
  };

  Listing* FindListing(const std::string& symbol);
  Listing& RequireListing(const std::string& symbol);
  std::shared_ptr<Account> RequireAccount(long accountId);
  std::shared_ptr<Order> RequireOrder(const std::string& guid);

  void Answer(std::string_view member, std::vector<Notification> usual);
  void Emit(Notification notification);
  zantrix::framework::DateTime Stamp();

  void ApplyQuotes(Listing& listing, const std::vector<QuoteUpdate>& quotes);
  void AppendTicks(Listing& listing, const std::vector<TickSetup>& ticks);
  const std::deque<BarSetup>& BarsOf(Listing& listing, BarPeriod period, long count);
  // `bar` starts forming in the listing's bars and in every series that
  // takes updates, which are told (OnTimedBarsAdded).
  void GrowBars(Listing& listing, const BarSetup& bar, BarPeriod period);
  // `bar` replaces the forming bar of the listing's bars and of every series
  // that takes updates, which are told (OnTimedBarsUpdated).
  void CompleteBar(Listing& listing, const BarSetup& bar, BarPeriod period);
  void ResolveTicks(const std::shared_ptr<Ticks>& series);
  void ResolveTimedBars(const std::shared_ptr<TimedBars>& series);

  // What an order event reports, settled when it is delivered.
  struct OrderReport {
    std::shared_ptr<Fill> fill = nullptr;
    std::shared_ptr<zantrix::framework::cqg::Error> error = nullptr;
    std::optional<OrderEventDefect> defect = std::nullopt;
    // A fill reported again, which is not repeated in turn.
    bool repeat = false;
  };
  // The change an order event reports, made when it is delivered.
  using OrderChange = std::function<void(Venue&, OrderReport&)>;

  // The order's next events once it has reached the venue.
  void Submit(const std::shared_ptr<Order>& order, bool answered, bool announced);
  Notification Acceptance(const std::shared_ptr<Order>& order);
  void Accept(const std::shared_ptr<Order>& order);
  // Accepts and fills the order at once when it can trade; null otherwise.
  std::shared_ptr<Fill> FillOnArrival(const std::shared_ptr<Order>& order);
  void MatchOrders(const Listing& listing);
  std::optional<double> FillPrice(const Order& order) const;
  void EmitFill(const std::shared_ptr<Order>& order, double price,
                zantrix::framework::cqg::eFillStatus fillStatus, long quantity);
  std::shared_ptr<Fill> MakeFill(const std::shared_ptr<Order>& order, double price,
                                 zantrix::framework::cqg::eFillStatus fillStatus, long quantity);
  // What a reported normal fill does to the order, the journal and the books.
  void ApplyFill(Order& order, const std::shared_ptr<Fill>& reported);
  // An OnOrderChanged event whose `change` settles, on delivery, what it
  // reports; the next defect asked for (if any) is applied to it, and the
  // random misbehaviour is drawn once `change` has been made. It is lost
  // while the gateway connection is down.
  Notification OrderEvent(zantrix::framework::cqg::eChangeType changeType,
                          const std::shared_ptr<Order>& order, OrderChange change);

  // Whether a fault of `rate` happens now; draws only when the rate is above 0.
  bool Chance(double rate);
  // The quantity a trade of the order fills.
  long TradeQuantity(const Order& order);
  // A ctChanged of the order carrying its latest fill again.
  Notification Repetition(const std::shared_ptr<Order>& order);
  // The random defect of an order event, and a repetition after it.
  void Misbehave(const std::shared_ptr<Order>& order, OrderReport& report);
  void RepeatFillsAfterReload();
  void MovePosition(const Order& order, const Fill& fill);
  void JournalFill(const Order& order, const Fill& fill);
  void EmitPositionChange(const std::shared_ptr<Account>& account,
                          const std::shared_ptr<Position>& position, bool added);
  std::string NextGuid();

  // The books of an account added with starting cash.
  struct Books {
    std::shared_ptr<Account> account;
    double startingCash;
    double realized = 0;
    // The price of each position's latest fill, by instrument: its mark
    // while the instrument has no last trade.
    std::map<std::string, double, std::less<>> lastFill = {};
  };

  Books* FindBooks(const Account& account);
  // Books the P&L a fill of `change` at `price` realizes on `position`,
  // which has not moved yet.
  static void Realize(Books& books, Position& position, const Listing& listing, long change,
                      double price);
  // Marks `position` to the market and updates the account's summary.
  static void Revalue(Books& books, Position& position, const Listing& listing);
  static void Summarize(Books& books);
  // Revalues every booked position in the listing, after its last trade moved.
  void RevalueListing(const Listing& listing);

  Servant servant_;
  Outlet outlet_;
  std::deque<Notification> emitted_;
  std::vector<Listing> listings_;
  // The orders that have reached the book, in the order they did, so that
  // matching looks at working orders only; an order that left the book is
  // dropped at the next match.
  std::vector<std::shared_ptr<Order>> book_;
  std::vector<Books> books_;
  // The accounts dropped by switching account data off, until the reload.
  std::vector<std::shared_ptr<Account>> unloaded_;
  std::deque<OrderEventDefect> orderDefects_;
  std::mt19937_64 random_;
  zantrix::framework::DateTime clock_;
  long nextSeries_ = 1;
  long nextFill_ = 1;
  bool rejectNext_ = false;
  Misbehaviour misbehaviour_;
  bool failNextPlace_ = false;
  // Order events are lost while this holds.
  bool gatewayDown_ = false;
};

}  // namespace platform::cqgsim
