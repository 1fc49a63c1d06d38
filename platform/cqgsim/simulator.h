// The simulated CQG client library: its registration, and the Simulator
// through which tests arrange, drive and observe it.
//
// Register() registers the library ("CQG.CQGCEL.4" and its type library
// {51F35562-AEB4-4AB3-99E8-AC9666344B64} 4.0) and returns a new Simulator;
// every CQGCEL created from then on (by CreateObject, on a thread that has
// called CoInitialize) belongs to it. Register again for a fresh simulator;
// Unregister removes the library, after which the client environment cannot
// start. Registration is an explicit call on purpose: nothing of a library
// runs before main.
//
// Arrangements (script.h) take effect for the next matching call, wherever
// the object lives. Raising, releasing and Sync act on the most recently
// created CQGCEL and fail with std::runtime_error when there is none; raised
// events are delivered on that object's thread, to every sink in attach order.
//
// The market side (venue.h): instruments, quotes, ticks, bars, accounts,
// positions and order statuses are set by actions, queued to the most
// recently created CQGCEL and done on its thread in the order they were
// asked for, each with the events it causes; an action asked for before any
// CQGCEL exists is done when the next one is created (its events then reach
// no sink). An action's error (an unknown symbol, account or order) is
// rethrown by the next Sync.
//
// ReplayBar drives a paper-trading session from stored history: each bar is
// traded through and completed within one action, so a test or demo that
// replays bars one after another sees the same session every time. Fills
// lists every normal fill the venue has reported, in delivery order, once
// each (a fill reported again, or lost while the gateway connection is down,
// included), whether calls and events are recorded or not; it may be read
// from any thread while the client trades.
//
// Misbehaviour (quirks.h, venue.h): SetMisbehaviour sets the rates of the
// faults drawn at random, FailNextPlaceAfterArrival and RepeatFill cause one
// on cue. Orders and Positions give what the venue holds, to compare a
// gateway's records against: they are read on the client's thread, after
// everything asked for before them, and may be called from any thread, that
// one included; they fail with std::runtime_error when no CQGCEL exists and
// with a ComError once its thread no longer serves.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/cqgsim/cel.h"
#include "platform/cqgsim/notification.h"
#include "platform/cqgsim/quirks.h"
#include "platform/cqgsim/script.h"
#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

class Simulator {
 public:
  Simulator();
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The next creation of a CQGCEL fails with a ComError carrying `message`.
  void RefuseCreation(std::string message);
  // The next call of `member` fails with a ComError carrying `message`.
  void FailNextCall(std::string member, std::string message);
  // The next call of `member`, whose result is an object, is served as usual
  // but returns null.
  void ReturnNothingFrom(std::string member);
  // What `member` raises once served, instead of its usual answer.
  void AnswerWith(std::string member, std::vector<Notification> answer);
  // `member` is served but raises nothing.
  void DropAnswers(std::string member);
  // `member` is served; what it raises is kept until ReleaseAnswers.
  void HoldAnswers(std::string member);
  // Raises what was held for `member`; later answers are raised again at once.
  void ReleaseAnswers(std::string member);

  void RaiseEvent(Notification notification);
  // Returns once every event raised and every action asked for before it has
  // been delivered or done; rethrows the first error of those actions.
  void Sync();
  // Calls and events are recorded unless this is switched off.
  void Record(bool on);

  // Actions on the market side (venue.h says what each does).
  void Act(Action action);
  // The quirks the client shows from now on (quirks.h); the client's start-up
  // answers follow them too when they are set before it is created.
  void SetQuirks(Quirks quirks);
  // The next order event the client raises gets `defect` wrong.
  void DefectNextOrderEvent(OrderEventDefect defect);
  void Seed(std::uint64_t seed);
  void SetClock(zantrix::framework::DateTime time);
  void SetGWConnectionStatus(zantrix::framework::cqg::eConnectionStatus status);
  void SetDataConnectionStatus(zantrix::framework::cqg::eConnectionStatus status);
  void DefineInstrument(InstrumentSetup setup);
  void SetQuotes(std::string symbol, std::vector<QuoteUpdate> quotes);
  void AddTicks(std::string symbol, std::vector<TickSetup> ticks);
  void RunMarket(std::string symbol, long steps);
  void SetBars(std::string symbol, std::vector<BarSetup> bars,
               BarPeriod period = BarPeriod::Minute);
  void AddBar(std::string symbol, BarSetup bar, BarPeriod period = BarPeriod::Minute);
  void RaiseBarsAdded(std::string symbol, BarPeriod period = BarPeriod::Minute);
  void ReplayBar(std::string symbol, BarSetup bar, BarPeriod period = BarPeriod::Minute);
  void AddAccount(AccountSetup setup);
  void SetSummary(long accountId, SummarySetup figures);
  void SetPosition(long accountId, PositionSetup setup);
  void RejectNextOrder();
  void SetOrderStatus(std::string guid, zantrix::framework::cqg::eOrderStatus status);
  void FillOrder(
      std::string guid, double price,
      zantrix::framework::cqg::eFillStatus fillStatus = zantrix::framework::cqg::fsNormal);
  void RemoveOrder(std::string guid);
  void PlaceManualOrder(ManualOrderSetup setup);

  // The venue's misbehaviour, and what it holds.
  void SetMisbehaviour(Misbehaviour rates);
  void FailNextPlaceAfterArrival();
  void RepeatFill(std::string guid);
  std::vector<OrderSnapshot> Orders() const;
  std::vector<PositionSnapshot> Positions() const;

  // The most recently created CQGCEL, or null.
  std::shared_ptr<CQGCEL> Instance() const;
  std::vector<CallRecord> Calls() const;
  std::vector<EventRecord> Events() const;
  std::vector<FillReport> Fills() const;

  // The registered factory.
  std::shared_ptr<CQGCEL> Create();

 private:
  std::shared_ptr<CQGCEL> RequireInstance() const;

  // The venue of the most recently created CQGCEL and the apartment that
  // serves it, for reading the venue on its thread.
  struct Watched {
    std::weak_ptr<Venue> venue;
    std::weak_ptr<com::Apartment> apartment;
  };
  void Watch(CQGCEL& cel);
  template <class Read>
  std::invoke_result_t<const Read&, const Venue&> Inspect(const Read& read) const;

  std::shared_ptr<Script> script_;
  mutable std::mutex mutex_;
  std::weak_ptr<CQGCEL> instance_;
  // Actions asked for before the next CQGCEL exists.
  std::vector<Action> pending_;
  Watched watched_;
};

std::shared_ptr<Simulator> Register();
void Unregister();

// Keeps the library registered (Register) for the object's life and removes
// it (Unregister) at the end: a session's scope.
class Registration {
 public:
  Registration() : simulator(Register()) {}
  ~Registration() { Unregister(); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  const std::shared_ptr<Simulator> simulator;
};

}  // namespace platform::cqgsim
