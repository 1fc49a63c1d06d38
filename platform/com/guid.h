// GUID: the 128-bit identifier of interfaces, classes and type libraries.
//
// Written and read in the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// (hex digits of either case on reading, upper case on writing). ParseGuid is
// usable in constant expressions, so identifiers are compile-time constants;
// a malformed text there fails the build, at run time it is an
// std::invalid_argument that quotes the text.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::com {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};

using IID = GUID;

namespace guid_detail {

constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number written by the hex digits text[from, from + count).
constexpr std::uint64_t hex_field(std::string_view text, std::size_t from, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    const int digit = hex_value(text[i]);
    if (digit < 0) throw std::invalid_argument("malformed GUID: " + std::string(text));
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

}  // namespace guid_detail

constexpr GUID ParseGuid(std::string_view text) {
  if (text.size() != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
      text[24] != '-' || text[37] != '}') {
    throw std::invalid_argument("malformed GUID: " + std::string(text));
  }
  using guid_detail::hex_field;
  GUID guid;
  guid.Data1 = static_cast<std::uint32_t>(hex_field(text, 1, 8));
  guid.Data2 = static_cast<std::uint16_t>(hex_field(text, 10, 4));
  guid.Data3 = static_cast<std::uint16_t>(hex_field(text, 15, 4));
  guid.Data4[0] = static_cast<std::uint8_t>(hex_field(text, 20, 2));
  guid.Data4[1] = static_cast<std::uint8_t>(hex_field(text, 22, 2));
  for (std::size_t i = 0; i < 6; ++i) {
    guid.Data4[2 + i] = static_cast<std::uint8_t>(hex_field(text, 25 + 2 * i, 2));
  }
  return guid;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string to_string(const GUID& guid);

inline constexpr IID IID_IDispatch = ParseGuid("{00020400-0000-0000-C000-000000000046}");

}  // namespace platform::com
