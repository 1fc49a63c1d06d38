#include "zantrix/plugins/sqlite3/column_values.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"

namespace zantrix::plugins::sqlite3::detail {

namespace {

namespace zf = zantrix::framework;

bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t follow = 0;
    std::uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      follow = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      follow = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      follow = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + follow >= text.size()) return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF.
    if ((follow == 2 && code < 0x800) || (follow == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += follow + 1;
  }
  return true;
}

// The value as a message shows it.
std::string shown(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "NULL";
  if (const auto* d = std::get_if<double>(&value)) return zf::format_number(*d);
  if (const auto* t = std::get_if<zf::DateTime>(&value)) return zf::format_datetime(*t);
  return DB::_parse_sql_value(value);
}

[[noreturn]] void refuse(const std::string& where, const Value& value, const char* why) {
  throw zf::ValueError("the value of " + where + " (" + shown(value) + ") " + why);
}

// A decimal number written plainly: an optional sign, digits with an
// optional point, an optional exponent; no blanks, no NaN or infinity.
std::optional<double> decimal(std::string_view text) {
  std::size_t i = text.starts_with('-') || text.starts_with('+') ? 1 : 0;
  if (i >= text.size() || !(std::isdigit(static_cast<unsigned char>(text[i])) ||
                            (text[i] == '.' && i + 1 < text.size() &&
                             std::isdigit(static_cast<unsigned char>(text[i + 1]))))) {
    return std::nullopt;
  }
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  double v = 0;
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> whole(double v) {
  // 2^63 is the first double beyond the 64-bit range.
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0) || std::trunc(v) != v) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(v);
}

bool in_year_range(zf::DateTime t) {
  const auto year = static_cast<int>(zf::date_of(t).year());
  return year >= 1 && year <= 9999;
}

// Whether `text` is a date-time of the stored form: "%Y-%m-%d %H:%M:%S",
// with a fraction that does not end in 0 (the form the server writes back).
bool stored_form(std::string_view text) {
  zf::DateTime t;
  if (!zf::try_parse_datetime(text, t) || !in_year_range(t)) return false;
  return text.size() == 19 || text.back() != '0';
}

Value as_integer(const std::string& where, const Value& value) {
  if (const auto* d = std::get_if<double>(&value)) {
    if (const auto n = whole(*d)) return *n;
    refuse(where, value,
           "is not a whole number within the 64-bit range, as its integer column "
           "keeps");
  }
  if (const auto* s = std::get_if<std::string>(&value)) {
    std::int64_t n = 0;
    const auto [end, error] = std::from_chars(s->data(), s->data() + s->size(), n);
    if (error == std::errc() && end == s->data() + s->size() && !s->empty()) return n;
    const auto v = decimal(*s);
    if (v) {
      if (const auto w = whole(*v)) return *w;
    }
    refuse(where, value,
           "is not a whole number within the 64-bit range, as its integer column "
           "keeps");
  }
  if (std::holds_alternative<zf::DateTime>(value)) {
    refuse(where, value, "is not a whole number, as its integer column keeps");
  }
  return value;
}

// A value compared with an integer column: any number, or a text that
// reads as one.
Value as_number(const std::string& where, const Value& value);

Value compared_with_integer(const std::string& where, const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) {
    std::int64_t n = 0;
    const auto [end, error] = std::from_chars(s->data(), s->data() + s->size(), n);
    if (error == std::errc() && end == s->data() + s->size() && !s->empty()) return n;
    return as_number(where, value);
  }
  if (std::holds_alternative<zf::DateTime>(value)) return as_number(where, value);
  return value;
}

Value as_number(const std::string& where, const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (const auto v = decimal(*s)) return *v == 0 ? 0.0 : *v;
    refuse(where, value, "is not a number, as its number column keeps");
  }
  if (std::holds_alternative<zf::DateTime>(value)) {
    refuse(where, value, "is not a number, as its number column keeps");
  }
  // The column holds doubles: an integer is stored, and compared, as the
  // nearest one (SQLite would compare 2^63-1 with it exactly, PostgreSQL as
  // a double).
  if (const auto* n = std::get_if<std::int64_t>(&value)) return static_cast<double>(*n);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  return value;
}

Value as_text(const Value& value) {
  if (const auto* d = std::get_if<double>(&value)) return zf::format_number(*d);
  if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
  if (const auto* b = std::get_if<bool>(&value)) return std::string(*b ? "1" : "0");
  return value;
}

Value as_datetime(const std::string& where, const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (!stored_form(*s)) {
      refuse(where, value,
             "is not a date-time of the form %Y-%m-%d %H:%M:%S within the years 1 "
             "to 9999, as its date-time column keeps");
    }
    return value;
  }
  if (std::holds_alternative<zf::DateTime>(value)) return value;
  refuse(where, value, "is not a date-time, as its date-time column keeps");
}

}  // namespace

std::string lower_case(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

Declared declared_kind(std::string_view type) {
  const std::string t = lower_case(type);
  const auto has = [&](const char* part) { return t.find(part) != std::string::npos; };
  if (has("int")) return Declared::Integer;
  if (has("real") || has("floa") || has("doub") || has("numeric") || has("decimal")) {
    return Declared::Number;
  }
  if (has("timestamp") || has("datetime")) return Declared::DateTime;
  if (has("char") || has("clob") || has("text")) return Declared::Text;
  return Declared::Other;
}

void settle_values(Statement& statement, const DeclaredColumns& columns) {
  const bool built = !statement.marks.empty();
  for (std::size_t k = 0; k < statement.parameters.size(); ++k) {
    Value& value = statement.parameters[k];
    const std::string_view name = statement.name_of(k);
    const std::string where =
        name.empty() ? "parameter " + std::to_string(k + 1) : "column " + std::string(name);
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (s->find('\0') != std::string::npos) {
        throw zf::ValueError("the value of " + where +
                             " holds a NUL character, which a stored text cannot hold");
      }
      if (!valid_utf8(*s)) throw zf::ValueError("the value of " + where + " is not UTF-8 text");
    } else if (const auto* d = std::get_if<double>(&value)) {
      if (std::isnan(*d)) {
        value = std::monostate{};
      } else if (*d == 0) {
        value = 0.0;
      }
    } else if (const auto* t = std::get_if<zf::DateTime>(&value)) {
      if (!in_year_range(*t)) refuse(where, value, "lies outside the years 1 to 9999");
    }
    if (!name.empty() && !std::holds_alternative<std::monostate>(value)) {
      const auto found = columns.find(lower_case(name));
      if (found != columns.end()) {
        const bool stored = statement.value_columns[k] != Statement::kNoColumn;
        switch (found->second) {
          case Declared::Integer:
            value = stored ? as_integer(where, value) : compared_with_integer(where, value);
            break;
          case Declared::Number:
            value = as_number(where, value);
            break;
          case Declared::Text:
            value = as_text(value);
            break;
          case Declared::DateTime:
            value = as_datetime(where, value);
            break;
          case Declared::Other:
            break;
        }
      }
    }
    if (built) {
      if (const auto* t = std::get_if<zf::DateTime>(&value)) {
        value = zf::format_datetime(std::chrono::floor<std::chrono::seconds>(*t));
      }
    }
  }
}

bool knows_columns(const Statement& statement, const DeclaredColumns& columns) {
  for (std::size_t k = 0; k < statement.parameters.size(); ++k) {
    const std::string_view name = statement.name_of(k);
    if (!name.empty() && !columns.contains(lower_case(name))) return false;
  }
  return true;
}

}  // namespace zantrix::plugins::sqlite3::detail
