#include "platform/cqgsim/ticks.h"

#include "platform/com/error.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

std::string TicksRequest::Symbol() {
  return servant_.Serve("TicksRequest.Symbol", {}, [this] { return symbol; });
}

void TicksRequest::put_Symbol(const std::string& value) {
  servant_.Serve("TicksRequest.put_Symbol", {value}, [this, &value] { symbol = value; });
}

cqg::eTicksRequestType TicksRequest::Type() {
  return servant_.Serve("TicksRequest.Type", {}, [this] { return type; });
}

void TicksRequest::put_Type(cqg::eTicksRequestType value) {
  servant_.Serve("TicksRequest.put_Type", {static_cast<long>(value)},
                 [this, value] { type = value; });
}

cqg::eTicksFilter TicksRequest::TickFilter() {
  return servant_.Serve("TicksRequest.TickFilter", {}, [this] { return tickFilter; });
}

void TicksRequest::put_TickFilter(cqg::eTicksFilter value) {
  servant_.Serve("TicksRequest.put_TickFilter", {static_cast<long>(value)},
                 [this, value] { tickFilter = value; });
}

long TicksRequest::SessionsFilter() {
  return servant_.Serve("TicksRequest.SessionsFilter", {}, [this] { return sessionsFilter; });
}

void TicksRequest::put_SessionsFilter(long value) {
  servant_.Serve("TicksRequest.put_SessionsFilter", {value},
                 [this, value] { sessionsFilter = value; });
}

long TicksRequest::Limit() {
  return servant_.Serve("TicksRequest.Limit", {}, [this] { return limit; });
}

void TicksRequest::put_Limit(long value) {
  servant_.Serve("TicksRequest.put_Limit", {value}, [this, value] { limit = value; });
}

cqg::eTickPriceType Tick::PriceType() {
  return servant_.Serve("Tick.PriceType", {}, [this] { return value.priceType; });
}

double Tick::Price() {
  return servant_.Serve("Tick.Price", {}, [this] { return value.price; });
}

long Tick::Volume() {
  return servant_.Serve("Tick.Volume", {}, [this] { return value.volume; });
}

zantrix::framework::DateTime Tick::Timestamp() {
  return servant_.Serve("Tick.Timestamp", {}, [this] { return value.timestamp; });
}

std::string Ticks::Id() {
  return servant_.Serve("Ticks.Id", {}, [this] { return id; });
}

long Ticks::Count() {
  return servant_.Serve("Ticks.Count", {}, [this] { return static_cast<long>(ticks.size()); });
}

std::shared_ptr<cqg::Tick> Ticks::Item(long index) {
  return servant_.Serve("Ticks.Item", {index}, [this, index]() -> std::shared_ptr<cqg::Tick> {
    if (index < 0 || index >= static_cast<long>(ticks.size())) {
      throw com::ComError(com::E_INVALIDARG,
                          "Ticks.Item: index " + std::to_string(index) + " is out of range");
    }
    return ticks[static_cast<std::size_t>(index)];
  });
}

std::shared_ptr<cqg::TicksRequest> Ticks::Request() {
  return servant_.Serve("Ticks.Request", {},
                        [this]() -> std::shared_ptr<cqg::TicksRequest> { return request; });
}

}  // namespace platform::cqgsim
