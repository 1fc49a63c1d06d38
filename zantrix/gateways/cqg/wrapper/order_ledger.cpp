#include "zantrix/gateways/cqg/wrapper/order_ledger.h"

namespace zantrix::gateways::cqg {

OrderLedger::OrderState& OrderLedger::order(const std::string& guid) {
  const auto [it, made] = orders_.try_emplace(guid);
  if (made) {
    order_age_.push_back(guid);
    if (order_age_.size() > capacity_) {
      orders_.erase(order_age_.front());
      order_age_.pop_front();
    }
  }
  return orders_.at(guid);
}

OrderLedger::OrderState* OrderLedger::find(const std::string& guid) {
  const auto it = orders_.find(guid);
  return it == orders_.end() ? nullptr : &it->second;
}

const OrderLedger::OrderState* OrderLedger::find(const std::string& guid) const {
  const auto it = orders_.find(guid);
  return it == orders_.end() ? nullptr : &it->second;
}

bool OrderLedger::is_own(const std::string& guid) const {
  const auto* state = find(guid);
  return state != nullptr && state->placement != Placement::None;
}

bool OrderLedger::handed_on(const std::string& order_guid, const std::string& fill_id) const {
  return fills_.contains(fill_key(order_guid, fill_id));
}

bool OrderLedger::hand_on(const std::string& order_guid, const std::string& fill_id,
                          double quantity, double price) {
  auto key = fill_key(order_guid, fill_id);
  if (!fills_.insert(key).second) return false;
  fill_age_.push_back(std::move(key));
  if (fill_age_.size() > capacity_) {
    fills_.erase(fill_age_.front());
    fill_age_.pop_front();
  }
  auto& state = order(order_guid);
  state.booked_quantity += quantity;
  state.booked_value += quantity * price;
  return true;
}

// A GUID holds no '\n', so the pair stays unambiguous.
std::string OrderLedger::fill_key(const std::string& order_guid, const std::string& fill_id) {
  std::string key;
  key.reserve(order_guid.size() + 1 + fill_id.size());
  key += order_guid;
  key += '\n';
  key += fill_id;
  return key;
}

}  // namespace zantrix::gateways::cqg
