#include "platform/cqgsim/api_configuration.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

bool APIConfiguration::CollectionsThrowException() {
  return servant_.Serve("APIConfiguration.CollectionsThrowException", {},
                        [this] { return collectionsThrowException_; });
}

void APIConfiguration::put_CollectionsThrowException(bool value) {
  servant_.Serve("APIConfiguration.put_CollectionsThrowException", {value},
                 [this, value] { collectionsThrowException_ = value; });
}

bool APIConfiguration::NewInstrumentChangeMode() {
  return servant_.Serve("APIConfiguration.NewInstrumentChangeMode", {},
                        [this] { return newInstrumentChangeMode_; });
}

void APIConfiguration::put_NewInstrumentChangeMode(bool value) {
  servant_.Serve("APIConfiguration.put_NewInstrumentChangeMode", {value},
                 [this, value] { newInstrumentChangeMode_ = value; });
}

long APIConfiguration::ReadyStatusCheck() {
  return servant_.Serve("APIConfiguration.ReadyStatusCheck", {},
                        [this] { return readyStatusCheck_; });
}

void APIConfiguration::put_ReadyStatusCheck(long value) {
  servant_.Serve("APIConfiguration.put_ReadyStatusCheck", {value},
                 [this, value] { readyStatusCheck_ = value; });
}

cqg::eTimeZone APIConfiguration::TimeZoneCode() {
  return servant_.Serve("APIConfiguration.TimeZoneCode", {}, [this] { return timeZoneCode_; });
}

void APIConfiguration::put_TimeZoneCode(cqg::eTimeZone value) {
  servant_.Serve("APIConfiguration.put_TimeZoneCode", {static_cast<long>(value)},
                 [this, value] { timeZoneCode_ = value; });
}

bool APIConfiguration::IncludeOrderTransactions() {
  return servant_.Serve("APIConfiguration.IncludeOrderTransactions", {},
                        [this] { return includeOrderTransactions_; });
}

void APIConfiguration::put_IncludeOrderTransactions(bool value) {
  servant_.Serve("APIConfiguration.put_IncludeOrderTransactions", {value},
                 [this, value] { includeOrderTransactions_ = value; });
}

bool APIConfiguration::UseOrderSide() {
  return servant_.Serve("APIConfiguration.UseOrderSide", {}, [this] { return useOrderSide_; });
}

void APIConfiguration::put_UseOrderSide(bool value) {
  servant_.Serve("APIConfiguration.put_UseOrderSide", {value},
                 [this, value] { useOrderSide_ = value; });
}

}  // namespace platform::cqgsim
