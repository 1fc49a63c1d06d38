// Text forms shared by the records and the stores: numbers as the shortest
// digits that read back to the same value, laid out as a fixed-point number
// with its point when the decimal exponent lies in [-4, 16) and in exponent
// form otherwise (100000.0, 0.0001, 1e-05, 1e+16, nan, inf); quoted texts;
// absent values shown as None.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zantrix::framework {

std::string format_number(double value);
// The same text written to `out`, which has room for kNumberTextMax
// characters; returns how many it wrote.
inline constexpr std::size_t kNumberTextMax = 32;
std::size_t format_number_to(double value, char* out) noexcept;
std::string quote_text(std::string_view text);

// Reads a base-10 integer written as a person writes one in a text field:
// blanks around it, an optional sign, digits with single underscores between
// them ("1_000"). Empty when the text is no such number or its value lies
// beyond the 64-bit range: a value read is always the value written.
std::optional<std::int64_t> parse_integer_text(std::string_view text);

inline std::string format_integer(std::int64_t value) {
  return std::to_string(value);
}
inline std::string format_bool(bool value) {
  return value ? "True" : "False";
}

// Builds "Type(name=value, name=value)", the text form of every record.
class RecordText {
 public:
  explicit RecordText(std::string_view type_name) : text_(type_name) { text_ += '('; }
  RecordText& add(std::string_view name, std::string_view value_text) {
    if (!first_) text_ += ", ";
    first_ = false;
    text_.append(name).append("=").append(value_text);
    return *this;
  }
  std::string finish() const { return text_ + ")"; }

 private:
  std::string text_;
  bool first_ = true;
};

template <class T, class F>
std::string format_optional(const std::optional<T>& value, F&& format) {
  return value ? format(*value) : std::string("None");
}

}  // namespace zantrix::framework
