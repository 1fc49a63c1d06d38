// TradeJournal: writes the session's balances, positions, orders and deals to
// the record store as they happen, each row tagged with the session.
//
// Every row carries the broker "CQG", the environment "SIMULATE", the
// account, the strategy account and version (balance rows), the time of the
// row and the session tag in `remark`; values a record does not have are left
// out of the insert. Positions, orders and deals point to the latest balance
// row, so a balance is recorded first. Each call's rows are committed before
// it returns: a fill handed to record_deal is in the store even if the
// session stops right after.
//
// Used from one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zantrix/framework/balance.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/framework/order.h"
#include "zantrix/framework/position.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::app::demo {

struct JournalIdentity {
  std::int64_t broker_account_id;
  std::string broker_account;
  std::int64_t strategy_account_id = 1;
  std::string strategy_account = "demo";
  std::string strategy_version = "1.0";
  std::string strategy_version_desc;
  std::string session;  // the tag in every row's remark
};

class TradeJournal {
 public:
  TradeJournal(plugins::sqlite3::DB& db, JournalIdentity identity);

  // Returns the new balance row's id.
  std::int64_t record_balance(const framework::AccountBalance& balance, framework::DateTime time,
                              const std::string& status);
  void record_positions(const std::vector<framework::PositionData>& positions,
                        framework::DateTime time);
  void record_order(const framework::Order& order, const std::string& broker_order_id);
  // An update of an order not recorded here is ignored.
  void record_order_update(const framework::OrderUpdate& update);
  // A deal of an order not recorded here is ignored.
  void record_deal(const framework::DealUpdate& deal);

  std::size_t deals() const { return deals_; }

 private:
  struct OrderRow {
    std::int64_t id;
    framework::Order order;
  };

  std::int64_t last_row_id(std::string_view table);

  plugins::sqlite3::DB& db_;
  JournalIdentity identity_;
  std::int64_t balance_id_ = 0;
  std::map<std::string, OrderRow, std::less<>> orders_;
  std::size_t deals_ = 0;
};

}  // namespace zantrix::app::demo
