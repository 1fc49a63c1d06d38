// VexGate's connection: log-on and log-off with and without an answer in
// time, repeated log-on, connection status changes, account lookups, data
// errors, the refusal of requests on the worker thread, and calls of the
// client that return no object.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/gateways/cqg/wrapper/vexgate_fixture.h"
#include "zantrix/framework/errors.h"

namespace zantrix::gateways::cqg::test {
namespace {

cqgsim::Notification Status(cel::eConnectionStatus status) {
  return cqgsim::GWConnectionStatusChanged(status);
}

using VexGateConnectionTest = VexGateTest;

TEST_F(VexGateConnectionTest, LogonReturnsOnceTheWorkerReportsTheConnectionUp) {
  vex->Logon("trader", "secret");
  const auto lines = TakeOutput();
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(TextsOn(lines, ::gettid()),
            (std::vector<std::string>{"Connecting to GW", "Waiting for GW connection..."}));
  EXPECT_EQ(TextsOn(lines, worker), (std::vector<std::string>{"GW connection is UP!"}));
  ASSERT_EQ(CallsOf("CQGCEL.GWLogon").size(), 1u);
  EXPECT_EQ(CallsOf("CQGCEL.GWLogon")[0].arguments,
            (std::vector<cel::Variant>{std::string("trader"), std::string("secret")}));
}

TEST_F(VexGateConnectionTest, LogonWithoutAnAnswerTimesOut) {
  simulator->DropAnswers("CQGCEL.GWLogon");
  vex->wait_timeout = 50ms;
  ExpectError<std::runtime_error>([&] { vex->Logon("trader", "secret"); },
                                  "GW connection timeout!");
  // A late "up" still sets the event.
  simulator->SetGWConnectionStatus(cel::csConnectionUp);
  simulator->Sync();
  EXPECT_TRUE(vex->eventGatewayIsUp.is_set());
}

TEST_F(VexGateConnectionTest, ASecondLogonWhileUpReturnsAsSoonAsItIsSent) {
  vex->Logon("trader", "secret");
  simulator->DropAnswers("CQGCEL.GWLogon");
  vex->wait_timeout = 50ms;
  EXPECT_NO_THROW(vex->Logon("trader", "secret"));
  EXPECT_EQ(CallsOf("CQGCEL.GWLogon").size(), 2u);
}

TEST_F(VexGateConnectionTest, ADownStatusEndsTheUpSoALaterLogonWaitsForANewOne) {
  vex->Logon("trader", "secret");
  simulator->SetGWConnectionStatus(cel::csConnectionDown);
  simulator->Sync();
  EXPECT_FALSE(vex->eventGatewayIsUp.is_set());
  EXPECT_TRUE(vex->eventGatewayIsDown.is_set());
  EXPECT_TRUE(HasText(TakeOutput(), "GW connection is DOWN!"));

  simulator->DropAnswers("CQGCEL.GWLogon");
  vex->wait_timeout = 50ms;
  EXPECT_THROW(vex->Logon("trader", "secret"), std::runtime_error);
}

TEST_F(VexGateConnectionTest, OtherStatusesChangeNothingAndPrintNothing) {
  for (const auto status :
       {cel::csConnectionDelayed, cel::csConnectionTrouble, cel::csConnectionNotLoggedOn}) {
    simulator->RaiseEvent(Status(status));
  }
  EXPECT_TRUE(TakeOutput().empty());
  EXPECT_FALSE(vex->eventGatewayIsUp.is_set());
  EXPECT_FALSE(vex->eventGatewayIsDown.is_set());
}

TEST_F(VexGateConnectionTest, LogoffClearsAnEarlierDownAndWaitsForANewOne) {
  LogOnWithAccount();
  simulator->SetGWConnectionStatus(cel::csConnectionDown);
  simulator->Sync();
  simulator->DropAnswers("CQGCEL.GWLogoff");
  vex->wait_timeout = 50ms;
  ExpectError<std::runtime_error>([&] { vex->Logoff(); }, "GW disconnection timeout!");
  EXPECT_FALSE(HasText(TakeOutput(), "Successfully logoff account Desk A"));
}

TEST_F(VexGateConnectionTest, LogoffTracesTheAccountOnceDown) {
  LogOnWithAccount();
  vex->Logoff();
  const auto texts = TextsOf(TakeOutput());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "Logoff from GW");
  EXPECT_EQ(texts.back(), "Successfully logoff account Desk A");
  EXPECT_NE(std::find(texts.begin(), texts.end(), "GW connection is DOWN!"), texts.end());
}

TEST_F(VexGateConnectionTest, LogoffWithoutASelectedOrEverFoundAccountSendsNothing) {
  vex->Logon("trader", "secret");
  ExpectError<std::runtime_error>(
      [&] { vex->Logoff(); },
      "No GW account is selected: call subscribe_account_and_positions first");
  simulator->AddAccount({.id = 101, .name = "Desk A"});
  vex->subscribe_account_and_positions(101);
  ExpectError<framework::ValueError>([&] { vex->subscribe_account_and_positions(202); },
                                     "GWAccountID 202 can not be found!");
  ExpectError<framework::ValueError>([&] { vex->Logoff(); }, "GWAccountID 202 can not be found!");
  EXPECT_TRUE(CallsOf("CQGCEL.GWLogoff").empty());
}

TEST_F(VexGateConnectionTest, AccountLookupTracesEachAccountUpToTheMatch) {
  simulator->AddAccount({.id = 101, .name = "Desk A"});
  simulator->AddAccount({.id = 202, .name = "Desk B"});
  simulator->Sync();
  const auto found = vex->get_account_from_gwaccountid(202);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GWAccountName(), "Desk B");
  EXPECT_EQ(TextsOf(TakeOutput()),
            (std::vector<std::string>{"GW Account id: 101 name: Desk A",
                                      "GW Account id: 202 name: Desk B",
                                      "[Found] GW Account id: 202 name: Desk B"}));
  EXPECT_EQ(vex->get_account_from_gwaccountid(303), nullptr);
  EXPECT_EQ(TextsOf(TakeOutput()), (std::vector<std::string>{"GW Account id: 101 name: Desk A",
                                                             "GW Account id: 202 name: Desk B"}));
}

TEST_F(VexGateConnectionTest, DataConnectionStatusIsAPlainLineAndDataErrorsAreTraced) {
  simulator->SetDataConnectionStatus(cel::csConnectionDown);
  simulator->SetDataConnectionStatus(cel::csConnectionUp);
  simulator->RaiseEvent(cqgsim::DataError(cqgsim::MakeError(7, "feed lost"), "ignored"));
  simulator->RaiseEvent(cqgsim::DataError(nullptr, "ignored"));
  const auto lines = TakeOutput();
  EXPECT_EQ(lines, (std::vector<Line>{
                       {0, "DataConnectionStatus=2"},
                       {0, "DataConnectionStatus=0"},
                       {worker, "SinkInternal: OnDataError: Code: 7 Description: feed lost"},
                       {worker, "OnDataError: Code: 7 Description: feed lost"}}));
  EXPECT_FALSE(vex->eventQuoteDone.is_set());
}

TEST_F(VexGateConnectionTest, WaitingRequestsFailAtOnceOnTheWorkerThread) {
  std::vector<std::string> refused;
  simulator->Act([&](cqgsim::Venue&) {
    const auto attempt = [&](const auto& request) {
      try {
        request();
      } catch (const std::runtime_error& error) {
        refused.push_back(error.what());
      }
    };
    attempt([&] { vex->Logon("trader", "secret"); });
    attempt([&] { vex->Logoff(); });
    attempt([&] { vex->subscribe_quote("EPZ4"); });
    attempt([&] { vex->subscribe_orderbook("EPZ4"); });
    attempt([&] { vex->subscribe_bar("EPZ4", 10); });
    attempt([&] { vex->subscribe_account_and_positions(101); });
    attempt([&] { vex->place_order(framework::Order{.security = EP}); });
    attempt([&] { vex->update_positions(); });
    attempt([&] { vex->update_account_balance(); });
    attempt([&] { host->Shutdown(); });
  });
  simulator->Sync();
  ASSERT_EQ(refused.size(), 10u);
  EXPECT_EQ(refused[9],
            "Shutdown can not run on the CQG worker thread: it would wait for its own end");
  EXPECT_EQ(refused[0],
            "Logon can not run on the CQG worker thread: only that thread can deliver what it "
            "waits for");
  EXPECT_TRUE(refused[6].starts_with("place_order can not run on the CQG worker thread"));
  for (const auto& call : simulator->Calls()) {
    EXPECT_NE(call.member, "CQGCEL.GWLogon");
    EXPECT_NE(call.member, "CQGCEL.NewInstrument");
    EXPECT_NE(call.member, "CQGCEL.put_AccountSubscriptionLevel");
  }
}

// The requests that call the client through its proxy without waiting: on
// the worker thread (inside a handler) each is refused before anything is
// sent, and unsubscribe_bar reports its refusal.
TEST_F(VexGateConnectionTest, ProxyRequestsFailAtOnceOnTheWorkerThread) {
  LogOnWithAccount();
  vex->subscribe_quote("EPZ4");
  vex->subscribe_orderbook("EPZ4");
  vex->subscribe_bar("EPZ4", 10);
  TakeOutput();
  const std::vector<std::pair<std::string, std::function<void()>>> requests{
      {"unsubscribe_quote", [&] { vex->unsubscribe_quote("EPZ4"); }},
      {"unsubscribe_orderbook", [&] { vex->unsubscribe_orderbook("EPZ4"); }},
      {"get_instrument_from_cqg_symbol", [&] { vex->get_instrument_from_cqg_symbol("EPZ4"); }},
      {"get_ticks_from_cqg_symbol", [&] { vex->get_ticks_from_cqg_symbol("EPZ4"); }},
      {"get_timedbars_from_cqg_symbol", [&] { vex->get_timedbars_from_cqg_symbol("EPZ4"); }},
      {"get_account_from_gwaccountid", [&] { vex->get_account_from_gwaccountid(101); }},
      {"unsubscribe_account_and_positions", [&] { vex->unsubscribe_account_and_positions(101); }},
  };
  const auto refusal = [](const std::string& request) {
    return request +
           " can not run on the CQG worker thread: the client serves its proxy only to the "
           "engine's threads; post the request to the engine's own thread";
  };
  const auto sent = simulator->Calls().size();
  std::vector<std::string> refused;
  simulator->Act([&](cqgsim::Venue&) {
    for (const auto& [name, request] : requests) {
      try {
        request();
        refused.push_back(name + " ran");
      } catch (const std::runtime_error& error) {
        refused.push_back(error.what());
      }
    }
    vex->unsubscribe_bar("EPZ4");
  });
  const auto lines = TakeOutput();
  ASSERT_EQ(refused.size(), requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(refused[i], refusal(requests[i].first));
  }
  EXPECT_EQ(lines, (std::vector<Line>{{0, "unsubscribe_bar: " + refusal("unsubscribe_bar")}}));
  EXPECT_EQ(MembersSince(sent), std::vector<std::string>{});
  EXPECT_NE(vex->get_subscribe_bars_data(EP), std::nullopt);
}

// A call of the gateway's own that returns no object fails its request with
// a traced error, or has it reported where the request reports its errors;
// the gateway works on once the client answers again.
TEST_F(VexGateConnectionTest, ACallThatReturnsNoObjectFailsItsRequestClearly) {
  LogOnWithAccount();
  vex->subscribe_quote("EPZ4");
  vex->subscribe_orderbook("EPZ4");
  TakeOutput();
  struct NullResult {
    std::string call;
    std::function<void()> request;
    // How the line the request prints ends, when it reports instead of
    // raising.
    std::optional<std::string> printed = std::nullopt;
  };
  const std::vector<NullResult> cases{
      {.call = "CQGCEL.Accounts", .request = [&] { vex->get_account_from_gwaccountid(101); }},
      {.call = "CQGCEL.Instruments", .request = [&] { vex->unsubscribe_quote("EPZ4"); }},
      {.call = "CQGCEL.AllTicks", .request = [&] { vex->unsubscribe_orderbook("EPZ4"); }},
      {.call = "CQGCEL.CreateTicksRequest", .request = [&] { vex->subscribe_orderbook("EPZ4"); }},
      {.call = "CQGCEL.CreateTimedBarsRequest", .request = [&] { vex->subscribe_bar("EPZ4", 10); }},
      {.call = "CQGCEL.RequestTimedBars", .request = [&] { vex->subscribe_bar("EPZ4", 10); }},
      {.call = "CQGCEL.AllTimedBars",
       .request = [&] { vex->get_timedbars_from_cqg_symbol("EPZ4"); }},
      {.call = "CQGCEL.AllTimedBars",
       .request = [&] { vex->unsubscribe_bar("EPZ4"); },
       .printed = "unsubscribe_bar: CQGCEL.AllTimedBars returned no object"},
      {.call = "Account.Positions", .request = [&] { vex->update_positions(); }},
      {.call = "Account.Summary",
       .request = [&] { vex->update_account_balance(); },
       .printed = ": Account.Summary returned no object"},
  };
  for (const auto& [call, request, printed] : cases) {
    SCOPED_TRACE(call);
    const std::string text = call + " returned no object";
    simulator->ReturnNothingFrom(call);
    if (printed) {
      EXPECT_NO_THROW(request());
    } else {
      ExpectError<std::runtime_error>(request, text);
    }
    const auto lines = TakeOutput();
    EXPECT_TRUE(HasText(lines, text));
    if (printed) {
      ASSERT_FALSE(lines.empty());
      EXPECT_TRUE(lines.back().text.ends_with(*printed)) << lines.back().text;
    }
  }
  EXPECT_NE(vex->get_account_from_gwaccountid(101), nullptr);
  EXPECT_NE(vex->get_instrument_from_cqg_symbol("EPZ4"), nullptr);
}

// What the client hands over as null is traced as the handler's error and
// the event skipped; the worker goes on serving.
TEST_F(VexGateConnectionTest, NullObjectsAreTracedAndTheirEventsSkipped) {
  vex->subscribe_quote("EPZ4");
  TakeOutput();
  simulator->RaiseEvent(cqgsim::InstrumentChanged(nullptr, nullptr));
  simulator->RaiseEvent(cqgsim::TicksAdded(nullptr, 1));
  simulator->RaiseEvent(cqgsim::TimedBarsAdded(nullptr));
  simulator->RaiseEvent(cqgsim::AccountChanged(cel::actPositionChanged, nullptr, nullptr));
  simulator->RaiseEvent(cqgsim::OrderChanged(cel::ctChanged, nullptr, nullptr, nullptr));
  vex->eventBarDone.clear();
  simulator->RaiseEvent(cqgsim::TimedBarsResolved(nullptr, nullptr));
  const auto lines = TakeOutput();
  EXPECT_EQ(
      lines,
      (std::vector<Line>{
          {worker, "Exception in OnInstrumentChanged: the client handed over a null instrument"},
          {worker, "Exception in OnTicksAdded: the client handed over a null ticks object"},
          {worker,
           "Exception in OnTimedBarsAdded: the client handed over a null timed-bars object"},
          {worker, "Exception in OnAccountChanged: the client handed over a null account"},
          {worker, "Exception in OnOrderChanged: the client handed over a null order"},
          {worker,
           "Exception in OnTimedBarsResolved: the client handed over a null timed-bars "
           "object"}}));
  EXPECT_TRUE(vex->eventBarDone.is_set());
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.0}});
  TakeOutput();
  EXPECT_EQ(gateway->quotes().size(), 1u);
}

// Requests after the environment or the gateway is gone fail with a clear
// error, and no handler reaches a gateway that has been destroyed.
TEST_F(VexGateConnectionTest, WhatIsGoneFailsClearlyAndIsNeverTouched) {
  vex->subscribe_quote("EPZ4");
  TakeOutput();
  auto doomed =
      std::make_unique<RecordingGateway>(std::vector<RecordingGateway::Symbol>{{"EPZ4", EP}});
  doomed->ravelhost = host.get();
  vex->Init(*doomed);
  doomed.reset();
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.0}});
  const auto lines = TakeOutput();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(
      lines[0].text.starts_with("Exception in OnInstrumentChanged: VexGate has no gateway"));
  EXPECT_THROW(vex->place_order(framework::Order{.security = EP}), std::runtime_error);

  vex->Init(*gateway);
  host->Shutdown();
  const std::string closed = "VexGate can not reach CQG: its client environment has been shut down";
  ExpectError<std::runtime_error>([&] { vex->subscribe_quote("EPZ4"); }, closed);
  host.reset();
  ExpectError<std::runtime_error>([&] { vex->get_account_from_gwaccountid(101); }, closed);
  ExpectError<std::runtime_error>([&] { vex->cancel_order("{0}"); }, closed);
}

// A whole session, with the framework reading the gateway's records while
// the worker writes them, against a client that drops its accounts while
// account data is off (so log-off follows the unsubscription all the same).
TEST_F(VexGateConnectionTest, AWholeSessionRunsWhileTheFrameworkReads) {
  simulator->SetQuirks({.accountsReload = true});
  LogOnWithAccount();
  vex->subscribe_quote("EPZ4");
  vex->subscribe_orderbook("EPZ4");
  vex->subscribe_bar("EPZ4", 20);
  const auto first_minute = vex->get_subscribe_bars_data(EP).value().back().datetime;
  for (int i = 1; i <= 5; ++i) {
    simulator->AddBar("EPZ4", {.timestamp = first_minute + std::chrono::minutes{i + 1},
                               .open = 1,
                               .high = 2,
                               .low = 0.5,
                               .close = 1.5,
                               .volume = 3});
  }
  simulator->SetQuotes("EPZ4", {{cel::qtBid, 5000, 1}, {cel::qtAsk, 5000.25, 1}});
  simulator->RunMarket("EPZ4", 300);
  std::size_t reads = 0;
  for (int i = 0; i < 50; ++i) {
    reads += vex->get_subscribe_bars_data(EP).value().size() + vex->positions().size() +
             gateway->quotes().size();
    vex->account_balance();
  }
  const std::string guid = vex->place_order({.security = EP, .quantity = 2});
  simulator->Sync();
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(vex->get_subscribe_bars_data(EP).value().size(), 20u);
  EXPECT_EQ(gateway->quotes().size(), 301u);
  EXPECT_FALSE(gateway->orderbooks().empty());
  ASSERT_EQ(gateway->deals().size(), 1u);
  EXPECT_EQ(gateway->deals()[0].order_id, guid);
  vex->update_positions();
  ASSERT_EQ(vex->positions().size(), 1u);
  EXPECT_EQ(vex->positions()[0].quantity, 2);
  vex->unsubscribe_bar("EPZ4");
  vex->unsubscribe_orderbook("EPZ4");
  vex->unsubscribe_quote("EPZ4");
  vex->unsubscribe_account_and_positions(101);
  vex->Logoff();
  EXPECT_EQ(TextsOf(TakeOutput()).back(), "Successfully logoff account Desk A");
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
