// DB: the record store of the framework's balances, positions, orders and
// deals, on SQLite (a file) or on PostgreSQL (a server), as the configuration
// chooses.
//
// Back ends. `DB: {"sqlite3": DIR}` keeps the store in the file
// `DIR/zantrix.db` (created when missing); `DB: {"postgresql": URI}` keeps it
// on the server of the libpq connection URI
// ("postgresql://user@host:port/dbname"), whose password comes from libpq's
// own means (PGPASSWORD, ~/.pgpass), never from the configuration: a URI
// holding one is refused, and no message shows a secret of the URI. Its
// query parameters `connect_timeout` and `statement_timeout` (seconds;
// defaults 10 and 30) bound making a connection and every statement
// (postgres_uri.h). Both keys present is a ValueError naming both. The two
// back ends take the same calls, statement texts, messages of this store and
// column kinds, and store the same rows: every value is settled by one rule
// before either sees it (column_values.h: texts with NUL or not UTF-8,
// fractions into integer columns, date-times outside the years 1 to 9999 and
// texts of another kind than their column's are refused, NaN is NULL).
// Where a caller can tell them apart: the engine's own error messages differ
// ("no such table: x" against "relation "x" does not exist"); PostgreSQL
// enforces the declared VARCHAR lengths (a text too long is a DatabaseError
// naming its column, where SQLite stores it whole); it uses up an id on an
// insert that fails or is rolled back; an integer sum beyond 64 bits is
// SQLite's "integer overflow" and the server's number;
// DatabaseError::code is, on PostgreSQL, the SQLite result code of the same
// kind of failure (SQLITE_CONSTRAINT, SQLITE_TOOBIG for a value that does not
// fit, SQLITE_IOERR for a lost connection, SQLITE_ERROR otherwise); a
// selection of no columns is an error on SQLite and rows without columns on
// PostgreSQL; a lost server connection is made again at the next call (with
// the caller's SET statements run again on it), a selection under way is
// retried once, and any other statement under way fails with an error saying
// its outcome is unknown (never retried: it could double a row).
//
// A DB owns one connection and, when built, creates the four record tables
// `balance`, `position`, `trading_order` and `trading_deal` unless they
// exist (on PostgreSQL under a server-wide lock, so that engines starting
// at once create each table once). Its operations build statements from a
// table name, column names and plain values. Table and column names go into the statement verbatim, so they must
// come from the program, never from outside input. Outside a transaction
// scope every statement is committed before its call returns.
//
// Transaction scopes. `transaction()` opens a scope: the statements this
// thread makes through the store until the scope ends go into one
// transaction of the engine, committed once when the scope ends normally (or at its
// `commit()`) and rolled back when it ends by an exception (or at its
// `rollback()`); nothing of a rolled-back scope is stored. A statement that
// fails inside a scope is undone alone, and the scope goes on (on
// PostgreSQL each statement of a scope runs under a savepoint of its own).
// A scope opened
// inside another scope of the same store joins it: its statements are kept
// or discarded with the outer scope's, and its own rollback undoes only what
// it made. A scope holds the store's lock (below) for its whole life, so the
// statements of other threads wait until it ends; it must therefore not span a
// wait on another thread that may use a store, such as a wait on the CQG
// gateway. Scopes end in the reverse order they were opened, on the thread
// that opened them, before their store is closed or destroyed; closing the
// store inside its own scope discards the scope's statements, and the scope
// then reports the closed store. A scope on a closed store is the closed-store
// DatabaseError.
//
// Values are bound as parameters: the statement the engine runs has a mark
// where each value's literal stands, so a text is stored exactly as given and
// is never read as SQL or as a column name. The statement text a DB reports
// (`last_statement`, `DatabaseError::statement`) is SQLite's form, with each
// value as its literal: integers in decimal, floating-point numbers in the
// shortest text that reads back to the same value and always shows a point
// or an exponent (100000.0, 0.1, 1e-05), booleans as True and False, texts
// and date-times between double quotes with any double quote inside doubled.
// A date-time is stored as "%Y-%m-%d %H:%M:%S", its fraction of a second
// dropped.
//
// Durability and sharing. The SQLite file is kept in WAL journal mode with
// synchronous=FULL: once a call returns, its statement survives a crash of
// the process or of the machine, and other processes (a monitor, a report)
// may read the file while this one writes; many engines on many machines
// share a PostgreSQL server instead, never a file on a network file system.
// WAL mode is recorded in the file and works through two companion files
// beside it (zantrix.db-wal, zantrix.db-shm), so the folder must be writable,
// also for a process that only reads. A connection that meets another
// connection's lock waits up to `kBusyTimeout` for it before the statement
// fails with "database is locked". On PostgreSQL a statement returns once the
// server has made it durable (its own synchronous_commit setting).
//
// Threads. A store's lock is `lock`, one process-wide mutex shared by every
// SQLite DB, or, on PostgreSQL, a mutex of its own (the server serialises
// the connections of all engines). Every call (the constructor, `execute`,
// `select_records`, `insert_records`, `update_records`, `delete_records`,
// `delete_table`, the `create_*_table` calls, `commit`, `last_insert_id`,
// `last_statement`, `close` and the destructor) takes it for the whole of its
// work (a selection also fetches all its rows under it), so one DB may be
// used from several threads, statements of different SQLite DBs never
// overlap, and a `close` comes before or after another thread's statement or
// COMMIT, never during one. No call may overlap the destruction of the same
// DB. The lock is not reentrant: a thread that holds it must not make the
// calls above, except through a scope of its own (above). `_parse_sql_value` and
// `_parse_sql_where_condition` touch no database.
//
// Speed. The statements of one shape (an insert into one table's columns,
// say) share one prepared statement, kept by the connection for the next
// call.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/table.h"

namespace zantrix::plugins::sqlite3 {

// Serialises every statement of every DB in the process.
extern std::mutex lock;

// How long a statement waits for another connection's lock on the file.
inline constexpr std::chrono::milliseconds kBusyTimeout{5000};

// A failure reported by the database engine: `what()` is the engine's own
// error text ("no such table: x", "NOT NULL constraint failed:
// balance.update_time", "file is not a database", ...). `code()` is SQLite's
// extended result code (on PostgreSQL see above), 0 for a misuse this store
// detects itself (a closed DB, a wrong number of parameters).
// `statement()` is the reported text of the statement that failed, empty when
// the failure was not a statement's (opening the file).
class DatabaseError : public std::runtime_error {
 public:
  DatabaseError(const std::string& message, int code, std::string statement);

  int code() const noexcept { return code_; }
  const std::string& statement() const noexcept { return *statement_; }

 private:
  int code_;
  std::shared_ptr<const std::string> statement_;  // shared: copies never throw
};

// A value a caller hands to the store. std::monostate is the absent value
// (None) and `Date` a calendar date without a time; statements reject both
// as literals, while `execute` binds them as NULL and "%Y-%m-%d".
using Value = std::variant<std::monostate, std::string, double, std::int64_t, bool,
                           framework::DateTime, framework::Date>;

// Named values in the caller's order: conditions (joined with AND) or column
// values. The order is the order of the clauses in the statement. A condition
// named "condition_str" carries raw SQL text that is put in the clause as is.
using NamedValues = std::vector<std::pair<std::string, Value>>;

// The directory of the store: the value under "sqlite3" in the `DB` map of
// zantrix_config(), or std::nullopt when that value is null. A ValueError
// ("`sqlite3` is activated, and its path must be specified in `DB` variable in
// zantrix_config.py") when the configuration or its `DB` map cannot be read,
// the key is missing or the value is neither text nor null.
std::optional<std::string> _db_path();

// The PostgreSQL connection URI under "postgresql" in the `DB` map, or
// std::nullopt when there is no such entry (the store is then SQLite's). A
// ValueError when the entry is not a text, or when "sqlite3" is there too.
std::optional<std::string> _db_uri();

namespace detail {
struct Statement;
struct Run;
class Connection;
enum class Declared;
using DeclaredColumns = std::unordered_map<std::string, Declared>;
}  // namespace detail

class DB {
 public:
  // Opens (or creates) the file, switches it to WAL, and runs the four
  // CREATE TABLE IF NOT EXISTS statements. The ValueError of `_db_path`, a
  // TypeError when the path is null, or a DatabaseError (a file that is not a
  // database, a folder that cannot be written); tables created before the
  // failure stay.
  DB();
  // Closes; never throws.
  ~DB();
  DB(const DB&) = delete;
  DB& operator=(const DB&) = delete;

  // Closes the connection. Later calls fail with a DatabaseError ("Cannot
  // operate on a closed database."); closing again does nothing.
  void close();

  // Commits an open transaction of the connection, if there is one. Every
  // statement of this store is already committed when its call returns, so
  // this matters only after a caller's own "BEGIN". Inside a scope of this
  // store it does nothing: the scope commits when it ends.
  void commit();

  // One scope of grouped statements (see Transaction scopes above). Its
  // destructor commits when the scope ends normally, and then throws the
  // DatabaseError of a COMMIT that fails (after rolling back); it never
  // throws while an exception is unwinding the scope.
  class Transaction {
   public:
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() noexcept(false);

    // Ends the scope now, keeping its statements; a DatabaseError when they
    // cannot be committed (they are then rolled back).
    void commit();
    // Ends the scope now, discarding its statements.
    void rollback();

   private:
    friend class DB;
    explicit Transaction(DB& db);
    void end(bool keep);

    DB& db_;
    // Held by the outermost scope of the thread.
    std::unique_lock<std::mutex> held_;
    int uncaught_;
    // How many scopes of this store enclose this one.
    std::size_t depth_ = 0;
    bool ended_ = false;
  };

  Transaction transaction();

  // Runs one statement and commits it. With `parameters`, they are bound to
  // the statement's `?` marks in order (absent as NULL, a bool as 1 or 0, a
  // date-time as "%Y-%m-%d %H:%M:%S" with its fraction when not zero, a date
  // as "%Y-%m-%d"); their number must match the marks. A text of more than one
  // statement is rejected. Rows a statement yields are not fetched.
  void execute(std::string_view sql, const std::optional<std::vector<Value>>& parameters = {});

  // The literal of `value` in a statement: a text between double quotes
  // (inner double quotes doubled), a number or boolean as described above, a
  // date-time between double quotes without its fraction of a second. A
  // ValueError "Data format is not support! type(<value>)=<type>" for an
  // absent value or a date.
  static std::string _parse_sql_value(const Value& value);

  // "WHERE " followed by each condition as name=literal (a condition_str as
  // its raw text) and a space, joined with "AND "; the empty text when there
  // are no conditions. A TypeError when a condition_str is not text.
  static std::string _parse_sql_where_condition(const NamedValues& conditions);

  // "DROP TABLE <table_name>".
  void delete_table(std::string_view table_name);

  // "SELECT <columns joined with ','> FROM <table_name> <where>", "*" when
  // `columns` is absent. All rows, in the order SQLite returns them, as a
  // table whose columns carry the result's column names in statement order.
  // A column is integer when its values are all integers, number when they
  // are integers and reals, and text otherwise (a text or a blob); NULL is a
  // missing cell. A column without any value takes its kind from its declared
  // type: integer for INT types, number for REAL, FLOAT and DOUBLE, text for
  // the rest. Conditions come third, after the columns or `{}` for all:
  // select_records("balance", {}, {{"remark", "x"}, {"id", 3}}).
  framework::Table select_records(std::string_view table_name,
                                  const std::optional<std::vector<std::string>>& columns = {},
                                  const NamedValues& conditions = {});

  // "UPDATE <table_name> SET <name>=<literal> ,<name>=<literal> <where>". An
  // AssertionError "At least one column needs to be updated!" for no columns;
  // a ValueError "the column <name> is named more than once".
  void update_records(std::string_view table_name, const NamedValues& columns,
                      const NamedValues& conditions = {});

  // "INSERT INTO <table_name> (<names>) VALUES (<literals>)". An
  // AssertionError "Must provide columns and values when inserting!" for no
  // values; a ValueError "the column <name> is named more than once".
  void insert_records(std::string_view table_name, const NamedValues& values);

  // "DELETE FROM <table_name> <where>"; every row when there are no
  // conditions.
  void delete_records(std::string_view table_name, const NamedValues& conditions = {});

  void create_balance_table();
  void create_position_table();
  void create_order_table();
  void create_deal_table();

  // The reported text of the latest statement this DB ran or tried to run.
  std::string last_statement() const;

  // The id the latest successful insert of this store gave its row (SQLite's
  // last_insert_rowid; on PostgreSQL the id the insert returned, or lastval
  // after a caller's own INSERT); a DatabaseError on PostgreSQL before any
  // insert.
  std::int64_t last_insert_id();

 private:
  std::optional<framework::Table> run(detail::Statement statement, detail::Run how);
  // The declared columns of `table`, asked of the engine once (`again`:
  // asked afresh).
  const detail::DeclaredColumns& declared(const std::string& table, bool again);

  std::unique_ptr<detail::Connection> conn_;
  std::mutex own_lock_;
  // `lock` for SQLite, own_lock_ for PostgreSQL.
  std::mutex* lock_ = &lock;
  // The latest statement run or tried; its text is made when asked for.
  std::unique_ptr<detail::Statement> last_;
  // How many scopes of this store are open; under the store's lock.
  std::size_t scope_depth_ = 0;
  // The declared columns of the tables met, by lower-case name; forgotten
  // when a statement of this store changes the schema.
  std::unordered_map<std::string, detail::DeclaredColumns> declared_;
};

}  // namespace zantrix::plugins::sqlite3
