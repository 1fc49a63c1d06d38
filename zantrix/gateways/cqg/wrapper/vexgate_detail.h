// What VexGate's parts share: finding a client object by CQG symbol, time
// stamps to the second, and the plain output line.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "zantrix/framework/datetime.h"

namespace zantrix::gateways::cqg::detail {

// The part of a full name after its last "." ("F.US.EPU23" -> "EPU23"), or
// the whole name.
inline std::string_view last_piece(std::string_view full_name) {
  const auto dot = full_name.rfind('.');
  return dot == std::string_view::npos ? full_name : full_name.substr(dot + 1);
}

// The first of `count` items (reached by `item_at(i)`) whose name
// (`name_of(item)`) is the symbol or ends in "." + symbol; failing that, the
// first whose name contains the symbol; null. The exact match comes first so
// that "ESZ4" finds "F.US.ESZ4" even when "F.US.MESZ4" comes before it.
template <class ItemAt, class NameOf>
auto find_by_symbol(long count, const std::string& symbol, ItemAt item_at, NameOf name_of)
    -> decltype(item_at(0L)) {
  decltype(item_at(0L)) partial = nullptr;
  for (long i = 0; i < count; ++i) {
    auto item = item_at(i);
    if (!item) continue;
    const std::string name = name_of(*item);
    if (name == symbol || last_piece(name) == symbol) return item;
    if (!partial && name.find(symbol) != std::string::npos) partial = std::move(item);
  }
  return partial;
}

// The wall-clock fields of a time stamp down to the second.
inline framework::DateTime whole_seconds(framework::DateTime time) {
  return std::chrono::floor<std::chrono::seconds>(time);
}

// Writes `line` and a line break to standard output as one write, flushed.
void print_line(std::string line);

}  // namespace zantrix::gateways::cqg::detail
