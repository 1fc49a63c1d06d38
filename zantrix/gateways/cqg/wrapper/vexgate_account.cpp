// VexGate: the trading account, its balance and its open positions.
//
// The two updates hold the module-wide `lock` for their whole work, as every
// VexGate of the process shares it; they build their record privately and
// publish it under records_mutex_, which readers take only to copy. So a
// reader never waits on a call to the client and never sees a record half
// filled.
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <utility>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

void VexGate::subscribe_account_and_positions(long GWAccountID) {
  refuse_on_worker("subscribe_account_and_positions");
  client().put_AccountSubscriptionLevel(cel::aslNone);
  std::this_thread::sleep_for(account_reload_pause);
  client().put_AccountSubscriptionLevel(cel::aslAccountUpdatesAndOrders);
  Trace("Waiting for accounts coming...");
  AssertMessage(eventAccountIsReady.wait(wait_timeout), "Accounts coming timeout!");
  Trace("Select account " + std::to_string(GWAccountID) + ", subscribe to open positions.");
  {
    const std::lock_guard guard(records_mutex_);
    account_id_ = GWAccountID;
  }
  const auto account = require_account(GWAccountID);
  account->put_AutoSubscribeInstruments(true);
  account->put_PositionSubcriptionLevel(cel::pslSnapshotAndUpdates);
  update_account_balance();
  update_positions();
}

void VexGate::unsubscribe_account_and_positions(long GWAccountID) {
  client().put_AccountSubscriptionLevel(cel::aslNone);
  const auto account = require_account(GWAccountID);
  account->put_AutoSubscribeInstruments(false);
  account->put_PositionSubcriptionLevel(cel::pslNoPositions);
  Trace("Unsubscribe account " + std::to_string(GWAccountID) + ".");
}

// An error is printed with the local time and not passed on. An account that
// cannot be found leaves the previous balance; an error while the summary is
// read leaves an empty one.
void VexGate::update_account_balance() {
  refuse_on_worker("update_account_balance");
  const std::lock_guard guard(lock);
  bool found = false;
  try {
    const auto account = require_account(selected_account_id());
    found = true;
    const auto summary = account->Summary();
    const double cash = summary->Balance(0);
    const double collaterals = summary->Collaterals(1);
    const double available_cash = cash - collaterals;
    const double net_cash_power = summary->NLV(0);
    const double maintenance_margin = summary->MaintenanceMargin(1);
    const double realized_pnl = summary->ProfitLoss(0);
    const double unrealized_pnl = summary->UPL(0);
    framework::AccountBalance balance;
    balance.cash = cash;
    balance.cash_by_currency = std::nullopt;
    balance.available_cash = available_cash;
    balance.max_power_short = std::nullopt;
    balance.net_cash_power = net_cash_power;
    balance.maintenance_margin = maintenance_margin;
    balance.realized_pnl = realized_pnl;
    balance.unrealized_pnl = unrealized_pnl;
    publish_balance(std::move(balance));
  } catch (const std::exception& error) {
    if (found) publish_balance({});
    detail::print_line(framework::format_datetime(framework::local_now()) + ": " + error.what());
  }
}

// An error is passed on once the positions made before it are published.
void VexGate::update_positions() {
  refuse_on_worker("update_positions");
  const std::lock_guard guard(lock);
  std::vector<framework::PositionData> made;
  try {
    const auto account = require_account(selected_account_id());
    const auto open_positions = account->Positions();
    const long num_pos = open_positions->Count();
    for (long index = 0; index < num_pos; ++index) {
      const auto position = open_positions->ItemByIndex(index);
      if (!position) continue;
      const long quantity = position->Quantity();
      if (quantity == 0) continue;
      const std::string instrument_name = position->InstrumentName();
      const auto security = the_gateway().get_zx_security_from_cqg_symbol(
          std::string(detail::last_piece(instrument_name)));
      if (!security) continue;
      const auto side = position->Side();
      framework::Direction direction;
      if (side == cel::osdBuy) {
        direction = framework::Direction::LONG;
      } else if (side == cel::osdSell) {
        direction = framework::Direction::SHORT;
      } else {
        throw framework::ValueError("Return CQG Position Side " +
                                    std::to_string(static_cast<long>(side)) + " is invalid!");
      }
      made.push_back({.security = *security,
                      .direction = direction,
                      .holding_price = position->AveragePrice(),
                      .quantity = static_cast<double>(std::labs(quantity)),
                      .update_time = framework::local_now()});
    }
  } catch (...) {
    publish_positions(std::move(made));
    throw;
  }
  publish_positions(std::move(made));
}

framework::AccountBalance VexGate::account_balance() const {
  const std::lock_guard guard(records_mutex_);
  return account_balance_;
}

std::vector<framework::PositionData> VexGate::positions() const {
  const std::lock_guard guard(records_mutex_);
  return positions_;
}

void VexGate::publish_balance(framework::AccountBalance balance) {
  const std::lock_guard guard(records_mutex_);
  account_balance_ = std::move(balance);
}

void VexGate::publish_positions(std::vector<framework::PositionData> positions) {
  const std::lock_guard guard(records_mutex_);
  positions_ = std::move(positions);
}

void VexGate::OnAccountChanged(cel::eAccountChangeType change,
                               std::shared_ptr<cel::Account> cqgAccount,
                               std::shared_ptr<cel::Position> cqgPosition) {
  if (change == cel::actPositionAdded || change == cel::actPositionChanged) {
    const std::string what = change == cel::actPositionAdded ? "added" : "changed";
    Trace("OnAccountChanged - open position is " + what + " for " + cqgAccount->GWAccountName() +
          " account - instrument: " + cqgPosition->InstrumentName() +
          " average price: " + framework::format_number(cqgPosition->AveragePrice()) +
          " quantity: " + std::to_string(cqgPosition->Quantity()) +
          " OTE: " + framework::format_number(cqgPosition->OTE()) +
          " PL: " + framework::format_number(cqgPosition->ProfitLoss()));
  } else if (change == cel::actAccountsReloaded) {
    Trace("OnAccountChanged - Accounts are ready!");
    eventAccountIsReady.set();
  }
}

}  // namespace zantrix::gateways::cqg
