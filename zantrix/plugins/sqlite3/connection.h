// Connection: the record store's seam between its one class, DB, and the
// database engine behind it. Two back ends implement it: SQLite (a file) and
// PostgreSQL (a server, over libpq).
//
// A connection runs the statements DB builds (statement.h) and hands back a
// selection's rows as a Table whose columns follow the same kinds on both
// back ends: integers, numbers (the declared floating-point types), texts
// (everything else, a time stamp as "%Y-%m-%d %H:%M:%S"), NULL as a missing
// cell. A failure is a DatabaseError carrying the statement's text. Outside
// a transaction every statement takes effect before `run` returns. A
// connection is used by one thread at a time: DB's lock sees to it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "zantrix/framework/table.h"
#include "zantrix/plugins/sqlite3/column_values.h"
#include "zantrix/plugins/sqlite3/statement.h"

namespace zantrix::plugins::sqlite3::detail {

// What a statement is to the connection running it.
struct Run {
  // The statement selects rows, which the caller wants.
  bool rows = false;
  // It selects every row of a table: a back end may count them first.
  bool whole_table = false;
  // Running it twice changes nothing: a back end may run it again after its
  // connection was lost.
  bool idempotent = false;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs one statement; with `how.rows`, returns its rows.
  virtual std::optional<framework::Table> run(const Statement& statement, Run how) = 0;

  // Transactions: `begin` opens the outermost one; `control` runs one of
  // COMMIT, ROLLBACK, SAVEPOINT <name>, RELEASE <name>, ROLLBACK TO <name>.
  virtual void begin() = 0;
  virtual void control(const std::string& sql) = 0;
  virtual bool in_transaction() = 0;
  // Commits a transaction that a caller's own statement ("BEGIN") left open.
  virtual void commit_open() = 0;

  // Held while the schema's tables are created, so that engines starting at
  // once do not create a table twice.
  virtual void lock_schema() {}
  virtual void unlock_schema() {}

  // The id the latest successful insert of this connection gave its row.
  virtual std::int64_t last_insert_id() = 0;

  // The declared columns of `table` (none when there is no such table).
  virtual DeclaredColumns declared_columns(const std::string& table) = 0;
};

// Opens (or creates) the SQLite file, in WAL mode with full syncs.
std::unique_ptr<Connection> open_sqlite(const std::string& file);
// Connects to the PostgreSQL server of a libpq connection URI.
std::unique_ptr<Connection> open_postgres(const std::string& uri);

}  // namespace zantrix::plugins::sqlite3::detail
