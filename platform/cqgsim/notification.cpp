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

Notification GWConnectionStatusChanged(cqg::eConnectionStatus newStatus) {
  return {"OnGWConnectionStatusChanged",
          [newStatus](cqg::ICQGCELEvents& sink) { sink.OnGWConnectionStatusChanged(newStatus); }};
}

Notification DataConnectionStatusChanged(cqg::eConnectionStatus newStatus) {
  return {"OnDataConnectionStatusChanged",
          [newStatus](cqg::ICQGCELEvents& sink) { sink.OnDataConnectionStatusChanged(newStatus); }};
}

Notification AccountChanged(cqg::eAccountChangeType changeType,
                            std::shared_ptr<cqg::Account> cqgAccount,
                            std::shared_ptr<cqg::Position> cqgPosition) {
  return {"OnAccountChanged", [changeType, cqgAccount = std::move(cqgAccount),
                               cqgPosition = std::move(cqgPosition)](cqg::ICQGCELEvents& sink) {
            sink.OnAccountChanged(changeType, cqgAccount, cqgPosition);
          }};
}

Notification InstrumentResolved(std::string symbol, std::shared_ptr<cqg::Instrument> cqgInstrument,
                                std::shared_ptr<cqg::Error> cqgError) {
  return {"OnInstrumentResolved",
          [symbol = std::move(symbol), cqgInstrument = std::move(cqgInstrument),
           cqgError = std::move(cqgError)](cqg::ICQGCELEvents& sink) {
            sink.OnInstrumentResolved(symbol, cqgInstrument, cqgError);
          }};
}

Notification InstrumentChanged(std::shared_ptr<cqg::Instrument> cqgInstrument,
                               std::shared_ptr<cqg::Quotes> cqgQuotes) {
  return {"OnInstrumentChanged", [cqgInstrument = std::move(cqgInstrument),
                                  cqgQuotes = std::move(cqgQuotes)](cqg::ICQGCELEvents& sink) {
            sink.OnInstrumentChanged(cqgInstrument, cqgQuotes, nullptr);
          }};
}

Notification TicksResolved(std::shared_ptr<cqg::Ticks> cqgTicks,
                           std::shared_ptr<cqg::Error> cqgError) {
  return {"OnTicksResolved",
          [cqgTicks = std::move(cqgTicks), cqgError = std::move(cqgError)](
              cqg::ICQGCELEvents& sink) { sink.OnTicksResolved(cqgTicks, cqgError); }};
}

Notification TicksAdded(std::shared_ptr<cqg::Ticks> cqgTicks, long addedTicksCount) {
  return {"OnTicksAdded",
          [cqgTicks = std::move(cqgTicks), addedTicksCount](cqg::ICQGCELEvents& sink) {
            sink.OnTicksAdded(cqgTicks, addedTicksCount);
          }};
}

Notification TimedBarsResolved(std::shared_ptr<cqg::TimedBars> cqgTimedBars,
                               std::shared_ptr<cqg::Error> cqgError) {
  return {"OnTimedBarsResolved",
          [cqgTimedBars = std::move(cqgTimedBars), cqgError = std::move(cqgError)](
              cqg::ICQGCELEvents& sink) { sink.OnTimedBarsResolved(cqgTimedBars, cqgError); }};
}

Notification TimedBarsAdded(std::shared_ptr<cqg::TimedBars> cqgTimedBars) {
  return {"OnTimedBarsAdded", [cqgTimedBars = std::move(cqgTimedBars)](cqg::ICQGCELEvents& sink) {
            sink.OnTimedBarsAdded(cqgTimedBars);
          }};
}

Notification TimedBarsUpdated(std::shared_ptr<cqg::TimedBars> cqgTimedBars, long index) {
  return {"OnTimedBarsUpdated",
          [cqgTimedBars = std::move(cqgTimedBars), index](cqg::ICQGCELEvents& sink) {
            sink.OnTimedBarsUpdated(cqgTimedBars, index);
          }};
}

Notification OrderChanged(cqg::eChangeType changeType, std::shared_ptr<cqg::Order> cqgOrder,
                          std::shared_ptr<cqg::Fill> cqgFill,
                          std::shared_ptr<cqg::Error> cqgError) {
  return {"OnOrderChanged",
          [changeType, cqgOrder = std::move(cqgOrder), cqgFill = std::move(cqgFill),
           cqgError = std::move(cqgError)](cqg::ICQGCELEvents& sink) {
            sink.OnOrderChanged(changeType, cqgOrder, nullptr, cqgFill, cqgError);
          }};
}

std::shared_ptr<cqg::Error> MakeError(long code, std::string description) {
  return std::make_shared<Error>(code, std::move(description));
}

}  // namespace platform::cqgsim
