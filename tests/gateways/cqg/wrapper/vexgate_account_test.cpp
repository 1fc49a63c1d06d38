// VexGate's account: the subscription with and without accounts in time,
// the balance figures and their indexes, positions (symbols, signs, skipped
// ones, a bad side), updates before any subscription, the account events,
// and readers that never wait for the module-wide lock.
#include <regex>
#include <string>

#include "tests/gateways/cqg/wrapper/vexgate_fixture.h"
#include "zantrix/framework/errors.h"

namespace zantrix::gateways::cqg::test {
namespace {

using framework::Direction;

class VexGateAccountTest : public VexGateTest {
 protected:
  void SetUp() override {
    VexGateTest::SetUp();
    simulator->AddAccount({.id = 101,
                           .name = "Desk A",
                           .summary = {.balance = {1000, -1},
                                       .collaterals = {-1, 250},
                                       .nlv = {1200, -1},
                                       .upl = {30, -1},
                                       .profitLoss = {-20, -1},
                                       .maintenanceMargin = {-1, 400}}});
    vex->Logon("trader", "secret");
    TakeOutput();
  }
};

TEST_F(VexGateAccountTest, SubscribingSelectsTheAccountAndLoadsItsRecords) {
  vex->subscribe_account_and_positions(101);
  const auto lines = TakeOutput();
  const auto caller = TextsOn(lines, ::gettid());
  ASSERT_GE(caller.size(), 2u);
  EXPECT_EQ(caller[0], "Waiting for accounts coming...");
  EXPECT_EQ(caller[1], "Select account 101, subscribe to open positions.");
  EXPECT_EQ(TextsOn(lines, worker),
            (std::vector<std::string>{"OnAccountChanged - Accounts are ready!"}));
  EXPECT_EQ(vex->GWAccountID(), 101);
  const auto levels = CallsOf("CQGCEL.put_AccountSubscriptionLevel");
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(levels[0].arguments, std::vector<cel::Variant>{static_cast<long>(cel::aslNone)});
  EXPECT_EQ(levels[1].arguments,
            std::vector<cel::Variant>{static_cast<long>(cel::aslAccountUpdatesAndOrders)});
  EXPECT_EQ(CallsOf("Account.put_AutoSubscribeInstruments").back().arguments,
            std::vector<cel::Variant>{true});
  EXPECT_EQ(CallsOf("Account.put_PositionSubcriptionLevel").back().arguments,
            std::vector<cel::Variant>{static_cast<long>(cel::pslSnapshotAndUpdates)});
}

TEST_F(VexGateAccountTest, TheBalanceTakesEachFigureAtItsIndex) {
  vex->subscribe_account_and_positions(101);
  const auto balance = vex->account_balance();
  EXPECT_EQ(balance.cash, 1000);
  EXPECT_EQ(balance.available_cash, 750);
  EXPECT_EQ(balance.net_cash_power, 1200);
  EXPECT_EQ(balance.maintenance_margin, 400);
  EXPECT_EQ(balance.realized_pnl, -20);
  EXPECT_EQ(balance.unrealized_pnl, 30);
  EXPECT_EQ(balance.cash_by_currency, std::nullopt);
  EXPECT_EQ(balance.max_power_short, std::nullopt);
}

TEST_F(VexGateAccountTest, PositionsComeByTheSymbolAfterTheLastPointWithTheirSize) {
  simulator->SetPosition(101,
                         {.instrumentName = "F.US.EPU23", .averagePrice = 4400.5, .quantity = -3});
  simulator->SetPosition(101, {.instrumentName = "F.US.EPZ4", .averagePrice = 5000, .quantity = 0});
  simulator->SetPosition(101, {.instrumentName = "F.US.ZNZ4", .averagePrice = 110, .quantity = 5});
  simulator->SetPosition(101, {.instrumentName = "F.US.ESZ4", .averagePrice = 5001, .quantity = 2});
  const auto before = framework::local_now();
  vex->subscribe_account_and_positions(101);
  const auto positions = vex->positions();
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].security, EPU);
  EXPECT_EQ(positions[0].direction, Direction::SHORT);
  EXPECT_EQ(positions[0].quantity, 3);
  EXPECT_EQ(positions[0].holding_price, 4400.5);
  EXPECT_GE(positions[0].update_time, before);
  EXPECT_EQ(positions[1].security, ES);
  EXPECT_EQ(positions[1].direction, Direction::LONG);
}

TEST_F(VexGateAccountTest, ABadSideEndsTheUpdateKeepingThePositionsBeforeIt) {
  vex->subscribe_account_and_positions(101);
  simulator->SetPosition(101, {.instrumentName = "F.US.ESZ4", .averagePrice = 5001, .quantity = 2});
  simulator->SetPosition(101, {.instrumentName = "F.US.EPZ4",
                               .averagePrice = 5000,
                               .quantity = 1,
                               .side = cel::osdUndefined});
  simulator->SetPosition(101,
                         {.instrumentName = "F.US.MESZ4", .averagePrice = 5000, .quantity = 1});
  simulator->Sync();
  ExpectError<framework::ValueError>([&] { vex->update_positions(); },
                                     "Return CQG Position Side 0 is invalid!");
  const auto positions = vex->positions();
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].security, ES);
}

TEST_F(VexGateAccountTest, UpdatesBeforeAnySubscriptionReportOrRaiseTheMissingAccount) {
  vex->update_account_balance();
  const auto lines = TakeOutput();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].thread, 0);
  const std::regex line(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}(\.\d{6})?: No GW account is selected: call subscribe_account_and_positions first)");
  EXPECT_TRUE(std::regex_match(lines[0].text, line)) << lines[0].text;
  EXPECT_THROW(vex->update_positions(), std::runtime_error);
  EXPECT_TRUE(vex->positions().empty());
}

TEST_F(VexGateAccountTest, ABalanceErrorIsPrintedAndLeavesAnEmptyRecord) {
  vex->subscribe_account_and_positions(101);
  simulator->SetSummary(101, {.balance = {1000}});
  simulator->Sync();
  TakeOutput();
  vex->update_account_balance();
  const auto lines = TakeOutput();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().text.ends_with(": AccountSummary.Collaterals: no value at index 1"))
      << lines.back().text;
  EXPECT_EQ(vex->account_balance(), framework::AccountBalance{});
}

TEST_F(VexGateAccountTest, AnAccountNotFoundLeavesAnEmptyBalance) {
  vex->subscribe_account_and_positions(101);
  simulator->Act(
      [](cqgsim::Venue& venue) { venue.accounts->Remove(venue.accounts->Find(101).get()); });
  simulator->Sync();
  vex->update_account_balance();
  EXPECT_TRUE(TakeOutput().back().text.ends_with(": GWAccountID 101 can not be found!"));
  EXPECT_EQ(vex->account_balance(), framework::AccountBalance{});
}

TEST_F(VexGateAccountTest, AccountsThatDoNotComeInTimeAreAnError) {
  simulator->DropAnswers("CQGCEL.put_AccountSubscriptionLevel");
  vex->wait_timeout = 50ms;
  ExpectError<std::runtime_error>([&] { vex->subscribe_account_and_positions(101); },
                                  "Accounts coming timeout!");
  EXPECT_EQ(vex->GWAccountID(), std::nullopt);
}

// A client that reports a reload for the switch-off too: that report comes
// before the switch-on is served, and the subscription still waits for the
// reload of the switch-on (held here until after its wait).
TEST_F(VexGateAccountTest, AReloadReportedWhileAccountDataIsOffDoesNotEndTheWait) {
  const std::string level = "CQGCEL.put_AccountSubscriptionLevel";
  auto reloaded = cqgsim::AccountChanged(cel::actAccountsReloaded, nullptr, nullptr);
  reloaded.prepare = [this, level] { simulator->HoldAnswers(level); };
  simulator->AnswerWith(level, {reloaded});
  vex->wait_timeout = 50ms;
  ExpectError<std::runtime_error>([&] { vex->subscribe_account_and_positions(101); },
                                  "Accounts coming timeout!");
  EXPECT_FALSE(HasText(TakeOutput(), "OnAccountChanged - Accounts are ready!"));
  simulator->ReleaseAnswers(level);
  EXPECT_TRUE(HasText(TakeOutput(), "OnAccountChanged - Accounts are ready!"));
  EXPECT_TRUE(vex->eventAccountIsReady.is_set());
}

// A client that drops its accounts while account data is off: the second
// subscription waits for the reload, and unsubscribing still finds the
// account.
TEST_F(VexGateAccountTest, SubscriptionsWaitForTheAccountsToReload) {
  simulator->SetQuirks({.accountsReload = true});
  vex->subscribe_account_and_positions(101);
  simulator->HoldAnswers("CQGCEL.put_AccountSubscriptionLevel");
  std::jthread reload([this] {
    std::this_thread::sleep_for(100ms);
    simulator->ReleaseAnswers("CQGCEL.put_AccountSubscriptionLevel");
  });
  EXPECT_NO_THROW(vex->subscribe_account_and_positions(101));
  EXPECT_EQ(vex->account_balance().cash, 1000);
  reload.join();
  EXPECT_NO_THROW(vex->unsubscribe_account_and_positions(101));
  EXPECT_EQ(CallsOf("Account.put_PositionSubcriptionLevel").back().arguments,
            std::vector<cel::Variant>{static_cast<long>(cel::pslNoPositions)});
}

TEST_F(VexGateAccountTest, AnUnknownAccountIsStoredThenReported) {
  ExpectError<framework::ValueError>([&] { vex->subscribe_account_and_positions(303); },
                                     "GWAccountID 303 can not be found!");
  EXPECT_EQ(vex->GWAccountID(), 303);
  ExpectError<framework::ValueError>([&] { vex->unsubscribe_account_and_positions(303); },
                                     "GWAccountID 303 can not be found!");
  EXPECT_EQ(CallsOf("CQGCEL.put_AccountSubscriptionLevel").back().arguments,
            std::vector<cel::Variant>{static_cast<long>(cel::aslNone)});
}

TEST_F(VexGateAccountTest, UnsubscribingSwitchesAccountDataOff) {
  vex->subscribe_account_and_positions(101);
  TakeOutput();
  vex->unsubscribe_account_and_positions(101);
  EXPECT_EQ(TextsOf(TakeOutput()).back(), "Unsubscribe account 101.");
  EXPECT_EQ(CallsOf("Account.put_AutoSubscribeInstruments").back().arguments,
            std::vector<cel::Variant>{false});
  EXPECT_EQ(CallsOf("Account.put_PositionSubcriptionLevel").back().arguments,
            std::vector<cel::Variant>{static_cast<long>(cel::pslNoPositions)});
  EXPECT_EQ(vex->GWAccountID(), 101);
  EXPECT_EQ(vex->account_balance().cash, 1000);
}

TEST_F(VexGateAccountTest, PositionEventsAreTracedAndChangeNothing) {
  vex->subscribe_account_and_positions(101);
  TakeOutput();
  simulator->SetPosition(101, {.instrumentName = "F.US.EPZ4",
                               .averagePrice = 5000.5,
                               .quantity = -2,
                               .ote = 12.5,
                               .profitLoss = 3});
  simulator->SetPosition(101,
                         {.instrumentName = "F.US.EPZ4", .averagePrice = 5000.5, .quantity = -4});
  const auto lines = TakeOutput();
  EXPECT_EQ(lines,
            (std::vector<Line>{
                {worker,
                 "OnAccountChanged - open position is added for Desk A account - "
                 "instrument: F.US.EPZ4 average price: 5000.5 quantity: -2 OTE: 12.5 PL: 3.0"},
                {worker,
                 "OnAccountChanged - open position is changed for Desk A account - "
                 "instrument: F.US.EPZ4 average price: 5000.5 quantity: -4 OTE: 0.0 PL: 0.0"}}));
  EXPECT_TRUE(vex->positions().empty());
}

TEST_F(VexGateAccountTest, ReadersNeverWaitForTheModuleLock) {
  vex->subscribe_account_and_positions(101);
  const std::lock_guard held(lock);
  EXPECT_EQ(vex->account_balance().cash, 1000);
  EXPECT_TRUE(vex->positions().empty());
}

TEST_F(VexGateAccountTest, AFillMovesThePositionThatTheNextUpdateReads) {
  vex->subscribe_account_and_positions(101);
  vex->subscribe_quote("EPZ4");
  vex->place_order({.security = EP, .quantity = 2, .direction = Direction::SHORT});
  simulator->Sync();
  vex->update_positions();
  const auto positions = vex->positions();
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].direction, Direction::SHORT);
  EXPECT_EQ(positions[0].quantity, 2);
  EXPECT_EQ(positions[0].holding_price, 5000);
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
