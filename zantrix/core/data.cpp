#include "zantrix/core/data.h"

#include <array>
#include <cmath>
#include <optional>
#include <type_traits>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"

namespace zantrix::core {
namespace {

using framework::KeyError;
using framework::TypeError;
using framework::ValueError;

// A pointer to one field of record type R, of any of the field kinds. The
// alternatives are in the order of FieldValue's, so index() names the kind.
template <class R>
using MemberPtr = std::variant<double R::*, std::int64_t R::*, std::string R::*, bool R::*,
                               DateTime R::*, Security R::*, Exchange R::*>;

template <class R>
struct Field {
  std::string_view name;
  MemberPtr<R> member;
  bool required;
};

constexpr bool kRequired = true;
constexpr bool kOptional = false;

// Each record type's name and its fields in declaration order.
template <class R>
struct RecordInfo;

template <>
struct RecordInfo<Bar> {
  static constexpr std::string_view name = "Bar";
  static constexpr std::array<Field<Bar>, 11> fields{{
      {"datetime", &Bar::datetime, kRequired},
      {"security", &Bar::security, kRequired},
      {"open", &Bar::open, kRequired},
      {"high", &Bar::high, kRequired},
      {"low", &Bar::low, kRequired},
      {"close", &Bar::close, kRequired},
      {"volume", &Bar::volume, kRequired},
      {"num_trds", &Bar::num_trds, kOptional},
      {"value", &Bar::value, kOptional},
      {"ticker", &Bar::ticker, kOptional},
      {"trading_date", &Bar::trading_date, kOptional},
  }};
};

template <>
struct RecordInfo<Quote> {
  static constexpr std::string_view name = "Quote";
  static constexpr std::array<Field<Quote>, 17> fields{{
      {"security", &Quote::security, kRequired},
      {"exchange", &Quote::exchange, kRequired},
      {"datetime", &Quote::datetime, kRequired},
      {"last_price", &Quote::last_price, kOptional},
      {"open_price", &Quote::open_price, kOptional},
      {"high_price", &Quote::high_price, kOptional},
      {"low_price", &Quote::low_price, kOptional},
      {"prev_close_price", &Quote::prev_close_price, kOptional},
      {"volume", &Quote::volume, kOptional},
      {"turnover", &Quote::turnover, kOptional},
      {"turnover_rate", &Quote::turnover_rate, kOptional},
      {"amplitude", &Quote::amplitude, kOptional},
      {"suspension", &Quote::suspension, kOptional},
      {"price_spread", &Quote::price_spread, kOptional},
      {"bid_price", &Quote::bid_price, kOptional},
      {"ask_price", &Quote::ask_price, kOptional},
      {"sec_status", &Quote::sec_status, kOptional},
  }};
};

#define ZANTRIX_LEVEL(group, n) {#group "_" #n, &OrderBook::group##_##n, kOptional}
#define ZANTRIX_LEVELS(group)                                                         \
  ZANTRIX_LEVEL(group, 1), ZANTRIX_LEVEL(group, 2), ZANTRIX_LEVEL(group, 3),          \
      ZANTRIX_LEVEL(group, 4), ZANTRIX_LEVEL(group, 5), ZANTRIX_LEVEL(group, 6),      \
      ZANTRIX_LEVEL(group, 7), ZANTRIX_LEVEL(group, 8), ZANTRIX_LEVEL(group, 9),      \
      ZANTRIX_LEVEL(group, 10)

template <>
struct RecordInfo<OrderBook> {
  static constexpr std::string_view name = "OrderBook";
  static constexpr std::array<Field<OrderBook>, 63> fields{{
      {"security", &OrderBook::security, kRequired},
      {"exchange", &OrderBook::exchange, kRequired},
      {"datetime", &OrderBook::datetime, kRequired},
      ZANTRIX_LEVELS(bid_price),
      ZANTRIX_LEVELS(ask_price),
      ZANTRIX_LEVELS(bid_volume),
      ZANTRIX_LEVELS(ask_volume),
      ZANTRIX_LEVELS(bid_num),
      ZANTRIX_LEVELS(ask_num),
  }};
};

#undef ZANTRIX_LEVELS
#undef ZANTRIX_LEVEL

template <>
struct RecordInfo<CapitalDistribution> {
  static constexpr std::string_view name = "CapitalDistribution";
  static constexpr std::array<Field<CapitalDistribution>, 8> fields{{
      {"datetime", &CapitalDistribution::datetime, kRequired},
      {"security", &CapitalDistribution::security, kRequired},
      {"capital_in_big", &CapitalDistribution::capital_in_big, kRequired},
      {"capital_in_mid", &CapitalDistribution::capital_in_mid, kRequired},
      {"capital_in_small", &CapitalDistribution::capital_in_small, kRequired},
      {"capital_out_big", &CapitalDistribution::capital_out_big, kRequired},
      {"capital_out_mid", &CapitalDistribution::capital_out_mid, kRequired},
      {"capital_out_small", &CapitalDistribution::capital_out_small, kRequired},
  }};
};

template <class R>
std::optional<std::size_t> field_index(std::string_view name) {
  const auto& fields = RecordInfo<R>::fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return i;
  }
  return std::nullopt;
}

template <class R>
const Field<R>& find_field(std::string_view name) {
  if (const auto i = field_index<R>(name)) return RecordInfo<R>::fields[*i];
  throw KeyError("'" + std::string(RecordInfo<R>::name) + "' object has no attribute '" +
                 std::string(name) + "'");
}

// Indexed like FieldValue's alternatives.
constexpr std::array<std::string_view, 7> kKindNames{
    "a number", "an integer", "a text", "a flag", "a timestamp", "a security", "an exchange"};

bool holds_whole_number(double d) {
  return std::trunc(d) == d && d >= -0x1p63 && d < 0x1p63;
}

// Stores `value` into `slot` when its kind fits: the same kind, an integer
// into a number, or a number without fraction into an integer.
template <class T>
bool store(T& slot, const FieldValue& value) {
  if (const T* same = std::get_if<T>(&value)) {
    slot = *same;
    return true;
  }
  if constexpr (std::is_same_v<T, double>) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
      slot = static_cast<double>(*i);
      return true;
    }
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    const auto* d = std::get_if<double>(&value);
    if (d && holds_whole_number(*d)) {
      slot = static_cast<std::int64_t>(*d);
      return true;
    }
  }
  return false;
}

template <class R>
void store_field(R& record, const Field<R>& field, const FieldValue& value) {
  const bool stored =
      std::visit([&](auto member) { return store(record.*member, value); }, field.member);
  if (!stored) {
    throw TypeError(std::string(RecordInfo<R>::name) + "." + std::string(field.name) +
                    " takes " + std::string(kKindNames[field.member.index()]) + ", not " +
                    std::string(kKindNames[value.index()]));
  }
}

std::string format_value(double v) { return framework::format_number(v); }
std::string format_value(std::int64_t v) { return framework::format_integer(v); }
std::string format_value(const std::string& v) { return framework::quote_text(v); }
std::string format_value(bool v) { return framework::format_bool(v); }
std::string format_value(DateTime v) { return framework::format_datetime(v); }
std::string format_value(const Security& v) { return to_string(v); }
std::string format_value(Exchange v) { return framework::repr(v); }

// "Bar.__init__() missing 2 required positional arguments: 'open' and
// 'high'": the names joined as in English, with a serial comma from three on.
std::string missing_arguments_message(std::string_view type_name,
                                      const std::vector<std::string_view>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += names.size() > 2 ? ", " : " ";
    if (i > 0 && i + 1 == names.size()) list += "and ";
    list += "'" + std::string(names[i]) + "'";
  }
  return std::string(type_name) + ".__init__() missing " + std::to_string(names.size()) +
         " required positional argument" + (names.size() > 1 ? "s" : "") + ": " + list;
}

// Whether a record's datetime and security come with the row's columns or
// from the caller of the builder.
enum class TimeAndSecurity { FromColumns, FromCaller };

// The field position of each column; every required field must be among
// them, except datetime and security when the caller gives those.
template <class R>
std::vector<std::size_t> resolve_columns(std::span<const std::string> column_names,
                                         TimeAndSecurity time_and_security) {
  const std::string type_name(RecordInfo<R>::name);
  std::vector<std::size_t> fields;
  fields.reserve(column_names.size());
  std::array<bool, RecordInfo<R>::fields.size()> given{};
  for (const std::string& column : column_names) {
    const auto i = field_index<R>(column);
    if (!i) {
      throw TypeError(type_name + ".__init__() got an unexpected keyword argument '" + column +
                      "'");
    }
    fields.push_back(*i);
    given[*i] = true;
  }
  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const Field<R>& f = RecordInfo<R>::fields[i];
    const bool supplied = time_and_security == TimeAndSecurity::FromCaller &&
                          (f.name == "datetime" || f.name == "security");
    if (f.required && !given[i] && !supplied) missing.push_back(f.name);
  }
  if (!missing.empty()) throw TypeError(missing_arguments_message(type_name, missing));
  return fields;
}

// A record holding the caller's security and datetime, with placeholders in
// the other required fields; resolve_columns has made sure columns fill them.
template <class R>
R blank_record(const Security& security, DateTime datetime);

template <>
Bar blank_record<Bar>(const Security& security, DateTime datetime) {
  return Bar{.datetime = datetime, .security = security, .open = 0, .high = 0, .low = 0,
             .close = 0, .volume = 0};
}

template <>
Quote blank_record<Quote>(const Security& security, DateTime datetime) {
  return Quote{.security = security, .exchange = Exchange::SEHK, .datetime = datetime};
}

template <>
OrderBook blank_record<OrderBook>(const Security& security, DateTime datetime) {
  return OrderBook{.security = security, .exchange = Exchange::SEHK, .datetime = datetime};
}

template <>
CapitalDistribution blank_record<CapitalDistribution>(const Security& security,
                                                      DateTime datetime) {
  return CapitalDistribution{.datetime = datetime, .security = security, .capital_in_big = 0,
                             .capital_in_mid = 0, .capital_in_small = 0, .capital_out_big = 0,
                             .capital_out_mid = 0, .capital_out_small = 0};
}

template <class R>
MarketRecord build_record(std::span<const std::size_t> fields, const Security& security,
                          DateTime datetime, std::span<const FieldValue> row) {
  R record = blank_record<R>(security, datetime);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    store_field(record, RecordInfo<R>::fields[fields[i]], row[i]);
  }
  return record;
}

}  // namespace

template <MarketRecordType R>
std::string to_string(const R& record) {
  std::string text(RecordInfo<R>::name);
  std::string_view separator = "(";
  for (const Field<R>& field : RecordInfo<R>::fields) {
    text.append(separator).append(field.name).append("=");
    separator = ", ";
    text += std::visit([&](auto member) { return format_value(record.*member); }, field.member);
  }
  text += ')';
  return text;
}

std::string to_string(const MarketRecord& record) {
  return std::visit([](const auto& r) { return to_string(r); }, record);
}

std::ostream& operator<<(std::ostream& os, const MarketRecord& record) {
  return os << to_string(record);
}

template <MarketRecordType R>
FieldValue get_field(const R& record, std::string_view name) {
  return std::visit([&](auto member) { return FieldValue(record.*member); },
                    find_field<R>(name).member);
}

template <MarketRecordType R>
void set_field(R& record, std::string_view name, const FieldValue& value) {
  store_field(record, find_field<R>(name), value);
}

template <MarketRecordType R>
std::span<const std::string_view> field_names() {
  static const auto names = [] {
    std::array<std::string_view, RecordInfo<R>::fields.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = RecordInfo<R>::fields[i].name;
    return out;
  }();
  return names;
}

template <MarketRecordType R>
R make_record(std::span<const std::string> names, std::span<const FieldValue> values) {
  if (names.size() != values.size()) {
    throw ValueError(std::to_string(values.size()) + " values for " +
                     std::to_string(names.size()) + " names");
  }
  const auto fields = resolve_columns<R>(names, TimeAndSecurity::FromColumns);
  // Every required field is among the names, so no placeholder survives.
  return std::get<R>(build_record<R>(fields, Security("", ""), DateTime{}, values));
}

#define ZANTRIX_INSTANTIATE(R)                                                \
  template std::string to_string<R>(const R&);                                \
  template FieldValue get_field<R>(const R&, std::string_view);               \
  template void set_field<R>(R&, std::string_view, const FieldValue&);        \
  template std::span<const std::string_view> field_names<R>();                \
  template R make_record<R>(std::span<const std::string>, std::span<const FieldValue>);

ZANTRIX_INSTANTIATE(Bar)
ZANTRIX_INSTANTIATE(Quote)
ZANTRIX_INSTANTIATE(OrderBook)
ZANTRIX_INSTANTIATE(CapitalDistribution)

#undef ZANTRIX_INSTANTIATE

RecordBuilder::RecordBuilder(BuildFn build, std::vector<std::size_t> fields)
    : build_(build), fields_(std::move(fields)) {}

RecordBuilder RecordBuilder::make(std::string_view class_name,
                                  std::span<const std::string> column_names) {
  constexpr auto kCaller = TimeAndSecurity::FromCaller;
  if (class_name == "Bar") {
    return {&build_record<Bar>, resolve_columns<Bar>(column_names, kCaller)};
  }
  if (class_name == "CapitalDistribution") {
    return {&build_record<CapitalDistribution>,
            resolve_columns<CapitalDistribution>(column_names, kCaller)};
  }
  if (class_name == "OrderBook") {
    return {&build_record<OrderBook>, resolve_columns<OrderBook>(column_names, kCaller)};
  }
  if (class_name == "Quote") {
    return {&build_record<Quote>, resolve_columns<Quote>(column_names, kCaller)};
  }
  throw KeyError("no record type named '" + std::string(class_name) +
                 "': class_name must be one of Bar, CapitalDistribution, OrderBook, Quote");
}

MarketRecord RecordBuilder::build(const Security& security, DateTime datetime,
                                  std::span<const FieldValue> row) const {
  if (row.size() != fields_.size()) {
    throw ValueError("row has " + std::to_string(row.size()) + " values for " +
                     std::to_string(fields_.size()) + " columns");
  }
  return build_(fields_, security, datetime, row);
}

}  // namespace zantrix::core
