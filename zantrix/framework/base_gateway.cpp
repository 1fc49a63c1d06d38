#include "zantrix/framework/base_gateway.h"

namespace zantrix::framework {

// Defined here so that the interface's type information lives in one
// library.
BaseGateway::~BaseGateway() {
  retire();
}

}  // namespace zantrix::framework
