#include "platform/cqgsim/account.h"

#include <utility>

#include "platform/com/error.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

std::string Position::InstrumentName() {
  return servant_.Serve("Position.InstrumentName", {}, [this] { return instrumentName; });
}

double Position::AveragePrice() {
  return servant_.Serve("Position.AveragePrice", {}, [this] { return averagePrice; });
}

long Position::Quantity() {
  return servant_.Serve("Position.Quantity", {}, [this] { return quantity; });
}

cqg::eOrderSide Position::Side() {
  return servant_.Serve("Position.Side", {}, [this] { return side; });
}

double Position::OTE() {
  return servant_.Serve("Position.OTE", {}, [this] { return ote; });
}

double Position::ProfitLoss() {
  return servant_.Serve("Position.ProfitLoss", {}, [this] { return profitLoss; });
}

double AccountSummary::Balance(long index) {
  return Figure("AccountSummary.Balance", figures.balance, index);
}

double AccountSummary::Collaterals(long index) {
  return Figure("AccountSummary.Collaterals", figures.collaterals, index);
}

double AccountSummary::NLV(long index) {
  return Figure("AccountSummary.NLV", figures.nlv, index);
}

double AccountSummary::UPL(long index) {
  return Figure("AccountSummary.UPL", figures.upl, index);
}

double AccountSummary::OTE(long index) {
  return Figure("AccountSummary.OTE", figures.ote, index);
}

double AccountSummary::ProfitLoss(long index) {
  return Figure("AccountSummary.ProfitLoss", figures.profitLoss, index);
}

double AccountSummary::MaintenanceMargin(long index) {
  return Figure("AccountSummary.MaintenanceMargin", figures.maintenanceMargin, index);
}

double AccountSummary::Figure(std::string_view member, const std::vector<double>& values,
                              long index) {
  return servant_.Serve(member, {index}, [member, &values, index] {
    if (index < 0 || index >= static_cast<long>(values.size())) {
      throw com::ComError(com::E_INVALIDARG,
                          std::string(member) + ": no value at index " + std::to_string(index));
    }
    return values[static_cast<std::size_t>(index)];
  });
}

Account::Account(Servant servant, long id, std::string name)
    : id(id),
      name(std::move(name)),
      positions(std::make_shared<cqgsim::Positions>(servant)),
      summary(std::make_shared<AccountSummary>(servant)),
      servant_(std::move(servant)) {}

long Account::GWAccountID() {
  return servant_.Serve("Account.GWAccountID", {}, [this] { return id; });
}

std::string Account::GWAccountName() {
  return servant_.Serve("Account.GWAccountName", {}, [this] { return name; });
}

bool Account::AutoSubscribeInstruments() {
  return servant_.Serve("Account.AutoSubscribeInstruments", {},
                        [this] { return autoSubscribeInstruments; });
}

void Account::put_AutoSubscribeInstruments(bool value) {
  servant_.Serve("Account.put_AutoSubscribeInstruments", {value},
                 [this, value] { autoSubscribeInstruments = value; });
}

cqg::ePositionSubscriptionLevel Account::PositionSubcriptionLevel() {
  return servant_.Serve("Account.PositionSubcriptionLevel", {}, [this] { return positionLevel; });
}

void Account::put_PositionSubcriptionLevel(cqg::ePositionSubscriptionLevel value) {
  servant_.Serve("Account.put_PositionSubcriptionLevel", {static_cast<long>(value)},
                 [this, value] { positionLevel = value; });
}

std::shared_ptr<cqg::Positions> Account::Positions() {
  return servant_.Serve("Account.Positions", {},
                        [this]() -> std::shared_ptr<cqg::Positions> { return positions; });
}

std::shared_ptr<cqg::AccountSummary> Account::Summary() {
  return servant_.Serve("Account.Summary", {},
                        [this]() -> std::shared_ptr<cqg::AccountSummary> { return summary; });
}

}  // namespace platform::cqgsim
