#include "apps/zantrix/demo/trade_journal.h"

#include <cmath>
#include <utility>

#include "zantrix/framework/constants.h"
#include "zantrix/framework/errors.h"

namespace zantrix::app::demo {

namespace {

using plugins::sqlite3::NamedValues;

constexpr const char* kBroker = "CQG";
constexpr const char* kEnvironment = "SIMULATE";

std::int64_t whole(double quantity) {
  return static_cast<std::int64_t>(std::llround(quantity));
}

std::string text(auto value) {
  return std::string(framework::to_string(value));
}

}  // namespace

TradeJournal::TradeJournal(plugins::sqlite3::DB& db, JournalIdentity identity, bool grouped)
    : db_(db), identity_(std::move(identity)), grouped_(grouped) {}

void TradeJournal::record(Write write) {
  if (grouped_) {
    pending_.push_back(std::move(write));
  } else {
    write();
  }
}

void TradeJournal::flush() {
  if (pending_.empty()) return;
  std::vector<Write> writes = std::exchange(pending_, {});
  auto scope = db_.transaction();
  for (const auto& write : writes) write();
}

void TradeJournal::record_balance(const framework::AccountBalance& balance,
                                  framework::DateTime time, const std::string& status) {
  record([=, this] { write_balance(balance, time, status); });
}

void TradeJournal::record_positions(const std::vector<framework::PositionData>& positions,
                                    framework::DateTime time) {
  record([=, this] { write_positions(positions, time); });
}

void TradeJournal::record_order(const framework::Order& order, const std::string& broker_order_id) {
  record([=, this] { write_order(order, broker_order_id); });
}

void TradeJournal::record_order_update(const framework::OrderUpdate& update) {
  record([=, this] { write_order_update(update); });
}

void TradeJournal::record_deal(const framework::DealUpdate& deal) {
  record([=, this] { write_deal(deal); });
}

void TradeJournal::write_balance(const framework::AccountBalance& balance, framework::DateTime time,
                                 const std::string& status) {
  NamedValues row{{"broker_name", std::string(kBroker)},
                  {"broker_environment", std::string(kEnvironment)},
                  {"broker_account_id", identity_.broker_account_id},
                  {"broker_account", identity_.broker_account},
                  {"strategy_account_id", identity_.strategy_account_id},
                  {"strategy_account", identity_.strategy_account},
                  {"strategy_version", identity_.strategy_version},
                  {"strategy_version_desc", identity_.strategy_version_desc},
                  {"strategy_status", status},
                  {"cash", balance.cash}};
  if (balance.cash_by_currency) row.emplace_back("cash_by_currency", *balance.cash_by_currency);
  row.emplace_back("available_cash", balance.available_cash);
  if (balance.max_power_short) row.emplace_back("max_power_short", *balance.max_power_short);
  row.emplace_back("net_cash_power", balance.net_cash_power);
  row.emplace_back("maintenance_margin", balance.maintenance_margin);
  row.emplace_back("unrealized_pnl", balance.unrealized_pnl);
  row.emplace_back("realized_pnl", balance.realized_pnl);
  row.emplace_back("update_time", time);
  row.emplace_back("remark", identity_.session);
  db_.insert_records("balance", row);
  balance_id_ = db_.last_insert_id();
}

void TradeJournal::write_positions(const std::vector<framework::PositionData>& positions,
                                   framework::DateTime time) {
  for (const auto& position : positions) {
    db_.insert_records("position", {{"balance_id", balance_id_},
                                    {"security_name", position.security.security_name()},
                                    {"security_code", position.security.code()},
                                    {"direction", text(position.direction)},
                                    {"holding_price", position.holding_price},
                                    {"quantity", whole(position.quantity)},
                                    {"update_time", time},
                                    {"remark", identity_.session}});
  }
}

void TradeJournal::write_order(const framework::Order& order, const std::string& broker_order_id) {
  db_.insert_records("trading_order", {{"broker_order_id", broker_order_id},
                                       {"balance_id", balance_id_},
                                       {"security_name", order.security.security_name()},
                                       {"security_code", order.security.code()},
                                       {"price", order.price},
                                       {"quantity", whole(order.quantity)},
                                       {"direction", text(order.direction)},
                                       {"offset", text(order.offset)},
                                       {"order_type", text(order.order_type)},
                                       {"create_time", order.create_time},
                                       {"update_time", order.updated_time},
                                       {"filled_avg_price", order.filled_avg_price},
                                       {"filled_quantity", whole(order.filled_quantity)},
                                       {"status", text(order.status)},
                                       {"remark", identity_.session}});
  orders_.insert_or_assign(broker_order_id, OrderRow{db_.last_insert_id(), order});
}

void TradeJournal::write_order_update(const framework::OrderUpdate& update) {
  const auto known = orders_.find(update.order_id);
  if (known == orders_.end()) return;
  framework::Order& order = known->second.order;
  order.status = update.status;
  order.updated_time = update.updated_time;
  order.filled_avg_price = update.filled_avg_price;
  order.filled_quantity = update.filled_quantity;
  db_.update_records("trading_order",
                     {{"update_time", update.updated_time},
                      {"filled_avg_price", update.filled_avg_price},
                      {"filled_quantity", whole(update.filled_quantity)},
                      {"status", text(update.status)}},
                     {{"id", known->second.id}});
}

void TradeJournal::write_deal(const framework::DealUpdate& deal) {
  const auto known = orders_.find(deal.order_id);
  if (known == orders_.end()) return;
  const framework::Order& order = known->second.order;
  db_.insert_records("trading_deal", {{"broker_deal_id", deal.deal_id},
                                      {"broker_order_id", deal.order_id},
                                      {"order_id", known->second.id},
                                      {"balance_id", balance_id_},
                                      {"security_name", order.security.security_name()},
                                      {"security_code", order.security.code()},
                                      {"direction", text(order.direction)},
                                      {"offset", text(order.offset)},
                                      {"order_type", text(order.order_type)},
                                      {"update_time", deal.updated_time},
                                      {"filled_avg_price", deal.filled_avg_price},
                                      {"filled_quantity", whole(deal.filled_quantity)},
                                      {"remark", identity_.session}});
  ++deals_;
}

}  // namespace zantrix::app::demo
