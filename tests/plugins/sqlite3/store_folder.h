// A fresh folder for each test's zantrix.db, configured as the store's
// directory, and a side door into the file through SQLite itself, so tests
// check what was stored rather than what the store reports.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "zantrix/framework/config.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix_test {

namespace fs = std::filesystem;
namespace zdb = zantrix::plugins::sqlite3;
namespace zf = zantrix::framework;

using Cell = std::optional<std::string>;  // std::nullopt for NULL
using Rows = std::vector<std::vector<Cell>>;

// The message of the E that `fn` throws, or "no error".
template <class E>
std::string error_of(auto&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

class StoreFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zantrix_db_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    zf::zantrix_config().set_DB({{"sqlite3", dir_.string()}});
  }

  void TearDown() override { fs::remove_all(dir_); }

  fs::path file() const { return dir_ / "zantrix.db"; }

  // Runs `sql` on a connection of its own and returns every row as text.
  Rows raw(const std::string& sql) const {
    sqlite3* connection = nullptr;
    EXPECT_EQ(sqlite3_open(file().c_str(), &connection), SQLITE_OK);
    sqlite3_busy_timeout(connection, 5000);
    sqlite3_stmt* statement = nullptr;
    Rows rows;
    if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(connection) << " in " << sql;
    } else {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        auto& row = rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
          row.push_back(text ? Cell(std::string(text, sqlite3_column_bytes(statement, i)))
                             : std::nullopt);
        }
      }
    }
    sqlite3_finalize(statement);
    sqlite3_close(connection);
    return rows;
  }

  // The one value of a one-row, one-column query.
  Cell raw_value(const std::string& sql) const {
    const Rows rows = raw(sql);
    if (rows.size() != 1 || rows[0].size() != 1) {
      ADD_FAILURE() << sql << " gave " << rows.size() << " rows";
      return std::nullopt;
    }
    return rows[0][0];
  }

  std::int64_t count(const std::string& table) const {
    return std::stoll(raw_value("SELECT count(*) FROM " + table).value_or("-1"));
  }

  // The columns a balance row must have, with `extra` replacing or adding some.
  static zdb::NamedValues balance_row(std::int64_t account_id, zdb::NamedValues extra = {}) {
    zdb::NamedValues row{
        {"broker_name", "CQG"},
        {"broker_environment", "SIMULATE"},
        {"broker_account_id", account_id},
        {"broker_account", "ACC1"},
        {"strategy_account_id", 7},
        {"strategy_account", "alpha"},
        {"strategy_version", "1.0"},
        {"cash", 100000.0},
        {"available_cash", 99000.5},
        {"update_time", zf::make_datetime(zf::parse_date("2024-03-15"), std::chrono::hours(9),
                                          std::chrono::minutes(30))},
    };
    for (auto& [name, value] : extra) {
      const auto same = std::find_if(row.begin(), row.end(),
                                     [&](const auto& column) { return column.first == name; });
      if (same != row.end()) {
        same->second = std::move(value);
      } else {
        row.emplace_back(std::move(name), std::move(value));
      }
    }
    return row;
  }

  fs::path dir_;
};

}  // namespace zantrix_test
