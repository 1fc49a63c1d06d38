#include "zantrix/framework/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace zantrix::framework {

std::string format_number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buf[40];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr;
  const std::string_view scientific(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e_at = scientific.find('e');
  int exponent = 0;
  std::from_chars(scientific.data() + e_at + (scientific[e_at + 1] == '+' ? 2 : 1),
                  scientific.data() + scientific.size(), exponent);
  if (exponent < -4 || exponent >= 16) return std::string(scientific);

  const bool negative = scientific.front() == '-';
  std::string digits;
  for (const char c : scientific.substr(0, e_at)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    out += digits;
    out.append(whole - digits.size(), '0');
    out += ".0";
  } else {
    out.append(digits, 0, whole);
    out += '.';
    out.append(digits, whole);
  }
  return out;
}

std::optional<std::int64_t> parse_integer_text(std::string_view text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Past |INT64_MIN| the magnitude stays at kLimit + 1, so it can never wrap.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  bool after_digit = false;
  for (const char c : text) {
    if (c == '_') {
      if (!after_digit) return std::nullopt;
      after_digit = false;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    magnitude =
        magnitude > kLimit / 10 ? kLimit + 1 : magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    after_digit = true;
  }
  if (!after_digit || magnitude > kLimit - (negative ? 0 : 1)) return std::nullopt;
  if (negative) return magnitude == kLimit ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

std::string quote_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (const char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace zantrix::framework
