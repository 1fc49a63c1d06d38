// Market-data records: Bar, Quote, OrderBook and CapitalDistribution.
//
// Each record is a mutable aggregate, filled with designated initializers in
// field order:
//   Bar{.datetime = t, .security = s, .open = 1, .high = 2, .low = 0.5,
//       .close = 1.5, .volume = 100}
// Required fields carry no default member initializer, so the compiler's
// missing-initializer warning flags a record built without one; `security`
// has no default at all, so a record cannot be built without it. Optional
// fields start at their documented defaults. `security` holds any instrument
// kind (a Futures as often as a Stock), and keeps it.
//
// Records compare field-wise (security by its own equality rule). Records
// of different types are different C++ types; held in a MarketRecord they
// never compare equal. Records are not hashable.
//
// Fields are also reachable by name (get_field, set_field, replace) through
// a per-type table fixed at compile time, and RecordBuilder builds records of
// a type named by text from rows of values, resolving the column names once.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::core {

using framework::DateTime;

// "OHLCV": one bar. num_trds is the number of trades, value the traded
// value; ticker and trading_date are optional labels.
struct Bar {
  DateTime datetime;
  Security security;
  double open;
  double high;
  double low;
  double close;
  double volume;
  std::int64_t num_trds = 0;
  double value = 0;
  std::string ticker = {};
  std::string trading_date = {};

  friend bool operator==(const Bar&, const Bar&) = default;
};

// "Quote": a snapshot of an instrument's trading state. suspension is true
// while trading is suspended; bid_price and ask_price are the best bid and
// ask.
struct Quote {
  Security security;
  Exchange exchange;
  DateTime datetime;
  double last_price = 0;
  double open_price = 0;
  double high_price = 0;
  double low_price = 0;
  double prev_close_price = 0;
  double volume = 0;
  double turnover = 0;
  double turnover_rate = 0;
  double amplitude = 0;
  bool suspension = false;
  double price_spread = 0;
  double bid_price = 0;
  double ask_price = 0;
  std::string sec_status = "NORMAL";

  friend bool operator==(const Quote&, const Quote&) = default;
};

// "Orderbook": ten levels on each side; level 1 is the best price. The
// volume of level N is the quantity resting there and the num of level N the
// number of orders there. Levels a book does not have stay 0.
struct OrderBook {
  Security security;
  Exchange exchange;
  DateTime datetime;
  double bid_price_1 = 0, bid_price_2 = 0, bid_price_3 = 0, bid_price_4 = 0, bid_price_5 = 0,
         bid_price_6 = 0, bid_price_7 = 0, bid_price_8 = 0, bid_price_9 = 0, bid_price_10 = 0;
  double ask_price_1 = 0, ask_price_2 = 0, ask_price_3 = 0, ask_price_4 = 0, ask_price_5 = 0,
         ask_price_6 = 0, ask_price_7 = 0, ask_price_8 = 0, ask_price_9 = 0, ask_price_10 = 0;
  double bid_volume_1 = 0, bid_volume_2 = 0, bid_volume_3 = 0, bid_volume_4 = 0,
         bid_volume_5 = 0, bid_volume_6 = 0, bid_volume_7 = 0, bid_volume_8 = 0,
         bid_volume_9 = 0, bid_volume_10 = 0;
  double ask_volume_1 = 0, ask_volume_2 = 0, ask_volume_3 = 0, ask_volume_4 = 0,
         ask_volume_5 = 0, ask_volume_6 = 0, ask_volume_7 = 0, ask_volume_8 = 0,
         ask_volume_9 = 0, ask_volume_10 = 0;
  double bid_num_1 = 0, bid_num_2 = 0, bid_num_3 = 0, bid_num_4 = 0, bid_num_5 = 0,
         bid_num_6 = 0, bid_num_7 = 0, bid_num_8 = 0, bid_num_9 = 0, bid_num_10 = 0;
  double ask_num_1 = 0, ask_num_2 = 0, ask_num_3 = 0, ask_num_4 = 0, ask_num_5 = 0,
         ask_num_6 = 0, ask_num_7 = 0, ask_num_8 = 0, ask_num_9 = 0, ask_num_10 = 0;

  friend bool operator==(const OrderBook&, const OrderBook&) = default;
};

// "Capital Distributions": money flowing in and out, split by order size.
// Every field is required.
struct CapitalDistribution {
  DateTime datetime;
  Security security;
  double capital_in_big;
  double capital_in_mid;
  double capital_in_small;
  double capital_out_big;
  double capital_out_mid;
  double capital_out_small;

  friend bool operator==(const CapitalDistribution&, const CapitalDistribution&) = default;
};

template <class R>
concept MarketRecordType = std::same_as<R, Bar> || std::same_as<R, Quote> ||
                           std::same_as<R, OrderBook> || std::same_as<R, CapitalDistribution>;

using MarketRecord = std::variant<Bar, Quote, OrderBook, CapitalDistribution>;

// A field's value when fields are reached by name.
using FieldValue =
    std::variant<double, std::int64_t, std::string, bool, DateTime, Security, Exchange>;
using FieldAssignment = std::pair<std::string_view, FieldValue>;

// "Bar(datetime=2024-03-01 09:30:00, security=Stock(...), open=1.0, ...)":
// the type name and every field in order; numbers in their shortest exact
// form, texts quoted, flags True/False, exchanges as Exchange.X.
template <MarketRecordType R>
std::string to_string(const R& record);
std::string to_string(const MarketRecord& record);

template <MarketRecordType R>
std::ostream& operator<<(std::ostream& os, const R& record) {
  return os << to_string(record);
}
std::ostream& operator<<(std::ostream& os, const MarketRecord& record);

// The value of the field called `name`. A KeyError names an unknown field.
template <MarketRecordType R>
FieldValue get_field(const R& record, std::string_view name);

// Sets the field called `name`. A KeyError names an unknown field; a
// TypeError names the field when `value` is of the wrong kind. A number
// field also takes an integer, and an integer field a number with no
// fraction. On error the record is unchanged.
template <MarketRecordType R>
void set_field(R& record, std::string_view name, const FieldValue& value);

// The names of R's fields in declaration order: the order in which they are
// given by position.
template <MarketRecordType R>
std::span<const std::string_view> field_names();

// A record built from named values, as a call with keywords builds one:
// `values[i]` goes to the field `names[i]`. A TypeError names a name that is
// no field of R, or lists the required fields (datetime and security among
// them) that no name gives; a value of the wrong kind is a TypeError as from
// set_field; a ValueError when the two spans differ in length.
template <MarketRecordType R>
R make_record(std::span<const std::string> names, std::span<const FieldValue> values);

// A copy of `record` with the named fields replaced, as by set_field;
// `record` itself is never changed.
//   Quote next = replace(quote, {{"last_price", 10.5}, {"volume", 300}});
template <MarketRecordType R>
R replace(const R& record, std::initializer_list<FieldAssignment> changes) {
  R copy = record;
  for (const auto& [name, value] : changes) set_field(copy, name, value);
  return copy;
}

// Builds records of one type, named by text, from rows of values whose
// columns are named once. Column names are resolved to fields when the
// builder is made, so building a row does no name lookup.
//
// datetime and security come from the caller of build; every other required
// field must be one of the columns. A column may also name datetime or
// security, and then overrides what the caller gives.
class RecordBuilder {
 public:
  // A KeyError when `class_name` is not one of "Bar", "CapitalDistribution",
  // "OrderBook" or "Quote"; a TypeError when a column is no field of that
  // type, or when a required field is neither a column nor supplied by build.
  static RecordBuilder make(std::string_view class_name,
                            std::span<const std::string> column_names);

  // One record from `row`, whose values are in column order. A ValueError
  // when the row's length differs from the number of columns; a TypeError,
  // as from set_field, for a value of the wrong kind.
  MarketRecord build(const Security& security, DateTime datetime,
                     std::span<const FieldValue> row) const;

 private:
  using BuildFn = MarketRecord (*)(std::span<const std::size_t> fields, const Security&,
                                   DateTime, std::span<const FieldValue> row);

  RecordBuilder(BuildFn build, std::vector<std::size_t> fields);

  BuildFn build_;
  // For each column, the position of its field in the record type's fields.
  std::vector<std::size_t> fields_;
};

}  // namespace zantrix::core
