#include "platform/cqgsim/simulator.h"

#include <stdexcept>
#include <utility>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "zantrix/framework/cqg/type_library.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

Simulator::Simulator() : script_(std::make_shared<Script>()) {}

Simulator::~Simulator() {
  script_->Clear();
}

void Simulator::RefuseCreation(std::string message) {
  script_->RefuseCreation(std::move(message));
}

void Simulator::FailNextCall(std::string member, std::string message) {
  script_->FailNextCall(std::move(member), std::move(message));
}

void Simulator::ReturnNothingFrom(std::string member) {
  script_->ReturnNothingFrom(std::move(member));
}

void Simulator::AnswerWith(std::string member, std::vector<Notification> answer) {
  script_->AnswerWith(std::move(member), std::move(answer));
}

void Simulator::DropAnswers(std::string member) {
  script_->SetAnswerMode(std::move(member), AnswerMode::Drop);
}

void Simulator::HoldAnswers(std::string member) {
  script_->SetAnswerMode(std::move(member), AnswerMode::Hold);
}

void Simulator::ReleaseAnswers(std::string member) {
  const auto cel = RequireInstance();
  script_->SetAnswerMode(member, AnswerMode::Deliver);
  for (auto& notification : script_->TakeHeld(member)) cel->Raise(std::move(notification));
}

void Simulator::RaiseEvent(Notification notification) {
  RequireInstance()->Raise(std::move(notification));
}

void Simulator::Sync() {
  RequireInstance()->Sync();
}

void Simulator::Record(bool on) {
  script_->SetRecording(on);
}

void Simulator::Act(Action action) {
  std::shared_ptr<CQGCEL> cel;
  {
    const std::lock_guard lock(mutex_);
    cel = instance_.lock();
    if (!cel) {
      pending_.push_back(std::move(action));
      return;
    }
  }
  cel->Act(std::move(action));
}

void Simulator::SetQuirks(Quirks quirks) {
  Act([quirks](Venue& venue) { venue.SetQuirks(quirks); });
}

void Simulator::DefectNextOrderEvent(OrderEventDefect defect) {
  Act([defect](Venue& venue) { venue.DefectNextOrderEvent(defect); });
}

void Simulator::Seed(std::uint64_t seed) {
  Act([seed](Venue& venue) { venue.Seed(seed); });
}

void Simulator::SetClock(zantrix::framework::DateTime time) {
  Act([time](Venue& venue) { venue.SetClock(time); });
}

void Simulator::SetGWConnectionStatus(cqg::eConnectionStatus status) {
  Act([status](Venue& venue) { venue.SetGWConnectionStatus(status); });
}

void Simulator::SetDataConnectionStatus(cqg::eConnectionStatus status) {
  Act([status](Venue& venue) { venue.SetDataConnectionStatus(status); });
}

void Simulator::DefineInstrument(InstrumentSetup setup) {
  Act([setup = std::move(setup)](Venue& venue) { venue.DefineInstrument(setup); });
}

void Simulator::SetQuotes(std::string symbol, std::vector<QuoteUpdate> quotes) {
  Act([symbol = std::move(symbol), quotes = std::move(quotes)](Venue& venue) {
    venue.SetQuotes(symbol, quotes);
  });
}

void Simulator::AddTicks(std::string symbol, std::vector<TickSetup> ticks) {
  Act([symbol = std::move(symbol), ticks = std::move(ticks)](Venue& venue) {
    venue.AddTicks(symbol, ticks);
  });
}

void Simulator::RunMarket(std::string symbol, long steps) {
  Act([symbol = std::move(symbol), steps](Venue& venue) { venue.RunMarket(symbol, steps); });
}

void Simulator::SetBars(std::string symbol, std::vector<BarSetup> bars, BarPeriod period) {
  Act([symbol = std::move(symbol), bars = std::move(bars), period](Venue& venue) mutable {
    venue.SetBars(symbol, std::move(bars), period);
  });
}

void Simulator::AddBar(std::string symbol, BarSetup bar, BarPeriod period) {
  Act([symbol = std::move(symbol), bar, period](Venue& venue) {
    venue.AddBar(symbol, bar, period);
  });
}

void Simulator::RaiseBarsAdded(std::string symbol, BarPeriod period) {
  Act([symbol = std::move(symbol), period](Venue& venue) { venue.RaiseBarsAdded(symbol, period); });
}

void Simulator::ReplayBar(std::string symbol, BarSetup bar, BarPeriod period) {
  Act([symbol = std::move(symbol), bar, period](Venue& venue) {
    venue.ReplayBar(symbol, bar, period);
  });
}

void Simulator::AddAccount(AccountSetup setup) {
  Act([setup = std::move(setup)](Venue& venue) { venue.AddAccount(setup); });
}

void Simulator::SetSummary(long accountId, SummarySetup figures) {
  Act([accountId, figures = std::move(figures)](Venue& venue) {
    venue.SetSummary(accountId, figures);
  });
}

void Simulator::SetPosition(long accountId, PositionSetup setup) {
  Act([accountId, setup = std::move(setup)](Venue& venue) { venue.SetPosition(accountId, setup); });
}

void Simulator::RejectNextOrder() {
  Act([](Venue& venue) { venue.RejectNextOrder(); });
}

void Simulator::SetOrderStatus(std::string guid, cqg::eOrderStatus status) {
  Act([guid = std::move(guid), status](Venue& venue) { venue.SetOrderStatus(guid, status); });
}

void Simulator::FillOrder(std::string guid, double price, cqg::eFillStatus fillStatus) {
  Act([guid = std::move(guid), price, fillStatus](Venue& venue) {
    venue.FillOrder(guid, price, fillStatus);
  });
}

void Simulator::RemoveOrder(std::string guid) {
  Act([guid = std::move(guid)](Venue& venue) { venue.RemoveOrder(guid); });
}

void Simulator::PlaceManualOrder(ManualOrderSetup setup) {
  Act([setup = std::move(setup)](Venue& venue) { venue.PlaceManualOrder(setup); });
}

std::shared_ptr<CQGCEL> Simulator::Instance() const {
  const std::lock_guard lock(mutex_);
  return instance_.lock();
}

std::vector<CallRecord> Simulator::Calls() const {
  return script_->Calls();
}

std::vector<EventRecord> Simulator::Events() const {
  return script_->Events();
}

std::vector<FillReport> Simulator::Fills() const {
  return script_->Fills();
}

std::shared_ptr<CQGCEL> Simulator::Create() {
  if (auto refusal = script_->TakeCreationRefusal()) {
    throw com::ComError(com::CO_E_SERVER_EXEC_FAILURE, *refusal);
  }
  auto cel = std::make_shared<CQGCEL>(com::Apartment::Current(), script_);
  cel->Bind();
  Watch(*cel);
  std::vector<Action> pending;
  {
    const std::lock_guard lock(mutex_);
    instance_ = cel;
    pending = std::exchange(pending_, {});
  }
  for (const auto& action : pending) cel->ActHere(action);
  return cel;
}

std::shared_ptr<CQGCEL> Simulator::RequireInstance() const {
  auto cel = Instance();
  if (!cel) throw std::runtime_error("no simulated CQGCEL exists");
  return cel;
}

void Simulator::SetMisbehaviour(Misbehaviour rates) {
  Act([rates](Venue& venue) { venue.SetMisbehaviour(rates); });
}

void Simulator::FailNextPlaceAfterArrival() {
  Act([](Venue& venue) { venue.FailNextPlaceAfterArrival(); });
}

void Simulator::RepeatFill(std::string guid) {
  Act([guid = std::move(guid)](Venue& venue) { venue.RepeatFill(guid); });
}

void Simulator::Watch(CQGCEL& cel) {
  std::weak_ptr<Venue> venue;
  cel.ActHere([&venue](Venue& own) { venue = own.weak_from_this(); });
  const std::lock_guard lock(mutex_);
  watched_ = {.venue = std::move(venue), .apartment = com::Apartment::Current()};
}

// Served by the client's thread after whatever was queued before, inline when
// asked there, so that the reading sees everything asked for before it.
template <class Read>
std::invoke_result_t<const Read&, const Venue&> Simulator::Inspect(const Read& read) const {
  Watched watched;
  {
    const std::lock_guard lock(mutex_);
    watched = watched_;
  }
  const auto apartment = watched.apartment.lock();
  if (!apartment) throw std::runtime_error("no simulated CQGCEL exists");
  return apartment->Call([&] {
    const auto venue = watched.venue.lock();
    if (!venue) throw std::runtime_error("no simulated CQGCEL exists");
    return read(std::as_const(*venue));
  });
}

std::vector<OrderSnapshot> Simulator::Orders() const {
  return Inspect([](const Venue& venue) { return venue.OrderSnapshots(); });
}

std::vector<PositionSnapshot> Simulator::Positions() const {
  return Inspect([](const Venue& venue) { return venue.PositionSnapshots(); });
}

std::shared_ptr<Simulator> Register() {
  auto simulator = std::make_shared<Simulator>();
  com::RegisterTypeLib(cqg::LIBID_CQG, cqg::LIBID_CQG_MAJOR, cqg::LIBID_CQG_MINOR,
                       cqg::LIBID_CQG_LCID, cqg::TypeLibrary());
  com::RegisterServer(
      std::string(cqg::CQGCEL_PROGID),
      [simulator]() -> std::shared_ptr<com::IDispatch> { return simulator->Create(); });
  return simulator;
}

void Unregister() {
  com::UnregisterServer(cqg::CQGCEL_PROGID);
  com::UnRegisterTypeLib(cqg::LIBID_CQG, cqg::LIBID_CQG_MAJOR, cqg::LIBID_CQG_MINOR,
                         cqg::LIBID_CQG_LCID);
}

}  // namespace platform::cqgsim
