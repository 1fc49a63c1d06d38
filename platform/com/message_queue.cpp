#include "platform/com/message_queue.h"

#include <unistd.h>

#include <unordered_map>
#include <utility>
#include <vector>

namespace platform::com {

namespace {

// Thread id -> its open queue, for PostThreadMessage. Never destroyed, so
// threads that end during process exit can still deregister.
class QueueDirectory {
 public:
  static QueueDirectory& instance() {
    static auto* directory = new QueueDirectory;
    return *directory;
  }

  void Add(const std::shared_ptr<MessageQueue>& queue) {
    const std::lock_guard lock(mutex_);
    queues_[queue->ThreadId()] = queue;
  }

  void Remove(const MessageQueue* queue) {
    const std::lock_guard lock(mutex_);
    const auto it = queues_.find(queue->ThreadId());
    if (it != queues_.end() && it->second.lock().get() == queue) queues_.erase(it);
  }

  std::shared_ptr<MessageQueue> Find(DWORD threadId) {
    const std::lock_guard lock(mutex_);
    const auto it = queues_.find(threadId);
    return it == queues_.end() ? nullptr : it->second.lock();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<DWORD, std::weak_ptr<MessageQueue>> queues_;
};

// The calling thread's queue; closing it when the thread ends releases every
// caller still waiting for a reply from this thread.
struct ThreadQueue {
  std::shared_ptr<MessageQueue> queue;

  ~ThreadQueue() {
    if (queue) {
      queue->Close(RPC_E_DISCONNECTED,
                   "The object invoked has disconnected from its clients: its thread has ended.");
    }
  }
};

thread_local ThreadQueue currentThreadQueue;

// Unregisters the handles' waiter however the wait ends.
class WaiterRegistration {
 public:
  WaiterRegistration(std::span<const HANDLE> handles, const std::shared_ptr<MessageQueue>& waiter)
      : handles_(handles), waiter_(waiter.get()) {
    for (const auto& handle : handles_) handle->AddWaiter(waiter);
  }
  ~WaiterRegistration() {
    for (const auto& handle : handles_) handle->RemoveWaiter(waiter_);
  }
  WaiterRegistration(const WaiterRegistration&) = delete;
  WaiterRegistration& operator=(const WaiterRegistration&) = delete;

 private:
  std::span<const HANDLE> handles_;
  const MessageQueue* waiter_;
};

}  // namespace

// Asked of the kernel once per thread: a thread keeps its id for its life.
DWORD GetCurrentThreadId() {
  thread_local const auto self = static_cast<DWORD>(::gettid());
  return self;
}

MessageQueue::MessageQueue(DWORD threadId) : threadId_(threadId) {}

std::shared_ptr<MessageQueue> MessageQueue::OfCurrentThread() {
  auto& current = currentThreadQueue.queue;
  if (!current || current->IsClosed()) {
    current = std::make_shared<MessageQueue>(GetCurrentThreadId());
    QueueDirectory::instance().Add(current);
  }
  return current;
}

std::shared_ptr<MessageQueue> MessageQueue::OfThread(DWORD threadId) {
  auto queue = QueueDirectory::instance().Find(threadId);
  return queue && !queue->IsClosed() ? queue : nullptr;
}

void MessageQueue::Post(Message message) {
  {
    const std::lock_guard lock(mutex_);
    if (closed_) throw ComError(closedHr_, closedReason_);
    messages_.push_back(std::move(message));
  }
  changed_.notify_all();
}

std::optional<MessageQueue::Message> MessageQueue::Take() {
  const std::lock_guard lock(mutex_);
  if (messages_.empty()) return std::nullopt;
  Message message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

void MessageQueue::Close(HRESULT hr, const std::string& reason) {
  std::deque<Message> abandoned;
  {
    const std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    closedHr_ = hr;
    closedReason_ = reason;
    abandoned.swap(messages_);
  }
  QueueDirectory::instance().Remove(this);
  for (auto& message : abandoned) {
    if (message.abandon) message.abandon(std::make_exception_ptr(ComError(hr, reason)));
  }
}

bool MessageQueue::IsClosed() const {
  const std::lock_guard lock(mutex_);
  return closed_;
}

DWORD MessageQueue::Wait(std::span<const HANDLE> handles,
                         std::optional<std::chrono::steady_clock::time_point> deadline,
                         bool wakeOnMessages) {
  std::unique_lock lock(mutex_);
  for (;;) {
    for (std::size_t i = 0; i < handles.size(); ++i) {
      if (handles[i]->TryAcquire()) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }
    if (wakeOnMessages && !messages_.empty()) {
      return WAIT_OBJECT_0 + static_cast<DWORD>(handles.size());
    }
    if (!deadline) {
      changed_.wait(lock);
    } else if (std::chrono::steady_clock::now() >= *deadline) {
      return WAIT_TIMEOUT;
    } else {
      changed_.wait_until(lock, *deadline);
    }
  }
}

void MessageQueue::Wake() {
  // Taking the lock orders this wake after a waiter's look at its handles,
  // so the wake cannot fall between that look and its sleep.
  { const std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

void PostQuitMessage(int /*nExitCode*/) {
  MessageQueue::OfCurrentThread()->Post({.message = WM_QUIT, .dispatch = {}, .abandon = {}});
}

BOOL PostThreadMessage(DWORD idThread, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  const auto queue = MessageQueue::OfThread(idThread);
  if (!queue) return FALSE;
  try {
    queue->Post({.message = Msg, .dispatch = {}, .abandon = {}});
  } catch (const ComError&) {
    return FALSE;
  }
  return TRUE;
}

bool PumpWaitingMessages() {
  const auto queue = MessageQueue::OfCurrentThread();
  while (auto message = queue->Take()) {
    if (message->message == WM_QUIT) {
      queue->Close(RPC_E_DISCONNECTED,
                   "The object invoked has disconnected from its clients: its thread has "
                   "received a quit message.");
      return true;
    }
    if (message->dispatch) message->dispatch();
  }
  return false;
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                DWORD dwMilliseconds, DWORD dwWakeMask) {
  if (fWaitAll != FALSE || nCount > MAXIMUM_WAIT_OBJECTS || (nCount > 0 && pHandles == nullptr)) {
    return WAIT_FAILED;
  }
  const std::span<const HANDLE> handles(pHandles, nCount);
  for (const auto& handle : handles) {
    if (!handle || handle->IsClosed()) return WAIT_FAILED;
  }
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (dwMilliseconds != INFINITE) {
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  }
  const bool wakeOnMessages = (dwWakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
  const auto queue = MessageQueue::OfCurrentThread();
  const WaiterRegistration registration(handles, queue);
  return queue->Wait(handles, deadline, wakeOnMessages);
}

}  // namespace platform::com
