// The four record tables: their exact statements, their creation on first
// use only, and the rules their declarations enforce.
#include <gtest/gtest.h>

#include "tests/plugins/sqlite3/store_folder.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace {

using namespace zantrix_test;
using zdb::DB;

constexpr const char* kTables[][2] = {
    {"balance",
     "CREATE TABLE IF NOT EXISTS balance (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
     "broker_name VARCHAR(20) NOT NULL, broker_environment VARCHAR(20) NOT NULL, "
     "broker_account_id INTEGER NOT NULL, broker_account VARCHAR(20) NOT NULL, "
     "strategy_account_id INTEGER NOT NULL, strategy_account VARCHAR(20) NOT NULL, "
     "strategy_version VARCHAR(20) NOT NULL, strategy_version_desc VARCHAR(300), "
     "strategy_status VARCHAR(15), cash DOUBLE NOT NULL, cash_by_currency VARCHAR(50), "
     "available_cash DOUBLE NOT NULL, max_power_short DOUBLE, net_cash_power DOUBLE, "
     "maintenance_margin DOUBLE, unrealized_pnl DOUBLE, realized_pnl DOUBLE, "
     "update_time DATETIME NOT NULL, remark VARCHAR(300))"},
    {"position",
     "CREATE TABLE IF NOT EXISTS position (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
     "balance_id INTEGER NOT NULL, security_name VARCHAR(20) NOT NULL, "
     "security_code VARCHAR(20) NOT NULL, direction VARCHAR(20) NOT NULL, "
     "holding_price DOUBLE NOT NULL, quantity INTEGER NOT NULL, "
     "update_time DATETIME NOT NULL, remark VARCHAR(300))"},
    {"trading_order",
     "CREATE TABLE IF NOT EXISTS trading_order (id INTEGER NOT NULL PRIMARY KEY "
     "AUTOINCREMENT, broker_order_id VARCHAR(50) NOT NULL, balance_id INTEGER NOT NULL, "
     "security_name VARCHAR(20) NOT NULL, security_code VARCHAR(20) NOT NULL, "
     "price DOUBLE NOT NULL, quantity INTEGER NOT NULL, direction VARCHAR(20) NOT NULL, "
     "offset VARCHAR(20) NOT NULL, order_type VARCHAR(20) NOT NULL, "
     "create_time DATETIME NOT NULL, update_time DATETIME NOT NULL, "
     "filled_avg_price DOUBLE NOT NULL, filled_quantity INTEGER NOT NULL, "
     "status VARCHAR(20) NOT NULL, remark VARCHAR(300))"},
    {"trading_deal",
     "CREATE TABLE IF NOT EXISTS trading_deal (id INTEGER NOT NULL PRIMARY KEY "
     "AUTOINCREMENT, broker_deal_id VARCHAR(50) NOT NULL, broker_order_id VARCHAR(50) NOT "
     "NULL, order_id INTEGER NOT NULL, balance_id INTEGER NOT NULL, "
     "security_name VARCHAR(20) NOT NULL, security_code VARCHAR(20) NOT NULL, "
     "direction VARCHAR(20) NOT NULL, offset VARCHAR(20) NOT NULL, "
     "order_type VARCHAR(20) NOT NULL, update_time DATETIME NOT NULL, "
     "filled_avg_price DOUBLE NOT NULL, filled_quantity INTEGER NOT NULL, "
     "remark VARCHAR(300))"},
};

// SQLite keeps a table's CREATE statement without its IF NOT EXISTS.
std::string as_kept(std::string statement) {
  statement.erase(statement.find("IF NOT EXISTS "), 14);
  return statement;
}

using Schema = StoreFolder;

TEST_F(Schema, FreshFileGetsTheFourTablesInOrderWordForWord) {
  DB db;
  const Rows tables = raw(
      "SELECT name, sql FROM sqlite_master WHERE type='table' AND name!='sqlite_sequence' "
      "ORDER BY rowid");
  ASSERT_EQ(tables.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(tables[i][0], kTables[i][0]);
    EXPECT_EQ(tables[i][1], as_kept(kTables[i][1]));
  }
  EXPECT_EQ(db.last_statement(), kTables[3][1]);
}

TEST_F(Schema, FileIsInWalMode) {
  DB db;
  EXPECT_EQ(raw_value("PRAGMA journal_mode"), "wal");
  db.insert_records("balance", balance_row(1));
  EXPECT_TRUE(fs::exists(dir_ / "zantrix.db-wal"));
}

TEST_F(Schema, SecondInstanceChangesNothingAndSeesTheFirstsRows) {
  DB first;
  first.insert_records("balance", balance_row(1));
  const Rows before = raw("SELECT * FROM sqlite_master");
  DB second;
  EXPECT_EQ(raw("SELECT * FROM sqlite_master"), before);
  EXPECT_EQ(second.select_records("balance").rows(), 1u);
  second.insert_records("balance", balance_row(2));
  EXPECT_EQ(first.select_records("balance").rows(), 2u);
}

TEST_F(Schema, ExistingTableOfAnotherShapeStays) {
  {
    DB db;
    db.delete_table("position");
    db.execute("CREATE TABLE position (name TEXT)");
    db.execute("INSERT INTO position VALUES ('kept')");
  }
  DB db;
  EXPECT_EQ(raw_value("SELECT sql FROM sqlite_master WHERE name='position'"),
            "CREATE TABLE position (name TEXT)");
  EXPECT_EQ(raw_value("SELECT name FROM position"), "kept");
}

TEST_F(Schema, IdIsNeverReused) {
  DB db;
  const auto deal = [&](std::int64_t order_id) {
    db.insert_records("trading_deal", {{"broker_deal_id", "d"},
                                       {"broker_order_id", "o"},
                                       {"order_id", order_id},
                                       {"balance_id", 1},
                                       {"security_name", "ES"},
                                       {"security_code", "ESM4"},
                                       {"direction", "LONG"},
                                       {"offset", "OPEN"},
                                       {"order_type", "MARKET"},
                                       {"update_time", zf::local_now()},
                                       {"filled_avg_price", 5000.25},
                                       {"filled_quantity", 1}});
  };
  for (int i = 1; i <= 3; ++i) deal(i);
  db.delete_records("trading_deal", {{"id", 3}});
  deal(4);
  const zf::Table ids = db.select_records("trading_deal", std::vector<std::string>{"id"});
  EXPECT_EQ(std::vector<std::int64_t>(ids.column("id").integers().begin(),
                                      ids.column("id").integers().end()),
            (std::vector<std::int64_t>{1, 2, 4}));
}

TEST_F(Schema, RequiredColumnsAreEnforcedAndOptionalOnesStayNull) {
  DB db;
  zdb::NamedValues row = balance_row(1);
  std::erase_if(row, [](const auto& column) { return column.first == "update_time"; });
  try {
    db.insert_records("balance", row);
    FAIL() << "inserted a balance without update_time";
  } catch (const zdb::DatabaseError& e) {
    EXPECT_STREQ(e.what(), "NOT NULL constraint failed: balance.update_time");
    EXPECT_EQ(e.code(), SQLITE_CONSTRAINT_NOTNULL);
  }
  EXPECT_EQ(count("balance"), 0);

  db.insert_records("balance", balance_row(1));
  EXPECT_EQ(raw_value("SELECT typeof(remark) FROM balance"), "null");
}

}  // namespace
