// The registry: automation servers by programmatic identifier, and type
// libraries by identifier and version.
//
// A library registers itself by an explicit call (never by a static
// initialiser, which a linker may drop together with the library). Creating
// an object runs the registered factory on the calling thread, which must
// have called CoInitialize; the object belongs to that thread's apartment.
// A type library describes the enumerations of a server: its constants are
// found by member name. All functions are safe to call from any thread;
// registering again under the same key replaces the earlier entry.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/types.h"

namespace platform::com {

using ClassFactory = std::function<std::shared_ptr<IDispatch>()>;

void RegisterServer(std::string progId, ClassFactory factory);
void UnregisterServer(std::string_view progId);

// A new object of the server registered as `progId`. ComError
// CO_E_NOTINITIALIZED on a thread without CoInitialize, CO_E_CLASSSTRING for
// an identifier nobody registered; an error of the factory passes unchanged.
std::shared_ptr<IDispatch> CreateObject(std::string_view progId);

class ITypeLib {
 public:
  virtual ~ITypeLib() = default;
  // The value of the enumeration member `name`, if the library defines it.
  virtual std::optional<long> FindConstant(std::string_view name) const = 0;
};

void RegisterTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                     std::shared_ptr<const ITypeLib> typeLib);
void UnRegisterTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor, LCID lcid);

// The library registered under `libid` with the same major version and a minor
// version at least `wVerMinor`, for `lcid` or the neutral locale 0 (the
// newest such). ComError TYPE_E_LIBNOTREGISTERED, naming the library and the
// version, when there is none.
std::shared_ptr<const ITypeLib> LoadRegTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor,
                                               LCID lcid);

}  // namespace platform::com
