// Tick requests and the tick series they produce.
//
// A TicksRequest is made by CQGCEL::CreateTicksRequest, filled in, and sent
// with CQGCEL::RequestTicks, which returns the Ticks series at once; the
// series is resolved later (OnTicksResolved) and grows by OnTicksAdded. Ticks
// are reached by position, 0 to Count - 1, oldest first. CQGCEL::AllTicks
// holds the series of every request still in force, keyed by series id.
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/collection.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework::cqg {

class TicksRequest : public platform::com::IDispatch {
 public:
  virtual std::string Symbol() = 0;
  virtual void put_Symbol(const std::string& value) = 0;
  virtual eTicksRequestType Type() = 0;
  virtual void put_Type(eTicksRequestType value) = 0;
  virtual eTicksFilter TickFilter() = 0;
  virtual void put_TickFilter(eTicksFilter value) = 0;
  // A bit set of trading sessions (31: every session).
  virtual long SessionsFilter() = 0;
  virtual void put_SessionsFilter(long value) = 0;
  virtual long Limit() = 0;
  virtual void put_Limit(long value) = 0;
};

class Tick : public platform::com::IDispatch {
 public:
  virtual eTickPriceType PriceType() = 0;
  virtual double Price() = 0;
  virtual long Volume() = 0;
  virtual DateTime Timestamp() = 0;
};

class Ticks : public platform::com::IDispatch {
 public:
  virtual std::string Id() = 0;
  virtual long Count() = 0;
  virtual std::shared_ptr<Tick> Item(long index) = 0;
  virtual std::shared_ptr<TicksRequest> Request() = 0;
};

class TicksCollection : public Collection<Ticks, std::string> {};

}  // namespace zantrix::framework::cqg
