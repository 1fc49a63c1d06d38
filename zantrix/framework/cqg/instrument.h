// Instruments and their quotes.
//
// Instruments is keyed by full name (for example "F.US.EPU23"), an
// instrument's Quotes by quote type. A quote that carries no valid price
// reports IsValid false.
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/collection.h"
#include "zantrix/framework/cqg/constants.h"

namespace zantrix::framework::cqg {

class Quote : public platform::com::IDispatch {
 public:
  virtual bool IsValid() = 0;
  virtual eQuoteType Type() = 0;
  virtual double Price() = 0;
  virtual long Volume() = 0;
};

class Quotes : public Collection<Quote, eQuoteType> {};

class Instrument : public platform::com::IDispatch {
 public:
  virtual std::string FullName() = 0;
  virtual eDataSubscriptionLevel DataSubscriptionLevel() = 0;
  virtual void put_DataSubscriptionLevel(eDataSubscriptionLevel value) = 0;
};

class Instruments : public Collection<Instrument, std::string> {};

}  // namespace zantrix::framework::cqg
