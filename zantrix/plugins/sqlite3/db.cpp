#include "zantrix/plugins/sqlite3/db.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <system_error>
#include <unordered_map>

#include "zantrix/framework/config.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/fresh_memory.h"
#include "zantrix/framework/text.h"

namespace zantrix::plugins::sqlite3 {

std::mutex lock;

namespace {

namespace zf = zantrix::framework;

constexpr const char* kPathMessage =
    "`sqlite3` is activated, and its path must be specified in `DB` variable in "
    "zantrix_config.py";
constexpr const char* kClosedMessage = "Cannot operate on a closed database.";

constexpr std::string_view kBalanceTable =
    "CREATE TABLE IF NOT EXISTS balance (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
    "broker_name VARCHAR(20) NOT NULL, broker_environment VARCHAR(20) NOT NULL, "
    "broker_account_id INTEGER NOT NULL, broker_account VARCHAR(20) NOT NULL, "
    "strategy_account_id INTEGER NOT NULL, strategy_account VARCHAR(20) NOT NULL, "
    "strategy_version VARCHAR(20) NOT NULL, strategy_version_desc VARCHAR(300), "
    "strategy_status VARCHAR(15), cash DOUBLE NOT NULL, cash_by_currency VARCHAR(50), "
    "available_cash DOUBLE NOT NULL, max_power_short DOUBLE, net_cash_power DOUBLE, "
    "maintenance_margin DOUBLE, unrealized_pnl DOUBLE, realized_pnl DOUBLE, "
    "update_time DATETIME NOT NULL, remark VARCHAR(300))";

constexpr std::string_view kPositionTable =
    "CREATE TABLE IF NOT EXISTS position (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
    "balance_id INTEGER NOT NULL, security_name VARCHAR(20) NOT NULL, "
    "security_code VARCHAR(20) NOT NULL, direction VARCHAR(20) NOT NULL, "
    "holding_price DOUBLE NOT NULL, quantity INTEGER NOT NULL, update_time DATETIME NOT NULL, "
    "remark VARCHAR(300))";

constexpr std::string_view kOrderTable =
    "CREATE TABLE IF NOT EXISTS trading_order (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
    "broker_order_id VARCHAR(50) NOT NULL, balance_id INTEGER NOT NULL, "
    "security_name VARCHAR(20) NOT NULL, security_code VARCHAR(20) NOT NULL, "
    "price DOUBLE NOT NULL, quantity INTEGER NOT NULL, direction VARCHAR(20) NOT NULL, "
    "offset VARCHAR(20) NOT NULL, order_type VARCHAR(20) NOT NULL, "
    "create_time DATETIME NOT NULL, update_time DATETIME NOT NULL, "
    "filled_avg_price DOUBLE NOT NULL, filled_quantity INTEGER NOT NULL, "
    "status VARCHAR(20) NOT NULL, remark VARCHAR(300))";

constexpr std::string_view kDealTable =
    "CREATE TABLE IF NOT EXISTS trading_deal (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
    "broker_deal_id VARCHAR(50) NOT NULL, broker_order_id VARCHAR(50) NOT NULL, "
    "order_id INTEGER NOT NULL, balance_id INTEGER NOT NULL, "
    "security_name VARCHAR(20) NOT NULL, security_code VARCHAR(20) NOT NULL, "
    "direction VARCHAR(20) NOT NULL, offset VARCHAR(20) NOT NULL, "
    "order_type VARCHAR(20) NOT NULL, update_time DATETIME NOT NULL, "
    "filled_avg_price DOUBLE NOT NULL, filled_quantity INTEGER NOT NULL, "
    "remark VARCHAR(300))";

struct Finalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, Finalizer>;

DatabaseError error_of(::sqlite3* connection, const std::string& statement) {
  return DatabaseError(sqlite3_errmsg(connection), sqlite3_extended_errcode(connection), statement);
}

std::string sql_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// The text a date-time is stored as: whole seconds only.
std::string stored_datetime(zf::DateTime value) {
  return zf::format_datetime(std::chrono::floor<std::chrono::seconds>(value));
}

// The kind of a result column that holds no value, from its declared type
// (SQLite's affinity rules, with numeric affinity read as text since DATETIME
// columns hold text here).
zf::ColumnKind kind_of_declared(const char* declared) {
  std::string type = declared != nullptr ? declared : "";
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (type.find("INT") != std::string::npos) return zf::ColumnKind::Integer;
  for (const char* real : {"REAL", "FLOA", "DOUB"}) {
    if (type.find(real) != std::string::npos) return zf::ColumnKind::Number;
  }
  return zf::ColumnKind::Text;
}

// SQLite's own text of a real value, as a text cell shows it.
std::string real_text(double value) {
  char buf[40];
  sqlite3_snprintf(sizeof buf, buf, "%!.15g", value);
  return buf;
}

// Appends a cell's text: its bytes, SQLite's own text for a number, the
// bytes of a blob.
void push_text(zf::TextCells& texts, sqlite3_value* cell) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(cell));
  const auto bytes = static_cast<std::size_t>(sqlite3_value_bytes(cell));
  texts.push_back(text != nullptr ? std::string_view(text, bytes) : std::string_view());
}

// How many cells of a text column are seen before its characters are
// reserved for all the rows expected, from their average length.
constexpr std::size_t kTextSample = 256;

template <class T>
void reserve_prefaulted(std::vector<T>& cells, std::size_t rows) {
  if (rows <= cells.capacity()) return;
  cells.reserve(rows);
  zf::prefault(cells.data() + cells.size(), (cells.capacity() - cells.size()) * sizeof(T));
}

// The characters of a text column grow with its cells; only the offsets are
// known in advance.
void reserve_prefaulted(zf::TextCells& cells, std::size_t rows) {
  if (rows > cells.capacity()) cells.reserve(rows);
}

// One result column, gathered cell by cell. Its kind follows the cells seen
// so far: integer until a real arrives, number until a text or blob arrives.
// NULL cells before the first value are only counted; the first value fills
// their places. Each promotion converts the cells gathered so far once, so a
// column of one storage class (the usual case) is never copied. `expected`
// rows are reserved when the first value arrives.
class ColumnBuilder {
 public:
  ColumnBuilder(std::string name, zf::ColumnKind empty_kind, std::size_t expected)
      : name_(std::move(name)), empty_kind_(empty_kind), expected_(expected) {}

  void add(sqlite3_value* cell) {
    switch (sqlite3_value_type(cell)) {
      case SQLITE_NULL:
        add_null();
        break;
      case SQLITE_INTEGER:
        add_integer(cell);
        break;
      case SQLITE_FLOAT:
        add_real(cell);
        break;
      default:
        add_text(cell);
        break;
    }
    ++rows_;
  }

  zf::Column finish() && {
    switch (kind_) {
      case Kind::None: {
        zf::Column column(std::move(name_), empty_kind_);
        column.reserve(rows_);
        for (std::size_t r = 0; r < rows_; ++r) column.push_missing();
        return column;
      }
      case Kind::Integer:
        return with_missing(zf::Column(std::move(name_), std::move(integers_)));
      case Kind::Number:
        return zf::Column(std::move(name_), std::move(numbers_));
      case Kind::Text:
        return with_missing(zf::Column(std::move(name_), std::move(texts_)));
    }
    return zf::Column(std::move(name_), empty_kind_);
  }

 private:
  enum class Kind { None, Integer, Number, Text };

  void add_null() {
    if (kind_ != Kind::None) add_null_at(rows_);
  }

  void add_null_at(std::size_t row) {
    nulls_.push_back(row);
    switch (kind_) {
      case Kind::Integer:
        integers_.push_back(0);
        break;
      case Kind::Number:
        numbers_.push_back(std::numeric_limits<double>::quiet_NaN());
        break;
      default:
        texts_.push_back({});
        break;
    }
  }

  void add_integer(sqlite3_value* cell) {
    if (kind_ == Kind::None) begin(Kind::Integer);
    const std::int64_t value = sqlite3_value_int64(cell);
    switch (kind_) {
      case Kind::Integer:
        integers_.push_back(value);
        break;
      case Kind::Number:
        integral_.emplace_back(rows_, value);
        numbers_.push_back(static_cast<double>(value));
        break;
      default:
        push_text(texts_, cell);
        break;
    }
  }

  void add_real(sqlite3_value* cell) {
    if (kind_ == Kind::None) begin(Kind::Number);
    if (kind_ == Kind::Integer) integers_to_numbers();
    if (kind_ == Kind::Number) {
      numbers_.push_back(sqlite3_value_double(cell));
    } else {
      push_text(texts_, cell);
    }
  }

  void add_text(sqlite3_value* cell) {
    if (kind_ == Kind::None) begin(Kind::Text);
    if (kind_ != Kind::Text) numbers_to_texts();
    push_text(texts_, cell);
    if (texts_.size() == kTextSample && expected_ > 2 * kTextSample) {
      texts_.reserve(expected_, texts_.bytes() / kTextSample * expected_ * 9 / 8 + 64);
    }
  }

  // The first value: the `rows_` cells before it were all NULL.
  void begin(Kind kind) {
    kind_ = kind;
    const std::size_t rows = std::max(expected_, rows_ + 1);
    switch (kind) {
      case Kind::Integer:
        reserve_prefaulted(integers_, rows);
        break;
      case Kind::Number:
        reserve_prefaulted(numbers_, rows);
        break;
      default:
        reserve_prefaulted(texts_, rows);
        break;
    }
    for (std::size_t r = 0; r < rows_; ++r) add_null_at(r);
  }

  void integers_to_numbers() {
    reserve_prefaulted(numbers_, std::max(expected_, integers_.capacity()));
    std::size_t next_null = 0;
    for (std::size_t r = 0; r < integers_.size(); ++r) {
      if (next_null < nulls_.size() && nulls_[next_null] == r) {
        numbers_.push_back(std::numeric_limits<double>::quiet_NaN());
        ++next_null;
      } else {
        integral_.emplace_back(r, integers_[r]);
        numbers_.push_back(static_cast<double>(integers_[r]));
      }
    }
    integers_ = {};
    kind_ = Kind::Number;
  }

  // Cells that held integers keep SQLite's integer text ("3", not "3.0").
  void numbers_to_texts() {
    const std::size_t count = kind_ == Kind::Integer ? integers_.size() : numbers_.size();
    reserve_prefaulted(texts_, std::max(expected_, count + 1));
    std::size_t next_null = 0;
    std::size_t next_integral = 0;
    for (std::size_t r = 0; r < count; ++r) {
      if (next_null < nulls_.size() && nulls_[next_null] == r) {
        texts_.push_back({});
        ++next_null;
      } else if (kind_ == Kind::Integer) {
        texts_.push_back(std::to_string(integers_[r]));
      } else if (next_integral < integral_.size() && integral_[next_integral].first == r) {
        texts_.push_back(std::to_string(integral_[next_integral++].second));
      } else {
        texts_.push_back(real_text(numbers_[r]));
      }
    }
    integers_ = {};
    numbers_ = {};
    integral_ = {};
    kind_ = Kind::Text;
  }

  zf::Column with_missing(zf::Column column) const {
    for (const std::size_t r : nulls_) column.set_missing(r);
    return column;
  }

  std::string name_;
  zf::ColumnKind empty_kind_;
  std::size_t expected_;
  Kind kind_ = Kind::None;
  std::size_t rows_ = 0;
  std::vector<std::int64_t> integers_;
  std::vector<double> numbers_;
  zf::TextCells texts_;
  std::vector<std::size_t> nulls_;  // rows of NULL cells, ascending
  // In a number column: the rows that held integers, with their exact values.
  std::vector<std::pair<std::size_t, std::int64_t>> integral_;
};

// The text of the statement being run, made only when an error reports it.
using TextOf = std::function<std::string()>;

void bind(::sqlite3* connection, sqlite3_stmt* statement, int index, const Value& value,
          const TextOf& statement_text) {
  const auto bind_text = [&](const std::string& s, void (*lifetime)(void*)) {
    return sqlite3_bind_text64(statement, index, s.data(), s.size(), lifetime, SQLITE_UTF8);
  };
  const int rc = std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return sqlite3_bind_null(statement, index);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return bind_text(v, SQLITE_STATIC);  // the Statement outlives the handle
        } else if constexpr (std::is_same_v<T, double>) {
          return sqlite3_bind_double(statement, index, v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return sqlite3_bind_int64(statement, index, v);
        } else if constexpr (std::is_same_v<T, bool>) {
          return sqlite3_bind_int(statement, index, v ? 1 : 0);
        } else if constexpr (std::is_same_v<T, zf::DateTime>) {
          return bind_text(zf::format_datetime(v), SQLITE_TRANSIENT);
        } else {
          return bind_text(zf::format_date(v), SQLITE_TRANSIENT);
        }
      },
      value);
  if (rc != SQLITE_OK) throw error_of(connection, statement_text());
}

void bind_all(::sqlite3* connection, sqlite3_stmt* statement, const std::vector<Value>& parameters,
              const TextOf& statement_text) {
  const int marks = sqlite3_bind_parameter_count(statement);
  if (static_cast<std::size_t>(marks) != parameters.size()) {
    throw DatabaseError("Incorrect number of bindings supplied. The current statement uses " +
                            std::to_string(marks) + ", and there are " +
                            std::to_string(parameters.size()) + " supplied.",
                        0, statement_text());
  }
  for (int i = 0; i < marks; ++i) {
    bind(connection, statement, i + 1, parameters[static_cast<std::size_t>(i)], statement_text);
  }
}

// The one statement of `sql`, or none for a text of blanks and comments; a
// text that holds a second statement is refused before anything runs.
StatementHandle prepare(::sqlite3* connection, const std::string& sql,
                        const TextOf& statement_text) {
  const char* tail = nullptr;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(connection, sql.data(), static_cast<int>(sql.size()), &raw, &tail) !=
      SQLITE_OK) {
    throw error_of(connection, statement_text());
  }
  StatementHandle handle(raw);
  const auto rest = static_cast<int>(sql.data() + sql.size() - tail);
  if (rest > 0) {
    sqlite3_stmt* next = nullptr;
    const int rc = sqlite3_prepare_v2(connection, tail, rest, &next, nullptr);
    const StatementHandle next_handle(next);
    if (rc != SQLITE_OK || next != nullptr) {
      throw DatabaseError("You can only execute one statement at a time.", 0, statement_text());
    }
  }
  return handle;
}

// How many rows a selection will yield, counted by SQLite without producing
// them, or 0 when it cannot be counted that way. A whole table is counted
// from its b-tree pages without decoding a row, far cheaper than filling
// columns that grow as rows arrive.
std::size_t count_rows(::sqlite3* connection, const std::string& sql,
                       const std::vector<Value>& parameters) {
  const std::string count = "SELECT count(*) FROM (" + sql + "\n)";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(connection, count.data(), static_cast<int>(count.size()), &raw, nullptr) !=
      SQLITE_OK) {
    return 0;
  }
  const StatementHandle handle(raw);
  try {
    bind_all(connection, raw, parameters, [&count] { return count; });
  } catch (const DatabaseError&) {
    return 0;
  }
  if (sqlite3_step(raw) != SQLITE_ROW) return 0;
  return static_cast<std::size_t>(std::max<sqlite3_int64>(sqlite3_column_int64(raw, 0), 0));
}

// Commits the connection's open transaction, if there is one; null is a
// closed store.
void commit_transaction(::sqlite3* connection) {
  if (connection == nullptr) throw DatabaseError(kClosedMessage, 0, "COMMIT");
  if (sqlite3_get_autocommit(connection) != 0) return;
  if (sqlite3_exec(connection, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw error_of(connection, "COMMIT");
  }
}

// The scopes on this thread that hold `lock`: while there is one, the
// thread's calls run under that hold instead of taking `lock` again.
thread_local std::size_t scopes_holding_lock = 0;

// `lock` for one call, unless this thread already holds it through a scope.
class StoreLock {
 public:
  StoreLock() {
    if (scopes_holding_lock == 0) held_ = std::unique_lock(lock);
  }

 private:
  std::unique_lock<std::mutex> held_;
};

void run_plain(::sqlite3* connection, const char* sql) {
  if (sqlite3_exec(connection, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw error_of(connection, sql);
  }
}

// Resets a kept statement once a call is done with it, however the call ends.
class Reset {
 public:
  explicit Reset(sqlite3_stmt* statement) : statement_(statement) {}
  ~Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Reset(const Reset&) = delete;
  Reset& operator=(const Reset&) = delete;

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

// The prepared statements of the connection, by the text SQLite runs; at most
// kKept of them, forgotten all at once when that many have been made.
struct DB::StatementCache {
  static constexpr std::size_t kKept = 64;
  std::unordered_map<std::string, StatementHandle> kept;
};

DatabaseError::DatabaseError(const std::string& message, int code, std::string statement)
    : std::runtime_error(message),
      code_(code),
      statement_(std::make_shared<const std::string>(std::move(statement))) {}

std::optional<std::string> _db_path() {
  try {
    return zf::zantrix_config().DB("sqlite3");
  } catch (const zf::KeyError&) {
  } catch (const zf::TypeError&) {
  } catch (const zf::ValueError&) {
  } catch (const zf::FileNotFoundError&) {
  }
  throw zf::ValueError(kPathMessage);
}

// A statement in its two forms: `sql`, the form SQLite runs, with a `?` for
// each value and the values in `parameters` (a date-time as its stored text),
// and `text()`, the form callers see, with every value as its literal in
// place of its `?`. The text is made only when asked for (an error, or
// `last_statement`), so a statement run many times costs no formatting.
struct DB::Statement {
  std::string sql;
  std::vector<Value> parameters;
  // Where in `sql` each value's `?` stands; none for a caller's own text.
  std::vector<std::size_t> marks;

  static Statement plain(std::string_view sql) { return {std::string(sql), {}, {}}; }

  std::string text() const {
    if (marks.empty()) return sql;
    std::string out;
    std::size_t from = 0;
    for (std::size_t k = 0; k < marks.size(); ++k) {
      out.append(sql, from, marks[k] - from);
      out += _parse_sql_value(parameters[k]);
      from = marks[k] + 1;
    }
    out.append(sql, from);
    return out;
  }

  void add(std::string_view part) { sql += part; }

  void add_value(const Value& value) {
    // An absent value or a date has no literal: the same error as the
    // literal's.
    if (std::holds_alternative<std::monostate>(value) || std::holds_alternative<zf::Date>(value)) {
      _parse_sql_value(value);
    }
    marks.push_back(sql.size());
    sql += '?';
    if (const auto* t = std::get_if<zf::DateTime>(&value)) {
      parameters.emplace_back(stored_datetime(*t));
    } else {
      parameters.push_back(value);
    }
  }

  void add_where(const NamedValues& conditions) {
    if (conditions.empty()) return;
    add("WHERE ");
    for (std::size_t i = 0; i < conditions.size(); ++i) {
      const auto& [name, value] = conditions[i];
      if (i != 0) add("AND ");
      if (name == "condition_str") {
        const auto* raw = std::get_if<std::string>(&value);
        if (raw == nullptr) throw zf::TypeError("condition_str must be text");
        add(*raw);
      } else {
        add(name);
        add("=");
        add_value(value);
      }
      add(" ");
    }
  }
};

// Collects the rows of a selection into the columns of a Table. With
// `count_first`, the rows are counted before they are fetched, so that each
// column is allocated once; worth it for a whole table, whereas a condition
// would have to be evaluated twice over every row.
class DB::ResultBuilder {
 public:
  explicit ResultBuilder(bool count_first) : count_first_(count_first) {}

  bool count_first() const { return count_first_; }

  void start(sqlite3_stmt* statement, std::size_t expected_rows) {
    const int count = sqlite3_column_count(statement);
    columns_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      columns_.emplace_back(sqlite3_column_name(statement, i),
                            kind_of_declared(sqlite3_column_decltype(statement, i)), expected_rows);
    }
  }

  void add_row(sqlite3_stmt* statement) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      columns_[i].add(sqlite3_column_value(statement, static_cast<int>(i)));
    }
  }

  zf::Table finish() && {
    std::vector<zf::Column> columns;
    columns.reserve(columns_.size());
    for (auto& builder : columns_) columns.push_back(std::move(builder).finish());
    return zf::Table(std::move(columns));
  }

 private:
  bool count_first_;
  std::vector<ColumnBuilder> columns_;
};

void DB::Closer::operator()(::sqlite3* connection) const noexcept {
  sqlite3_close_v2(connection);
}

DB::DB() : statements_(std::make_unique<StatementCache>()), last_(std::make_unique<Statement>()) {
  const std::optional<std::string> dir = _db_path();
  if (!dir) throw zf::TypeError("unsupported operand type(s) for +: 'NoneType' and 'str'");
  std::string file = *dir + "/zantrix.db";
  // This SQLite reads a name that begins with "file:" as a URI.
  if (file.starts_with("file:")) file.insert(0, "./");

  ::sqlite3* connection = nullptr;
  const int rc =
      sqlite3_open_v2(file.c_str(), &connection,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  conn_.reset(connection);
  if (rc != SQLITE_OK) {
    const DatabaseError error = connection != nullptr ? error_of(connection, "")
                                                      : DatabaseError(sqlite3_errstr(rc), rc, "");
    close();
    throw error;
  }
  try {
    sqlite3_extended_result_codes(connection, 1);
    sqlite3_busy_timeout(connection, static_cast<int>(kBusyTimeout.count()));
    run(Statement::plain("PRAGMA journal_mode=WAL"));
    run(Statement::plain("PRAGMA synchronous=FULL"));
    // Reads map the file instead of copying each page out of the OS cache.
    run(Statement::plain("PRAGMA mmap_size=268435456"));
    create_balance_table();
    create_position_table();
    create_order_table();
    create_deal_table();
  } catch (...) {
    close();
    throw;
  }
}

DB::~DB() {
  try {
    close();
  } catch (const std::system_error&) {
    // Only the lock can fail here; the connection is then left to the OS.
  }
}

void DB::close() {
  const StoreLock guard;
  statements_->kept.clear();
  conn_.reset();
}

// Under `lock` like every use of the connection, so a `close` on another
// thread comes before or after the COMMIT, never during it.
void DB::commit() {
  const StoreLock guard;
  if (scope_depth_ > 0 && conn_) return;
  commit_transaction(conn_.get());
}

DB::Transaction DB::transaction() {
  return Transaction(*this);
}

DB::Transaction::Transaction(DB& db) : db_(db), uncaught_(std::uncaught_exceptions()) {
  if (scopes_holding_lock == 0) held_ = std::unique_lock(lock);
  ::sqlite3* connection = db_.conn_.get();
  if (connection == nullptr) throw DatabaseError(kClosedMessage, 0, "BEGIN");
  depth_ = db_.scope_depth_;
  if (depth_ == 0) {
    // The write lock of the file is taken now, so that no other process can
    // make the scope's first write fail halfway.
    run_plain(connection, "BEGIN IMMEDIATE");
  } else {
    run_plain(connection, ("SAVEPOINT zantrix_scope_" + std::to_string(depth_)).c_str());
  }
  ++db_.scope_depth_;
  ++scopes_holding_lock;
}

DB::Transaction::~Transaction() noexcept(false) {
  if (ended_) return;
  if (std::uncaught_exceptions() > uncaught_) {
    try {
      end(false);
    } catch (...) {
      // Unwinding already: the rollback is best effort, the first error wins.
    }
    return;
  }
  end(true);
}

void DB::Transaction::commit() {
  end(true);
}

void DB::Transaction::rollback() {
  end(false);
}

// The hold on `lock` goes with the outermost scope, whatever happens here.
void DB::Transaction::end(bool keep) {
  if (ended_) return;
  ended_ = true;
  struct Release {
    std::unique_lock<std::mutex>& held;
    ~Release() {
      --scopes_holding_lock;
      if (held.owns_lock()) held.unlock();
    }
  } release{held_};
  --db_.scope_depth_;
  ::sqlite3* connection = db_.conn_.get();
  if (connection == nullptr) {
    if (keep) throw DatabaseError(kClosedMessage, 0, "COMMIT");
    return;
  }
  const std::string savepoint = "zantrix_scope_" + std::to_string(depth_);
  if (!keep) {
    run_plain(connection, depth_ == 0
                              ? "ROLLBACK"
                              : ("ROLLBACK TO " + savepoint + "; RELEASE " + savepoint).c_str());
    return;
  }
  try {
    run_plain(connection, depth_ == 0 ? "COMMIT" : ("RELEASE " + savepoint).c_str());
  } catch (...) {
    if (depth_ == 0 && sqlite3_get_autocommit(connection) == 0) {
      sqlite3_exec(connection, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    throw;
  }
}

void DB::execute(std::string_view sql, const std::optional<std::vector<Value>>& parameters) {
  Statement statement = Statement::plain(sql);
  if (parameters) statement.parameters = *parameters;
  run(std::move(statement));
}

// Prepares (or takes the kept statement), binds and steps one statement and,
// outside a scope, commits it, all under `lock`. Without `result`, stepping
// stops at the first row: the statement has then done its work, and its rows
// are not wanted.
void DB::run(Statement statement, ResultBuilder* result) {
  const StoreLock guard;
  *last_ = std::move(statement);
  const Statement& current = *last_;
  const TextOf text = [&current] { return current.text(); };
  ::sqlite3* connection = conn_.get();
  if (connection == nullptr) throw DatabaseError(kClosedMessage, 0, current.text());
  {
    sqlite3_stmt* prepared = nullptr;
    if (const auto kept = statements_->kept.find(current.sql); kept != statements_->kept.end()) {
      prepared = kept->second.get();
    } else {
      StatementHandle handle = prepare(connection, current.sql, text);
      if (handle) {
        if (statements_->kept.size() >= StatementCache::kKept) statements_->kept.clear();
        prepared = statements_->kept.emplace(current.sql, std::move(handle)).first->second.get();
      }
    }
    if (prepared != nullptr) {
      const Reset reset(prepared);
      bind_all(connection, prepared, current.parameters, text);
      if (result != nullptr) {
        result->start(prepared, result->count_first()
                                    ? count_rows(connection, current.sql, current.parameters)
                                    : 0);
      }
      for (;;) {
        const int rc = sqlite3_step(prepared);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) throw error_of(connection, current.text());
        if (result == nullptr) break;
        result->add_row(prepared);
      }
    }
  }
  if (scope_depth_ == 0) commit_transaction(connection);
}

std::string DB::_parse_sql_value(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return sql_quoted(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return zf::format_number(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, zf::DateTime>) {
          return sql_quoted(stored_datetime(v));
        } else if constexpr (std::is_same_v<T, zf::Date>) {
          throw zf::ValueError("Data format is not support! type(" + zf::format_date(v) +
                               ")=<class 'datetime.date'>");
        } else {
          throw zf::ValueError("Data format is not support! type(None)=<class 'NoneType'>");
        }
      },
      value);
}

std::string DB::_parse_sql_where_condition(const NamedValues& conditions) {
  Statement where;
  where.add_where(conditions);
  return where.text();
}

void DB::delete_table(std::string_view table_name) {
  Statement statement;
  statement.add("DROP TABLE ");
  statement.add(table_name);
  run(std::move(statement));
}

zf::Table DB::select_records(std::string_view table_name,
                             const std::optional<std::vector<std::string>>& columns,
                             const NamedValues& conditions) {
  Statement statement;
  statement.add("SELECT ");
  if (columns) {
    for (std::size_t i = 0; i < columns->size(); ++i) {
      if (i != 0) statement.add(",");
      statement.add((*columns)[i]);
    }
  } else {
    statement.add("*");
  }
  statement.add(" FROM ");
  statement.add(table_name);
  statement.add(" ");
  statement.add_where(conditions);
  ResultBuilder result(conditions.empty());
  run(std::move(statement), &result);
  return std::move(result).finish();
}

void DB::update_records(std::string_view table_name, const NamedValues& columns,
                        const NamedValues& conditions) {
  if (columns.empty()) throw zf::AssertionError("At least one column needs to be updated!");
  Statement statement;
  statement.add("UPDATE ");
  statement.add(table_name);
  statement.add(" SET ");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    statement.add(columns[i].first);
    statement.add("=");
    statement.add_value(columns[i].second);
    statement.add(" ");
    if (i + 1 != columns.size()) statement.add(",");
  }
  statement.add_where(conditions);
  run(std::move(statement));
}

void DB::insert_records(std::string_view table_name, const NamedValues& values) {
  if (values.empty()) throw zf::AssertionError("Must provide columns and values when inserting!");
  Statement statement;
  statement.add("INSERT INTO ");
  statement.add(table_name);
  statement.add(" (");
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) statement.add(",");
    statement.add(values[i].first);
  }
  statement.add(") VALUES (");
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) statement.add(",");
    statement.add_value(values[i].second);
  }
  statement.add(")");
  run(std::move(statement));
}

void DB::delete_records(std::string_view table_name, const NamedValues& conditions) {
  Statement statement;
  statement.add("DELETE FROM ");
  statement.add(table_name);
  statement.add(" ");
  statement.add_where(conditions);
  run(std::move(statement));
}

void DB::create_balance_table() {
  run(Statement::plain(kBalanceTable));
}
void DB::create_position_table() {
  run(Statement::plain(kPositionTable));
}
void DB::create_order_table() {
  run(Statement::plain(kOrderTable));
}
void DB::create_deal_table() {
  run(Statement::plain(kDealTable));
}

std::string DB::last_statement() const {
  const StoreLock guard;
  return last_->text();
}

}  // namespace zantrix::plugins::sqlite3
