// The CQG client environment against the simulated client library: the order
// and the threads of its start-up and shutdown lines, where calls and
// handlers run, the configuration, data errors, the internal sink, Start, an
// environment destroyed from its own handler, and every way the worker can
// fail without leaving the caller waiting.
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/com/registry.h"
#include "platform/com/synch.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/framework/cqg/type_library.h"

namespace zantrix::gateways::cqg {
namespace {

namespace com = platform::com;
namespace cqgsim = platform::cqgsim;

long CallerId() {
  return ::gettid();
}

// One line of standard output, "<thread id>: <text>".
struct Line {
  long thread;
  std::string text;
};

std::vector<Line> ParseLines(const std::string& output) {
  std::vector<Line> lines;
  std::istringstream in(output);
  std::string raw;
  while (std::getline(in, raw)) {
    const auto colon = raw.find(": ");
    if (colon == std::string::npos) {
      ADD_FAILURE() << "not a trace line: " << raw;
      continue;
    }
    lines.push_back({std::stol(raw.substr(0, colon)), raw.substr(colon + 2)});
  }
  return lines;
}

std::vector<std::string> TextsOf(const std::vector<Line>& lines, long thread) {
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    if (line.thread == thread) texts.push_back(line.text);
  }
  return texts;
}

// Position of the first line with `text`; lines.size() when there is none.
std::size_t IndexOf(const std::vector<Line>& lines, const std::string& text) {
  return static_cast<std::size_t>(
      std::find_if(lines.begin(), lines.end(), [&](const Line& l) { return l.text == text; }) -
      lines.begin());
}

bool Contains(const std::vector<Line>& lines, const std::string& text) {
  return IndexOf(lines, text) < lines.size();
}

long ThreadOf(const std::vector<Line>& lines, const std::string& text) {
  const auto index = IndexOf(lines, text);
  return index < lines.size() ? lines[index].thread : -1;
}

// Records the events it receives, with the thread each ran on and, for data
// errors, whether the environment's flag was already raised.
class RecordingSink : public CELSinkBase {
 public:
  void OnIdle() override { Record("OnIdle"); }
  void OnLineTimeChanged(framework::DateTime) override { Record("OnLineTimeChanged"); }
  void OnDataError(std::shared_ptr<cel::Error>, const std::string&) override {
    const Ravelhost* host = environment;
    Record(std::string("OnDataError errorHappened=") +
           (host != nullptr && host->errorHappened ? "true" : "false"));
  }
  void OnIncorrectSymbol(const std::string&) override {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    Record(std::string("thread name ") + name);
  }

  std::vector<std::string> Seen() const {
    const std::lock_guard lock(mutex_);
    return seen_;
  }

  std::atomic<Ravelhost*> environment = nullptr;

 protected:
  void Record(const std::string& what) {
    const std::lock_guard lock(mutex_);
    seen_.push_back(what + " on " + std::to_string(::gettid()));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> seen_;
};

class FailingSink : public RecordingSink {
 public:
  void OnIdle() override {
    Record("OnIdle");
    throw std::runtime_error("idle failed");
  }
};

cqgsim::Notification Idle() {
  return {"OnIdle", [](cel::ICQGCELEvents& sink) { sink.OnIdle(); }};
}

class RavelhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = cqgsim::Register();
    testing::internal::CaptureStdout();
  }

  void TearDown() override {
    if (!outputTaken) testing::internal::GetCapturedStdout();
    cqgsim::Unregister();
  }

  // Everything printed so far; call once, after the worker has ended.
  std::vector<Line> Output() {
    outputTaken = true;
    return ParseLines(testing::internal::GetCapturedStdout());
  }

  // The caller's thread initialises COM itself, as the environment expects.
  com::ComInitialization comOnCaller;
  std::shared_ptr<cqgsim::Simulator> simulator;
  bool outputTaken = false;
};

using RavelhostStartUpTest = RavelhostTest;

TEST_F(RavelhostStartUpTest, EachThreadTracesItsStepsInOrderWithItsOwnId) {
  {
    Ravelhost host;
    host.Init<RecordingSink>();
    host.Shutdown();
  }
  const auto lines = Output();
  const long worker = ThreadOf(lines, "COM framework is initializing...");
  ASSERT_NE(worker, -1);
  EXPECT_NE(worker, CallerId());
  EXPECT_EQ(lines.size(), TextsOf(lines, worker).size() + TextsOf(lines, CallerId()).size());

  EXPECT_EQ(TextsOf(lines, worker),
            (std::vector<std::string>{
                "COM framework is initializing...", "COM framework is initialized!",
                "CQG.CQGCEL.4 creation...", "CQG.CQGCEL.4 created!", "Marshal CQGCEL in stream",
                "CQGCEL is marshaled in stream", "Internal sink subscription to events",
                "Internal sink ctor", "Internal sink subscribed", "Sink subscription to events",
                "Sink subscribed", "Internal sink is initialized", "Starting message pumping..",
                "SinkInternal: CELStarted!", "COM framework is uninitializing...",
                "COM framework is uninitialized!"}));
  EXPECT_EQ(TextsOf(lines, CallerId()),
            (std::vector<std::string>{
                "Waiting for CQGCEL creation..", "CQGCEL is created!",
                "Marshaled CQGCEL from stream", "CQGCEL is marshaled from stream!",
                "CQGCEL default configuring...", "Startup CQGCEL..", "Waiting for CQGCEL start..",
                "CQGCEL has started.", "CQGCEL is being shut down..", "CQGCEL is shut down."}));

  EXPECT_GT(IndexOf(lines, "CQGCEL is created!"), IndexOf(lines, "Internal sink is initialized"));
  EXPECT_LT(IndexOf(lines, "SinkInternal: CELStarted!"), IndexOf(lines, "CQGCEL has started."));
  EXPECT_LT(IndexOf(lines, "COM framework is uninitialized!"),
            IndexOf(lines, "CQGCEL is shut down."));
}

TEST_F(RavelhostStartUpTest, CallsThroughTheProxyAndAllHandlersRunOnTheWorker) {
  Ravelhost host;
  const auto sink = host.Init<RecordingSink>();
  simulator->RaiseEvent(Idle());
  simulator->RaiseEvent(
      {"OnIncorrectSymbol", [](cel::ICQGCELEvents& s) { s.OnIncorrectSymbol("EP"); }});
  simulator->Sync();
  host.Shutdown();

  const long worker = ThreadOf(Output(), "COM framework is initializing...");
  const std::string onWorker = " on " + std::to_string(worker);
  EXPECT_EQ(sink->Seen(), (std::vector<std::string>{"OnIdle" + onWorker,
                                                    "thread name cel_threadfunc" + onWorker}));
  const auto calls = simulator->Calls();
  ASSERT_FALSE(calls.empty());
  for (const auto& call : calls) EXPECT_EQ(call.thread, static_cast<com::DWORD>(worker));
  for (const auto& event : simulator->Events()) {
    EXPECT_EQ(event.thread, static_cast<com::DWORD>(worker)) << event.name;
  }
}

TEST_F(RavelhostStartUpTest, WithoutACustomStepTheFixedConfigurationIsSetInOrder) {
  Ravelhost host;
  host.Init<RecordingSink>();
  const auto configuration = host.cqgCEL->APIConfiguration();
  EXPECT_FALSE(configuration->CollectionsThrowException());
  EXPECT_TRUE(configuration->NewInstrumentChangeMode());
  EXPECT_EQ(configuration->ReadyStatusCheck(), 0);
  EXPECT_EQ(configuration->TimeZoneCode(), cel::tzChina);
  EXPECT_TRUE(configuration->IncludeOrderTransactions());
  EXPECT_TRUE(configuration->UseOrderSide());
  host.Shutdown();

  std::vector<std::string> writes;
  for (const auto& call : simulator->Calls()) {
    if (call.member.starts_with("APIConfiguration.put_")) writes.push_back(call.member);
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"APIConfiguration.put_CollectionsThrowException",
                                              "APIConfiguration.put_NewInstrumentChangeMode",
                                              "APIConfiguration.put_ReadyStatusCheck",
                                              "APIConfiguration.put_TimeZoneCode",
                                              "APIConfiguration.put_IncludeOrderTransactions",
                                              "APIConfiguration.put_UseOrderSide"}));
  EXPECT_FALSE(Contains(Output(), "CQGCEL custom configuring..."));
}

TEST_F(RavelhostStartUpTest, ACustomStepRunsLastOnTheCallersThreadAndWins) {
  Ravelhost host;
  long customRanOn = 0;
  host.Init<RecordingSink>([&](std::shared_ptr<cel::APIConfiguration> configuration) {
    customRanOn = ::gettid();
    configuration->put_TimeZoneCode(cel::tzGreenwich);
  });
  EXPECT_EQ(host.cqgCEL->APIConfiguration()->TimeZoneCode(), cel::tzGreenwich);
  host.Shutdown();

  EXPECT_EQ(customRanOn, CallerId());
  const auto lines = Output();
  EXPECT_EQ(ThreadOf(lines, "CQGCEL custom configuring..."), CallerId());
  EXPECT_GT(IndexOf(lines, "CQGCEL custom configuring..."),
            IndexOf(lines, "CQGCEL default configuring..."));
  EXPECT_LT(IndexOf(lines, "CQGCEL custom configuring..."), IndexOf(lines, "Startup CQGCEL.."));
}

TEST_F(RavelhostStartUpTest, ADataErrorDuringStartUpReleasesInit) {
  simulator->AnswerWith("CQGCEL.Startup",
                        {cqgsim::DataError(cqgsim::MakeError(5, "x"), "no data")});
  Ravelhost host;
  const auto sink = host.Init<RecordingSink>();
  EXPECT_NE(sink, nullptr);
  EXPECT_TRUE(host.errorHappened);
  host.Shutdown();

  const auto lines = Output();
  const auto caller = TextsOf(lines, CallerId());
  const auto started = std::find(caller.begin(), caller.end(), "CQGCEL has started.");
  ASSERT_NE(started, caller.end());
  ASSERT_NE(started + 1, caller.end());
  EXPECT_EQ(*(started + 1), "Error happened during CQGCEL start up!");
  EXPECT_NE(ThreadOf(lines, "SinkInternal: OnDataError: Code: 5 Description: x"), CallerId());
  EXPECT_FALSE(Contains(lines, "SinkInternal: CELStarted!"));
}

TEST_F(RavelhostStartUpTest, ALaterDataErrorRaisesTheFlagBeforeTheApplicationSinkHearsOfIt) {
  Ravelhost host;
  const auto sink = host.Init<RecordingSink>();
  sink->environment = &host;
  EXPECT_FALSE(host.errorHappened);
  simulator->RaiseEvent(cqgsim::DataError(nullptr, "late"));
  simulator->Sync();
  EXPECT_TRUE(host.errorHappened);
  EXPECT_TRUE(host.eventCELStarted.is_set());
  ASSERT_EQ(sink->Seen().size(), 1u);
  EXPECT_TRUE(sink->Seen()[0].starts_with("OnDataError errorHappened=true"));
  host.Shutdown();
}

using RavelhostRunTest = RavelhostTest;

TEST_F(RavelhostRunTest, AHandlerErrorIsTracedAndLaterEventsAreDelivered) {
  Ravelhost host;
  const auto sink = host.Init<FailingSink>();
  simulator->RaiseEvent(Idle());
  simulator->RaiseEvent({"OnLineTimeChanged", [](cel::ICQGCELEvents& s) {
                           s.OnLineTimeChanged(framework::DateTime{});
                         }});
  simulator->Sync();
  host.Shutdown();

  const auto lines = Output();
  const long worker = ThreadOf(lines, "COM framework is initializing...");
  EXPECT_EQ(ThreadOf(lines, "Exception in OnIdle: idle failed"), worker);
  const auto seen = sink->Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1].starts_with("OnLineTimeChanged"));
  EXPECT_TRUE(Contains(lines, "COM framework is uninitialized!"));
}

TEST_F(RavelhostRunTest, ShutdownEndsTheWorkerAndLaterCallsFail) {
  Ravelhost host;
  host.Init<RecordingSink>();
  host.Shutdown();
  EXPECT_THROW(host.cqgCEL->APIConfiguration(), com::ComError);
  host.Shutdown();

  const auto lines = Output();
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const Line& l) { return l.text == "CQGCEL is being shut down.."; }),
            1);
  EXPECT_EQ(simulator->Calls().back().member, "CQGCEL.Shutdown");
}

TEST_F(RavelhostRunTest, AQuitMessageEndsThePumpAndShutdownStillJoins) {
  Ravelhost host;
  host.Init<RecordingSink>();
  const auto worker = simulator->Calls().front().thread;
  ASSERT_EQ(com::PostThreadMessage(worker, com::WM_QUIT, 0, 0), com::TRUE);
  EXPECT_THROW(host.cqgCEL->Startup(), com::ComError);
  host.Shutdown();

  const auto lines = Output();
  EXPECT_TRUE(Contains(lines, "COM framework is uninitialized!"));
  const auto caller = TextsOf(lines, CallerId());
  ASSERT_GE(caller.size(), 3u);
  EXPECT_EQ(caller[caller.size() - 3], "CQGCEL is being shut down..");
  EXPECT_TRUE(caller[caller.size() - 2].starts_with("Exception in Shutdown: "));
  EXPECT_EQ(caller.back(), "CQGCEL is shut down.");
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(RavelhostRunTest, DestroyingAStartedEnvironmentShutsItDown) {
  {
    Ravelhost host;
    host.Init<RecordingSink>();
  }
  const auto lines = Output();
  EXPECT_TRUE(Contains(lines, "COM framework is uninitialized!"));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

// Runs `onIdle` when the client is idle; `ended` is set when the sink is
// destroyed, which the environment's worker does last, when it lets go of what
// it shared with its environment.
class IdleActionSink : public CELSinkBase {
 public:
  ~IdleActionSink() override {
    if (ended) ended->set();
  }
  void OnIdle() override { onIdle(); }

  std::function<void()> onIdle;
  std::shared_ptr<framework::Event> ended;
};

struct DestroyedOnWorkerCase {
  const char* name;
  // What the handler does before it drops the environment.
  std::function<void(Ravelhost&)> first;
  // The worker's last lines.
  std::vector<std::string> last;

  friend void PrintTo(const DestroyedOnWorkerCase& c, std::ostream* out) { *out << c.name; }
};

class RavelhostDestroyedOnWorkerTest
    : public RavelhostTest,
      public ::testing::WithParamInterface<DestroyedOnWorkerCase> {};

// An engine may drop its last reference to the environment inside a handler.
// The process goes on: the hold is closed at once, a data error already queued
// still reaches the internal sink, and the worker shuts its own client down,
// uninitialises COM and ends by itself.
TEST_P(RavelhostDestroyedOnWorkerTest, TheWorkerShutsTheClientDownAndEndsOnItsOwn) {
  auto host = std::make_unique<Ravelhost>();
  auto sink = host->Init<IdleActionSink>();
  const auto hold = host->clientHold();
  const auto ended = std::make_shared<framework::Event>();
  bool closedAtOnce = false;
  sink->ended = ended;
  sink->onIdle = [&] {
    GetParam().first(*host);
    simulator->RaiseEvent(cqgsim::DataError(cqgsim::MakeError(9, "late"), "late"));
    host.reset();
    closedAtOnce = hold->closed() && !hold->client() && !hold->worker_client();
  };
  sink.reset();
  simulator->RaiseEvent(Idle());
  ended->wait();

  EXPECT_EQ(host, nullptr);
  EXPECT_TRUE(closedAtOnce);
  EXPECT_TRUE(hold->closed());
  EXPECT_EQ(hold->worker_client(), nullptr);
  const auto lines = Output();
  const long worker = ThreadOf(lines, "COM framework is initializing...");
  const auto texts = TextsOf(lines, worker);
  const auto& last = GetParam().last;
  ASSERT_GE(texts.size(), last.size());
  EXPECT_EQ(std::vector<std::string>(texts.end() - static_cast<std::ptrdiff_t>(last.size()),
                                     texts.end()),
            last);
  EXPECT_EQ(lines.back().thread, worker);
  const auto calls = simulator->Calls();
  EXPECT_EQ(calls.back().member, "CQGCEL.Shutdown");
  EXPECT_EQ(calls.back().thread, static_cast<com::DWORD>(worker));
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, RavelhostDestroyedOnWorkerTest,
    ::testing::Values(
        DestroyedOnWorkerCase{
            "BeforeAnyShutdown",
            [](Ravelhost&) {},
            {"SinkInternal: OnDataError: Code: 9 Description: late",
             "CQGCEL is being shut down..", "COM framework is uninitializing...",
             "COM framework is uninitialized!", "CQGCEL is shut down."}},
        DestroyedOnWorkerCase{
            "AfterARefusedShutdown",
            [](Ravelhost& host) {
              try {
                host.Shutdown();
                ADD_FAILURE() << "Shutdown ran on the worker thread";
              } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(),
                             "Shutdown can not run on the CQG worker thread: it would wait for "
                             "its own end");
              }
            },
            {"SinkInternal: OnDataError: Code: 9 Description: late",
             "CQGCEL is being shut down..", "COM framework is uninitializing...",
             "COM framework is uninitialized!", "CQGCEL is shut down."}},
        // The client raises nothing once shut down, and refuses a second
        // Shutdown: the worker still ends.
        DestroyedOnWorkerCase{
            "AfterTheClientWasShutDown",
            [](Ravelhost& host) { host.clientHold()->worker_client()->Shutdown(); },
            {"Starting message pumping..", "SinkInternal: CELStarted!",
             "CQGCEL is being shut down..",
             "Exception in Shutdown: CQGCEL.Shutdown cannot be served: CQGCEL has been shut "
             "down.",
             "COM framework is uninitializing...", "COM framework is uninitialized!",
             "CQGCEL is shut down."}}),
    [](const auto& info) { return std::string(info.param.name); });

// COM's rules hold for the client: only a thread that took its proxy may
// call it, and the caller's thread must have initialised COM to take it.
TEST_F(RavelhostRunTest, OnlyTheThreadHoldingTheProxyReachesTheClient) {
  Ravelhost host;
  host.Init<RecordingSink>();
  for (const bool initialised : {false, true}) {
    std::thread([&] {
      std::optional<com::ComInitialization> apartment;
      if (initialised) apartment.emplace();
      try {
        host.cqgCEL->APIConfiguration();
        ADD_FAILURE() << "served a thread without the proxy";
      } catch (const com::ComError& error) {
        EXPECT_EQ(error.hr(), initialised ? com::RPC_E_WRONG_THREAD : com::CO_E_NOTINITIALIZED);
      }
    }).join();
  }
  EXPECT_NO_THROW(host.cqgCEL->APIConfiguration());
  host.Shutdown();
  std::thread([] {
    Ravelhost uninitialised;
    try {
      uninitialised.Init<RecordingSink>();
      ADD_FAILURE() << "Init took the proxy on a thread without COM";
    } catch (const com::ComError& error) {
      EXPECT_EQ(error.hr(), com::CO_E_NOTINITIALIZED);
    }
  }).join();
}


// Another thread reaches the client through the hold only while it holds a
// proxy of its own, each call served on the worker; such a thread may also
// shut the environment down through it.
TEST_F(RavelhostRunTest, AThreadProxyServesItsThreadThroughTheHold) {
  Ravelhost host;
  host.Init<RecordingSink>();
  const auto hold = host.clientHold();
  const auto refusal = [&] {
    try {
      hold->client()->APIConfiguration();
    } catch (const com::ComError& error) {
      return error.hr();
    }
    return com::S_OK;
  };
  std::thread([&] {
    EXPECT_THROW(host.TakeThreadProxy(), com::ComError);
    const com::ComInitialization apartment;
    EXPECT_EQ(refusal(), com::RPC_E_WRONG_THREAD);
    {
      const auto proxy = host.TakeThreadProxy();
      EXPECT_THROW(host.TakeThreadProxy(), std::runtime_error);
      EXPECT_EQ(refusal(), com::S_OK);
    }
    EXPECT_EQ(refusal(), com::RPC_E_WRONG_THREAD);
    const auto proxy = host.TakeThreadProxy();
    host.Shutdown();
  }).join();
  EXPECT_THROW(host.TakeThreadProxy(), std::runtime_error);

  const long worker = ThreadOf(Output(), "COM framework is initializing...");
  const auto calls = simulator->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().member, "CQGCEL.Shutdown");
  for (const auto& call : calls) EXPECT_EQ(call.thread, static_cast<com::DWORD>(worker));
}
TEST_F(RavelhostRunTest, InitIsCalledOnce) {
  Ravelhost host;
  host.Init<RecordingSink>();
  EXPECT_THROW(host.Init<RecordingSink>(), std::runtime_error);
  host.Shutdown();
}

using RavelhostFailureTest = RavelhostTest;

TEST_F(RavelhostFailureTest, AMissingTypeLibraryFailsConstruction) {
  cqgsim::Unregister();
  try {
    Ravelhost host;
    FAIL() << "constructed without the client library's type library";
  } catch (const com::ComError& error) {
    EXPECT_EQ(error.hr(), com::TYPE_E_LIBNOTREGISTERED);
  }
}

TEST_F(RavelhostFailureTest, AMissingClientMakesInitRaiseInsteadOfWaiting) {
  com::UnregisterServer(cel::CQGCEL_PROGID);
  Ravelhost host;
  try {
    host.Init<RecordingSink>();
    FAIL() << "Init returned without a client";
  } catch (const com::ComError& error) {
    EXPECT_EQ(error.hr(), com::CO_E_CLASSSTRING);
  }
  EXPECT_EQ(host.cqgCEL, nullptr);
  host.Shutdown();
  host.Shutdown();

  const auto lines = Output();
  const auto worker = TextsOf(lines, ThreadOf(lines, "COM framework is initializing..."));
  ASSERT_EQ(worker.size(), 4u);
  EXPECT_EQ(worker[2], "CQG.CQGCEL.4 creation...");
  EXPECT_TRUE(worker[3].starts_with("Exception in cel_threadfunc: Invalid class string"));
  EXPECT_FALSE(Contains(lines, "CQGCEL is created!"));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(RavelhostFailureTest, ARefusedCreationMakesInitRaiseIt) {
  simulator->RefuseCreation("no licence");
  Ravelhost host;
  try {
    host.Init<RecordingSink>();
    FAIL() << "Init returned without a client";
  } catch (const com::ComError& error) {
    EXPECT_STREQ(error.what(), "no licence");
  }
  host.Shutdown();
}

TEST_F(RavelhostFailureTest, AWorkerFailingDuringStartUpMakesInitRaiseAndCallsFail) {
  // The start-up answer never comes, and the pump's wait fails right after it
  // has served Startup: only the worker's failure can release Init.
  simulator->HoldAnswers("CQGCEL.Startup");
  Ravelhost host;
  try {
    host.Init<RecordingSink>(
        [&](std::shared_ptr<cel::APIConfiguration>) { com::CloseHandle(host.shutdownEvent); });
    FAIL() << "Init returned although the worker died";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "unexpected win32wait return value");
  }
  EXPECT_THROW(host.cqgCEL->APIConfiguration(), com::ComError);
  host.Shutdown();

  const auto lines = Output();
  const long worker = ThreadOf(lines, "COM framework is initializing...");
  EXPECT_EQ(ThreadOf(lines, "Exception in cel_threadfunc: unexpected win32wait return value"),
            worker);
  EXPECT_FALSE(Contains(lines, "CQGCEL has started."));
  EXPECT_FALSE(Contains(lines, "COM framework is uninitializing..."));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(RavelhostFailureTest, AWorkerFailingAfterStartUpFailsLaterCalls) {
  Ravelhost host;
  host.Init<RecordingSink>();
  // A failing worker releases the start-up waits once more; that tells this
  // test when the worker has stopped pumping.
  host.eventCELStarted.clear();
  com::CloseHandle(host.shutdownEvent);
  simulator->RaiseEvent(Idle());
  host.eventCELStarted.wait();
  EXPECT_THROW(host.cqgCEL->APIConfiguration(), com::ComError);
  host.Shutdown();

  const auto lines = Output();
  EXPECT_TRUE(Contains(lines, "Exception in cel_threadfunc: unexpected win32wait return value"));
  EXPECT_FALSE(Contains(lines, "COM framework is uninitializing..."));
}

using SinkInternalTest = RavelhostTest;

TEST_F(SinkInternalTest, ADataErrorWithoutAnErrorObjectPrintsNothingButSignals) {
  Ravelhost host;
  SinkInternal sink;
  sink.Init(host.eventCELStarted, host);
  sink.OnDataError(nullptr, "ignored");
  EXPECT_TRUE(host.errorHappened);
  EXPECT_TRUE(host.eventCELStarted.is_set());
  const auto lines = Output();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "Internal sink ctor");
}

TEST_F(SinkInternalTest, ADataErrorWithAnErrorObjectTracesItsCodeAndDescription) {
  Ravelhost host;
  SinkInternal sink;
  sink.Init(host.eventCELStarted, host);
  sink.OnDataError(cqgsim::MakeError(5, "x"), "not this");
  EXPECT_TRUE(host.errorHappened);
  const auto lines = Output();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].thread, CallerId());
  EXPECT_EQ(lines[1].text, "SinkInternal: OnDataError: Code: 5 Description: x");
}

TEST_F(SinkInternalTest, ASecondCELStartedLeavesTheEventSet) {
  Ravelhost host;
  SinkInternal sink;
  sink.Init(host.eventCELStarted, host);
  sink.OnCELStarted();
  sink.OnCELStarted();
  EXPECT_TRUE(host.eventCELStarted.is_set());
  EXPECT_FALSE(host.errorHappened);
  EXPECT_EQ(TextsOf(Output(), CallerId()),
            (std::vector<std::string>{"Internal sink ctor", "SinkInternal: CELStarted!",
                                      "SinkInternal: CELStarted!"}));
}

TEST(TraceTest, WritesTheThreadIdAndTheMessageAsOneLine) {
  testing::internal::CaptureStdout();
  Trace("Startup CQGCEL..");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::to_string(::gettid()) + ": Startup CQGCEL..\n");
}

TEST(AssertMessageTest, RaisesTheMessageExactlyWhenTheConditionIsFalse) {
  EXPECT_NO_THROW(AssertMessage(true, "unused"));
  try {
    AssertMessage(false, "GW connection timeout!");
    FAIL() << "nothing was raised";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "GW connection timeout!");
  }
}

// An application for Start; what it does is written to a journal that the
// tests read after Start has returned.
class SampleApp : public CELSinkBase {
 public:
  void Init(Ravelhost& environment) {
    Note(std::string("Init ") + (environment.cqgCEL ? "with client" : "without client"));
  }
  void Start() {
    Note("Start on " + std::to_string(::gettid()));
    if (failStart) throw std::runtime_error("strategy failed");
  }

  static void Note(const std::string& entry) {
    const std::lock_guard lock(mutex);
    journal.push_back(entry);
  }

  static inline std::mutex mutex;
  static inline std::vector<std::string> journal;
  static inline std::atomic<bool> failStart = false;
};

class StartTest : public RavelhostTest {
 protected:
  void SetUp() override {
    RavelhostTest::SetUp();
    SampleApp::journal.clear();
    SampleApp::failStart = false;
  }
};

TEST_F(StartTest, RunsTheApplicationOnTheCallersThreadThenShutsDown) {
  Start<SampleApp>();
  EXPECT_EQ(SampleApp::journal, (std::vector<std::string>{
                                    "Init with client", "Start on " + std::to_string(CallerId())}));
  const auto lines = Output();
  EXPECT_TRUE(Contains(lines, "COM framework is uninitialized!"));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(StartTest, SkipsTheApplicationAfterADataErrorButStillShutsDown) {
  simulator->AnswerWith("CQGCEL.Startup",
                        {cqgsim::DataError(cqgsim::MakeError(7, "feed down"), "feed down")});
  Start<SampleApp>();
  EXPECT_TRUE(SampleApp::journal.empty());
  const auto lines = Output();
  EXPECT_TRUE(Contains(lines, "Error happened during CQGCEL start up!"));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(StartTest, TracesAnApplicationErrorAndStillShutsDown) {
  SampleApp::failStart = true;
  Start<SampleApp>();
  const auto lines = Output();
  EXPECT_EQ(ThreadOf(lines, "Exception: strategy failed"), CallerId());
  EXPECT_LT(IndexOf(lines, "Exception: strategy failed"),
            IndexOf(lines, "CQGCEL is being shut down.."));
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

TEST_F(StartTest, TracesAFailedStartUpAndStillShutsDown) {
  simulator->RefuseCreation("no licence");
  Start<SampleApp>();
  EXPECT_TRUE(SampleApp::journal.empty());
  const auto lines = Output();
  EXPECT_EQ(ThreadOf(lines, "Exception: no licence"), CallerId());
  EXPECT_EQ(lines.back().text, "CQGCEL is shut down.");
}

}  // namespace
}  // namespace zantrix::gateways::cqg
