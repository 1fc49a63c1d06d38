#include "zantrix/core/security.h"

#include <array>
#include <utility>

#include "zantrix/framework/text.h"

namespace zantrix::core {
namespace {

struct KindText {
  std::string_view name;
  std::string_view description;
};

// Indexed by SecurityKind.
constexpr std::array<KindText, 5> kKindTexts{{
    {"Security", "Base class for different asset types"},
    {"Stock", "Cash equity"},
    {"Currency", "Foreign exchange"},
    {"Commodity", "Commodity"},
    {"Futures", "Futures"},
}};

const KindText& kind_text(SecurityKind kind) {
  return kKindTexts[static_cast<std::size_t>(kind)];
}

std::size_t mix(std::size_t seed, std::size_t h) {
  return seed ^ (h + static_cast<std::size_t>(0x9e3779b97f4a7c15ULL) + (seed << 6) + (seed >> 2));
}

}  // namespace

Security::Security(std::string code, std::string security_name, SecurityOptions options)
    : Security(SecurityKind::Security, std::move(code), std::move(security_name),
               std::move(options)) {}

Security::Security(std::string code, std::string security_name,
                   std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
                   std::optional<std::string> expiry_date, std::string quote_currency)
    : Security(SecurityKind::Security, std::move(code), std::move(security_name), lot_size,
               exchange, std::move(expiry_date), std::move(quote_currency)) {}

Security::Security(SecurityKind kind, std::string code, std::string security_name,
                   SecurityOptions options)
    : Security(kind, std::move(code), std::move(security_name),
               options.lot_size ? options.lot_size : kind_defaults(kind).lot_size,
               options.exchange ? options.exchange : kind_defaults(kind).exchange,
               std::move(options.expiry_date), std::move(options.quote_currency)) {}

Security::Security(SecurityKind kind, std::string code, std::string security_name,
                   std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
                   std::optional<std::string> expiry_date, std::string quote_currency)
    : kind_(kind),
      code_(std::move(code)),
      security_name_(std::move(security_name)),
      lot_size_(lot_size),
      exchange_(exchange),
      expiry_date_(std::move(expiry_date)),
      quote_currency_(std::move(quote_currency)) {}

std::string_view Security::kind_name() const { return kind_text(kind_).name; }

std::string_view Security::description() const { return kind_text(kind_).description; }

#define ZANTRIX_SECURITY_KIND_CONSTRUCTORS(Kind)                                              \
  Kind::Kind(std::string code, std::string security_name, SecurityOptions options)            \
      : Security(SecurityKind::Kind, std::move(code), std::move(security_name),               \
                 std::move(options)) {}                                                       \
  Kind::Kind(std::string code, std::string security_name, std::optional<std::int64_t> lot_size, \
             std::optional<Exchange> exchange, std::optional<std::string> expiry_date,        \
             std::string quote_currency)                                                      \
      : Security(SecurityKind::Kind, std::move(code), std::move(security_name), lot_size,     \
                 exchange, std::move(expiry_date), std::move(quote_currency)) {}

ZANTRIX_SECURITY_KIND_CONSTRUCTORS(Stock)
ZANTRIX_SECURITY_KIND_CONSTRUCTORS(Currency)
ZANTRIX_SECURITY_KIND_CONSTRUCTORS(Commodity)
ZANTRIX_SECURITY_KIND_CONSTRUCTORS(Futures)

#undef ZANTRIX_SECURITY_KIND_CONSTRUCTORS

bool operator==(const Security& a, const Security& b) {
  const bool identity_only =
      a.kind() == SecurityKind::Security || b.kind() == SecurityKind::Security;
  if (a.code() != b.code() || a.security_name() != b.security_name() ||
      a.exchange() != b.exchange()) {
    return false;
  }
  if (identity_only) return true;
  return a.kind() == b.kind() && a.lot_size() == b.lot_size() &&
         a.expiry_date() == b.expiry_date() && a.quote_currency() == b.quote_currency();
}

std::string to_string(const Security& s) {
  using framework::format_optional;
  using framework::quote_text;
  auto integer = [](std::int64_t v) { return framework::format_integer(v); };
  auto exchange = [](Exchange e) { return framework::repr(e); };
  std::string text(s.kind_name());
  text += "(code=" + quote_text(s.code());
  text += ", security_name=" + quote_text(s.security_name());
  text += ", lot_size=" + format_optional(s.lot_size(), integer);
  text += ", exchange=" + format_optional(s.exchange(), exchange);
  text += ", expiry_date=" + format_optional(s.expiry_date(), quote_text);
  text += ", quote_currency=" + quote_text(s.quote_currency()) + ")";
  return text;
}

std::ostream& operator<<(std::ostream& os, const Security& security) {
  return os << to_string(security);
}

}  // namespace zantrix::core

// An absent exchange hashes as an empty value text, which no exchange has.
std::size_t std::hash<zantrix::core::Security>::operator()(
    const zantrix::core::Security& s) const noexcept {
  const std::hash<std::string_view> text_hash;
  const std::string_view exchange_value = s.exchange() ? zantrix::framework::value(*s.exchange())
                                                       : std::string_view();
  std::size_t h = text_hash(s.security_name());
  h = zantrix::core::mix(h, text_hash(s.code()));
  return zantrix::core::mix(h, text_hash(exchange_value));
}
