// How the CQG client library is known to the platform: its programmatic
// identifier, its type library's identifier and version, and that type
// library's description (the enumeration members of constants.h, by name).
//
// A library that implements these interfaces registers TypeLibrary() under
// LIBID_CQG 4.0 and its CQGCEL factory under CQGCEL_PROGID; the client
// environment refuses to start when the type library is not registered.
#pragma once

#include <memory>
#include <string_view>

#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/com/types.h"

namespace zantrix::framework::cqg {

inline constexpr std::string_view CQGCEL_PROGID = "CQG.CQGCEL.4";

inline constexpr platform::com::GUID LIBID_CQG =
    platform::com::ParseGuid("{51F35562-AEB4-4AB3-99E8-AC9666344B64}");
inline constexpr platform::com::WORD LIBID_CQG_MAJOR = 4;
inline constexpr platform::com::WORD LIBID_CQG_MINOR = 0;
inline constexpr platform::com::LCID LIBID_CQG_LCID = 0;

std::shared_ptr<const platform::com::ITypeLib> TypeLibrary();

}  // namespace zantrix::framework::cqg
