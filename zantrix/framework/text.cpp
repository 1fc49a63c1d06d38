#include "zantrix/framework/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zantrix::framework {

std::string format_number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string out(buf, end);
  if (out.find_first_of(".en") == std::string::npos) out += ".0";
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
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
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
        std::min<std::uint64_t>(magnitude * 10 + static_cast<std::uint64_t>(c - '0'), kLimit);
    after_digit = true;
  }
  if (!after_digit) return std::nullopt;
  if (negative) return magnitude == kLimit ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  return magnitude >= kLimit ? INT64_MAX : static_cast<std::int64_t>(magnitude);
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
