// Event objects: the kernel events of Win32, as far as a message pump needs
// them.
//
// CreateEvent makes an unnamed event, auto-reset or manual-reset, signalled or
// not. SetEvent signals it: an auto-reset event then satisfies exactly one
// wait and resets itself, a manual-reset event stays signalled. A HANDLE is
// shared ownership of the event; CloseHandle invalidates it for every holder,
// after which waits on it fail (WAIT_FAILED) and SetEvent returns FALSE. A
// wait already blocked on it is not woken by the close. Events are waited on
// with MsgWaitForMultipleObjects (message_queue.h). Every function is safe to
// call from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/types.h"

namespace platform::com {

class MessageQueue;

class EventObject {
 public:
  EventObject(bool manualReset, bool initialState);
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  // False once the handle has been closed.
  bool Set();
  // False when the handle was already closed.
  bool Close();
  bool IsClosed() const { return closed_.load(); }

  // The wait's side: reports whether the event is signalled, and consumes
  // the signal of an auto-reset event. A waiter registers its queue so that
  // Set wakes it.
  bool TryAcquire();
  void AddWaiter(const std::shared_ptr<MessageQueue>& waiter);
  void RemoveWaiter(const MessageQueue* waiter);

 private:
  std::mutex mutex_;
  const bool manualReset_;
  bool signalled_;
  std::atomic<bool> closed_{false};
  std::vector<std::shared_ptr<MessageQueue>> waiters_;
};

using HANDLE = std::shared_ptr<EventObject>;

// Security descriptors do not exist here; only a null pointer is accepted.
struct SECURITY_ATTRIBUTES;

// A new event, or a null handle when a name is given (named events are shared
// between processes, which this platform does not do).
HANDLE CreateEvent(const SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                   BOOL bInitialState, const char* lpName);
BOOL SetEvent(const HANDLE& hEvent);
BOOL CloseHandle(const HANDLE& hObject);

}  // namespace platform::com
