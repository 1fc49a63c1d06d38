#include "platform/com/synch.h"

#include <algorithm>

#include "platform/com/message_queue.h"

namespace platform::com {

EventObject::EventObject(bool manualReset, bool initialState)
    : manualReset_(manualReset), signalled_(initialState) {}

bool EventObject::Set() {
  if (IsClosed()) return false;
  std::vector<std::shared_ptr<MessageQueue>> waiters;
  {
    const std::lock_guard lock(mutex_);
    signalled_ = true;
    waiters = waiters_;
  }
  // Outside our lock: a waiter holds its queue's lock while it takes ours.
  for (const auto& waiter : waiters) waiter->Wake();
  return true;
}

bool EventObject::Close() {
  return !closed_.exchange(true);
}

bool EventObject::TryAcquire() {
  if (IsClosed()) return false;
  const std::lock_guard lock(mutex_);
  if (!signalled_) return false;
  if (!manualReset_) signalled_ = false;
  return true;
}

void EventObject::AddWaiter(const std::shared_ptr<MessageQueue>& waiter) {
  const std::lock_guard lock(mutex_);
  waiters_.push_back(waiter);
}

void EventObject::RemoveWaiter(const MessageQueue* waiter) {
  const std::lock_guard lock(mutex_);
  const auto it = std::find_if(waiters_.begin(), waiters_.end(),
                               [waiter](const auto& w) { return w.get() == waiter; });
  if (it != waiters_.end()) waiters_.erase(it);
}

HANDLE CreateEvent(const SECURITY_ATTRIBUTES* /*lpEventAttributes*/, BOOL bManualReset,
                   BOOL bInitialState, const char* lpName) {
  if (lpName != nullptr) return nullptr;
  return std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
}

BOOL SetEvent(const HANDLE& hEvent) {
  return hEvent && hEvent->Set() ? TRUE : FALSE;
}

BOOL CloseHandle(const HANDLE& hObject) {
  return hObject && hObject->Close() ? TRUE : FALSE;
}

}  // namespace platform::com
