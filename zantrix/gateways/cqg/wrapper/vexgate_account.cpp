// VexGate: the trading account, its balance and its open positions.
//
// The two updates hold the module-wide `lock` for their whole work, as every
// VexGate of the process shares it; they build their record privately and
// publish it under records_mutex_, which readers take only to copy. So a
// reader never waits on a call to the client and never sees a record half
// filled.
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

namespace {

// The client's account data level, read through the worker's own object: a
// handler runs on the worker thread, which the proxy does not serve.
cel::eAccountSubscriptionLevel account_data_level(const std::shared_ptr<ClientHold>& hold) {
  const auto worker = hold ? hold->worker_client() : nullptr;
  if (!worker) {
    throw std::runtime_error(
        "VexGate can not read the account data level: its client environment is not running");
  }
  return worker->AccountSubscriptionLevel();
}

}  // namespace

void VexGate::subscribe_account_and_positions(long GWAccountID) {
  refuse_on_worker("subscribe_account_and_positions");
  // The client drops its accounts now and reloads them once account data is
  // on again: the accounts are ready only when that reload is reported.
  // Cleared first, so that no report of an earlier reload can be taken for
  // it, however soon it arrives.
  eventAccountIsReady.clear();
  client()->put_AccountSubscriptionLevel(cel::aslNone);
  std::this_thread::sleep_for(account_reload_pause);
  client()->put_AccountSubscriptionLevel(cel::aslAccountUpdatesAndOrders);
  Trace("Waiting for accounts coming...");
  AssertMessage(eventAccountIsReady.wait(wait_timeout), "Accounts coming timeout!");
  Trace("Select account " + std::to_string(GWAccountID) + ", subscribe to open positions.");
  {
    const std::lock_guard guard(records_mutex_);
    account_id_ = GWAccountID;
    account_name_.reset();
  }
  const auto account = require_account(GWAccountID);
  {
    std::string name = account->GWAccountName();
    const std::lock_guard guard(records_mutex_);
    account_name_ = std::move(name);
  }
  account->put_AutoSubscribeInstruments(true);
  account->put_PositionSubcriptionLevel(cel::pslSnapshotAndUpdates);
  update_account_balance();
  update_positions();
}

void VexGate::unsubscribe_account_and_positions(long GWAccountID) {
  refuse_proxy_on_worker("unsubscribe_account_and_positions");
  // Looked up while the client still lists its accounts.
  const auto account = get_account_from_gwaccountid(GWAccountID);
  client()->put_AccountSubscriptionLevel(cel::aslNone);
  if (!account) {
    throw framework::ValueError("GWAccountID " + std::to_string(GWAccountID) +
                                " can not be found!");
  }
  account->put_AutoSubscribeInstruments(false);
  account->put_PositionSubcriptionLevel(cel::pslNoPositions);
  Trace("Unsubscribe account " + std::to_string(GWAccountID) + ".");
}

// An error is printed with the local time and not passed on. Without a
// selected account the previous balance stays; any later error (an account
// that cannot be found included) leaves a new, empty one.
void VexGate::update_account_balance() {
  refuse_on_worker("update_account_balance");
  const std::lock_guard guard(lock);
  bool selected = false;
  try {
    const long id = selected_account_id();
    selected = true;
    const auto account = require_account(id);
    const auto summary = detail::returned(account->Summary(), "Account.Summary");
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
    if (selected) publish_balance({});
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
    const auto open_positions = detail::returned(account->Positions(), "Account.Positions");
    const long num_pos = open_positions->Count();
    for (long index = 0; index < num_pos; ++index) {
      const auto position = open_positions->ItemByIndex(index);
      if (!position) continue;
      const long quantity = position->Quantity();
      if (quantity == 0) continue;
      const std::string instrument_name = position->InstrumentName();
      const auto security = security_of(std::string(detail::last_piece(instrument_name)));
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
    const auto account = detail::require(cqgAccount, "account");
    const auto position = detail::require(cqgPosition, "position");
    Trace("OnAccountChanged - open position is " + what + " for " + account->GWAccountName() +
          " account - instrument: " + position->InstrumentName() +
          " average price: " + framework::format_number(position->AveragePrice()) +
          " quantity: " + std::to_string(position->Quantity()) +
          " OTE: " + framework::format_number(position->OTE()) +
          " PL: " + framework::format_number(position->ProfitLoss()));
  } else if (change == cel::actAccountsReloaded) {
    // A client may report a reload when account data is switched off; the
    // accounts the subscription waits for come only with data on.
    if (account_data_level(client_hold_.load()) == cel::aslNone) return;
    Trace("OnAccountChanged - Accounts are ready!");
    eventAccountIsReady.set();
  }
}

}  // namespace zantrix::gateways::cqg
