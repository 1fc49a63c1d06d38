// The simulated tick requests and tick series.
//
// A TicksRequest keeps what is written to it; a request made by
// CreateTicksRequest starts from values the gateway never uses (Limit 100,
// SessionsFilter 0, Symbol empty), so a property left unset shows. A Ticks
// series holds the ticks it was resolved with (the newest `Limit` of the
// symbol's history) and grows as the simulator adds ticks, until
// RemoveTicks, keeping at most twice TICK_HISTORY of them (venue.h), the
// oldest dropped first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/cqgsim/collection.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/ticks.h"
#include "zantrix/framework/datetime.h"

namespace platform::cqgsim {

class TicksRequest final : public zantrix::framework::cqg::TicksRequest {
 public:
  explicit TicksRequest(Servant servant) : servant_(std::move(servant)) {}

  std::string Symbol() override;
  void put_Symbol(const std::string& value) override;
  zantrix::framework::cqg::eTicksRequestType Type() override;
  void put_Type(zantrix::framework::cqg::eTicksRequestType value) override;
  zantrix::framework::cqg::eTicksFilter TickFilter() override;
  void put_TickFilter(zantrix::framework::cqg::eTicksFilter value) override;
  long SessionsFilter() override;
  void put_SessionsFilter(long value) override;
  long Limit() override;
  void put_Limit(long value) override;

  std::string symbol;
  zantrix::framework::cqg::eTicksRequestType type = zantrix::framework::cqg::trtCurrentNotify;
  zantrix::framework::cqg::eTicksFilter tickFilter = zantrix::framework::cqg::tfAll;
  long sessionsFilter = 0;
  long limit = 100;

 private:
  Servant servant_;
};

// One tick as the simulator keeps it.
struct TickSetup {
  zantrix::framework::cqg::eTickPriceType priceType;
  double price;
  long volume;
  zantrix::framework::DateTime timestamp = {};
};

class Tick final : public zantrix::framework::cqg::Tick {
 public:
  Tick(Servant servant, TickSetup value) : value(value), servant_(std::move(servant)) {}

  zantrix::framework::cqg::eTickPriceType PriceType() override;
  double Price() override;
  long Volume() override;
  zantrix::framework::DateTime Timestamp() override;

  const TickSetup value;

 private:
  Servant servant_;
};

class Ticks final : public zantrix::framework::cqg::Ticks {
 public:
  Ticks(Servant servant, std::string id, std::shared_ptr<TicksRequest> request)
      : id(std::move(id)), request(std::move(request)), servant_(std::move(servant)) {}

  std::string Id() override;
  long Count() override;
  std::shared_ptr<zantrix::framework::cqg::Tick> Item(long index) override;
  std::shared_ptr<zantrix::framework::cqg::TicksRequest> Request() override;

  const std::string& key() const { return id; }
  void Append(const TickSetup& tick) { ticks.push_back(std::make_shared<Tick>(servant_, tick)); }

  const std::string id;
  const std::shared_ptr<TicksRequest> request;
  // The full name of the instrument the request resolved to.
  std::string listing;
  std::vector<std::shared_ptr<Tick>> ticks;

 private:
  Servant servant_;
};

inline constexpr CollectionNames ALLTICKS_NAMES{"AllTicks", "AllTicks.Count", "AllTicks.Item",
                                                "AllTicks.ItemByIndex"};
using TicksCollection =
    Collection<zantrix::framework::cqg::TicksCollection, Ticks, std::string, ALLTICKS_NAMES>;

}  // namespace platform::cqgsim
