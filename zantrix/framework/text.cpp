#include "zantrix/framework/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace zantrix::framework {

namespace {

// The common number of a price or a volume: a value that some k / 10^d reads
// back to, with k below 2^53 and d at most 8, printed as k with its point d
// digits from the right. The smallest such d gives the fewest digits, as the
// shortest round trip does. 0 when the value is not of that kind.
std::size_t format_short_decimal(double value, char* out) noexcept {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  static constexpr double kLimit = 9007199254740992.0;  // 2^53
  const double magnitude = value < 0 ? -value : value;
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return 0;
  for (std::size_t d = 0; d < std::size(kPowers); ++d) {
    const double scaled = std::nearbyint(magnitude * kPowers[d]);
    if (scaled >= kLimit) return 0;
    if (scaled / kPowers[d] != magnitude) continue;
    char digits[24];
    char* const digits_end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(scaled)).ptr;
    auto count = static_cast<std::size_t>(digits_end - digits);
    char* p = out;
    if (value < 0) *p++ = '-';
    if (d == 0) {
      std::memcpy(p, digits, count);
      p += count;
      *p++ = '.';
      *p++ = '0';
    } else if (count > d) {
      std::memcpy(p, digits, count - d);
      p += count - d;
      *p++ = '.';
      std::memcpy(p, digits + count - d, d);
      p += d;
    } else {
      *p++ = '0';
      *p++ = '.';
      for (std::size_t i = count; i < d; ++i) *p++ = '0';
      std::memcpy(p, digits, count);
      p += count;
    }
    return static_cast<std::size_t>(p - out);
  }
  return 0;
}

}  // namespace

// The shortest digits come from to_chars in exponent form ("1.0025e+02"),
// and are then laid out in fixed form when the exponent allows; the common
// short decimal is written directly.
std::size_t format_number_to(double value, char* out) noexcept {
  if (const std::size_t n = format_short_decimal(value, out)) return n;
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value > 0) {
      std::memcpy(out, "inf", 3);
      return 3;
    }
    std::memcpy(out, "-inf", 4);
    return 4;
  }
  char buf[kNumberTextMax];
  const char* const end =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr;
  const char* e = buf;
  while (*e != 'e') ++e;
  int exponent = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
  if (exponent < -4 || exponent >= 16) {
    const auto n = static_cast<std::size_t>(end - buf);
    std::memcpy(out, buf, n);
    return n;
  }
  char* p = out;
  const char* mantissa = buf;
  if (*mantissa == '-') *p++ = *mantissa++;
  char digits[20];
  std::size_t count = 0;
  for (const char* d = mantissa; d < e; ++d) {
    if (*d != '.') digits[count++] = *d;
  }
  if (exponent < 0) {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > exponent; --i) *p++ = '0';
    std::memcpy(p, digits, count);
    p += count;
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (count <= whole) {
      std::memcpy(p, digits, count);
      p += count;
      for (std::size_t i = count; i < whole; ++i) *p++ = '0';
      *p++ = '.';
      *p++ = '0';
    } else {
      std::memcpy(p, digits, whole);
      p += whole;
      *p++ = '.';
      std::memcpy(p, digits + whole, count - whole);
      p += count - whole;
    }
  }
  return static_cast<std::size_t>(p - out);
}

std::string format_number(double value) {
  char buf[kNumberTextMax];
  return std::string(buf, format_number_to(value, buf));
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
