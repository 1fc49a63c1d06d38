// The record store's insert rate and its selection into a Table.
//
//   bench_db DIR           builds DIR/zantrix.db and times both
//   bench_db --select DIR  times the selection again on that file
//   bench_db URI, bench_db --select URI
//                          the same on the PostgreSQL server of the libpq
//                          URI (postgresql://...)
//
// Prints
//   insert <rows> <seconds> <rows per second>
//     single-row inserts, each committed and synced as the store promises;
//   insert_scope <rows> <seconds> <rows per second>
//     the same single-row inserts of 100,000 rows inside one transaction()
//     scope, committed once;
//   savepoints <rows> <seconds without> <seconds with> <ratio>
//     on the server only: the scope's inserts as the store sends them, in one
//     transaction, without and with the savepoint the store makes around
//     each statement of a scope (the one before released and a new one made
//     in one pipeline with the statement), best of 3 each, taking turns;
//   select <rows> <columns> <best seconds of 5> <touch seconds>
//     select_records("balance") of every row of a 100,000-row balance table,
//     and the time to touch as many bytes of fresh memory as its result holds
//     ("select_warm" for the process that built the table).
// The file (or the server's table) is left, closed, for a peer to read.
#include <libpq-fe.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "zantrix/framework/config.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace {

namespace zdb = zantrix::plugins::sqlite3;
namespace zf = zantrix::framework;
using Clock = std::chrono::steady_clock;

constexpr int kSelectRows = 100000;
constexpr int kRepeats = 5;
constexpr auto kInsertBudget = std::chrono::seconds(3);

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

zdb::NamedValues balance(std::int64_t i, zf::DateTime at) {
  return {{"broker_name", "CQG"},
          {"broker_environment", "SIMULATE"},
          {"broker_account_id", 1000 + i % 7},
          {"broker_account", "ACC-" + std::to_string(i % 7)},
          {"strategy_account_id", i % 3},
          {"strategy_account", "alpha"},
          {"strategy_version", "1.0"},
          {"strategy_status", "Running"},
          {"cash", 100000.0 + static_cast<double>(i) * 0.25},
          {"available_cash", 90000.0 + static_cast<double>(i) * 0.5},
          {"unrealized_pnl", static_cast<double>(i % 1000) - 500.125},
          {"update_time", at + std::chrono::seconds(i)},
          {"remark", "snapshot " + std::to_string(i)}};
}

// The rows are made before the clock starts, as the Python peer makes its
// list of rows before it times executemany.
void bench_insert_scope(zdb::DB& db, zf::DateTime start_time) {
  db.delete_records("balance");
  std::vector<zdb::NamedValues> rows;
  rows.reserve(kSelectRows);
  for (std::int64_t i = 0; i < kSelectRows; ++i) rows.push_back(balance(i, start_time));
  const auto start = Clock::now();
  {
    auto scope = db.transaction();
    for (const auto& row : rows) db.insert_records("balance", row);
  }
  const double elapsed = seconds_since(start);
  std::printf("insert_scope %d %.4f %.1f\n", kSelectRows, elapsed, kSelectRows / elapsed);
}

void bench_insert(zdb::DB& db, zf::DateTime start_time) {
  std::int64_t rows = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < kInsertBudget)
    db.insert_records("balance", balance(rows++, start_time));
  const double elapsed = seconds_since(start);
  std::printf("insert %lld %.4f %.1f\n", static_cast<long long>(rows), elapsed,
              static_cast<double>(rows) / elapsed);
}

// The savepoints' cost: the same prepared insert of the same rows in one
// transaction, on a connection of its own, with and without a savepoint
// around each statement.
void bench_savepoints(const std::string& uri, zf::DateTime start_time) {
  constexpr int kRows = 20000;
  PGconn* connection = PQconnectdb(uri.c_str());
  const auto run = [&](const char* sql) { PQclear(PQexec(connection, sql)); };
  const char* insert =
      "INSERT INTO balance (broker_name, broker_environment, broker_account_id, broker_account, "
      "strategy_account_id, strategy_account, strategy_version, strategy_status, cash, "
      "available_cash, unrealized_pnl, update_time, remark) VALUES ($1, $2, $3, $4, $5, $6, $7, "
      "$8, $9, $10, $11, $12, $13)";
  PQclear(PQprepare(connection, "insert", insert, 0, nullptr));
  std::vector<std::vector<std::string>> rows;
  rows.reserve(kRows);
  for (std::int64_t i = 0; i < kRows; ++i) {
    std::vector<std::string> row;
    for (const auto& [name, value] : balance(i, start_time)) {
      row.push_back(std::visit(
          [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) return v;
            if constexpr (std::is_same_v<T, double>) return zf::format_number(v);
            if constexpr (std::is_same_v<T, std::int64_t>) return std::to_string(v);
            if constexpr (std::is_same_v<T, zf::DateTime>) return zf::format_datetime(v);
            return "";
          },
          value));
    }
    rows.push_back(std::move(row));
  }
  const auto once = [&](bool savepoints) {
    run("DELETE FROM balance");
    const auto start = Clock::now();
    run(savepoints ? "BEGIN; SAVEPOINT zantrix_statement" : "BEGIN");
    for (const auto& row : rows) {
      const char* values[13];
      for (std::size_t k = 0; k < 13; ++k) values[k] = row[k].c_str();
      if (!savepoints) {
        PQclear(PQexecPrepared(connection, "insert", 13, values, nullptr, nullptr, 0));
        continue;
      }
      PQenterPipelineMode(connection);
      PQsendQueryParams(connection, "RELEASE SAVEPOINT zantrix_statement", 0, nullptr, nullptr,
                        nullptr, nullptr, 0);
      PQsendQueryParams(connection, "SAVEPOINT zantrix_statement", 0, nullptr, nullptr, nullptr,
                        nullptr, 0);
      PQsendQueryPrepared(connection, "insert", 13, values, nullptr, nullptr, 0);
      PQpipelineSync(connection);
      for (int results = 0; results < 3;) {
        PGresult* result = PQgetResult(connection);
        if (result == nullptr) {
          ++results;
          continue;
        }
        PQclear(result);
      }
      PQclear(PQgetResult(connection));  // the pipeline's end
      PQexitPipelineMode(connection);
    }
    run("COMMIT");
    return seconds_since(start);
  };
  double without = 1e9;
  double with = 1e9;
  for (int r = 0; r < 3; ++r) {
    without = std::min(without, once(false));
    with = std::min(with, once(true));
  }
  PQfinish(connection);
  std::printf("savepoints %d %.4f %.4f %.2f\n", kRows, without, with, with / without);
}

// One statement, so one commit, for the whole table; every fourth remark and
// every third maintenance margin are NULL.
void fill(zdb::DB& db, bool on_server) {
  // The same rows on both engines; only the row numbers' source and the time
  // arithmetic are each engine's own.
  const std::string insert =
      "INSERT INTO balance (broker_name, broker_environment, broker_account_id, "
      "broker_account, strategy_account_id, strategy_account, strategy_version, "
      "strategy_version_desc, strategy_status, cash, cash_by_currency, available_cash, "
      "max_power_short, net_cash_power, maintenance_margin, unrealized_pnl, realized_pnl, "
      "update_time, remark) SELECT 'CQG', 'SIMULATE', 1000 + i % 7, 'ACC-' || (i % 7), i % 3, "
      "'alpha', '1.0', 'mean reversion on ES', 'Running', 100000.0 + i * 0.25, 'USD', "
      "90000.0 + i * 0.5, 50000.0 - i, 12345.5 + i, CASE WHEN i % 3 = 0 THEN NULL ELSE "
      "2500.0 + i END, (i % 1000) - 500.125, i * 0.01, ";
  const std::string remark = ", CASE WHEN i % 4 = 0 THEN NULL ELSE 'snapshot ' || i END FROM ";
  db.delete_records("balance");
  if (on_server) {
    db.execute(insert + "timestamp '2024-01-02 09:30:00' + i * interval '1 second'" + remark +
               "generate_series(0, " + std::to_string(kSelectRows - 1) + ") AS n(i)");
  } else {
    db.execute("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
               std::to_string(kSelectRows) + ") " + insert +
               "datetime('2024-01-02 09:30:00', '+' || i || ' seconds')" + remark + "n");
  }
}

// The bytes a table's cells take (texts by their characters and offsets).
std::size_t table_bytes(const zf::Table& table) {
  std::size_t bytes = 0;
  for (const auto& column : table.column_list()) {
    bytes += column.kind() == zf::ColumnKind::Text
                 ? column.texts().bytes() + table.rows() * sizeof(std::size_t)
                 : table.rows() * 8;
  }
  return bytes;
}

// Seconds to touch `bytes` of memory fresh from the system.
double touch_seconds(std::size_t bytes) {
  void* fresh = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fresh == MAP_FAILED) return 0;
  const auto start = Clock::now();
  std::memset(fresh, 1, bytes);
  const double elapsed = seconds_since(start);
  munmap(fresh, bytes);
  return elapsed;
}

// `label` names the process the selection runs in: "select" a fresh one, as
// the peer's, "select_warm" the one that filled the table, whose heap holds
// memory touched before.
void bench_select(zdb::DB& db, const char* label) {
  double best = 1e9;
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::size_t bytes = 0;
  for (int r = 0; r < kRepeats; ++r) {
    const auto start = Clock::now();
    const zf::Table table = db.select_records("balance");
    best = std::min(best, seconds_since(start));
    rows = table.rows();
    columns = table.columns();
    bytes = table_bytes(table);
  }
  std::printf("%s %zu %zu %.4f %.4f\n", label, rows, columns, best, touch_seconds(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  const bool select_only = argc == 3 && std::string(argv[1]) == "--select";
  if (argc != 2 && !select_only) {
    std::fprintf(stderr, "usage: %s [--select] DIR\n", argv[0]);
    return 2;
  }
  const std::string where = argv[argc - 1];
  const bool on_server = where.starts_with("postgresql://");
  zf::zantrix_config().set_DB({{on_server ? "postgresql" : "sqlite3", where}});
  if (!select_only) {
    zdb::DB db;
    bench_insert(db, zf::parse_datetime("2024-01-02 09:30:00"));
    bench_insert_scope(db, zf::parse_datetime("2024-01-02 09:30:00"));
    if (on_server) bench_savepoints(where, zf::parse_datetime("2024-01-02 09:30:00"));
    fill(db, on_server);
  }
  // Selected through a store opened afresh, as the peer finds the file: the
  // last connection to close has folded the write-ahead log into it.
  zdb::DB db;
  bench_select(db, select_only ? "select" : "select_warm");
  return 0;
}
