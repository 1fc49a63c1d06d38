// Security: the immutable value that names a tradable instrument.
//
// One value type carries the instrument's kind (SecurityKind), so a Futures
// kept in a variable, field or container of type Security is still a Futures:
// copying into the base type keeps every field and the kind. Stock, Currency,
// Commodity and Futures add no data; they only set the kind and the kind's
// defaults for lot_size and exchange. Every value has six fields, in this
// order: code, security_name, lot_size, exchange, expiry_date and
// quote_currency. Nothing is validated or normalised.
//
// Fields are read through const accessors and never change; assigning a
// whole value replaces it.
//
// Equality: two values of the four kinds are equal when they are of the same
// kind and all six fields are equal. When either side is a base Security, the
// values are equal when code, security_name and exchange are equal (an absent
// exchange equals only another absent one). The hash covers only
// security_name, code and exchange, so equal values hash equally under both
// rules; Security and every kind can key std::unordered_map and
// std::unordered_set.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "zantrix/framework/constants.h"

namespace zantrix::core {

using framework::Exchange;

enum class SecurityKind { Security, Stock, Currency, Commodity, Futures };

// The lot_size and exchange a kind takes when they are not given. The base
// Security leaves both absent.
struct KindDefaults {
  std::optional<std::int64_t> lot_size;
  std::optional<Exchange> exchange;
};

constexpr KindDefaults kind_defaults(SecurityKind kind) {
  switch (kind) {
    case SecurityKind::Stock:
      return {1, Exchange::SEHK};
    case SecurityKind::Currency:
    case SecurityKind::Commodity:
      return {1000, Exchange::IDEALPRO};
    case SecurityKind::Futures:
      return {1000, Exchange::SMART};
    case SecurityKind::Security:
      break;
  }
  return {};
}

// The optional fields given by name, as in
//   Futures("HK.HSImain", "HSI", {.lot_size = 50, .expiry_date = "2026-12-30"}).
// An unset lot_size or exchange takes the kind's default; an unset
// expiry_date stays absent and quote_currency defaults to "". To give a kind
// an absent lot_size or exchange, construct it positionally with std::nullopt.
struct SecurityOptions {
  std::optional<std::int64_t> lot_size = std::nullopt;
  std::optional<Exchange> exchange = std::nullopt;
  std::optional<std::string> expiry_date = std::nullopt;
  std::string quote_currency = {};
};

class Security {
 public:
  // "Base class for different asset types": lot_size, exchange and
  // expiry_date absent unless given.
  Security(std::string code, std::string security_name, SecurityOptions options = {});
  Security(std::string code, std::string security_name, std::optional<std::int64_t> lot_size,
           std::optional<Exchange> exchange = std::nullopt,
           std::optional<std::string> expiry_date = std::nullopt,
           std::string quote_currency = {});

  SecurityKind kind() const { return kind_; }
  // "Security", "Stock", "Currency", "Commodity" or "Futures".
  std::string_view kind_name() const;
  // The kind's one-line description ("Cash equity", "Futures", ...).
  std::string_view description() const;

  const std::string& code() const { return code_; }
  const std::string& security_name() const { return security_name_; }
  const std::optional<std::int64_t>& lot_size() const { return lot_size_; }
  const std::optional<Exchange>& exchange() const { return exchange_; }
  const std::optional<std::string>& expiry_date() const { return expiry_date_; }
  const std::string& quote_currency() const { return quote_currency_; }

 protected:
  // For the kinds: unset options take kind_defaults(kind).
  Security(SecurityKind kind, std::string code, std::string security_name,
           SecurityOptions options);
  Security(SecurityKind kind, std::string code, std::string security_name,
           std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
           std::optional<std::string> expiry_date, std::string quote_currency);

 private:
  SecurityKind kind_;
  std::string code_;
  std::string security_name_;
  std::optional<std::int64_t> lot_size_;
  std::optional<Exchange> exchange_;
  std::optional<std::string> expiry_date_;
  std::string quote_currency_;
};

// "Cash equity": lot_size 1, exchange SEHK by default.
class Stock : public Security {
 public:
  Stock(std::string code, std::string security_name, SecurityOptions options = {});
  Stock(std::string code, std::string security_name, std::optional<std::int64_t> lot_size,
        std::optional<Exchange> exchange = kind_defaults(SecurityKind::Stock).exchange,
        std::optional<std::string> expiry_date = std::nullopt, std::string quote_currency = {});
};

// "Foreign exchange": lot_size 1000, exchange IDEALPRO by default.
class Currency : public Security {
 public:
  Currency(std::string code, std::string security_name, SecurityOptions options = {});
  Currency(std::string code, std::string security_name, std::optional<std::int64_t> lot_size,
           std::optional<Exchange> exchange = kind_defaults(SecurityKind::Currency).exchange,
           std::optional<std::string> expiry_date = std::nullopt,
           std::string quote_currency = {});
};

// "Commodity": lot_size 1000, exchange IDEALPRO by default.
class Commodity : public Security {
 public:
  Commodity(std::string code, std::string security_name, SecurityOptions options = {});
  Commodity(std::string code, std::string security_name, std::optional<std::int64_t> lot_size,
            std::optional<Exchange> exchange = kind_defaults(SecurityKind::Commodity).exchange,
            std::optional<std::string> expiry_date = std::nullopt,
            std::string quote_currency = {});
};

// "Futures": lot_size 1000, exchange SMART by default; expiry_date stays
// absent unless given.
class Futures : public Security {
 public:
  Futures(std::string code, std::string security_name, SecurityOptions options = {});
  Futures(std::string code, std::string security_name, std::optional<std::int64_t> lot_size,
          std::optional<Exchange> exchange = kind_defaults(SecurityKind::Futures).exchange,
          std::optional<std::string> expiry_date = std::nullopt,
          std::string quote_currency = {});
};

bool operator==(const Security& a, const Security& b);

// "Stock(code='700', security_name='Tencent', lot_size=1,
// exchange=Exchange.SEHK, expiry_date=None, quote_currency='')": the kind's
// name and all six fields, an absent value shown as None.
std::string to_string(const Security& security);
std::ostream& operator<<(std::ostream& os, const Security& security);

}  // namespace zantrix::core

namespace std {

template <>
struct hash<zantrix::core::Security> {
  std::size_t operator()(const zantrix::core::Security& security) const noexcept;
};
template <>
struct hash<zantrix::core::Stock> : hash<zantrix::core::Security> {};
template <>
struct hash<zantrix::core::Currency> : hash<zantrix::core::Security> {};
template <>
struct hash<zantrix::core::Commodity> : hash<zantrix::core::Security> {};
template <>
struct hash<zantrix::core::Futures> : hash<zantrix::core::Security> {};

}  // namespace std
