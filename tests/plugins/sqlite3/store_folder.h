// A fresh store for each test, and a side door into it through the engine's
// own client, so tests check what was stored rather than what the store
// reports. On SQLite the store is zantrix.db in a fresh folder; on PostgreSQL
// it is a fresh database on the tests' private server (dropped at the end),
// and a test without that server skips.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/plugins/sqlite3/test_server_uri.h"
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

enum class Backend { SQLite, PostgreSQL };

inline std::string backend_name(const testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// `uri` naming database `name` instead of its own.
inline std::string with_database(const std::string& uri, const std::string& name) {
  return uri.substr(0, uri.rfind('/') + 1) + name;
}

struct PgClose {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct PgClear {
  void operator()(PGresult* result) const { PQclear(result); }
};

// Runs `sql` on a connection of its own to the server of `uri`; every row as text.
inline Rows pg_rows(const std::string& uri, const std::string& sql) {
  const std::unique_ptr<PGconn, PgClose> connection(PQconnectdb(uri.c_str()));
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    ADD_FAILURE() << PQerrorMessage(connection.get());
    return {};
  }
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  const std::unique_ptr<PGresult, PgClear> result(PQexec(connection.get(), sql.c_str()));
  const auto status = PQresultStatus(result.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    ADD_FAILURE() << PQresultErrorMessage(result.get()) << " in " << sql;
    return {};
  }
  Rows rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    auto& row = rows.emplace_back();
    for (int f = 0; f < PQnfields(result.get()); ++f) {
      row.push_back(
          PQgetisnull(result.get(), r, f)
              ? std::nullopt
              : Cell(std::string(PQgetvalue(result.get(), r, f), PQgetlength(result.get(), r, f))));
    }
  }
  return rows;
}

// A database of its own on the tests' server, made afresh and dropped at the
// end; `uri` is empty when there is no server.
class ServerDatabase {
 public:
  ServerDatabase() {
    const auto server = test_server_uri();
    if (!server) return;
    static std::atomic<int> made = 0;
    server_ = *server;
    name_ = "zantrix_test_" + std::to_string(getpid()) + "_" + std::to_string(made++);
    pg_rows(server_, "DROP DATABASE IF EXISTS " + name_);
    pg_rows(server_, "CREATE DATABASE " + name_);
    uri_ = with_database(server_, name_);
  }
  ~ServerDatabase() {
    if (!uri_.empty()) pg_rows(server_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  const std::string& uri() const { return uri_; }

 private:
  std::string server_;
  std::string name_;
  std::string uri_;
};

class StoreFolder : public testing::Test {
 protected:
  void SetUp() override { use(Backend::SQLite); }

  // A fresh store on `backend`, configured as the store to open; skips the
  // test when it needs the server and there is none.
  void use(Backend backend) {
    backend_ = backend;
    std::string pattern = (fs::temp_directory_path() / "zantrix_db_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    if (backend == Backend::SQLite) {
      zf::zantrix_config().set_DB({{"sqlite3", dir_.string()}});
      return;
    }
    database_ = std::make_unique<ServerDatabase>();
    if (database_->uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    zf::zantrix_config().set_DB({{"postgresql", database_->uri()}});
  }

  void TearDown() override {
    database_.reset();
    fs::remove_all(dir_);
  }

  bool on_sqlite() const { return backend_ == Backend::SQLite; }

  fs::path file() const { return dir_ / "zantrix.db"; }

  // Runs `sql` on a connection of its own and returns every row as text.
  Rows raw(const std::string& sql) const {
    if (!on_sqlite()) return pg_rows(database_->uri(), sql);
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
  Backend backend_ = Backend::SQLite;
  std::unique_ptr<ServerDatabase> database_;
};

// The tests that hold on either back end.
class EitherStore : public StoreFolder, public testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override { use(GetParam()); }
};

#define ZANTRIX_ON_EITHER_STORE(Fixture)                                                 \
  INSTANTIATE_TEST_SUITE_P(                                                              \
      Store, Fixture,                                                                    \
      testing::Values(zantrix_test::Backend::SQLite, zantrix_test::Backend::PostgreSQL), \
      zantrix_test::backend_name)

}  // namespace zantrix_test
