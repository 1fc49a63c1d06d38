// The paper-trading session end to end on a small stored history: what it
// writes to the record store against what the simulated market reported, also
// when the market misbehaves, the report against a recomputation from the
// store, determinism, and stopping part-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "apps/zantrix/demo/market_tape.h"
#include "apps/zantrix/demo/session.h"
#include "apps/zantrix/demo/session_report.h"
#include "tests/apps/demo/sample_market.h"
#include "tests/plugins/sqlite3/store_folder.h"
#include "zantrix/framework/config.h"
#include "zantrix/framework/table.h"
#include "zantrix/plugins/analysis/metrics.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::app::demo::test {
namespace {

using framework::Table;
using plugins::sqlite3::DB;

class DemoSession : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / (std::string("zantrix_demo_") + info->name());
    fs::remove_all(root_);
    framework::zantrix_config().use_file(write_sample_market(root_, 3));
    options_.strategy.patience = 2;
    options_.session_tag = "test session";
  }
  void TearDown() override {
    framework::zantrix_config().use_file(framework::Config::kDefaultFileName.data());
    fs::remove_all(root_);
  }

  SessionResult run(const std::string& store = "db") {
    framework::zantrix_config().set_DB({{"sqlite3", (root_ / store).string()}});
    return run_session(load_tape(demo_instruments()), options_);
  }

  static Table rows(DB& db, std::string_view table) {
    return db.select_records(
        table, std::nullopt,
        {{"remark", std::string("test session")}, {"condition_str", std::string("1=1 ORDER BY id")}});
  }

  fs::path root_;
  SessionOptions options_;
};

TEST_F(DemoSession, OrdersAndDealsInTheStoreMatchTheMarketsFillsOneForOne) {
  const SessionResult result = run();
  ASSERT_FALSE(result.interrupted);
  ASSERT_GT(result.market_fills.size(), 4u);
  EXPECT_GT(result.market_orders, 0u);
  EXPECT_GT(result.limit_orders, 0u);

  DB db;
  const Table deals = rows(db, "trading_deal");
  const Table orders = rows(db, "trading_order");
  ASSERT_EQ(deals.rows(), result.market_fills.size());
  ASSERT_EQ(orders.rows(), result.orders);
  std::map<std::int64_t, std::string> guid_of_row;
  std::map<std::string, double> filled;
  // Times are stored as "%Y-%m-%d %H:%M:%S" texts, which order as the times do.
  std::map<std::int64_t, std::string> created;
  for (std::size_t r = 0; r < orders.rows(); ++r) {
    guid_of_row[orders.column("id").integers()[r]] = orders.column("broker_order_id").texts()[r];
    // Every time of a row comes from the one market clock: nothing is
    // updated, or filled, before it was placed.
    const auto& create_time = orders.column("create_time").texts()[r];
    created[orders.column("id").integers()[r]] = create_time;
    EXPECT_GE(orders.column("update_time").texts()[r], create_time) << r;
  }
  for (std::size_t r = 0; r < deals.rows(); ++r) {
    EXPECT_GE(deals.column("update_time").texts()[r],
              created.at(deals.column("order_id").integers()[r]))
        << r;
  }
  for (std::size_t r = 0; r < deals.rows(); ++r) {
    const auto& fill = result.market_fills[r];
    SCOPED_TRACE("deal " + std::to_string(r));
    EXPECT_EQ(deals.column("broker_deal_id").texts()[r], fill.fillId);
    EXPECT_EQ(deals.column("broker_order_id").texts()[r], fill.orderGuid);
    EXPECT_EQ(guid_of_row.at(deals.column("order_id").integers()[r]), fill.orderGuid);
    EXPECT_EQ(deals.column("filled_avg_price").number_at(r), fill.price);
    EXPECT_EQ(deals.column("filled_quantity").integers()[r], fill.quantity);
    EXPECT_EQ(deals.column("direction").texts()[r],
              fill.side == framework::cqg::osdBuy ? "LONG" : "SHORT");
    filled[fill.orderGuid] += static_cast<double>(fill.quantity);
  }
  // Each order's last state agrees with its fills; what never filled ended
  // cancelled, and nothing is left working.
  for (std::size_t r = 0; r < orders.rows(); ++r) {
    const std::string guid(orders.column("broker_order_id").texts()[r]);
    const std::string status(orders.column("status").texts()[r]);
    EXPECT_EQ(orders.column("filled_quantity").number_at(r), filled[guid]) << guid;
    EXPECT_EQ(status, filled[guid] > 0 ? "FILLED" : "CANCELLED") << guid;
  }
  for (const double position : result.positions) EXPECT_EQ(position, 0);
}

// The venue misbehaves at high rates (fills in parts, fills reported again,
// order properties read empty, Place failing after its order arrived, orders
// filled in their arrival) over two passes of one trading day. The trader's
// books still hold: each fill the market reported is exactly one deal, stored
// once; every order placed is stored, its placement confirmed or not; the
// strategy's positions are the venue's; the second pass runs weeks later, on
// weekdays.
TEST_F(DemoSession, UnderAMisbehavingVenueEachFillIsOneDealAndPositionsAreTheVenues) {
  framework::zantrix_config().use_file(write_sample_market(root_ / "one day", 2));
  options_.strategy = {.fast = 5, .slow = 20, .patience = 2};
  options_.passes = 2;
  options_.misbehaviour = {
      .partialFill = 0.5, .repeatFill = 0.3, .placeFailsAfterArrival = 0.2, .emptyProperty = 0.2};
  options_.quirks = {.fillOnArrival = true};
  const SessionResult result = run();
  ASSERT_FALSE(result.interrupted);
  EXPECT_GT(result.unconfirmed_orders, 0u);
  EXPECT_GT(result.market_fills.size(), result.orders / 2);

  using Fill = std::tuple<std::string, std::string, double>;
  std::vector<Fill> reported, booked, stored;
  for (const auto& fill : result.market_fills) {
    reported.emplace_back(fill.orderGuid, fill.fillId, static_cast<double>(fill.quantity));
  }
  for (const auto& deal : result.deals) {
    booked.emplace_back(deal.order_id, deal.deal_id, deal.filled_quantity);
  }
  DB db;
  const Table deals = rows(db, "trading_deal");
  for (std::size_t r = 0; r < deals.rows(); ++r) {
    stored.emplace_back(deals.column("broker_order_id").texts()[r],
                        deals.column("broker_deal_id").texts()[r],
                        deals.column("filled_quantity").number_at(r));
  }
  std::sort(reported.begin(), reported.end());
  std::sort(booked.begin(), booked.end());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(booked, reported);
  EXPECT_EQ(stored, reported);
  EXPECT_EQ(rows(db, "trading_order").rows(), result.orders);
  EXPECT_EQ(result.positions, result.venue_positions);

  for (std::size_t i = 1; i < result.snapshots.size(); ++i) {
    const auto time = result.snapshots[i].time;
    EXPECT_GE(time, result.snapshots[i - 1].time) << i;
    const std::chrono::weekday day{std::chrono::floor<std::chrono::days>(time)};
    EXPECT_TRUE(day != std::chrono::Saturday && day != std::chrono::Sunday) << i;
  }
  EXPECT_GT(result.snapshots.back().time - result.snapshots.front().time, std::chrono::weeks(1));
}

TEST_F(DemoSession, RowsCarryTheBrokerAccountAndStrategyAndLeaveAbsentValuesOut) {
  const SessionResult result = run();
  DB db;
  const Table balance = rows(db, "balance");
  ASSERT_EQ(balance.rows(), result.snapshots.size());
  for (std::size_t r = 0; r < balance.rows(); ++r) {
    EXPECT_EQ(balance.column("broker_name").texts()[r], "CQG");
    EXPECT_EQ(balance.column("broker_environment").texts()[r], "SIMULATE");
    EXPECT_EQ(balance.column("broker_account_id").integers()[r], options_.account_id);
    EXPECT_EQ(balance.column("broker_account").texts()[r], options_.account_name);
    EXPECT_EQ(balance.column("strategy_account").texts()[r], "demo");
    EXPECT_TRUE(balance.column("cash_by_currency").missing(r));
    EXPECT_TRUE(balance.column("max_power_short").missing(r));
  }
  EXPECT_EQ(balance.column("strategy_status").texts()[0], "Running");
  EXPECT_EQ(balance.column("strategy_status").texts()[balance.rows() - 1], "Stopped");
  const Table positions = rows(db, "position");
  EXPECT_GT(positions.rows(), 0u);
  for (std::size_t r = 0; r < positions.rows(); ++r) {
    EXPECT_EQ(positions.column("quantity").integers()[r] > 0, true);
  }
}

TEST_F(DemoSession, ReportAgreesWithARecomputationFromTheStore) {
  const SessionResult result = run();
  const auto full = session_report(result);
  const auto& report = full.performance;
  DB db;
  const Table balance = rows(db, "balance");
  const Table deals = rows(db, "trading_deal");
  // The account value of each snapshot: its net liquidation value less the
  // fees of the deals recorded before it.
  std::vector<double> values;
  for (std::size_t b = 0; b < balance.rows(); ++b) {
    double quantity = 0;
    for (std::size_t d = 0; d < deals.rows(); ++d) {
      if (deals.column("balance_id").integers()[d] < balance.column("id").integers()[b]) {
        quantity += deals.column("filled_quantity").number_at(d);
      }
    }
    values.push_back(balance.column("net_cash_power").number_at(b) - 1.92 * quantity);
  }
  ASSERT_EQ(values.size(), report.input.values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_NEAR(values[i], report.input.values[i], 1e-6) << i;
  }
  double quantity = 0;
  for (std::size_t d = 0; d < deals.rows(); ++d)
    quantity += deals.column("filled_quantity").number_at(d);
  EXPECT_NEAR(result.fees, 1.92 * quantity, 1e-6);
  EXPECT_EQ(rows(db, "trading_order").rows(), result.orders);

  std::vector<double> returns;
  for (std::size_t i = 1; i < values.size(); ++i) returns.push_back(values[i] / values[i - 1] - 1);
  EXPECT_NEAR(report.sharpe, plugins::analysis::sharpe_ratio(returns, report.input.days), 1e-9);
  EXPECT_NEAR(report.total_return, values.back() / values.front() - 1, 1e-12);
  // The session ends flat, so its round trips make up the realized P&L.
  double traded = 0;
  for (const auto& trip : full.trading.value().trips) traded += trip.pnl;
  EXPECT_NEAR(traded, result.snapshots.back().balance.realized_pnl, 1e-6);
}

// The second run commits every row as it comes instead of a minute's rows at
// once: the store ends up holding the same rows.
TEST_F(DemoSession, TheSameHistoryGivesTheSameSessionGroupedOrNot) {
  const SessionResult first = run("db1");
  options_.group_writes = false;
  const SessionResult second = run("db2");
  for (const auto* table : {"balance", "position", "trading_order", "trading_deal"}) {
    framework::zantrix_config().set_DB({{"sqlite3", (root_ / "db1").string()}});
    DB grouped;
    framework::zantrix_config().set_DB({{"sqlite3", (root_ / "db2").string()}});
    DB ungrouped;
    EXPECT_EQ(rows(grouped, table), rows(ungrouped, table)) << table;
  }
  ASSERT_EQ(first.market_fills.size(), second.market_fills.size());
  for (std::size_t i = 0; i < first.market_fills.size(); ++i) {
    EXPECT_EQ(first.market_fills[i].orderGuid, second.market_fills[i].orderGuid);
    EXPECT_EQ(first.market_fills[i].price, second.market_fills[i].price);
    EXPECT_EQ(first.market_fills[i].timestamp, second.market_fills[i].timestamp);
  }
  ASSERT_EQ(first.snapshots.size(), second.snapshots.size());
  for (std::size_t i = 0; i < first.snapshots.size(); ++i) {
    EXPECT_EQ(first.snapshots[i].value, second.snapshots[i].value);
  }
}

// The session writes the same rows to a PostgreSQL server as to a SQLite file.
TEST_F(DemoSession, TheServerGetsTheSameRowsAsTheFile) {
  const zantrix_test::ServerDatabase server;
  if (server.uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  run("db");
  framework::zantrix_config().set_DB({{"postgresql", server.uri()}});
  const SessionResult on_server = run_session(load_tape(demo_instruments()), options_);
  ASSERT_FALSE(on_server.interrupted);
  for (const auto* table : {"balance", "position", "trading_order", "trading_deal"}) {
    framework::zantrix_config().set_DB({{"sqlite3", (root_ / "db").string()}});
    DB file;
    framework::zantrix_config().set_DB({{"postgresql", server.uri()}});
    DB served;
    const Table from_file = rows(file, table);
    EXPECT_GT(from_file.rows(), 0u) << table;
    EXPECT_EQ(from_file, rows(served, table)) << table;
  }
}

TEST_F(DemoSession, StoppingPartWayKeepsEveryFillAndLeavesPositionsOpen) {
  std::atomic<bool> stop{false};
  options_.stop = &stop;
  options_.progress = [&](const SessionProgress& p) {
    if (p.fills >= 3) stop = true;
  };
  const SessionResult result = run();
  ASSERT_TRUE(result.interrupted);
  EXPECT_LT(result.minutes, 2 * 375u);
  DB db;
  const Table deals = rows(db, "trading_deal");
  ASSERT_EQ(deals.rows(), result.market_fills.size());
  for (std::size_t r = 0; r < deals.rows(); ++r) {
    EXPECT_EQ(deals.column("broker_deal_id").texts()[r], result.market_fills[r].fillId);
  }
  const Table balance = rows(db, "balance");
  EXPECT_EQ(balance.column("strategy_status").texts()[balance.rows() - 1], "Interrupted");
  // The last snapshot's positions are what the strategy still holds.
  const Table positions =
      db.select_records("position", std::nullopt,
                        {{"balance_id", balance.column("id").integers()[balance.rows() - 1]}});
  double held = 0;
  for (const double p : result.positions) held += std::abs(p);
  double recorded = 0;
  for (std::size_t r = 0; r < positions.rows(); ++r) {
    recorded += positions.column("quantity").number_at(r);
  }
  EXPECT_EQ(recorded, held);
}

}  // namespace
}  // namespace zantrix::app::demo::test
