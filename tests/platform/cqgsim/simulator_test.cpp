// The simulated CQG client library: registration, where calls are served and
// events raised, and the test controls (failures, answers dropped, held and
// replaced, events on demand).
#include "platform/cqgsim/simulator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/com/registry.h"
#include "tests/platform/cqgsim/null_sink.h"
#include "tests/platform/pumping_thread.h"
#include "zantrix/framework/cqg/cel.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/type_library.h"
#include "zantrix/framework/errors.h"

namespace platform::cqgsim {
namespace {

namespace cqg = zantrix::framework::cqg;
using test_support::NullSink;
using test_support::PumpingThread;

// Writes "<sink>:<event>[:<detail>]@<thread>" lines to a log shared by the
// sinks of one test; the log is touched only on the object's thread, and read
// by the test after Sync.
class RecordingSink : public NullSink {
 public:
  RecordingSink(std::vector<std::string>& log, std::string name)
      : log_(log), name_(std::move(name)) {}

  void OnCELStarted() override { Record("OnCELStarted"); }
  void OnDataError(std::shared_ptr<cqg::Error> cqgError,
                   const std::string& errorDescription) override {
    Record("OnDataError:" +
           (cqgError ? std::to_string(cqgError->Code()) + "/" + cqgError->Description()
                     : std::string("none")) +
           "/" + errorDescription);
  }
  void OnGWConnectionStatusChanged(cqg::eConnectionStatus newStatus) override {
    Record("OnGWConnectionStatusChanged:" + std::to_string(newStatus));
  }

 private:
  void Record(const std::string& what) {
    log_.push_back(name_ + ":" + what + "@" + std::to_string(com::GetCurrentThreadId()));
  }

  std::vector<std::string>& log_;
  std::string name_;
};

std::string At(const PumpingThread& thread) {
  return "@" + std::to_string(thread.id());
}

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { simulator = Register(); }
  void TearDown() override { Unregister(); }

  // Starts the object's thread, creates the CQGCEL there and attaches two
  // recording sinks, "a" then "b".
  void StartClient() {
    thread = std::make_unique<PumpingThread>([this] {
      object = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
      auto& events = object->FindConnectionPoint();
      events.Advise(std::make_shared<RecordingSink>(log, "a"), {});
      events.Advise(std::make_shared<RecordingSink>(log, "b"), {});
    });
    cel = thread->ProxyOf(object);
  }

  com::ComInitialization com;
  std::shared_ptr<Simulator> simulator;
  std::unique_ptr<PumpingThread> thread;
  // The client itself, for its own thread, and the proxy the test's thread
  // took of it.
  std::shared_ptr<cqg::CQGCEL> object;
  std::shared_ptr<cqg::CQGCEL> cel;
  std::vector<std::string> log;
};

TEST_F(SimulatorTest, RegistersTheClientAndItsTypeLibrary) {
  const auto typeLib = com::LoadRegTypeLib(cqg::LIBID_CQG, 4, 0, 0);
  EXPECT_EQ(typeLib->FindConstant("tzChina"), cqg::tzChina);
  EXPECT_EQ(typeLib->FindConstant("csConnectionDown"), 2);
  EXPECT_EQ(typeLib->FindConstant("tzAtlantis"), std::nullopt);
  EXPECT_EQ(cqg::constant("qtTrade"), cqg::qtTrade);
  EXPECT_THROW(cqg::constant("qtNothing"), zantrix::framework::KeyError);

  StartClient();
  EXPECT_EQ(simulator->Instance(), object);
  thread->Stop();

  Unregister();
  EXPECT_THROW(com::LoadRegTypeLib(cqg::LIBID_CQG, 4, 0, 0), com::ComError);
  PumpingThread other([] {
    try {
      com::CreateObject(cqg::CQGCEL_PROGID);
      ADD_FAILURE() << "created after Unregister";
    } catch (const com::ComError& error) {
      EXPECT_EQ(error.hr(), com::CO_E_CLASSSTRING);
    }
  });
}

TEST_F(SimulatorTest, RefusesOneCreationOnDemand) {
  simulator->RefuseCreation("no licence");
  PumpingThread other([] {
    try {
      com::CreateObject(cqg::CQGCEL_PROGID);
      ADD_FAILURE() << "creation was not refused";
    } catch (const com::ComError& error) {
      EXPECT_EQ(error.hr(), com::CO_E_SERVER_EXEC_FAILURE);
      EXPECT_STREQ(error.what(), "no licence");
    }
    EXPECT_NE(com::CreateObject(cqg::CQGCEL_PROGID), nullptr);
  });
}

TEST_F(SimulatorTest, CallsFromAnotherThreadAreServedOnTheObjectsThread) {
  StartClient();
  cel->APIConfiguration()->put_TimeZoneCode(cqg::tzChina);
  const auto calls = simulator->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].member, "CQGCEL.APIConfiguration");
  EXPECT_EQ(calls[1].member, "APIConfiguration.put_TimeZoneCode");
  EXPECT_EQ(calls[1].arguments, std::vector<cqg::Variant>{static_cast<long>(cqg::tzChina)});
  for (const auto& call : calls) EXPECT_EQ(call.thread, thread->id());
}

// The object's own thread, where event handlers run, calls the object itself,
// inline: the thread is busy serving this very call, so a posted call would
// never return. The proxy the test's thread took refuses that thread before
// the call is recorded or served.
TEST_F(SimulatorTest, TheObjectsOwnThreadIsServedInlineAndRefusedByTheProxy) {
  StartClient();
  const std::function<void(cqg::CQGCEL&)> calls[] = {
      [](cqg::CQGCEL& client) { client.Startup(); },
      [](cqg::CQGCEL& client) { client.FindConnectionPoint(); },
      [](cqg::CQGCEL& client) { client.APIConfiguration(); },
  };
  for (const auto& call : calls) {
    const com::HRESULT refusal = thread->apartment()->Call([&] {
      try {
        call(*cel);
      } catch (const com::ComError& error) {
        return error.hr();
      }
      return com::S_OK;
    });
    EXPECT_EQ(refusal, com::RPC_E_WRONG_THREAD);
  }
  EXPECT_TRUE(simulator->Calls().empty());
  thread->apartment()->Call([this] { object->Startup(); });
  simulator->Sync();
  const auto served = simulator->Calls();
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].member, "CQGCEL.Startup");
  EXPECT_EQ(served[0].thread, thread->id());
}

TEST_F(SimulatorTest, StartupAnswersCELStartedToEverySinkInAttachOrder) {
  StartClient();
  cel->Startup();
  simulator->Sync();
  EXPECT_EQ(log, (std::vector<std::string>{"a:OnCELStarted" + At(*thread),
                                           "b:OnCELStarted" + At(*thread)}));
  const auto events = simulator->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "OnCELStarted");
  EXPECT_EQ(events[0].thread, thread->id());
}

TEST_F(SimulatorTest, FailsTheNextCallOnly) {
  StartClient();
  simulator->FailNextCall("CQGCEL.Startup", "gateway unreachable");
  try {
    cel->Startup();
    FAIL() << "the arranged failure did not happen";
  } catch (const com::ComError& error) {
    EXPECT_STREQ(error.what(), "gateway unreachable");
  }
  EXPECT_NO_THROW(cel->Startup());
  simulator->Sync();
  EXPECT_EQ(simulator->Events().size(), 1u);
}

TEST_F(SimulatorTest, DroppedAnswersAreNeverRaised) {
  StartClient();
  simulator->DropAnswers("CQGCEL.Startup");
  cel->Startup();
  simulator->Sync();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(simulator->Calls().back().member, "CQGCEL.Startup");
}

TEST_F(SimulatorTest, HeldAnswersAreRaisedWhenReleased) {
  StartClient();
  simulator->HoldAnswers("CQGCEL.Startup");
  cel->Startup();
  simulator->Sync();
  EXPECT_TRUE(log.empty());
  simulator->ReleaseAnswers("CQGCEL.Startup");
  simulator->Sync();
  EXPECT_EQ(log.size(), 2u);
  cel->Startup();
  simulator->Sync();
  EXPECT_EQ(log.size(), 4u);
}

TEST_F(SimulatorTest, AnAnswerCanBeReplacedByADataError) {
  StartClient();
  simulator->AnswerWith("CQGCEL.Startup", {DataError(MakeError(5, "x"), "x")});
  cel->Startup();
  simulator->Sync();
  EXPECT_EQ(log, (std::vector<std::string>{"a:OnDataError:5/x/x" + At(*thread),
                                           "b:OnDataError:5/x/x" + At(*thread)}));
}

TEST_F(SimulatorTest, RaisesAnyEventWithItsArgumentsOnTheObjectsThread) {
  StartClient();
  simulator->RaiseEvent({"OnGWConnectionStatusChanged", [](cqg::ICQGCELEvents& sink) {
                           sink.OnGWConnectionStatusChanged(cqg::csConnectionDown);
                         }});
  simulator->RaiseEvent(DataError(nullptr, "lost"));
  simulator->Sync();
  EXPECT_EQ(log, (std::vector<std::string>{"a:OnGWConnectionStatusChanged:2" + At(*thread),
                                           "b:OnGWConnectionStatusChanged:2" + At(*thread),
                                           "a:OnDataError:none/lost" + At(*thread),
                                           "b:OnDataError:none/lost" + At(*thread)}));
}

TEST_F(SimulatorTest, NeedsAnObjectToRaiseEvents) {
  EXPECT_THROW(simulator->RaiseEvent(CELStarted()), std::runtime_error);
  EXPECT_THROW(simulator->Sync(), std::runtime_error);
}

TEST_F(SimulatorTest, AfterShutdownCallsFailAndEventsStop) {
  StartClient();
  cel->Shutdown();
  simulator->RaiseEvent(CELStarted());
  simulator->Sync();
  EXPECT_TRUE(log.empty());
  try {
    cel->Startup();
    FAIL() << "served after Shutdown";
  } catch (const com::ComError& error) {
    EXPECT_NE(std::string(error.what()).find("shut down"), std::string::npos);
  }
}

TEST_F(SimulatorTest, CallsFailAtOnceWhenTheObjectsThreadNoLongerServes) {
  StartClient();
  ASSERT_EQ(com::PostThreadMessage(thread->id(), com::WM_QUIT, 0, 0), com::TRUE);
  EXPECT_THROW(cel->Startup(), com::ComError);
  thread->Stop();
  EXPECT_THROW(cel->APIConfiguration(), com::ComError);
  EXPECT_THROW(simulator->RaiseEvent(CELStarted()), com::ComError);
}

TEST_F(SimulatorTest, APIConfigurationKeepsWhatIsWritten) {
  StartClient();
  const auto configuration = cel->APIConfiguration();
  EXPECT_TRUE(configuration->CollectionsThrowException());
  EXPECT_FALSE(configuration->NewInstrumentChangeMode());
  EXPECT_EQ(configuration->ReadyStatusCheck(), 1);
  EXPECT_EQ(configuration->TimeZoneCode(), cqg::tzCentral);
  EXPECT_FALSE(configuration->IncludeOrderTransactions());
  EXPECT_FALSE(configuration->UseOrderSide());
  configuration->put_CollectionsThrowException(false);
  configuration->put_ReadyStatusCheck(0);
  configuration->put_TimeZoneCode(cqg::tzGreenwich);
  EXPECT_FALSE(configuration->CollectionsThrowException());
  EXPECT_EQ(configuration->ReadyStatusCheck(), 0);
  EXPECT_EQ(configuration->TimeZoneCode(), cqg::tzGreenwich);
}

TEST_F(SimulatorTest, RecordsCallArgumentsAsPassedAndCanStopRecording) {
  StartClient();
  cel->GWLogon("trader", "secret");
  EXPECT_THROW(
      cel->CreateOrder(cqg::otLimit, nullptr, nullptr, 3, cqg::osdSell, 101.5, std::nullopt),
      com::ComError);
  auto calls = simulator->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].arguments,
            (std::vector<cqg::Variant>{std::string("trader"), std::string("secret")}));
  EXPECT_EQ(calls[1].member, "CQGCEL.CreateOrder");
  EXPECT_EQ(calls[1].arguments.size(), 6u);  // the absent stop price is not passed

  simulator->Record(false);
  cel->GWLogoff();
  simulator->Sync();
  EXPECT_EQ(simulator->Calls().size(), 2u);
  EXPECT_EQ(simulator->Events().size(), 1u);  // the log-on's answer, before the switch
}

}  // namespace
}  // namespace platform::cqgsim
