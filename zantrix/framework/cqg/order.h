// Orders, their properties and their fills.
//
// An order is made by CQGCEL::CreateOrder and sent with Place; its life is
// reported by OnOrderChanged. Its Properties are keyed by eOrderProperty; each
// property's Value is a Variant: opGUID a text, opGWStatus an eOrderStatus
// member (as long), opEventServerTimestamp a DateTime, opAverageFillPrice a
// double, opFilledQuantity a long. CQGCEL::Orders is keyed by the order's
// GUID, which ItemByGuid also looks up. An order's Fills are the fills the
// client holds for it, oldest first, keyed by the fill's Id: what a gateway
// reads to learn the fills whose events it did not receive.
#pragma once

#include <memory>
#include <string>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/collection.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/variant.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework::cqg {

class OrderProperty : public platform::com::IDispatch {
 public:
  virtual Variant Value() = 0;
};

class OrderProperties : public Collection<OrderProperty, eOrderProperty> {};

class Fill;
class Fills;

class Order : public platform::com::IDispatch {
 public:
  virtual std::string GUID() = 0;
  virtual void Place() = 0;
  virtual void Cancel() = 0;
  // Whether the order counts as entered by hand.
  virtual bool Manual() = 0;
  virtual void put_Manual(bool value) = 0;
  virtual std::shared_ptr<OrderProperties> Properties() = 0;
  virtual std::shared_ptr<cqg::Fills> Fills() = 0;
};

class Orders : public Collection<Order, std::string> {
 public:
  virtual std::shared_ptr<Order> ItemByGuid(const std::string& guid) = 0;
};

class Fill : public platform::com::IDispatch {
 public:
  virtual std::string Id() = 0;
  virtual eFillStatus Status() = 0;
  virtual std::shared_ptr<cqg::Order> Order() = 0;
  virtual double Price() = 0;
  virtual long Quantity() = 0;
  virtual DateTime Timestamp() = 0;
};

class Fills : public Collection<Fill, std::string> {};

}  // namespace zantrix::framework::cqg
