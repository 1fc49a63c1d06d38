#include "zantrix/framework/cqg/type_library.h"

#include "zantrix/framework/cqg/constants.h"

namespace zantrix::framework::cqg {

namespace {

class CQGTypeLibrary final : public platform::com::ITypeLib {
 public:
  std::optional<long> FindConstant(std::string_view name) const override {
    return find_constant(name);
  }
};

}  // namespace

std::shared_ptr<const platform::com::ITypeLib> TypeLibrary() {
  return std::make_shared<const CQGTypeLibrary>();
}

}  // namespace zantrix::framework::cqg
