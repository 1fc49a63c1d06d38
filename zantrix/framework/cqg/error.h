// Error: the error object that the library hands to events (a data error, a
// failed resolution); absent (null) when there is no error.
#pragma once

#include <string>

#include "platform/com/dispatch.h"

namespace zantrix::framework::cqg {

class Error : public platform::com::IDispatch {
 public:
  virtual long Code() = 0;
  virtual std::string Description() = 0;
};

}  // namespace zantrix::framework::cqg
