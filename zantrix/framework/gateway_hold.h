// GatewayHold: how a sink that calls a gateway object back from another
// thread keeps from touching it once it is gone.
//
// The gateway owns its hold and shares it with every sink it is handed to.
// A sink makes each call under a Guard, which gives the gateway, or null once
// the gateway has been released (or when the sink holds no gateway at all);
// release() waits for the guards of calls under way, and no guard made
// afterwards sees the gateway. The gateway releases its hold when it is
// destroyed; a gateway whose callbacks use its own members releases it first
// thing in its destructor, before those members go. A thread must not make a
// guard while it holds another one of the same hold. Every member is safe to
// call from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace zantrix::framework {

template <class Gateway>
class GatewayHold {
 public:
  explicit GatewayHold(Gateway& gateway) : gateway_(&gateway) {}
  GatewayHold(const GatewayHold&) = delete;
  GatewayHold& operator=(const GatewayHold&) = delete;

  class Guard {
   public:
    // A guard of `hold`, which may be null.
    explicit Guard(std::shared_ptr<GatewayHold> hold) : hold_(std::move(hold)) {
      if (!hold_) return;
      lock_ = std::shared_lock(hold_->mutex_);
      gateway_ = hold_->gateway_;
    }

    // The gateway, for as long as the guard lives; null once released.
    Gateway* get() const { return gateway_; }

   private:
    std::shared_ptr<GatewayHold> hold_;
    std::shared_lock<std::shared_mutex> lock_;
    Gateway* gateway_ = nullptr;
  };

  // Waits for the calls under way; later guards see no gateway.
  void release() {
    const std::unique_lock lock(mutex_);
    gateway_ = nullptr;
  }

 private:
  std::shared_mutex mutex_;
  Gateway* gateway_;
};

}  // namespace zantrix::framework
