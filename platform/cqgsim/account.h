// The simulated accounts: Account, its AccountSummary and its open Positions.
//
// Their values are plain fields that the simulator sets on the client's
// thread; the library's members read them as served calls (servant.h).
// Summary figures are indexed: each figure holds one value per index, and an
// index it does not hold is a ComError, so a reader that asks for the wrong
// variant of a figure is told so.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/cqgsim/collection.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/account.h"

namespace platform::cqgsim {

// The figures of a summary, each by index.
struct SummarySetup {
  std::vector<double> balance = {};
  std::vector<double> collaterals = {};
  std::vector<double> nlv = {};
  std::vector<double> upl = {};
  std::vector<double> ote = {};
  std::vector<double> profitLoss = {};
  std::vector<double> maintenanceMargin = {};
};

class Position final : public zantrix::framework::cqg::Position {
 public:
  Position(Servant servant, std::string instrumentName)
      : instrumentName(std::move(instrumentName)), servant_(std::move(servant)) {}

  std::string InstrumentName() override;
  double AveragePrice() override;
  long Quantity() override;
  zantrix::framework::cqg::eOrderSide Side() override;
  double OTE() override;
  double ProfitLoss() override;

  const std::string& key() const { return instrumentName; }

  const std::string instrumentName;
  double averagePrice = 0;
  long quantity = 0;
  zantrix::framework::cqg::eOrderSide side = zantrix::framework::cqg::osdUndefined;
  double ote = 0;
  double profitLoss = 0;

 private:
  Servant servant_;
};

inline constexpr CollectionNames POSITIONS_NAMES{"Positions", "Positions.Count", "Positions.Item",
                                                 "Positions.ItemByIndex"};
using Positions =
    Collection<zantrix::framework::cqg::Positions, Position, std::string, POSITIONS_NAMES>;

class AccountSummary final : public zantrix::framework::cqg::AccountSummary {
 public:
  explicit AccountSummary(Servant servant) : servant_(std::move(servant)) {}

  double Balance(long index) override;
  double Collaterals(long index) override;
  double NLV(long index) override;
  double UPL(long index) override;
  double OTE(long index) override;
  double ProfitLoss(long index) override;
  double MaintenanceMargin(long index) override;

  SummarySetup figures;

 private:
  double Figure(std::string_view member, const std::vector<double>& values, long index);

  Servant servant_;
};

class Account final : public zantrix::framework::cqg::Account {
 public:
  Account(Servant servant, long id, std::string name);

  long GWAccountID() override;
  std::string GWAccountName() override;
  bool AutoSubscribeInstruments() override;
  void put_AutoSubscribeInstruments(bool value) override;
  zantrix::framework::cqg::ePositionSubscriptionLevel PositionSubcriptionLevel() override;
  void put_PositionSubcriptionLevel(
      zantrix::framework::cqg::ePositionSubscriptionLevel value) override;
  std::shared_ptr<zantrix::framework::cqg::Positions> Positions() override;
  std::shared_ptr<zantrix::framework::cqg::AccountSummary> Summary() override;

  long key() const { return id; }

  const long id;
  const std::string name;
  bool autoSubscribeInstruments = false;
  zantrix::framework::cqg::ePositionSubscriptionLevel positionLevel =
      zantrix::framework::cqg::pslNoPositions;
  const std::shared_ptr<cqgsim::Positions> positions;
  const std::shared_ptr<AccountSummary> summary;

 private:
  Servant servant_;
};

inline constexpr CollectionNames ACCOUNTS_NAMES{"Accounts", "Accounts.Count", "Accounts.Item",
                                                "Accounts.ItemByIndex"};
using Accounts = Collection<zantrix::framework::cqg::Accounts, Account, long, ACCOUNTS_NAMES>;

}  // namespace platform::cqgsim
