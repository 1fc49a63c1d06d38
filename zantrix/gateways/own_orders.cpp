#include "zantrix/gateways/own_orders.h"

#include <utility>

namespace zantrix::gateways {

std::vector<OwnOrders::Update> OwnOrders::adopt(const std::string& order_id) {
  std::vector<Update> taken;
  if (!own_.insert(order_id).second) return taken;
  std::deque<Update> kept;
  for (auto& update : held_) {
    if (order_of(update) != order_id) {
      kept.push_back(std::move(update));
    } else if (sort(update) == Sort::Book) {
      taken.push_back(std::move(update));
    }
  }
  held_ = std::move(kept);
  return taken;
}

OwnOrders::Sort OwnOrders::sort(const Update& update) {
  if (!owns(order_of(update))) {
    held_.push_back(update);
    if (held_.size() > held_capacity_) held_.pop_front();
    return Sort::Held;
  }
  if (const auto* deal = std::get_if<framework::DealUpdate>(&update); deal && !book(*deal)) {
    ++repeated_;
    return Sort::Repeated;
  }
  return Sort::Book;
}

const std::string& OwnOrders::order_of(const Update& update) {
  return std::visit([](const auto& u) -> const std::string& { return u.order_id; }, update);
}

// A GUID holds no '\n', so the pair stays unambiguous.
bool OwnOrders::book(const framework::DealUpdate& deal) {
  return booked_.insert(deal.order_id + '\n' + deal.deal_id).second;
}

}  // namespace zantrix::gateways
