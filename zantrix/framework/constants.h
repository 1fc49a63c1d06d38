// The framework's enumerations. Each has a text form (`value` for Exchange,
// the member's name for the others) and a lookup from that text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zantrix::framework {

enum class Exchange {
  SEHK,      // Hong Kong stock exchange
  HKFE,      // Hong Kong futures exchange
  SSE,       // Shanghai stock exchange
  SZSE,      // Shenzhen stock exchange
  SHFE,      // Shanghai futures exchange
  CFFEX,     // China financial futures exchange
  NYSE,      // New York stock exchange
  NASDAQ,    // Nasdaq
  CME,       // Chicago Mercantile Exchange
  CBOT,      // Chicago Board of Trade
  NYMEX,     // New York Mercantile Exchange
  COMEX,     // Commodity Exchange
  ICE,       // Intercontinental Exchange
  EUREX,     // Eurex
  SGX,       // Singapore exchange
  IDEALPRO,  // interbank foreign-exchange venue
  SMART,     // smart routing
};

enum class Direction { LONG, SHORT, NET };
enum class Offset { NONE, OPEN, CLOSE, CLOSETODAY, CLOSEYESTERDAY };
enum class OrderType { MARKET, LIMIT, STOP };
enum class OrderStatus { UNKNOWN, SUBMITTING, SUBMITTED, FILLED, PART_FILLED, CANCELLED, FAILED };

// The exchange's text value ("SEHK", ...).
std::string_view value(Exchange e);
std::optional<Exchange> exchange_from_value(std::string_view text);

std::string_view to_string(Exchange e);
std::string_view to_string(Direction d);
std::string_view to_string(Offset o);
std::string_view to_string(OrderType t);
std::string_view to_string(OrderStatus s);

// Member text forms as "Exchange.SEHK", "Direction.LONG", ..., used in the
// records' text form.
std::string repr(Exchange e);
std::string repr(Direction d);
std::string repr(Offset o);
std::string repr(OrderType t);
std::string repr(OrderStatus s);

}  // namespace zantrix::framework
