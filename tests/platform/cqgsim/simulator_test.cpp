// The simulated CQG client library: registration, where calls are served and
// events raised, and the test controls (failures, answers dropped, held and
// replaced, events on demand).
#include "platform/cqgsim/simulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/com/registry.h"
#include "tests/platform/pumping_thread.h"
#include "zantrix/framework/cqg/cel.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/type_library.h"
#include "zantrix/framework/errors.h"

namespace platform::cqgsim {
namespace {

namespace cqg = zantrix::framework::cqg;
using test_support::PumpingThread;

// The base sink of these tests: every event ignored.
class NullSink : public cqg::ICQGCELEvents {
 public:
  void OnLineTimeChanged(zantrix::framework::DateTime) override {}
  void OnGWConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnDataConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnInstrumentSubscribed(const std::string&, std::shared_ptr<cqg::Instrument>) override {}
  void OnInstrumentChanged(std::shared_ptr<cqg::Instrument>, std::shared_ptr<cqg::Quotes>,
                           cqg::Object) override {}
  void OnInstrumentDOMChanged(std::shared_ptr<cqg::Instrument>, cqg::Object, cqg::Object) override {
  }
  void OnAccountChanged(cqg::eAccountChangeType, std::shared_ptr<cqg::Account>,
                        std::shared_ptr<cqg::Position>) override {}
  void OnIsReady(cqg::Object) override {}
  void OnIdle() override {}
  void OnDataError(std::shared_ptr<cqg::Error>, const std::string&) override {}
  void OnCELStarted() override {}
  void OnIncorrectSymbol(const std::string&) override {}
  void OnCommodityInstrumentsResolved(const std::string&, long, cqg::Object) override {}
  void OnGWEnvironmentChanged(long, long, long) override {}
  void OnCurrencyRatesChanged(cqg::Object) override {}
  void OnQueryProgress(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnOrderChanged(cqg::eChangeType, std::shared_ptr<cqg::Order>,
                      std::shared_ptr<cqg::OrderProperties>, std::shared_ptr<cqg::Fill>,
                      std::shared_ptr<cqg::Error>) override {}
  void OnDataSourcesResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnDataSourceSymbolsResolved(const std::string&, cqg::Object,
                                   std::shared_ptr<cqg::Error>) override {}
  void OnCustomSessionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradableCommoditiesResolved(long, cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTicksResolved(std::shared_ptr<cqg::Ticks>, std::shared_ptr<cqg::Error>) override {}
  void OnTicksAdded(std::shared_ptr<cqg::Ticks>, long) override {}
  void OnTicksRemoved(std::shared_ptr<cqg::Ticks>, long) override {}
  void OnTimedBarsResolved(std::shared_ptr<cqg::TimedBars>, std::shared_ptr<cqg::Error>) override {}
  void OnTimedBarsAdded(std::shared_ptr<cqg::TimedBars>) override {}
  void OnTimedBarsUpdated(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnConstantVolumeBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConstantVolumeBarsAdded(cqg::Object) override {}
  void OnConstantVolumeBarsUpdated(cqg::Object, long) override {}
  void OnPointAndFigureBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnPointAndFigureBarsAdded(cqg::Object) override {}
  void OnPointAndFigureBarsUpdated(cqg::Object, long) override {}
  void OnYieldsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnYieldsAdded(cqg::Object) override {}
  void OnYieldsUpdated(cqg::Object, long) override {}
  void OnTFlowBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTFlowBarsAdded(cqg::Object) override {}
  void OnTFlowBarsUpdated(cqg::Object, long) override {}
  void OnCustomStudyDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConditionDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnQFormulaDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnCustomStudyResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnCustomStudyAdded(cqg::Object) override {}
  void OnCustomStudyUpdated(cqg::Object, long) override {}
  void OnConditionResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConditionAdded(cqg::Object) override {}
  void OnConditionUpdated(cqg::Object, long) override {}
  void OnTradingSystemResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemAddNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemUpdateNotification(cqg::Object, cqg::Object) override {}
  void OnExpressionResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnExpressionAdded(cqg::Object) override {}
  void OnExpressionUpdated(cqg::Object, long) override {}
  void OnAlgorithmicOrderRegistrationComplete(const std::string&,
                                              std::shared_ptr<cqg::Error>) override {}
  void OnAlgorithmicOrderPlaced(const std::string&, cqg::Object, cqg::Object) override {}
  void OnTimedBarsInserted(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnTimedBarsRemoved(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnPointAndFigureBarsInserted(cqg::Object, long) override {}
  void OnPointAndFigureBarsRemoved(cqg::Object, long) override {}
  void OnYieldsInserted(cqg::Object, long) override {}
  void OnYieldsRemoved(cqg::Object, long) override {}
  void OnTFlowBarsInserted(cqg::Object, long) override {}
  void OnTFlowBarsRemoved(cqg::Object, long) override {}
  void OnExpressionInserted(cqg::Object, long) override {}
  void OnExpressionRemoved(cqg::Object, long) override {}
  void OnICConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnAllOrdersCanceled(cqg::eOrderSide, const std::vector<long>&,
                           const std::vector<std::string>&) override {}
  void OnInstrumentsGroupResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnInstrumentsGroupChanged(cqg::eChangeType, cqg::Object,
                                 const std::vector<std::string>&) override {}
  void OnBarsTimestampsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnStrategyDefinitionProgress(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemInsertNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemRemoveNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemTradeRelationAddNotification(cqg::Object, cqg::Object) override {}
  void OnTradableExchangesResolved(long, cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnHistoricalSessionsResolved(cqg::Object, cqg::Object,
                                    std::shared_ptr<cqg::Error>) override {}
  void OnSummariesStatementResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnPositionsStatementResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillUpdateResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillChanged(cqg::Object, long) override {}
  void OnAuthenticationStatusChanged(long, std::shared_ptr<cqg::Error>) override {}
  void OnPasswordChanged(long, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyAdded(cqg::Object) override {}
  void OnAdvancedStudyUpdated(cqg::Object, long) override {}
  void OnAdvancedStudyInserted(cqg::Object, long) override {}
  void OnAdvancedStudyRemoved(cqg::Object, long) override {}
  void OnSubMinuteBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnSubMinuteBarsAdded(cqg::Object) override {}
  void OnSubMinuteBarsUpdated(cqg::Object, long) override {}
  void OnSubMinuteBarsInserted(cqg::Object, long) override {}
  void OnSubMinuteBarsRemoved(cqg::Object, long) override {}
  void OnInstrumentResolved(const std::string&, std::shared_ptr<cqg::Instrument>,
                            std::shared_ptr<cqg::Error>) override {}
  void OnStrategyQuoteRequestResolved(cqg::Object, bool, std::shared_ptr<cqg::Error>) override {}
};

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
      cel = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
      auto& events = cel->FindConnectionPoint();
      events.Advise(std::make_shared<RecordingSink>(log, "a"), {});
      events.Advise(std::make_shared<RecordingSink>(log, "b"), {});
    });
  }

  std::shared_ptr<Simulator> simulator;
  std::unique_ptr<PumpingThread> thread;
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
  EXPECT_EQ(simulator->Instance(), cel);
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

TEST_F(SimulatorTest, CallsOnTheObjectsOwnThreadRunInline) {
  // Nothing pumps while the start-up runs: a posted call would never return.
  thread = std::make_unique<PumpingThread>([this] {
    cel = com::Dispatch<cqg::CQGCEL>(com::CreateObject(cqg::CQGCEL_PROGID));
    cel->Startup();
  });
  ASSERT_EQ(simulator->Calls().size(), 1u);
  EXPECT_EQ(simulator->Calls()[0].thread, thread->id());
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

TEST_F(SimulatorTest, LaterStagesAreRecordedThenRefusedAsNotSimulated) {
  StartClient();
  try {
    cel->GWLogon("trader", "secret");
    FAIL() << "log-on is not simulated yet";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "CQGCEL.GWLogon is not simulated yet");
  }
  EXPECT_THROW(
      cel->CreateOrder(cqg::otLimit, nullptr, nullptr, 3, cqg::osdSell, 101.5, std::nullopt),
      std::runtime_error);
  const auto calls = simulator->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].arguments,
            (std::vector<cqg::Variant>{std::string("trader"), std::string("secret")}));
  EXPECT_EQ(calls[1].member, "CQGCEL.CreateOrder");
  EXPECT_EQ(calls[1].arguments.size(), 6u);  // the absent stop price is not passed
}

}  // namespace
}  // namespace platform::cqgsim
