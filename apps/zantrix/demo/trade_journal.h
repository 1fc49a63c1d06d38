// TradeJournal: writes the session's balances, positions, orders and deals to
// the record store as they happen, each row tagged with the session.
//
// Every row carries the broker "CQG", the environment "SIMULATE", the
// account, the strategy account and version (balance rows), the time of the
// row and the session tag in `remark`; values a record does not have are left
// out of the insert. Positions, orders and deals point to the latest balance
// row, so a balance is recorded first.
//
// Grouped (the default), the rows recorded are kept in order until `flush`,
// which writes them in one transaction scope of the store: the session
// flushes once per replayed minute, so a minute's orders, deals and snapshot
// cost one commit, and no scope is open while the session waits on the
// gateway. Ungrouped, each call's rows are committed before it returns. The
// rows written are the same either way. The destructor does not flush: rows
// not flushed are not stored.
//
// Used from one thread.
#pragma once

#include <cstdint>
#include <functional>
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
  TradeJournal(plugins::sqlite3::DB& db, JournalIdentity identity, bool grouped = true);

  void record_balance(const framework::AccountBalance& balance, framework::DateTime time,
                      const std::string& status);
  void record_positions(const std::vector<framework::PositionData>& positions,
                        framework::DateTime time);
  void record_order(const framework::Order& order, const std::string& broker_order_id);
  // An update of an order not recorded here is ignored.
  void record_order_update(const framework::OrderUpdate& update);
  // A deal of an order not recorded here is ignored.
  void record_deal(const framework::DealUpdate& deal);

  // Writes the rows kept so far in one transaction scope (grouped), or
  // nothing (ungrouped, where every row is already written).
  void flush();

  std::size_t deals() const { return deals_; }

 private:
  using Write = std::function<void()>;

  // Runs `write` now (ungrouped) or keeps it for `flush` (grouped).
  void record(Write write);
  void write_balance(const framework::AccountBalance& balance, framework::DateTime time,
                     const std::string& status);
  void write_positions(const std::vector<framework::PositionData>& positions,
                       framework::DateTime time);
  void write_order(const framework::Order& order, const std::string& broker_order_id);
  void write_order_update(const framework::OrderUpdate& update);
  void write_deal(const framework::DealUpdate& deal);

  struct OrderRow {
    std::int64_t id;
    framework::Order order;
  };

  plugins::sqlite3::DB& db_;
  JournalIdentity identity_;
  bool grouped_;
  std::vector<Write> pending_;
  std::int64_t balance_id_ = 0;
  std::map<std::string, OrderRow, std::less<>> orders_;
  std::size_t deals_ = 0;
};

}  // namespace zantrix::app::demo
