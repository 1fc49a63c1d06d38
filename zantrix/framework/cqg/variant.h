// Variant: a value of the client library whose kind is known only at run
// time (an order property's Value), and the form in which a simulator records
// call arguments. Enumeration members travel as `long`, time stamps as
// DateTime, objects as IDispatch; an empty Variant is std::monostate.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "platform/com/dispatch.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework::cqg {

using Variant = std::variant<std::monostate, bool, long, double, std::string, DateTime,
                             std::shared_ptr<platform::com::IDispatch>>;

}  // namespace zantrix::framework::cqg
