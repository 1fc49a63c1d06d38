// The SQLite back end of the record store: one file, in WAL mode with full
// syncs, read through prepared statements kept for the next call of the same
// shape, and selections gathered cell by cell into typed columns.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <unordered_map>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/fresh_memory.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/sqlite3/connection.h"

namespace zantrix::plugins::sqlite3::detail {

namespace {

namespace zf = zantrix::framework;

struct Finalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, Finalizer>;

DatabaseError error_of(::sqlite3* connection, const std::string& statement) {
  return DatabaseError(sqlite3_errmsg(connection), sqlite3_extended_errcode(connection), statement);
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
    throw wrong_bindings(static_cast<std::size_t>(marks), parameters.size(), statement_text());
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
      throw DatabaseError(kOneStatement, 0, statement_text());
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

// Collects the rows of a selection into the columns of a Table. With
// `expected_rows`, each column is allocated once.
class ResultBuilder {
 public:
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
  std::vector<ColumnBuilder> columns_;
};

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(::sqlite3* connection) : connection_(connection) {}
  ~SqliteConnection() override {
    kept_.clear();
    sqlite3_close_v2(connection_);
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // A whole table is counted before it is fetched, from its b-tree pages
  // without decoding a row, so that each column is allocated once; a
  // condition would have to be evaluated twice over every row.
  std::optional<zf::Table> run(const Statement& statement, Run how) override {
    const TextOf text = [&statement] { return statement.text(); };
    sqlite3_stmt* prepared = kept(statement.sql, text);
    if (prepared == nullptr) return how.rows ? std::optional<zf::Table>(zf::Table()) : std::nullopt;
    const Reset reset(prepared);
    bind_all(connection_, prepared, statement.parameters, text);
    // The result's columns are read after the first step: a statement
    // prepared before another connection changed the table is prepared
    // again by that step, with the table's columns as they are now.
    std::optional<ResultBuilder> result;
    for (bool first = true;; first = false) {
      const int rc = sqlite3_step(prepared);
      if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw error_of(connection_, statement.text());
      if (!how.rows) break;
      if (first) {
        result.emplace();
        result->start(prepared, how.whole_table
                                    ? count_rows(connection_, statement.sql, statement.parameters)
                                    : 0);
      }
      if (rc == SQLITE_DONE) break;
      result->add_row(prepared);
    }
    if (!result) return std::nullopt;
    return std::move(*result).finish();
  }

  // The file's write lock is taken at once, so that no other process can
  // make the transaction's first write fail halfway.
  void begin() override { run_plain(connection_, "BEGIN IMMEDIATE"); }
  void control(const std::string& sql) override { run_plain(connection_, sql.c_str()); }
  bool in_transaction() override { return sqlite3_get_autocommit(connection_) == 0; }
  void commit_open() override {
    if (in_transaction()) run_plain(connection_, "COMMIT");
  }
  std::int64_t last_insert_id() override { return sqlite3_last_insert_rowid(connection_); }

  DeclaredColumns declared_columns(const std::string& table) override {
    DeclaredColumns out;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(connection_, "SELECT name, type FROM pragma_table_info(?)", -1, &raw,
                           nullptr) != SQLITE_OK) {
      return out;
    }
    const StatementHandle handle(raw);
    sqlite3_bind_text(raw, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    while (sqlite3_step(raw) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
      const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(raw, 1));
      if (name != nullptr)
        out.emplace(lower_case(name), declared_kind(type != nullptr ? type : ""));
    }
    return out;
  }

 private:
  // The prepared statement of `sql`, made once and kept (at most kKept of
  // them, forgotten all at once when that many have been made); null for a
  // text of blanks and comments.
  sqlite3_stmt* kept(const std::string& sql, const TextOf& text) {
    if (const auto found = kept_.find(sql); found != kept_.end()) return found->second.get();
    StatementHandle handle = prepare(connection_, sql, text);
    if (!handle) return nullptr;
    if (kept_.size() >= kKept) kept_.clear();
    return kept_.emplace(sql, std::move(handle)).first->second.get();
  }

  static constexpr std::size_t kKept = 64;
  ::sqlite3* connection_;
  std::unordered_map<std::string, StatementHandle> kept_;
};

}  // namespace

std::unique_ptr<Connection> open_sqlite(const std::string& path) {
  std::string file = path;
  // This SQLite reads a name that begins with "file:" as a URI.
  if (file.starts_with("file:")) file.insert(0, "./");
  ::sqlite3* raw = nullptr;
  // Without SQLite's own per-call mutex: DB's lock keeps every use of the
  // connection to one thread at a time.
  const int rc =
      sqlite3_open_v2(file.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const DatabaseError error =
        raw != nullptr ? error_of(raw, "") : DatabaseError(sqlite3_errstr(rc), rc, "");
    sqlite3_close_v2(raw);
    throw error;
  }
  auto connection = std::make_unique<SqliteConnection>(raw);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, static_cast<int>(kBusyTimeout.count()));
  const Run plain{};
  connection->run(Statement::plain("PRAGMA journal_mode=WAL"), plain);
  connection->run(Statement::plain("PRAGMA synchronous=FULL"), plain);
  // Reads map the file instead of copying each page out of the OS cache.
  connection->run(Statement::plain("PRAGMA mmap_size=268435456"), plain);
  return connection;
}

}  // namespace zantrix::plugins::sqlite3::detail
