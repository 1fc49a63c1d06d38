// What VexGate's parts share: finding a client object by CQG symbol, the
// check of an object the client hands over, time stamps to the second, and
// the plain output line.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/event.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

namespace zantrix::gateways::cqg::detail {

// The part of a full name after its last "." ("F.US.EPU23" -> "EPU23"), or
// the whole name.
inline std::string_view last_piece(std::string_view full_name) {
  const auto dot = full_name.rfind('.');
  return dot == std::string_view::npos ? full_name : full_name.substr(dot + 1);
}

// Whether `symbol` stands in `name` as whole "."-separated pieces: "ESZ4" in
// "F.US.ESZ4" or "US.ESZ4" in "F.US.ESZ4", never "ESZ4" in "F.US.MESZ4".
inline bool names_pieces(std::string_view name, std::string_view symbol) {
  if (symbol.empty()) return false;
  for (auto at = name.find(symbol); at != std::string_view::npos; at = name.find(symbol, at + 1)) {
    const auto end = at + symbol.size();
    if ((at == 0 || name[at - 1] == '.') && (end == name.size() || name[end] == '.')) return true;
  }
  return false;
}

// The first of `count` items (reached by `item_at(i)`) whose name
// (`name_of(item)`) is the symbol; failing that, the one whose name holds the
// symbol as whole pieces (names_pieces); null when none does. Items of the
// same name are one contract, and the first of them is taken; several
// contracts are a ValueError naming them, so that an order or an
// unsubscription never reaches a contract it did not name.
template <class ItemAt, class NameOf>
auto find_by_symbol(long count, const std::string& symbol, ItemAt item_at, NameOf name_of)
    -> decltype(item_at(0L)) {
  decltype(item_at(0L)) found = nullptr;
  std::vector<std::string> names;
  for (long i = 0; i < count; ++i) {
    auto item = item_at(i);
    if (!item) continue;
    std::string name = name_of(*item);
    if (name == symbol) return item;
    if (!names_pieces(name, symbol)) continue;
    if (names.empty()) found = std::move(item);
    if (std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(std::move(name));
  }
  if (names.size() > 1) {
    std::string listed;
    for (const auto& name : names) listed += (listed.empty() ? "" : ", ") + name;
    throw framework::ValueError("cqg_symbol " + symbol +
                                " names more than one contract: " + listed);
  }
  return found;
}

// `object`, or a std::runtime_error saying the client handed `what` over as
// null: a handler then skips its event, with the error traced.
template <class T>
std::shared_ptr<T> require(std::shared_ptr<T> object, std::string_view what) {
  if (!object) {
    throw std::runtime_error("the client handed over a null " + std::string(what));
  }
  return object;
}

// `object`, the result of the gateway's own call `call` ("CQGCEL.Orders"), or,
// for a null, a traced std::runtime_error "<call> returned no object": a
// request then fails clearly instead of reaching through nothing.
template <class T>
std::shared_ptr<T> returned(std::shared_ptr<T> object, std::string_view call) {
  if (!object) {
    const std::string text = std::string(call) + " returned no object";
    Trace(text);
    throw std::runtime_error(text);
  }
  return object;
}

// Sets an event when the scope ends, however it ends: a handler that fails
// still releases the request waiting on it.
class SetOnExit {
 public:
  explicit SetOnExit(framework::Event& event) : event_(event) {}
  ~SetOnExit() { event_.set(); }
  SetOnExit(const SetOnExit&) = delete;
  SetOnExit& operator=(const SetOnExit&) = delete;

 private:
  framework::Event& event_;
};

// The wall-clock fields of a time stamp down to the second.
inline framework::DateTime whole_seconds(framework::DateTime time) {
  return std::chrono::floor<std::chrono::seconds>(time);
}

// Writes `line` and a line break to standard output as one write, flushed.
void print_line(std::string line);

}  // namespace zantrix::gateways::cqg::detail
