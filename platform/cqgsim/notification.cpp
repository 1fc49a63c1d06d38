#include "platform/cqgsim/notification.h"

#include <utility>

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

namespace {

// An error is a value: it is read on whatever thread holds it.
class Error final : public cqg::Error {
 public:
  Error(long code, std::string description) : code_(code), description_(std::move(description)) {}

  long Code() override { return code_; }
  std::string Description() override { return description_; }

 private:
  const long code_;
  const std::string description_;
};

}  // namespace

Notification CELStarted() {
  return {"OnCELStarted", [](cqg::ICQGCELEvents& sink) { sink.OnCELStarted(); }};
}

Notification DataError(std::shared_ptr<cqg::Error> cqgError, std::string errorDescription) {
  return {"OnDataError",
          [cqgError = std::move(cqgError), errorDescription = std::move(errorDescription)](
              cqg::ICQGCELEvents& sink) { sink.OnDataError(cqgError, errorDescription); }};
}

std::shared_ptr<cqg::Error> MakeError(long code, std::string description) {
  return std::make_shared<Error>(code, std::move(description));
}

}  // namespace platform::cqgsim
