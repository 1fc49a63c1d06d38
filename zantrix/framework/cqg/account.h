// Accounts, their summaries and their open positions.
//
// Accounts is keyed by the gateway account id; an account's Positions by
// instrument name. The summary's figures are indexed properties: the index
// chooses the figure's variant (the gateway reads Balance, NLV, UPL and
// ProfitLoss at 0, Collaterals and MaintenanceMargin at 1).
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/collection.h"
#include "zantrix/framework/cqg/constants.h"

namespace zantrix::framework::cqg {

class Position : public platform::com::IDispatch {
 public:
  virtual std::string InstrumentName() = 0;
  virtual double AveragePrice() = 0;
  // Signed: negative for a short position.
  virtual long Quantity() = 0;
  virtual eOrderSide Side() = 0;
  // Open trade equity.
  virtual double OTE() = 0;
  virtual double ProfitLoss() = 0;
};

class Positions : public Collection<Position, std::string> {};

class AccountSummary : public platform::com::IDispatch {
 public:
  virtual double Balance(long index) = 0;
  virtual double Collaterals(long index) = 0;
  // Net liquidating value.
  virtual double NLV(long index) = 0;
  // Unrealised profit and loss.
  virtual double UPL(long index) = 0;
  virtual double OTE(long index) = 0;
  virtual double ProfitLoss(long index) = 0;
  virtual double MaintenanceMargin(long index) = 0;
};

class Account : public platform::com::IDispatch {
 public:
  virtual long GWAccountID() = 0;
  virtual std::string GWAccountName() = 0;
  virtual bool AutoSubscribeInstruments() = 0;
  virtual void put_AutoSubscribeInstruments(bool value) = 0;
  // Spelled as the library spells it.
  virtual ePositionSubscriptionLevel PositionSubcriptionLevel() = 0;
  virtual void put_PositionSubcriptionLevel(ePositionSubscriptionLevel value) = 0;
  virtual std::shared_ptr<cqg::Positions> Positions() = 0;
  virtual std::shared_ptr<AccountSummary> Summary() = 0;
};

class Accounts : public Collection<Account, long> {};

}  // namespace zantrix::framework::cqg
