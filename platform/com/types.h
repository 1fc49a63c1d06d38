// The Win32 scalar types and truth values that the platform's functions use,
// under their Windows names, so that code written against them reads as it
// would against the originals.
#pragma once

#include <cstdint>

namespace platform::com {

using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LCID = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using HRESULT = std::int32_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

}  // namespace platform::com
