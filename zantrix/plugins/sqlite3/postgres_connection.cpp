// The PostgreSQL back end of the record store, over libpq.
//
// Statements are sent in their PostgreSQL form (statement.h) with every value
// bound, each shape prepared once on the server and kept. Values travel as
// text: integers and booleans (1 or 0, as SQLite keeps them) typed bigint,
// floating-point numbers typed double precision in their shortest round-trip
// text, everything else untyped so that the server reads it as the column
// needs (a time stamp as one). Results come back as text and are read into
// the same column kinds as SQLite's.
//
// Texts are checked against the declared lengths of the columns they go to
// before they are sent, so that a text too long is an error naming its
// column, as the server's own check would not. A lost connection is made
// again at the next call; a statement that may be run twice (a selection)
// is retried once at once, any other reports that its outcome is unknown,
// and a transaction lost with the connection fails until it is rolled back.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/sqlite3/connection.h"

namespace zantrix::plugins::sqlite3::detail {

namespace {

namespace zf = zantrix::framework;

// Type identifiers of the server's catalogue (pg_type).
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;
constexpr Oid kName = 19;
constexpr Oid kText = 25;
constexpr Oid kBpchar = 1042;
constexpr Oid kVarchar = 1043;
constexpr Oid kDate = 1082;
constexpr Oid kTimestamp = 1114;

// The schema's creation is serialised across engines by this advisory lock.
constexpr const char* kSchemaLock = "SELECT pg_advisory_lock(7270733)";
constexpr const char* kSchemaUnlock = "SELECT pg_advisory_unlock(7270733)";

constexpr const char* kLostWrite =
    "The connection to the database server was lost while the statement ran; whether it took "
    "effect is unknown: ";
constexpr const char* kLostTransaction =
    "The connection to the database server was lost during the transaction; none of its "
    "statements was stored.";

struct ResultFree {
  void operator()(PGresult* result) const noexcept { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConnectionFree {
  void operator()(PGconn* connection) const noexcept { PQfinish(connection); }
};

std::string trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.starts_with("ERROR:  ")) text.erase(0, 8);
  return text;
}

// The server's own message of a failed result, without its severity and
// detail lines; the connection's message when there is no result.
std::string message_of(const PGresult* result, const PGconn* connection) {
  if (result != nullptr) {
    if (const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) return primary;
    return trimmed(PQresultErrorMessage(result));
  }
  return trimmed(PQerrorMessage(connection));
}

// SQLite's result code for the same kind of failure, so that callers sort
// failures alike on both back ends: a broken constraint, a value that does
// not fit its column, a lost connection, anything else.
constexpr int kError = 1;        // SQLITE_ERROR
constexpr int kIoError = 10;     // SQLITE_IOERR
constexpr int kTooBig = 18;      // SQLITE_TOOBIG
constexpr int kConstraint = 19;  // SQLITE_CONSTRAINT

int code_of(const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (state == nullptr) return kIoError;
  const std::string_view family(state, std::min<std::size_t>(2, std::strlen(state)));
  if (family == "23") return kConstraint;
  if (family == "22") return kTooBig;
  if (family == "08" || family == "57") return kIoError;
  return kError;
}

// The number of characters of a UTF-8 text.
std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// One value as the text and type the server is sent.
struct Bound {
  std::optional<std::string> text;
  Oid type = 0;
};

Bound bound(const Value& value) {
  return std::visit(
      [](const auto& v) -> Bound {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return {std::nullopt, 0};
        } else if constexpr (std::is_same_v<T, std::string>) {
          return {v, 0};
        } else if constexpr (std::is_same_v<T, double>) {
          if (std::isnan(v)) return {"NaN", kFloat8};
          if (std::isinf(v)) return {v > 0 ? "Infinity" : "-Infinity", kFloat8};
          char buf[40];
          const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
          return {std::string(buf, end), kFloat8};
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return {std::to_string(v), kInt8};
        } else if constexpr (std::is_same_v<T, bool>) {
          return {v ? "1" : "0", kInt8};
        } else if constexpr (std::is_same_v<T, zf::DateTime>) {
          return {zf::format_datetime(v), 0};
        } else {
          return {zf::format_date(v), 0};
        }
      },
      value);
}

zf::ColumnKind kind_of(Oid type) {
  switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
      return zf::ColumnKind::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return zf::ColumnKind::Number;
    default:
      return zf::ColumnKind::Text;
  }
}

// Whether a result column of `type` can travel in the binary format, which
// spares the server formatting numbers and this side parsing them: the
// types the store reads (others come as text).
bool binary_readable(Oid type) {
  switch (type) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kFloat4:
    case kFloat8:
    case kNumeric:
    case kText:
    case kVarchar:
    case kBpchar:
    case kName:
    case kDate:
    case kTimestamp:
      return true;
    default:
      return false;
  }
}

// Big-endian integers of the binary format.
template <class T>
T big_endian(const char* at) {
  std::make_unsigned_t<T> v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    v = static_cast<std::make_unsigned_t<T>>((v << 8) | static_cast<unsigned char>(at[i]));
  }
  return static_cast<T>(v);
}

// Writes `value` as `width` digits at `out`.
char* digits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// A numeric in the binary format: digits of base 10000 with the weight of
// the first one, and a sign (or NaN).
double numeric_value(const char* at) {
  const auto count = big_endian<std::int16_t>(at);
  const auto weight = big_endian<std::int16_t>(at + 2);
  const auto sign = static_cast<std::uint16_t>(big_endian<std::int16_t>(at + 4));
  if (sign == 0xC000) return std::numeric_limits<double>::quiet_NaN();
  if (sign == 0xD000) return std::numeric_limits<double>::infinity();
  if (sign == 0xF000) return -std::numeric_limits<double>::infinity();
  // Read as text so that the value is the nearest double, as the text form
  // would give.
  std::string text = "0.";
  for (int i = 0; i < count; ++i) {
    char group[4];
    digits(group, static_cast<unsigned>(big_endian<std::int16_t>(at + 8 + 2 * i)), 4);
    text.append(group, 4);
  }
  text += 'e';
  text += std::to_string(4 * (weight + 1));
  double v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return sign == 0x4000 ? -v : v;
}

// The server's text of a date (days since 2000-01-01): "%Y-%m-%d".
char* date_text(char* out, std::int32_t days) {
  using namespace std::chrono;
  const year_month_day day{sys_days{year{2000} / January / 1} + std::chrono::days{days}};
  out = digits(out, static_cast<unsigned>(static_cast<int>(day.year())), 4);
  *out++ = '-';
  out = digits(out, static_cast<unsigned>(day.month()), 2);
  *out++ = '-';
  return digits(out, static_cast<unsigned>(day.day()), 2);
}

// The server's text of a time stamp (microseconds since 2000-01-01):
// "%Y-%m-%d %H:%M:%S", with the fraction of a second when there is one.
std::string_view timestamp_text(char (&buffer)[40], std::int64_t micros) {
  if (micros == std::numeric_limits<std::int64_t>::max()) return "infinity";
  if (micros == std::numeric_limits<std::int64_t>::min()) return "-infinity";
  constexpr std::int64_t kDay = 86400000000;
  const std::int64_t days = micros >= 0 ? micros / kDay : -((-micros + kDay - 1) / kDay);
  std::int64_t of_day = micros - days * kDay;
  char* out = date_text(buffer, static_cast<std::int32_t>(days));
  *out++ = ' ';
  const auto fraction = static_cast<unsigned>(of_day % 1000000);
  of_day /= 1000000;
  out = digits(out, static_cast<unsigned>(of_day / 3600), 2);
  *out++ = ':';
  out = digits(out, static_cast<unsigned>(of_day / 60 % 60), 2);
  *out++ = ':';
  out = digits(out, static_cast<unsigned>(of_day % 60), 2);
  if (fraction != 0) {
    *out++ = '.';
    out = digits(out, fraction, 6);
    while (out[-1] == '0') --out;
  }
  return {buffer, static_cast<std::size_t>(out - buffer)};
}

// One cell of the binary format into its column.
void push_binary(zf::Column& column, Oid type, const char* cell, std::size_t length) {
  switch (type) {
    case kBool:
      column.push_text(cell[0] != 0 ? "1" : "0");
      return;
    case kInt2:
      column.push_integer(big_endian<std::int16_t>(cell));
      return;
    case kInt4:
      column.push_integer(big_endian<std::int32_t>(cell));
      return;
    case kInt8:
      column.push_integer(big_endian<std::int64_t>(cell));
      return;
    case kFloat4: {
      // The double the text form gives: the float's shortest digits.
      char text[32];
      const auto end = std::to_chars(text, text + sizeof text,
                                     std::bit_cast<float>(big_endian<std::int32_t>(cell)))
                           .ptr;
      double v = 0;
      std::from_chars(text, end, v);
      column.push_number(v);
      return;
    }
    case kFloat8:
      column.push_number(std::bit_cast<double>(big_endian<std::int64_t>(cell)));
      return;
    case kNumeric:
      column.push_number(numeric_value(cell));
      return;
    case kDate: {
      char buffer[16];
      column.push_text({buffer, static_cast<std::size_t>(
                                    date_text(buffer, big_endian<std::int32_t>(cell)) - buffer)});
      return;
    }
    case kTimestamp: {
      char buffer[40];
      column.push_text(timestamp_text(buffer, big_endian<std::int64_t>(cell)));
      return;
    }
    default:
      column.push_text(std::string_view(cell, length));
  }
}

// One cell of the text format into its column.
void push_text_cell(zf::Column& column, Oid type, const char* cell, std::size_t length) {
  switch (column.kind()) {
    case zf::ColumnKind::Integer: {
      std::int64_t v = 0;
      std::from_chars(cell, cell + length, v);
      column.push_integer(v);
      return;
    }
    case zf::ColumnKind::Number: {
      double v = std::numeric_limits<double>::quiet_NaN();
      std::from_chars(cell, cell + length, v);
      column.push_number(v);
      return;
    }
    default:
      if (type == kBool) {
        column.push_text(cell[0] == 't' ? "1" : "0");
      } else {
        column.push_text(std::string_view(cell, length));
      }
  }
}

// The rows of a result as a table of the store's column kinds, read row by
// row as libpq keeps them.
zf::Table table_of(const PGresult* result) {
  const int rows = PQntuples(result);
  const int fields = PQnfields(result);
  std::vector<zf::Column> columns;
  std::vector<Oid> types;
  std::vector<bool> binary;
  columns.reserve(static_cast<std::size_t>(fields));
  for (int f = 0; f < fields; ++f) {
    types.push_back(PQftype(result, f));
    binary.push_back(PQfformat(result, f) == 1);
    columns.emplace_back(PQfname(result, f), kind_of(types.back()));
    columns.back().reserve(static_cast<std::size_t>(rows));
  }
  for (int r = 0; r < rows; ++r) {
    for (int f = 0; f < fields; ++f) {
      auto& column = columns[static_cast<std::size_t>(f)];
      if (PQgetisnull(result, r, f) != 0) {
        column.push_missing();
        continue;
      }
      const char* cell = PQgetvalue(result, r, f);
      const auto length = static_cast<std::size_t>(PQgetlength(result, r, f));
      const Oid type = types[static_cast<std::size_t>(f)];
      if (binary[static_cast<std::size_t>(f)]) {
        push_binary(column, type, cell, length);
      } else {
        push_text_cell(column, type, cell, length);
      }
    }
  }
  return zf::Table(std::move(columns));
}

class PostgresConnection final : public Connection {
 public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) { configure(); }

  std::optional<zf::Table> run(const Statement& statement, Run how) override {
    if (statement.marks.empty() && statement.postgres_sql.empty()) {
      const std::size_t marks = caller_marks(statement.sql).size();
      if (marks != statement.parameters.size()) {
        throw wrong_bindings(marks, statement.parameters.size(), statement.text());
      }
    }
    reconnect_if_lost();
    refuse_lost_transaction(statement);
    check_lengths(statement);
    const std::string sql = statement.postgres();
    std::vector<Bound> values;
    values.reserve(statement.parameters.size());
    for (const auto& value : statement.parameters) values.push_back(bound(value));
    for (int attempt = 0;; ++attempt) {
      Result result = execute(sql, values, how.rows);
      const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
      if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        if (changes_schema(sql)) forget_shapes();
        if (!how.rows) return std::nullopt;
        return table_of(result.get());
      }
      if (PQstatus(connection_.get()) != CONNECTION_BAD) {
        std::string message = message_of(result.get(), connection_.get());
        if (message == "cannot insert multiple commands into a prepared statement") {
          message = kOneStatement;
        }
        throw DatabaseError(message, code_of(result.get()), statement.text());
      }
      lost();
      if (!how.idempotent || attempt > 0 || transaction_lost_) {
        throw DatabaseError(
            (transaction_lost_ ? std::string(kLostTransaction) + " " : std::string(kLostWrite)) +
                trimmed(PQerrorMessage(connection_.get())),
            kIoError, statement.text());
      }
      reconnect_if_lost();
    }
  }

  void begin() override {
    reconnect_if_lost();
    transaction_lost_ = false;
    command("BEGIN");
    in_transaction_ = true;
  }

  // A transaction whose connection was lost is over: its end (COMMIT or
  // ROLLBACK) clears the loss, a COMMIT reporting that nothing was stored,
  // so that the statements after it run again.
  void control(const std::string& sql) override {
    const bool ends = sql == "COMMIT" || sql == "ROLLBACK";
    if (in_transaction_ && !alive()) lost();
    if (transaction_lost_) {
      if (ends) transaction_lost_ = in_transaction_ = false;
      if (sql.starts_with("ROLLBACK")) return;
      throw DatabaseError(kLostTransaction, kIoError, sql);
    }
    reconnect_if_lost();
    try {
      command(sql);
    } catch (...) {
      if (ends) transaction_lost_ = in_transaction_ = false;
      throw;
    }
    if (ends) in_transaction_ = false;
  }

  bool in_transaction() override {
    return in_transaction_ || PQtransactionStatus(connection_.get()) == PQTRANS_INTRANS ||
           PQtransactionStatus(connection_.get()) == PQTRANS_INERROR;
  }

  void commit_open() override {
    const auto status = PQtransactionStatus(connection_.get());
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) command("COMMIT");
  }

  void lock_schema() override {
    reconnect_if_lost();
    command(kSchemaLock);
  }
  void unlock_schema() override { command(kSchemaUnlock); }

  std::int64_t last_insert_id() override {
    const Result result(PQexec(connection_.get(), "SELECT lastval()"));
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      throw DatabaseError(message_of(result.get(), connection_.get()), code_of(result.get()),
                          "SELECT lastval()");
    }
    std::int64_t id = 0;
    const char* cell = PQgetvalue(result.get(), 0, 0);
    std::from_chars(cell, cell + std::strlen(cell), id);
    return id;
  }

 private:
  // Settings that make the server's texts those the store reads: time stamps
  // as "%Y-%m-%d %H:%M:%S", UTF-8; its notices ("already exists, skipping")
  // are not printed.
  void configure() {
    PQsetNoticeProcessor(
        connection_.get(), [](void*, const char*) {}, nullptr);
    command("SET datestyle TO ISO, YMD");
    command("SET client_encoding TO 'UTF8'");
    prepared_.clear();
    lengths_.clear();
  }

  // Runs a statement of the connection's own; a COMMIT cut off in flight
  // may or may not have taken effect, and says so.
  void command(const std::string& sql) {
    const Result result(PQexec(connection_.get(), sql.c_str()));
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    if (PQstatus(connection_.get()) == CONNECTION_BAD) {
      lost();
      if (sql == "COMMIT") {
        throw DatabaseError(kLostWrite + trimmed(PQerrorMessage(connection_.get())), kIoError,
                            sql);
      }
    }
    throw DatabaseError(message_of(result.get(), connection_.get()), code_of(result.get()), sql);
  }

  // Prepares the shape once (per the types of its values), then runs it. A
  // selection whose columns are all of types the store reads in the binary
  // format asks for its rows in that format (learnt once, when prepared).
  Result execute(const std::string& sql, const std::vector<Bound>& values, bool rows) {
    std::string key = sql;
    std::vector<Oid> types;
    types.reserve(values.size());
    for (const auto& v : values) {
      types.push_back(v.type);
      key += '|';
      key += std::to_string(v.type);
    }
    auto found = prepared_.find(key);
    if (found == prepared_.end()) {
      if (prepared_.size() >= kKept) {
        Result(PQexec(connection_.get(), "DEALLOCATE ALL"));
        prepared_.clear();
      }
      const std::string name = "zantrix_" + std::to_string(next_name_++);
      Result made(PQprepare(connection_.get(), name.c_str(), sql.c_str(),
                            static_cast<int>(types.size()), types.data()));
      if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) return made;
      found = prepared_.emplace(std::move(key), Prepared{name, rows && all_binary(name)}).first;
    }
    std::vector<const char*> texts;
    texts.reserve(values.size());
    for (const auto& v : values) texts.push_back(v.text ? v.text->c_str() : nullptr);
    return Result(PQexecPrepared(connection_.get(), found->second.name.c_str(),
                                 static_cast<int>(texts.size()), texts.data(), nullptr, nullptr,
                                 found->second.binary ? 1 : 0));
  }

  bool all_binary(const std::string& name) {
    const Result described(PQdescribePrepared(connection_.get(), name.c_str()));
    if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK) return false;
    const int fields = PQnfields(described.get());
    for (int f = 0; f < fields; ++f) {
      if (!binary_readable(PQftype(described.get(), f))) return false;
    }
    return fields > 0;
  }

  // A table made, changed or dropped may change the lengths of its columns
  // and the rows of a prepared selection: both are asked for afresh.
  static bool changes_schema(std::string_view sql) {
    return sql.starts_with("DROP ") || sql.starts_with("CREATE ") || sql.starts_with("ALTER ");
  }
  void forget_shapes() {
    lengths_.clear();
    if (!prepared_.empty()) Result(PQexec(connection_.get(), "DEALLOCATE ALL"));
    prepared_.clear();
  }

  void lost() {
    if (in_transaction_) transaction_lost_ = true;
    in_transaction_ = false;
    prepared_.clear();
  }

  // Reads what the server sent since the last statement, so that a
  // connection it closed meanwhile (a restart) is made again before a
  // statement is sent on it, rather than failing that statement.
  void reconnect_if_lost() {
    if (alive()) return;
    lost();
    PQreset(connection_.get());
    if (PQstatus(connection_.get()) != CONNECTION_OK) {
      throw DatabaseError(trimmed(PQerrorMessage(connection_.get())), kIoError, "");
    }
    configure();
  }

  // Whether the connection is still open: what the server sent while the
  // connection was idle is read (a parameter's new value, or the notice and
  // end of a connection the server closes); a closed one shows at the read
  // that meets its end.
  bool alive() {
    PGconn* connection = connection_.get();
    if (PQstatus(connection) != CONNECTION_OK) return false;
    pollfd waiting{PQsocket(connection), POLLIN, 0};
    while (poll(&waiting, 1, 0) > 0) {
      if (PQconsumeInput(connection) == 0) return false;
      PQisBusy(connection);
    }
    return PQstatus(connection) == CONNECTION_OK;
  }

  void refuse_lost_transaction(const Statement& statement) const {
    if (transaction_lost_) throw DatabaseError(kLostTransaction, kIoError, statement.text());
  }

  // Each text bound for a column of declared length must fit in it.
  void check_lengths(const Statement& statement) {
    if (statement.table.empty()) return;
    const auto& limits = lengths_of(statement.table);
    for (std::size_t k = 0; k < statement.value_columns.size(); ++k) {
      const auto* text = std::get_if<std::string>(&statement.parameters[k]);
      const std::string_view column = statement.column_of(k);
      if (text == nullptr || column.empty()) continue;
      const auto limit = limits.find(column);
      if (limit == limits.end()) continue;
      const std::size_t length = characters(*text);
      if (length > limit->second) {
        throw DatabaseError("value too long for column " + std::string(column) + " of " +
                                statement.table + ": " + std::to_string(length) +
                                " characters, at most " + std::to_string(limit->second),
                            kTooBig, statement.text());
      }
    }
  }

  // The declared lengths of a table's columns, asked of the server once.
  const std::map<std::string, std::size_t, std::less<>>& lengths_of(const std::string& table) {
    if (const auto found = lengths_.find(table); found != lengths_.end()) return found->second;
    auto& limits = lengths_[table];
    const char* values[] = {table.c_str()};
    const Result result(PQexecParams(
        connection_.get(),
        "SELECT column_name, character_maximum_length FROM information_schema.columns WHERE "
        "table_schema = current_schema() AND table_name = $1 AND character_maximum_length IS "
        "NOT NULL",
        1, nullptr, values, nullptr, nullptr, 0));
    if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK) {
      for (int r = 0; r < PQntuples(result.get()); ++r) {
        limits.emplace(PQgetvalue(result.get(), r, 0),
                       static_cast<std::size_t>(std::atoll(PQgetvalue(result.get(), r, 1))));
      }
    }
    return limits;
  }

  static constexpr std::size_t kKept = 64;
  std::unique_ptr<PGconn, ConnectionFree> connection_;
  struct Prepared {
    std::string name;
    bool binary = false;
  };
  std::unordered_map<std::string, Prepared> prepared_;
  std::unordered_map<std::string, std::map<std::string, std::size_t, std::less<>>> lengths_;
  int next_name_ = 0;
  bool in_transaction_ = false;
  bool transaction_lost_ = false;
};

}  // namespace

std::unique_ptr<Connection> open_postgres(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (options == nullptr) {
    const std::string why = trimmed(error);
    PQfreemem(error);
    throw zf::ValueError("the `postgresql` URI in `DB` cannot be read: " + why);
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && o->val[0] != '\0') {
      password = true;
    }
  }
  PQconninfoFree(options);
  if (password) {
    throw zf::ValueError(
        "the `postgresql` URI in `DB` holds a password: give it through PGPASSWORD or "
        "~/.pgpass instead");
  }
  std::unique_ptr<PGconn, ConnectionFree> connection(PQconnectdb(uri.c_str()));
  if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
    throw DatabaseError(
        connection ? trimmed(PQerrorMessage(connection.get())) : std::string("out of memory"),
        kIoError, "");
  }
  return std::make_unique<PostgresConnection>(connection.release());
}

}  // namespace zantrix::plugins::sqlite3::detail
