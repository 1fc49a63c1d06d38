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

void Simulator::RefuseCreation(std::string message) {
  script_->RefuseCreation(std::move(message));
}

void Simulator::FailNextCall(std::string member, std::string message) {
  script_->FailNextCall(std::move(member), std::move(message));
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

std::shared_ptr<CQGCEL> Simulator::Create() {
  if (auto refusal = script_->TakeCreationRefusal()) {
    throw com::ComError(com::CO_E_SERVER_EXEC_FAILURE, *refusal);
  }
  auto cel = std::make_shared<CQGCEL>(com::Apartment::Current(), script_);
  const std::lock_guard lock(mutex_);
  instance_ = cel;
  return cel;
}

std::shared_ptr<CQGCEL> Simulator::RequireInstance() const {
  auto cel = Instance();
  if (!cel) throw std::runtime_error("no simulated CQGCEL exists");
  return cel;
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
