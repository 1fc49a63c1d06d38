// The four record tables: their exact statements, their creation on first
// use only, and the rules their declarations enforce.
#include <gtest/gtest.h>

#include <thread>

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

// The server's tables have the file's names, columns, order and
// nullability, with each type translated and every declared length kept.
TEST_F(Schema, ServerTablesMirrorTheFilesOnes) {
  const ServerDatabase server;
  if (server.uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  { DB db; }
  zf::zantrix_config().set_DB({{"postgresql", server.uri()}});
  { DB db; }
  for (const auto& [table, statement] : kTables) {
    Rows expected;
    for (const auto& column : raw(std::string("PRAGMA table_info(") + table + ")")) {
      std::string type = column[2].value_or("");
      std::string length = "";
      if (type == "INTEGER") type = "bigint";
      if (type == "DOUBLE") type = "double precision";
      if (type == "DATETIME") type = "timestamp without time zone";
      if (type.starts_with("VARCHAR(")) {
        length = type.substr(8, type.size() - 9);
        type = "character varying";
      }
      const bool nullable = column[3] == "0" && column[5] == "0";
      expected.push_back({column[1], type, length, nullable ? "YES" : "NO"});
    }
    const Rows found = pg_rows(
        server.uri(),
        std::string("SELECT column_name, data_type, coalesce(character_maximum_length::text, ''), "
                    "is_nullable FROM information_schema.columns WHERE table_name = '") +
            table + "' ORDER BY ordinal_position");
    EXPECT_EQ(found, expected) << table;
  }
  EXPECT_EQ(pg_rows(server.uri(),
                    "SELECT count(*) FROM information_schema.columns WHERE is_identity = 'YES'"),
            (Rows{{"4"}}));
}

using SchemaEither = EitherStore;
ZANTRIX_ON_EITHER_STORE(SchemaEither);

// Engines that start at once each find or make the four tables, and none
// fails for another's creation.
TEST_P(SchemaEither, EnginesStartingAtOnceMakeEachTableOnce) {
  constexpr int kEngines = 8;
  std::vector<std::string> errors(kEngines);
  std::vector<std::thread> engines;
  for (int e = 0; e < kEngines; ++e) {
    engines.emplace_back([&, e] {
      try {
        DB db;
        db.insert_records("balance", balance_row(e));
      } catch (const std::exception& error) {
        errors[e] = error.what();
      }
    });
  }
  for (auto& engine : engines) engine.join();
  for (int e = 0; e < kEngines; ++e) EXPECT_EQ(errors[e], "") << "engine " << e;
  EXPECT_EQ(count("balance"), kEngines);
}

TEST_P(SchemaEither, IdIsNeverReused) {
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

TEST_P(SchemaEither, RequiredColumnsAreEnforcedAndOptionalOnesStayNull) {
  DB db;
  zdb::NamedValues row = balance_row(1);
  std::erase_if(row, [](const auto& column) { return column.first == "update_time"; });
  try {
    db.insert_records("balance", row);
    FAIL() << "inserted a balance without update_time";
  } catch (const zdb::DatabaseError& e) {
    EXPECT_STREQ(e.what(), on_sqlite() ? "NOT NULL constraint failed: balance.update_time"
                                       : "null value in column \"update_time\" of relation "
                                         "\"balance\" violates not-null constraint");
    EXPECT_EQ(e.code() & 0xff, SQLITE_CONSTRAINT);
  }
  EXPECT_EQ(count("balance"), 0);

  db.insert_records("balance", balance_row(1));
  EXPECT_EQ(raw_value("SELECT count(*) FROM balance WHERE remark IS NULL"), "1");
}

}  // namespace
