#include "zantrix/framework/text.h"

#include <charconv>
#include <cmath>

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
