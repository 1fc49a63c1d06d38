// The CQG client environment: the one CQGCEL object of the process, the
// worker thread it lives on, that thread's message pump, and the event sinks.
//
// Ravelhost::Init starts the worker thread "cel_threadfunc", which initialises
// COM, creates the object from "CQG.CQGCEL.4", attaches the internal sink
// SinkInternal and then the application's sink, and pumps messages until
// Shutdown. The caller's thread receives the object marshalled from the
// worker (cqgCEL), applies the fixed API configuration and the caller's own,
// starts the client and waits until it reports that it has started. Every
// call through cqgCEL is served on the worker thread; every event handler of
// every sink runs there, one at a time, in the order the client raises them.
// As with COM, the caller's thread must have initialised COM itself before
// Init (platform::com::ComInitialization), and only that thread may call
// through cqgCEL: another thread gets the client's RPC_E_WRONG_THREAD.
// Another thread of the engine takes a proxy of its own (TakeThreadProxy),
// which the worker marshals for it on request.
//
// Failures: a data error reported during start-up releases Init, which
// traces it and still returns the sink (errorHappened tells). A worker that
// fails (the library not registered, creation refused, an unexpected result of
// its wait) traces the error, releases both start-up waits with it, so that
// Init raises it instead of waiting for ever, and ends; calls through cqgCEL
// then fail at once. An error that escapes a sink's handler is traced and the
// next event is delivered as usual.
//
// An environment destroyed from one of its own handlers (on the worker thread)
// cannot wait for the worker: it closes its ClientHold at once and lets the
// handler return; the worker then leaves its pump, shuts the client down
// through its own object, uninitialises COM and ends on its own. What the
// worker uses is shared between the environment and the worker, not owned by
// the environment, so the worker never reaches a destroyed environment; the
// application's sink is released when the worker ends.
//
// Lines on standard output come only from Trace: "<thread id>: <message>".
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/com/synch.h"
#include "zantrix/framework/cqg/cel.h"
#include "zantrix/framework/cqg/events.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/event.h"

namespace platform::com {
class Apartment;
}

namespace zantrix::gateways::cqg {

namespace cel = zantrix::framework::cqg;

// Writes "<kernel thread id>: <message>" as one line to standard output and
// flushes it, so that the lines of the two threads appear in the order they
// were written.
void Trace(std::string_view message);

// Raises std::runtime_error(message) when `condition` is false.
void AssertMessage(bool condition, const std::string& message);

// The base of every sink: one handler per event of the client, each doing
// nothing, so that a sink overrides only the events it cares about.
class CELSinkBase : public cel::ICQGCELEvents {
 public:
  void OnLineTimeChanged(framework::DateTime) override {}
  void OnGWConnectionStatusChanged(cel::eConnectionStatus) override {}
  void OnDataConnectionStatusChanged(cel::eConnectionStatus) override {}
  void OnInstrumentSubscribed(const std::string&, std::shared_ptr<cel::Instrument>) override {}
  void OnInstrumentChanged(std::shared_ptr<cel::Instrument>, std::shared_ptr<cel::Quotes>,
                           cel::Object) override {}
  void OnInstrumentDOMChanged(std::shared_ptr<cel::Instrument>, cel::Object, cel::Object) override {
  }
  void OnAccountChanged(cel::eAccountChangeType, std::shared_ptr<cel::Account>,
                        std::shared_ptr<cel::Position>) override {}
  void OnIsReady(cel::Object) override {}
  void OnIdle() override {}
  void OnDataError(std::shared_ptr<cel::Error>, const std::string&) override {}
  void OnCELStarted() override {}
  void OnIncorrectSymbol(const std::string&) override {}
  void OnCommodityInstrumentsResolved(const std::string&, long, cel::Object) override {}
  void OnGWEnvironmentChanged(long, long, long) override {}
  void OnCurrencyRatesChanged(cel::Object) override {}
  void OnQueryProgress(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnOrderChanged(cel::eChangeType, std::shared_ptr<cel::Order>,
                      std::shared_ptr<cel::OrderProperties>, std::shared_ptr<cel::Fill>,
                      std::shared_ptr<cel::Error>) override {}
  void OnDataSourcesResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnDataSourceSymbolsResolved(const std::string&, cel::Object,
                                   std::shared_ptr<cel::Error>) override {}
  void OnCustomSessionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTradableCommoditiesResolved(long, cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTicksResolved(std::shared_ptr<cel::Ticks>, std::shared_ptr<cel::Error>) override {}
  void OnTicksAdded(std::shared_ptr<cel::Ticks>, long) override {}
  void OnTicksRemoved(std::shared_ptr<cel::Ticks>, long) override {}
  void OnTimedBarsResolved(std::shared_ptr<cel::TimedBars>, std::shared_ptr<cel::Error>) override {}
  void OnTimedBarsAdded(std::shared_ptr<cel::TimedBars>) override {}
  void OnTimedBarsUpdated(std::shared_ptr<cel::TimedBars>, long) override {}
  void OnConstantVolumeBarsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnConstantVolumeBarsAdded(cel::Object) override {}
  void OnConstantVolumeBarsUpdated(cel::Object, long) override {}
  void OnPointAndFigureBarsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnPointAndFigureBarsAdded(cel::Object) override {}
  void OnPointAndFigureBarsUpdated(cel::Object, long) override {}
  void OnYieldsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnYieldsAdded(cel::Object) override {}
  void OnYieldsUpdated(cel::Object, long) override {}
  void OnTFlowBarsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTFlowBarsAdded(cel::Object) override {}
  void OnTFlowBarsUpdated(cel::Object, long) override {}
  void OnCustomStudyDefinitionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTradingSystemDefinitionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnConditionDefinitionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnQFormulaDefinitionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnCustomStudyResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnCustomStudyAdded(cel::Object) override {}
  void OnCustomStudyUpdated(cel::Object, long) override {}
  void OnConditionResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnConditionAdded(cel::Object) override {}
  void OnConditionUpdated(cel::Object, long) override {}
  void OnTradingSystemResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTradingSystemAddNotification(cel::Object, cel::Object) override {}
  void OnTradingSystemUpdateNotification(cel::Object, cel::Object) override {}
  void OnExpressionResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnExpressionAdded(cel::Object) override {}
  void OnExpressionUpdated(cel::Object, long) override {}
  void OnAlgorithmicOrderRegistrationComplete(const std::string&,
                                              std::shared_ptr<cel::Error>) override {}
  void OnAlgorithmicOrderPlaced(const std::string&, cel::Object, cel::Object) override {}
  void OnTimedBarsInserted(std::shared_ptr<cel::TimedBars>, long) override {}
  void OnTimedBarsRemoved(std::shared_ptr<cel::TimedBars>, long) override {}
  void OnPointAndFigureBarsInserted(cel::Object, long) override {}
  void OnPointAndFigureBarsRemoved(cel::Object, long) override {}
  void OnYieldsInserted(cel::Object, long) override {}
  void OnYieldsRemoved(cel::Object, long) override {}
  void OnTFlowBarsInserted(cel::Object, long) override {}
  void OnTFlowBarsRemoved(cel::Object, long) override {}
  void OnExpressionInserted(cel::Object, long) override {}
  void OnExpressionRemoved(cel::Object, long) override {}
  void OnICConnectionStatusChanged(cel::eConnectionStatus) override {}
  void OnAllOrdersCanceled(cel::eOrderSide, const std::vector<long>&,
                           const std::vector<std::string>&) override {}
  void OnInstrumentsGroupResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnInstrumentsGroupChanged(cel::eChangeType, cel::Object,
                                 const std::vector<std::string>&) override {}
  void OnBarsTimestampsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnStrategyDefinitionProgress(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnTradingSystemInsertNotification(cel::Object, cel::Object) override {}
  void OnTradingSystemRemoveNotification(cel::Object, cel::Object) override {}
  void OnTradingSystemTradeRelationAddNotification(cel::Object, cel::Object) override {}
  void OnTradableExchangesResolved(long, cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnHistoricalSessionsResolved(cel::Object, cel::Object,
                                    std::shared_ptr<cel::Error>) override {}
  void OnSummariesStatementResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnPositionsStatementResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnManualFillUpdateResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnManualFillsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnManualFillChanged(cel::Object, long) override {}
  void OnAuthenticationStatusChanged(long, std::shared_ptr<cel::Error>) override {}
  void OnPasswordChanged(long, std::shared_ptr<cel::Error>) override {}
  void OnAdvancedStudyDefinitionsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnAdvancedStudyResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnAdvancedStudyAdded(cel::Object) override {}
  void OnAdvancedStudyUpdated(cel::Object, long) override {}
  void OnAdvancedStudyInserted(cel::Object, long) override {}
  void OnAdvancedStudyRemoved(cel::Object, long) override {}
  void OnSubMinuteBarsResolved(cel::Object, std::shared_ptr<cel::Error>) override {}
  void OnSubMinuteBarsAdded(cel::Object) override {}
  void OnSubMinuteBarsUpdated(cel::Object, long) override {}
  void OnSubMinuteBarsInserted(cel::Object, long) override {}
  void OnSubMinuteBarsRemoved(cel::Object, long) override {}
  void OnInstrumentResolved(const std::string&, std::shared_ptr<cel::Instrument>,
                            std::shared_ptr<cel::Error>) override {}
  void OnStrategyQuoteRequestResolved(cel::Object, bool, std::shared_ptr<cel::Error>) override {}
};

class Ravelhost;

// The environment's own sink: turns the client's start-up and data-error
// events into the environment's start-up signal and error flag.
class SinkInternal : public CELSinkBase {
 public:
  SinkInternal();

  // Called once by the worker thread, after both sinks are attached and
  // before any event can be delivered. Keeps the environment's start-up event
  // and error flag rather than the environment: both belong to the state the
  // environment shares with its worker, which lives for as long as the worker
  // delivers events, also after the environment was destroyed from a handler.
  void Init(framework::Event& eventCELStarted, Ravelhost& ravelhost);

  void OnCELStarted() override;
  void OnDataError(std::shared_ptr<cel::Error> cqgError,
                   const std::string& errorDescription) override;

  // Shared with the environment and its worker, not owned.
  framework::Event* eventCELStarted = nullptr;
  std::atomic<bool>* errorHappened = nullptr;

 private:
  friend class Ravelhost;
  // The worker's Init: it holds the shared state, not the environment.
  void Init(framework::Event& eventCELStarted, std::atomic<bool>& errorHappened);
};

// What a sink keeps of its environment: the client as the calling thread
// sees it (a proxy), and the client object itself as the worker thread
// holds it, while the environment runs. A proxy serves only the thread that
// took it; a handler that must call the client (on the worker thread) uses
// the worker's own object, which serves that thread inline. The environment
// closes the hold when it shuts down (or is destroyed), so that a sink asked
// for a request afterwards finds it closed instead of reaching a freed
// environment. Safe from any thread.
class ClientHold {
 public:
  // The proxy serving the calling thread: the one it took with a
  // ThreadProxy while that lives, else the one Init took (which
  // serves Init's thread only); null before Init has obtained it and after
  // Shutdown.
  std::shared_ptr<cel::CQGCEL> client() const;
  // The worker's own object; null before the worker made it and after
  // Shutdown. For calls on the worker thread only.
  std::shared_ptr<cel::CQGCEL> worker_client() const;
  // Whether the environment has been shut down.
  bool closed() const;

 private:
  friend class Ravelhost;
  friend class ThreadProxy;
  void open(std::shared_ptr<cel::CQGCEL> client);
  void open_worker(std::shared_ptr<cel::CQGCEL> client,
                   std::shared_ptr<platform::com::Apartment> apartment);
  void close();
  // A proxy marshalled by the worker for the calling thread; a
  // std::runtime_error when the environment is not running.
  std::shared_ptr<cel::CQGCEL> take_proxy();
  void add_thread_client(std::thread::id thread, std::shared_ptr<cel::CQGCEL> client);
  void remove_thread_client(std::thread::id thread);

  mutable std::mutex mutex_;
  std::shared_ptr<cel::CQGCEL> client_;
  std::shared_ptr<cel::CQGCEL> worker_client_;
  std::shared_ptr<platform::com::Apartment> worker_apartment_;
  std::unordered_map<std::thread::id, std::shared_ptr<cel::CQGCEL>> thread_clients_;
  bool closed_ = false;
};

// A proxy of the client for a thread other than Init's, so that requests
// made on that thread (VexGate's among them, which go through the hold)
// reach the client. Taking one asks the worker to marshal the client, and
// this thread takes it out of the stream, as Init does; it waits for the
// worker to serve it. While it lives, hold->client() gives that proxy on its
// thread, and only there. The calling thread must have initialised COM (the
// ComError CO_E_NOTINITIALIZED otherwise). A std::runtime_error before Init
// has started the client, after Shutdown, on the worker thread (which serves
// the client itself) and on a thread that holds a proxy of this environment
// already; the ComError of a worker that no longer serves. Destroyed on the
// thread that took it, before that thread's last CoUninitialize; destroyed
// after its environment it does nothing. Movable, not copyable.
class ThreadProxy {
 public:
  explicit ThreadProxy(const std::shared_ptr<ClientHold>& hold);
  ThreadProxy(ThreadProxy&& other) noexcept;
  ThreadProxy& operator=(ThreadProxy&&) = delete;
  ThreadProxy(const ThreadProxy&) = delete;
  ThreadProxy& operator=(const ThreadProxy&) = delete;
  ~ThreadProxy();

 private:
  std::weak_ptr<ClientHold> hold_;
  std::thread::id thread_;
};

// A caller's configuration step: called on the caller's thread with the
// client's API configuration, after the fixed values have been set.
using CustomAPIConfiguration = std::function<void(std::shared_ptr<cel::APIConfiguration>)>;

class Ravelhost {
  // Everything the worker thread uses, shared by the environment and the
  // worker. Declared first: the public fields below refer into it.
  struct Shared;
  const std::shared_ptr<Shared> shared_;

 public:
  // Fails with a ComError (TYPE_E_LIBNOTREGISTERED) when the client library's
  // type library {51F35562-AEB4-4AB3-99E8-AC9666344B64} 4.0 is not registered.
  Ravelhost();
  // Shuts down an environment that Init started and Shutdown did not end. On
  // the worker thread (from a handler) it closes the hold, signals the
  // worker's shutdown event and returns at once; the worker, detached, shuts
  // the client down itself once the handler has returned, and ends.
  ~Ravelhost();
  Ravelhost(const Ravelhost&) = delete;
  Ravelhost& operator=(const Ravelhost&) = delete;

  // Starts the client with an instance of `Sink` (default-constructible,
  // derived from CELSinkBase) as the application's sink and returns that
  // instance once the client has reported that it started or that a data error
  // happened. Raises the worker's error when the worker failed. Called once.
  template <class Sink>
  std::shared_ptr<Sink> Init(CustomAPIConfiguration customAPIConfiguration = {});

  // Shuts the client down, ends the message pump and joins the worker; returns
  // when the worker has ended. It always signals and joins the worker, also
  // when the client can no longer be called (the call's error is traced); a
  // second Shutdown does nothing. Called from the thread that called Init, or
  // from one that holds a ThreadProxy, through whose proxy the client is shut
  // down; on the worker thread (from a handler) it is refused with a
  // std::runtime_error, as the worker cannot wait for its own end.
  void Shutdown();

  // A ThreadProxy of this environment for the calling thread.
  ThreadProxy TakeThreadProxy();

  // What sinks keep of this environment (ClientHold).
  const std::shared_ptr<ClientHold>& clientHold() const;

  // Marks that the client reported a data error; never undone.
  void SetError();

  // These four and `sink` live in the state shared with the worker.
  framework::Event& eventCELStarted;
  framework::Event& eventAllPrepared;
  platform::com::HANDLE& shutdownEvent;
  std::atomic<bool>& errorHappened;
  // The client as seen from the caller's thread; set by Init and kept after
  // Shutdown, when calls through it fail with an error.
  std::shared_ptr<cel::CQGCEL> cqgCEL;
  // The application's sink; set by the worker before eventAllPrepared.
  std::shared_ptr<CELSinkBase>& sink;

 private:
  using SinkType = std::function<std::shared_ptr<CELSinkBase>()>;

  std::shared_ptr<CELSinkBase> initWithSinkType(
      SinkType sinkType, const CustomAPIConfiguration& customAPIConfiguration);
  // The worker's side reaches only the shared state, never the environment,
  // which may be destroyed while the worker still runs.
  static void threadedFunction(Shared& shared, const SinkType& sinkType);
  static void pumpMessages(const platform::com::HANDLE& shutdownEvent);
  static void workerFailed(Shared& shared, std::exception_ptr error);
  void apiConfigurationSet(const CustomAPIConfiguration& customAPIConfiguration);
  void startupCel();
  void rethrowWorkerFailure() const;
  bool onWorkerThread() const;

  std::jthread thread;
  // Written on the caller's thread only.
  bool initCalled = false;
  bool shutDown = false;
};

template <class Sink>
std::shared_ptr<Sink> Ravelhost::Init(CustomAPIConfiguration customAPIConfiguration) {
  static_assert(std::is_base_of_v<CELSinkBase, Sink>, "a sink derives from CELSinkBase");
  static_assert(std::is_default_constructible_v<Sink>, "a sink is made without arguments");
  return std::static_pointer_cast<Sink>(
      initWithSinkType([] { return std::make_shared<Sink>(); }, customAPIConfiguration));
}

// Runs the whole life of a client for the application class `App` (a sink
// that also offers Init(Ravelhost&) and Start()): starts the environment with
// an `App` as its sink, and unless a data error happened during start-up calls
// the application's Init and then Start (its main routine, on this thread
// while the worker pumps events). Any error raised meanwhile is traced as
// "Exception: <text>" and not passed on; the environment is shut down in every
// case. A missing type library is raised before anything starts.
template <class App>
void Start(CustomAPIConfiguration customConfiguration = {}) {
  Ravelhost environment;
  try {
    const auto sink = environment.Init<App>(std::move(customConfiguration));
    if (!environment.errorHappened) {
      sink->Init(environment);
      sink->Start();
    }
  } catch (const std::exception& error) {
    Trace(std::string("Exception: ") + error.what());
  } catch (...) {
    Trace("Exception: unknown error");
  }
  environment.Shutdown();
}

}  // namespace zantrix::gateways::cqg
