#include "platform/com/registry.h"

#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include "platform/com/apartment.h"
#include "platform/com/error.h"

namespace platform::com {

namespace {

struct TypeLibKey {
  GUID libid;
  WORD major;
  WORD minor;
  LCID lcid;

  auto tied() const {
    return std::tie(libid.Data1, libid.Data2, libid.Data3, libid.Data4, major, minor, lcid);
  }
  friend bool operator<(const TypeLibKey& a, const TypeLibKey& b) { return a.tied() < b.tied(); }
};

class Registry {
 public:
  static Registry& instance() {
    static auto* registry = new Registry;
    return *registry;
  }

  std::mutex mutex;
  std::map<std::string, ClassFactory, std::less<>> servers;
  std::map<TypeLibKey, std::shared_ptr<const ITypeLib>> typeLibs;
};

}  // namespace

void RegisterServer(std::string progId, ClassFactory factory) {
  auto& registry = Registry::instance();
  const std::lock_guard lock(registry.mutex);
  registry.servers[std::move(progId)] = std::move(factory);
}

void UnregisterServer(std::string_view progId) {
  auto& registry = Registry::instance();
  const std::lock_guard lock(registry.mutex);
  const auto it = registry.servers.find(progId);
  if (it != registry.servers.end()) registry.servers.erase(it);
}

std::shared_ptr<IDispatch> CreateObject(std::string_view progId) {
  if (!Apartment::Current()) {
    throw ComError(CO_E_NOTINITIALIZED, "CoInitialize has not been called.");
  }
  ClassFactory factory;
  {
    auto& registry = Registry::instance();
    const std::lock_guard lock(registry.mutex);
    const auto it = registry.servers.find(progId);
    if (it == registry.servers.end()) {
      throw ComError(CO_E_CLASSSTRING,
                     "Invalid class string: " + std::string(progId) + " is not registered.");
    }
    factory = it->second;
  }
  return factory();
}

void RegisterTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                     std::shared_ptr<const ITypeLib> typeLib) {
  auto& registry = Registry::instance();
  const std::lock_guard lock(registry.mutex);
  registry.typeLibs[{libid, wVerMajor, wVerMinor, lcid}] = std::move(typeLib);
}

void UnRegisterTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor, LCID lcid) {
  auto& registry = Registry::instance();
  const std::lock_guard lock(registry.mutex);
  registry.typeLibs.erase({libid, wVerMajor, wVerMinor, lcid});
}

std::shared_ptr<const ITypeLib> LoadRegTypeLib(const GUID& libid, WORD wVerMajor, WORD wVerMinor,
                                               LCID lcid) {
  auto& registry = Registry::instance();
  const std::lock_guard lock(registry.mutex);
  std::shared_ptr<const ITypeLib> found;
  WORD foundMinor = 0;
  for (const auto& [key, typeLib] : registry.typeLibs) {
    const bool matches = key.libid == libid && key.major == wVerMajor && key.minor >= wVerMinor &&
                         (key.lcid == lcid || key.lcid == 0);
    if (matches && (!found || key.minor > foundMinor)) {
      found = typeLib;
      foundMinor = key.minor;
    }
  }
  if (!found) {
    throw ComError(TYPE_E_LIBNOTREGISTERED, "Library not registered: " + to_string(libid) + " " +
                                                std::to_string(wVerMajor) + "." +
                                                std::to_string(wVerMinor));
  }
  return found;
}

}  // namespace platform::com
