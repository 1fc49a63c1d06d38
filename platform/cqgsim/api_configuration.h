// The simulated APIConfiguration: six properties that keep what is written to
// them. Before anything is written they hold the library's defaults as this
// simulator chooses them, all different from the values the client
// environment sets: CollectionsThrowException true, NewInstrumentChangeMode
// false, ReadyStatusCheck 1, TimeZoneCode tzCentral, IncludeOrderTransactions
// false, UseOrderSide false.
#pragma once

#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/cel.h"

namespace platform::cqgsim {

class APIConfiguration final : public zantrix::framework::cqg::APIConfiguration {
 public:
  explicit APIConfiguration(Servant servant) : servant_(std::move(servant)) {}

  bool CollectionsThrowException() override;
  void put_CollectionsThrowException(bool value) override;
  bool NewInstrumentChangeMode() override;
  void put_NewInstrumentChangeMode(bool value) override;
  long ReadyStatusCheck() override;
  void put_ReadyStatusCheck(long value) override;
  zantrix::framework::cqg::eTimeZone TimeZoneCode() override;
  void put_TimeZoneCode(zantrix::framework::cqg::eTimeZone value) override;
  bool IncludeOrderTransactions() override;
  void put_IncludeOrderTransactions(bool value) override;
  bool UseOrderSide() override;
  void put_UseOrderSide(bool value) override;

  // The simulator's own reading, on the client's thread: not a call.
  bool ThrowsForMissingItems() const { return collectionsThrowException_; }

 private:
  Servant servant_;
  bool collectionsThrowException_ = true;
  bool newInstrumentChangeMode_ = false;
  long readyStatusCheck_ = 1;
  zantrix::framework::cqg::eTimeZone timeZoneCode_ = zantrix::framework::cqg::tzCentral;
  bool includeOrderTransactions_ = false;
  bool useOrderSide_ = false;
};

}  // namespace platform::cqgsim
