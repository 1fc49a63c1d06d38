#include "platform/cqgsim/script.h"

#include <utility>

namespace platform::cqgsim {

void Script::RefuseCreation(std::string message) {
  const std::lock_guard lock(mutex_);
  creationRefusals_.push_back(std::move(message));
}

std::optional<std::string> Script::TakeCreationRefusal() {
  const std::lock_guard lock(mutex_);
  if (creationRefusals_.empty()) return std::nullopt;
  std::string message = std::move(creationRefusals_.front());
  creationRefusals_.erase(creationRefusals_.begin());
  return message;
}

void Script::FailNextCall(std::string member, std::string message) {
  const std::lock_guard lock(mutex_);
  failures_.emplace(std::move(member), std::move(message));
  failuresArranged_.fetch_add(1, std::memory_order_relaxed);
}

std::optional<std::string> Script::TakeFailure(std::string_view member) {
  if (failuresArranged_.load(std::memory_order_relaxed) == 0) return std::nullopt;
  const std::lock_guard lock(mutex_);
  // A multimap keeps equal keys in insertion order: failures come out in
  // the order they were arranged.
  const auto it = failures_.find(member);
  if (it == failures_.end()) return std::nullopt;
  std::string message = std::move(it->second);
  failures_.erase(it);
  failuresArranged_.fetch_sub(1, std::memory_order_relaxed);
  return message;
}

void Script::ReturnNothingFrom(std::string member) {
  const std::lock_guard lock(mutex_);
  nothings_.insert(std::move(member));
  nothingsArranged_.fetch_add(1, std::memory_order_relaxed);
}

bool Script::TakeNothing(std::string_view member) {
  if (nothingsArranged_.load(std::memory_order_relaxed) == 0) return false;
  const std::lock_guard lock(mutex_);
  const auto it = nothings_.find(member);
  if (it == nothings_.end()) return false;
  nothings_.erase(it);
  nothingsArranged_.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

void Script::AnswerWith(std::string member, std::vector<Notification> answer) {
  const std::lock_guard lock(mutex_);
  answering_[std::move(member)].replacement = std::move(answer);
}

void Script::SetAnswerMode(std::string member, AnswerMode mode) {
  const std::lock_guard lock(mutex_);
  answering_[std::move(member)].mode = mode;
}

std::vector<Notification> Script::Answer(std::string_view member, std::vector<Notification> usual) {
  const std::lock_guard lock(mutex_);
  const auto it = answering_.find(member);
  if (it == answering_.end()) return usual;
  Answering& answering = it->second;
  std::vector<Notification> answer =
      answering.replacement ? *answering.replacement : std::move(usual);
  switch (answering.mode) {
    case AnswerMode::Deliver:
      return answer;
    case AnswerMode::Drop:
      return {};
    case AnswerMode::Hold:
      for (auto& notification : answer) answering.held.push_back(std::move(notification));
      return {};
  }
  return {};
}

std::vector<Notification> Script::TakeHeld(std::string_view member) {
  const std::lock_guard lock(mutex_);
  const auto it = answering_.find(member);
  if (it == answering_.end()) return {};
  return std::exchange(it->second.held, {});
}

void Script::Clear() {
  std::map<std::string, Answering, std::less<>> answering;
  std::vector<CallRecord> calls;
  {
    const std::lock_guard lock(mutex_);
    answering.swap(answering_);
    calls.swap(calls_);
    events_.clear();
    fills_.clear();
  }
  // The objects go after the lock is released.
}

void Script::RecordCall(CallRecord call) {
  const std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

void Script::RecordEvent(EventRecord event) {
  const std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
}

std::vector<CallRecord> Script::Calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<EventRecord> Script::Events() const {
  const std::lock_guard lock(mutex_);
  return events_;
}

void Script::RecordFill(FillReport fill) {
  const std::lock_guard lock(mutex_);
  fills_.push_back(std::move(fill));
}

std::vector<FillReport> Script::Fills() const {
  const std::lock_guard lock(mutex_);
  return fills_;
}

}  // namespace platform::cqgsim
