// Thread message queues and the wait of a message pump.
//
// Every thread has one message queue, made when the thread first needs it.
// Messages are dispatched only by the queue's own thread, in the order they
// were posted, inside PumpWaitingMessages. A queue closes for good when its
// thread takes a WM_QUIT message, when its apartment is uninitialised
// (apartment.h) or when its thread ends; a closed queue refuses new messages
// and abandons those still waiting, so that a thread blocked on a reply gets
// an error instead of waiting for ever. A thread whose queue has closed gets a
// fresh one the next time it needs a queue.
//
// MsgWaitForMultipleObjects blocks the calling thread until one of the given
// events is signalled or, when the wake mask asks for posted messages, until
// its queue holds a message. Unlike Windows, any waiting message wakes it, not
// only those that arrived since the queue was last looked at, so a message is
// never left unserved. When an event and a message are both ready, the event
// wins (the lowest index is reported, as in Windows).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/com/error.h"
#include "platform/com/synch.h"
#include "platform/com/types.h"

namespace platform::com {

inline constexpr UINT WM_QUIT = 0x0012;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

inline constexpr DWORD QS_POSTMESSAGE = 0x0008;
inline constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
inline constexpr DWORD QS_ALLEVENTS = 0x04BF;

// The kernel's identifier of the calling thread (gettid).
DWORD GetCurrentThreadId();

// Posts WM_QUIT to the calling thread's queue.
void PostQuitMessage(int nExitCode);

// Posts a message to the queue of thread `idThread`; FALSE when that thread
// has no open queue. Only WM_QUIT has an effect here; other messages are
// dispatched to nothing.
BOOL PostThreadMessage(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);

// Dispatches every message waiting in the calling thread's queue, including
// those posted while it runs. Returns true as soon as it takes WM_QUIT (the
// messages behind it are not dispatched), false when the queue is empty.
bool PumpWaitingMessages();

// WAIT_OBJECT_0 + i when pHandles[i] is signalled, WAIT_OBJECT_0 + nCount when
// a message is waiting, WAIT_TIMEOUT when dwMilliseconds (or INFINITE) passed,
// WAIT_FAILED for a closed or null handle, fWaitAll TRUE (not supported) or
// more than MAXIMUM_WAIT_OBJECTS handles.
DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                DWORD dwMilliseconds, DWORD dwWakeMask);

// The queue of one thread. Apartments post their calls through it; the
// functions above are the usual way to use it.
class MessageQueue {
 public:
  struct Message {
    UINT message = 0;
    // Run by the queue's thread when the message is dispatched.
    std::function<void()> dispatch;
    // Run instead of `dispatch` when the queue closes before dispatching it.
    std::function<void(std::exception_ptr)> abandon;
  };

  explicit MessageQueue(DWORD threadId);
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // The calling thread's open queue, made if it has none.
  static std::shared_ptr<MessageQueue> OfCurrentThread();
  // The open queue of thread `threadId`, or null.
  static std::shared_ptr<MessageQueue> OfThread(DWORD threadId);

  DWORD ThreadId() const { return threadId_; }

  // Throws the ComError the queue was closed with when it is closed.
  void Post(Message message);
  std::optional<Message> Take();

  // Refuses later messages and abandons the waiting ones with ComError(hr,
  // reason). Only the first close counts.
  void Close(HRESULT hr, const std::string& reason);
  bool IsClosed() const;

  // The wait of MsgWaitForMultipleObjects, on the queue's own thread; the
  // handles are already registered with AddWaiter.
  DWORD Wait(std::span<const HANDLE> handles,
             std::optional<std::chrono::steady_clock::time_point> deadline, bool wakeOnMessages);
  // Wakes a Wait so that it looks at its handles again.
  void Wake();

 private:
  const DWORD threadId_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Message> messages_;
  // Kept as a code and a text: each refused or abandoned message gets an
  // error of its own, owned by the thread that handles it.
  bool closed_ = false;
  HRESULT closedHr_ = S_OK;
  std::string closedReason_;
};

}  // namespace platform::com
