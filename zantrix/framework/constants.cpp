#include "zantrix/framework/constants.h"

#include <array>
#include <utility>

namespace zantrix::framework {
namespace {

constexpr std::array kExchanges{
    std::pair{Exchange::SEHK, "SEHK"},         std::pair{Exchange::HKFE, "HKFE"},
    std::pair{Exchange::SSE, "SSE"},           std::pair{Exchange::SZSE, "SZSE"},
    std::pair{Exchange::SHFE, "SHFE"},         std::pair{Exchange::CFFEX, "CFFEX"},
    std::pair{Exchange::NYSE, "NYSE"},         std::pair{Exchange::NASDAQ, "NASDAQ"},
    std::pair{Exchange::CME, "CME"},           std::pair{Exchange::CBOT, "CBOT"},
    std::pair{Exchange::NYMEX, "NYMEX"},       std::pair{Exchange::COMEX, "COMEX"},
    std::pair{Exchange::ICE, "ICE"},           std::pair{Exchange::EUREX, "EUREX"},
    std::pair{Exchange::SGX, "SGX"},           std::pair{Exchange::IDEALPRO, "IDEALPRO"},
    std::pair{Exchange::SMART, "SMART"},
};

constexpr std::array<std::string_view, 3> kDirections{"LONG", "SHORT", "NET"};
constexpr std::array<std::string_view, 5> kOffsets{"NONE", "OPEN", "CLOSE", "CLOSETODAY",
                                                   "CLOSEYESTERDAY"};
constexpr std::array<std::string_view, 3> kOrderTypes{"MARKET", "LIMIT", "STOP"};
constexpr std::array<std::string_view, 7> kOrderStatuses{
    "UNKNOWN", "SUBMITTING", "SUBMITTED", "FILLED", "PART_FILLED", "CANCELLED", "FAILED"};

}  // namespace

std::string_view value(Exchange e) { return kExchanges.at(static_cast<std::size_t>(e)).second; }

std::optional<Exchange> exchange_from_value(std::string_view text) {
  for (const auto& [e, v] : kExchanges) {
    if (v == text) return e;
  }
  return std::nullopt;
}

std::string_view to_string(Exchange e) { return value(e); }
std::string_view to_string(Direction d) { return kDirections.at(static_cast<std::size_t>(d)); }
std::string_view to_string(Offset o) { return kOffsets.at(static_cast<std::size_t>(o)); }
std::string_view to_string(OrderType t) { return kOrderTypes.at(static_cast<std::size_t>(t)); }
std::string_view to_string(OrderStatus s) {
  return kOrderStatuses.at(static_cast<std::size_t>(s));
}

std::string repr(Exchange e) { return "Exchange." + std::string(to_string(e)); }
std::string repr(Direction d) { return "Direction." + std::string(to_string(d)); }
std::string repr(Offset o) { return "Offset." + std::string(to_string(o)); }
std::string repr(OrderType t) { return "OrderType." + std::string(to_string(t)); }
std::string repr(OrderStatus s) { return "OrderStatus." + std::string(to_string(s)); }

}  // namespace zantrix::framework
