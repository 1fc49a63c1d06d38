#include "tests/plugins/sqlite3/differential/store_sequence.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "zantrix/framework/config.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/table.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix_test::differential {

namespace fs = std::filesystem;
namespace zdb = zantrix::plugins::sqlite3;
namespace zf = zantrix::framework;
using zdb::DB;
using zdb::NamedValues;
using zdb::Value;

const std::vector<Documented> kDocumentedDifferences = {
    {"declared length",
     "The server enforces a VARCHAR column's declared length: a longer text is refused "
     "(DatabaseError, SQLITE_TOOBIG, \"value too long for ...\") where SQLite stores it whole."},
    {"error text",
     "The engines word their own errors differently; the kind of an error (its class, and a "
     "DatabaseError's code) is the same."},
    {"row ids",
     "Ids are compared on neither side: the server uses up an id on an insert that fails or is "
     "rolled back, SQLite does not."},
    {"row order", "Rows are compared as sets: neither engine promises an order without ORDER BY."},
    {"integer overflow",
     "An integer sum beyond the 64-bit range is SQLite's error \"integer overflow\"; the server "
     "gives it as a number."},
};

const std::vector<Documented> kNormalisations = {
    {"NaN", "A NaN is stored as NULL (into a NOT NULL column: the NOT NULL error)."},
    {"negative zero", "-0.0 is stored as 0.0."},
    {"integral number into an integer column",
     "A floating-point number without a fraction is stored in an integer column as that "
     "integer; one with a fraction, or beyond the 64-bit range, is refused (ValueError naming "
     "the column)."},
    {"number into a text column",
     "A number bound for a text column is stored as its text (integers in decimal, "
     "floating-point numbers in their shortest round-trip text)."},
    {"texts",
     "A text holding a NUL character, or bytes that are not UTF-8, is refused "
     "(ValueError naming the column or the parameter)."},
    {"date-times",
     "A date-time is stored without its fraction of a second; one outside the years 1 to 9999, "
     "or a text bound for a DATETIME column that is not a date-time of the stored form, is "
     "refused (ValueError naming the column)."},
    {"text into a number column",
     "A text bound for a number column must read as a decimal number, which is stored; any "
     "other text is refused (ValueError naming the column)."},
    {"integer into a number column",
     "An integer stored in, or compared with, a number column is the nearest double."},
};

// ---- The schema as the generator knows it ----------------------------------

namespace {

enum class Kind { Int, Real, Text, Time };

struct ColumnSpec {
  std::string name;
  Kind kind;
  std::size_t length = 0;  // texts: the declared length
  bool not_null = false;
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
};

ColumnSpec I(const char* name, bool nn = true) {
  return {name, Kind::Int, 0, nn};
}
ColumnSpec R(const char* name, bool nn = true) {
  return {name, Kind::Real, 0, nn};
}
ColumnSpec T(const char* name, std::size_t n, bool nn = true) {
  return {name, Kind::Text, n, nn};
}
ColumnSpec D(const char* name, bool nn = true) {
  return {name, Kind::Time, 0, nn};
}

std::vector<TableSpec> record_tables() {
  return {
      {"balance",
       {T("broker_name", 20), T("broker_environment", 20), I("broker_account_id"),
        T("broker_account", 20), I("strategy_account_id"), T("strategy_account", 20),
        T("strategy_version", 20), T("strategy_version_desc", 300, false),
        T("strategy_status", 15, false), R("cash"), T("cash_by_currency", 50, false),
        R("available_cash"), R("max_power_short", false), R("net_cash_power", false),
        R("maintenance_margin", false), R("unrealized_pnl", false), R("realized_pnl", false),
        D("update_time"), T("remark", 300, false)}},
      {"position",
       {I("balance_id"), T("security_name", 20), T("security_code", 20), T("direction", 20),
        R("holding_price"), I("quantity"), D("update_time"), T("remark", 300, false)}},
      {"trading_order",
       {T("broker_order_id", 50), I("balance_id"), T("security_name", 20), T("security_code", 20),
        R("price"), I("quantity"), T("direction", 20), T("offset", 20), T("order_type", 20),
        D("create_time"), D("update_time"), R("filled_avg_price"), I("filled_quantity"),
        T("status", 20), T("remark", 300, false)}},
      {"trading_deal",
       {T("broker_deal_id", 50), T("broker_order_id", 50), I("order_id"), I("balance_id"),
        T("security_name", 20), T("security_code", 20), T("direction", 20), T("offset", 20),
        T("order_type", 20), D("update_time"), R("filled_avg_price"), I("filled_quantity"),
        T("remark", 300, false)}},
  };
}

}  // namespace

// ---- Steps -------------------------------------------------------------------

enum class Op { Insert, Update, Delete, Select, Execute, Open, Close, AddColumn };
enum class End { Commit, Rollback, Exception };

struct Step {
  Op op = Op::Select;
  std::string table;
  NamedValues values;
  NamedValues conditions;
  std::optional<std::vector<std::string>> columns;
  // Execute and AddColumn: SQLite's statement and the server's, when it
  // differs (empty: the same).
  std::string sql;
  std::string sql_server;
  std::optional<std::vector<Value>> parameters;
  End end = End::Commit;
  // A failure of this statement is let out of the innermost scope.
  bool escapes = false;
  // An execute that inserts a row.
  bool inserts = false;
};

namespace {

std::string shown_text(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string shown(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          return "None";
        } else if constexpr (std::is_same_v<V, std::string>) {
          return shown_text(v);
        } else if constexpr (std::is_same_v<V, double>) {
          if (std::signbit(v) && v == 0) return "-0.0";
          return zf::format_number(v);
        } else if constexpr (std::is_same_v<V, std::int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<V, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<V, zf::DateTime>) {
          return "datetime(" + zf::format_datetime(v) + ")";
        } else {
          return "date(" + zf::format_date(v) + ")";
        }
      },
      value);
}

std::string shown(const NamedValues& values) {
  std::string out = "{";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ", ";
    out += values[i].first + "=" + shown(values[i].second);
  }
  return out + "}";
}

}  // namespace

std::string describe(const Step& step) {
  switch (step.op) {
    case Op::Insert:
      return "insert_records(" + step.table + ", " + shown(step.values) + ")" +
             (step.escapes ? " [error let out of the scope]" : "");
    case Op::Update:
      return "update_records(" + step.table + ", " + shown(step.values) + ", " +
             shown(step.conditions) + ")" + (step.escapes ? " [error let out of the scope]" : "");
    case Op::Delete:
      return "delete_records(" + step.table + ", " + shown(step.conditions) + ")";
    case Op::Select: {
      std::string columns = "*";
      if (step.columns) {
        columns.clear();
        for (const auto& c : *step.columns) columns += (columns.empty() ? "" : ",") + c;
      }
      return "select_records(" + step.table + ", [" + columns + "], " + shown(step.conditions) +
             ")";
    }
    case Op::Execute: {
      std::string out = "execute(" + shown_text(step.sql);
      if (step.parameters) {
        out += ", [";
        for (std::size_t i = 0; i < step.parameters->size(); ++i) {
          out += (i != 0 ? ", " : "") + shown((*step.parameters)[i]);
        }
        out += "]";
      }
      return out + ")" + (step.escapes ? " [error let out of the scope]" : "");
    }
    case Op::Open:
      return "open a transaction() scope";
    case Op::Close:
      return step.end == End::Commit     ? "end the innermost scope: commit()"
             : step.end == End::Rollback ? "end the innermost scope: rollback()"
                                         : "end the innermost scope by an exception";
    case Op::AddColumn:
      return "another session: execute(" + shown_text(step.sql) + ") / on the server " +
             shown_text(step.sql_server);
  }
  return "?";
}

// ---- Generation ----------------------------------------------------------------

namespace {

zf::DateTime at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int us = 0) {
  return zf::make_datetime(
      zf::Date{std::chrono::year{y}, std::chrono::month{mo}, std::chrono::day{d}},
      std::chrono::hours{h}, std::chrono::minutes{mi}, std::chrono::seconds{s},
      std::chrono::microseconds{us});
}

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed), tables_(record_tables()) {}

  Sequence sequence(std::uint64_t seed) {
    Sequence out;
    out.seed = seed;
    const std::size_t length = 8 + pick(32);
    for (std::size_t i = 0; i < length; ++i) out.steps.push_back(std::make_shared<Step>(step()));
    return out;
  }

 private:
  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }
  template <class T>
  const T& one_of(const std::vector<T>& items) {
    return items[pick(items.size())];
  }

  TableSpec& table() {
    // The position and order tables carry the integer and reserved-word
    // columns: they come up more often.
    static const std::vector<std::size_t> weights{0, 1, 1, 2, 2, 3};
    return tables_[one_of(weights)];
  }

  Step step() {
    const std::size_t roll = pick(100);
    if (roll < 7 && depth_ < 3) return open();
    if (roll < 14 && depth_ > 0) return close();
    if (roll < 16 && depth_ == 0 && added_ < 2) return add_column();
    if (roll < 42) return insert();
    if (roll < 56) return update();
    if (roll < 64) return remove();
    if (roll < 84) return select();
    return execute();
  }

  Step open() {
    ++depth_;
    Step s;
    s.op = Op::Open;
    return s;
  }

  Step close() {
    --depth_;
    Step s;
    s.op = Op::Close;
    const std::size_t r = pick(100);
    s.end = r < 50 ? End::Commit : r < 75 ? End::Rollback : End::Exception;
    return s;
  }

  Step add_column() {
    ++added_;
    TableSpec& t = table();
    const std::string name = "extra_" + std::to_string(added_);
    Step s;
    s.op = Op::AddColumn;
    s.table = t.name;
    const std::size_t kind = pick(3);
    const char* sqlite_type[] = {"INTEGER", "DOUBLE", "VARCHAR(10)"};
    const char* server_type[] = {"bigint", "double precision", "varchar(10)"};
    s.sql = "ALTER TABLE " + t.name + " ADD COLUMN " + name + " " + sqlite_type[kind];
    s.sql_server = "ALTER TABLE " + t.name + " ADD COLUMN " + name + " " + server_type[kind];
    t.columns.push_back({name,
                         kind == 0   ? Kind::Int
                         : kind == 1 ? Kind::Real
                                     : Kind::Text,
                         kind == 2 ? std::size_t{10} : std::size_t{0}, false});
    return s;
  }

  // A column name as a caller may spell it: now and then in capitals, as
  // SQLite takes any case.
  std::string spelled(const std::string& name) {
    if (!chance(8)) return name;
    std::string upper = name;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }

  Value ordinary(const ColumnSpec& c) {
    switch (c.kind) {
      case Kind::Int:
        return static_cast<std::int64_t>(pick(1006)) - 5;
      case Kind::Real:
        return one_of(std::vector<double>{1.5, 0.25, 100000.0, 99000.5, -3.75, 0.1, 4096.125}) +
               static_cast<double>(pick(8));
      case Kind::Text:
        return one_of(std::vector<std::string>{"CQG", "SIMULATE", "ACC1", "alpha", "1.0", "BUY",
                                               "SELL", "OPEN", "LIMIT", "FILLED", "x", "ESM4"});
      case Kind::Time:
        return at(2024, 3, 15, 9, 30) + std::chrono::minutes(pick(600));
    }
    return std::monostate{};
  }

  Value edge(const ColumnSpec& c) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr double kMax = std::numeric_limits<double>::max();
    constexpr double kTiny = std::numeric_limits<double>::denorm_min();
    switch (c.kind) {
      case Kind::Int:
        return one_of(std::vector<Value>{
            std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
            std::int64_t{0}, std::int64_t{-1}, (std::int64_t{1} << 53) + 1, true, false, 1.5, 2.0,
            -0.0, kNaN, 1e19, -2.5, std::string("12"), std::string("abc")});
      case Kind::Real:
        return one_of(std::vector<Value>{
            -0.0, kTiny, -kTiny, std::numeric_limits<double>::min(), kMax, -kMax, kNaN, kInf, -kInf,
            1e-300, 0.1 + 0.2, std::numeric_limits<std::int64_t>::max(), std::int64_t{3},
            std::string("12.5"), std::string("abc"), std::string("NaN"), true});
      case Kind::Text: {
        std::string over(c.length + 1, 'x');
        std::string wide;
        for (std::size_t i = 0; i < c.length; ++i) wide += "\xc3\xa9";
        return one_of(std::vector<Value>{std::string(),
                                         std::string("O'Reilly"),
                                         std::string("say \"hi\""),
                                         std::string("a\0b", 3),
                                         std::string("\xc3\xbc"
                                                     "n"
                                                     "\xc3\xaf"
                                                     "c"
                                                     "\xc3\xb8"
                                                     "d"
                                                     "\xc3\xa9"),
                                         std::string("\xe6\x97\xa5\xe6\x9c\xac"),
                                         std::string("\xf0\x9f\x92\xb9"),
                                         std::string("\xff\xfe"),
                                         std::string("ab\xc3"),
                                         over,
                                         wide,
                                         wide + "\xc3\xa9",
                                         std::string("?"),
                                         std::string("-- ?"),
                                         std::string("%s\\"),
                                         std::string("NULL"),
                                         std::int64_t{42},
                                         1.5,
                                         0.1,
                                         1e20,
                                         true});
      }
      case Kind::Time:
        return one_of(std::vector<Value>{
            at(1, 1, 1), at(9999, 12, 31, 23, 59, 59), at(9999, 12, 31, 23, 59, 59, 999999),
            at(1969, 12, 31, 23, 59, 59), at(2000, 2, 29, 12, 0, 0, 500000), at(1899, 12, 31),
            at(10000, 1, 1), at(0, 1, 1), at(-1, 6, 1), std::string("2024-03-15 09:30:00"),
            std::string("2024-03-15 09:30:00.5"), std::string("2024-03-15"), std::string("garbage"),
            zf::Date{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{15}},
            std::int64_t{5}});
    }
    return std::monostate{};
  }

  Value value(const ColumnSpec& c) {
    if (chance(2)) return std::monostate{};
    return chance(22) ? edge(c) : ordinary(c);
  }

  void remember(const std::string& table, const std::string& column, const Value& v) {
    auto& seen = seen_[table + "." + column];
    if (seen.size() < 16) seen.push_back(v);
  }

  NamedValues conditions(const TableSpec& t, std::size_t most) {
    NamedValues out;
    const std::size_t count = pick(most + 1);
    for (std::size_t i = 0; i < count; ++i) {
      if (chance(12)) {
        out.emplace_back("condition_str", raw_condition(t));
        continue;
      }
      const ColumnSpec& c = one_of(t.columns);
      const auto seen = seen_.find(t.name + "." + c.name);
      Value v = seen != seen_.end() && chance(65) ? one_of(seen->second) : value(c);
      out.emplace_back(spelled(c.name), std::move(v));
    }
    return out;
  }

  std::string raw_condition(const TableSpec& t) {
    if (t.name == "balance") {
      return one_of(std::vector<std::string>{"cash < 100000", "remark IS NULL",
                                             "broker_account_id > 10", "strategy_status = 'x'"});
    }
    return one_of(std::vector<std::string>{"quantity > 1", "remark IS NOT NULL",
                                           "update_time > '2024-03-15 12:00:00'",
                                           "security_code <> 'ESM4'"});
  }

  void maybe_escapes(Step& s) { s.escapes = depth_ > 0 && chance(30); }

  Step insert() {
    TableSpec& t = table();
    Step s;
    s.op = Op::Insert;
    s.table = t.name;
    const bool drop_one = chance(6);
    const std::size_t dropped = pick(t.columns.size());
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnSpec& c = t.columns[i];
      if (drop_one && i == dropped) continue;
      if (!c.not_null && chance(50)) continue;
      Value v = value(c);
      remember(t.name, c.name, v);
      s.values.emplace_back(spelled(c.name), std::move(v));
    }
    if (chance(2)) s.values.emplace_back("nonexistent", std::int64_t{1});
    std::shuffle(s.values.begin(), s.values.end(), rng_);
    maybe_escapes(s);
    return s;
  }

  Step update() {
    TableSpec& t = table();
    Step s;
    s.op = Op::Update;
    s.table = t.name;
    const std::size_t count = 1 + pick(3);
    for (std::size_t i = 0; i < count; ++i) {
      const ColumnSpec& c = one_of(t.columns);
      Value v = value(c);
      remember(t.name, c.name, v);
      s.values.emplace_back(spelled(c.name), std::move(v));
    }
    s.conditions = conditions(t, 2);
    maybe_escapes(s);
    return s;
  }

  Step remove() {
    const TableSpec& t = table();
    Step s;
    s.op = Op::Delete;
    s.table = t.name;
    s.conditions = conditions(t, 2);
    if (s.conditions.empty() && !chance(20)) s.conditions = conditions(t, 1);
    return s;
  }

  Step select() {
    const TableSpec& t = table();
    Step s;
    s.op = Op::Select;
    s.table = t.name;
    const std::size_t shape = pick(10);
    if (shape >= 6 && shape < 9) {
      std::vector<std::string> columns;
      for (const auto& c : t.columns) {
        if (chance(30)) columns.push_back(spelled(c.name));
      }
      if (columns.empty()) columns.push_back(spelled(t.columns.front().name));
      s.columns = columns;
    } else if (shape == 9) {
      const bool has_quantity = t.name == "position" || t.name == "trading_order";
      s.columns = has_quantity
                      ? std::vector<std::string>{"count(*)", "sum(quantity)", "max(quantity)",
                                                 "min(update_time)", "1 = 1"}
                      : std::vector<std::string>{"count(*)", "sum(broker_account_id)", "max(cash)",
                                                 "max(update_time)"};
    }
    s.conditions = conditions(t, 2);
    return s;
  }

  Step execute() {
    struct Shape {
      const char* sql;
      const char* table;
      std::vector<ColumnSpec> parameters;
      bool inserts;
    };
    static const std::vector<Shape> shapes{
        {"UPDATE position SET remark = ? WHERE quantity > ?",
         "position",
         {T("remark", 300), I("quantity")},
         false},
        {"DELETE FROM position WHERE holding_price < ? -- the cheap ones? all of them",
         "position",
         {R("holding_price")},
         false},
        {"/* which ones? */ UPDATE balance SET strategy_status = ? WHERE cash >= ?",
         "balance",
         {T("strategy_status", 15), R("cash")},
         false},
        {"UPDATE balance SET remark = 'why?' WHERE broker_account_id = ?",
         "balance",
         {I("broker_account_id")},
         false},
        {"SELECT count(*) FROM trading_order WHERE status = ?",
         "trading_order",
         {T("status", 20)},
         false},
        {"INSERT INTO position (balance_id, security_name, security_code, direction, "
         "holding_price, quantity, update_time) VALUES (?, ?, ?, ?, ?, ?, ?)",
         "position",
         {I("balance_id"), T("security_name", 20), T("security_code", 20), T("direction", 20),
          R("holding_price"), I("quantity"), D("update_time")},
         true},
        {"INSERT INTO position (balance_id) VALUES (?)", "position", {I("balance_id")}, true},
    };
    const Shape& shape = one_of(shapes);
    Step s;
    s.op = Op::Execute;
    s.table = shape.table;
    s.sql = shape.sql;
    s.inserts = shape.inserts;
    std::vector<Value> parameters;
    for (const auto& c : shape.parameters) {
      // A caller's own statement takes values of its columns' kinds.
      Value v = chance(15) && c.kind == Kind::Text ? edge(c) : ordinary(c);
      if (std::holds_alternative<std::string>(v) || c.kind != Kind::Text) {
        parameters.push_back(std::move(v));
      } else {
        parameters.push_back(ordinary(c));
      }
    }
    s.parameters = std::move(parameters);
    maybe_escapes(s);
    return s;
  }

  std::mt19937_64 rng_;
  std::vector<TableSpec> tables_;
  std::map<std::string, std::vector<Value>> seen_;
  int depth_ = 0;
  int added_ = 0;
};

}  // namespace

Sequence generate(std::uint64_t seed) {
  return Generator(seed).sequence(seed);
}

// ---- Running -------------------------------------------------------------------

namespace {

struct PgClose {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgClear {
  void operator()(PGresult* r) const { PQclear(r); }
};

void admin(PGconn* connection, const std::string& sql) {
  const std::unique_ptr<PGresult, PgClear> result(PQexec(connection, sql.c_str()));
  const auto status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw std::runtime_error(sql + ": " + PQresultErrorMessage(result.get()));
  }
}

std::string with_database(const std::string& uri, const std::string& name) {
  return uri.substr(0, uri.rfind('/') + 1) + name;
}

enum class Backend { SQLite, PostgreSQL };
const char* name_of(Backend b) {
  return b == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// A scope held open between steps.
struct OpenScope {
  explicit OpenScope(DB& db) : scope(db.transaction()) {}
  DB::Transaction scope;
};

struct Unwind {};

struct Side {
  Backend backend;
  std::unique_ptr<DB> db;
  std::unique_ptr<DB> other;
  std::deque<OpenScope> scopes;
  std::optional<std::int64_t> last_id;
};

struct Outcome {
  bool ok = true;
  std::string kind;
  std::string message;
  std::optional<zf::Table> rows;
};

std::string error_kind(const zdb::DatabaseError& e) {
  return "DatabaseError(code " + std::to_string(e.code() & 0xff) + ")";
}

Outcome attempt(const std::function<void()>& call) {
  Outcome out;
  try {
    call();
  } catch (const zdb::DatabaseError& e) {
    out = {false, error_kind(e), e.what(), std::nullopt};
  } catch (const zf::ValueError& e) {
    out = {false, "ValueError", e.what(), std::nullopt};
  } catch (const zf::TypeError& e) {
    out = {false, "TypeError", e.what(), std::nullopt};
  } catch (const zf::AssertionError& e) {
    out = {false, "AssertionError", e.what(), std::nullopt};
  } catch (const std::exception& e) {
    out = {false, "unexpected exception", e.what(), std::nullopt};
  }
  return out;
}

std::string shown(const Outcome& o) {
  if (o.ok) return o.rows ? "ok, " + std::to_string(o.rows->rows()) + " rows" : "ok";
  return o.kind + ": " + o.message;
}

// A table's rows as comparable texts: the header of names and kinds, then
// each row's cells, sorted; the id column left out.
struct Rows {
  std::string header;
  std::vector<std::string> rows;
};

std::string cell_text(const zf::Column& column, std::size_t r) {
  if (column.missing(r)) return "NULL";
  switch (column.kind()) {
    case zf::ColumnKind::Integer:
      return std::to_string(column.integers()[r]);
    case zf::ColumnKind::Number: {
      const double v = column.numbers()[r];
      return (std::signbit(v) && v == 0) ? "-0.0" : zf::format_number(v);
    }
    case zf::ColumnKind::Text:
      return shown_text(std::string(column.text_at(r)));
    case zf::ColumnKind::DateTime:
      return zf::format_datetime(column.datetimes()[r]);
  }
  return "?";
}

const char* kind_name(zf::ColumnKind kind) {
  switch (kind) {
    case zf::ColumnKind::Integer:
      return "integer";
    case zf::ColumnKind::Number:
      return "number";
    case zf::ColumnKind::Text:
      return "text";
    case zf::ColumnKind::DateTime:
      return "date-time";
  }
  return "?";
}

Rows rows_of(const zf::Table& table) {
  Rows out;
  std::vector<const zf::Column*> columns;
  for (const auto& column : table.column_list()) {
    if (column.name() == "id") continue;
    columns.push_back(&column);
    out.header += column.name() + ":" + kind_name(column.kind()) + " ";
  }
  for (std::size_t r = 0; r < table.rows(); ++r) {
    std::string row;
    for (const auto* column : columns) row += cell_text(*column, r) + " | ";
    out.rows.push_back(std::move(row));
  }
  std::sort(out.rows.begin(), out.rows.end());
  return out;
}

// Empty when the two tables hold the same rows; else what differs.
std::string compare(const zf::Table& sqlite, const zf::Table& server) {
  const Rows a = rows_of(sqlite);
  const Rows b = rows_of(server);
  if (a.header != b.header)
    return "columns differ:\n  SQLite     " + a.header + "\n  PostgreSQL " + b.header;
  if (a.rows == b.rows) return {};
  std::string out = "rows differ (" + std::to_string(a.rows.size()) + " on SQLite, " +
                    std::to_string(b.rows.size()) + " on PostgreSQL); columns " + a.header;
  std::vector<std::string> only_a;
  std::vector<std::string> only_b;
  std::set_difference(a.rows.begin(), a.rows.end(), b.rows.begin(), b.rows.end(),
                      std::back_inserter(only_a));
  std::set_difference(b.rows.begin(), b.rows.end(), a.rows.begin(), a.rows.end(),
                      std::back_inserter(only_b));
  for (std::size_t i = 0; i < std::min<std::size_t>(only_a.size(), 3); ++i) {
    out += "\n  only on SQLite:     " + only_a[i];
  }
  for (std::size_t i = 0; i < std::min<std::size_t>(only_b.size(), 3); ++i) {
    out += "\n  only on PostgreSQL: " + only_b[i];
  }
  return out;
}

// SQLite refused a selection the server answered, as documented.
bool documented_sqlite_refusal(const Step& step, const Outcome& refused) {
  return step.op == Op::Select && refused.message == "integer overflow";
}

bool documented_refusal(const Outcome& refused) {
  return refused.kind == "DatabaseError(code 18)" &&
         refused.message.starts_with("value too long for ");
}

const std::vector<std::string> kTables{"balance", "position", "trading_order", "trading_deal"};

}  // namespace

struct Runner::State {
  std::string server;
  std::string database;
  std::string uri;
  std::string sequence_uri;
  std::vector<std::string> schemas;
  int next_schema = 0;
  std::unique_ptr<PGconn, PgClose> admin;
  fs::path sqlite_dir;
  Side sqlite{Backend::SQLite, {}, {}, {}, {}};
  Side server_side{Backend::PostgreSQL, {}, {}, {}, {}};

  void reset() {
    for (Side* side : {&sqlite, &server_side}) {
      while (!side->scopes.empty()) {
        try {
          side->scopes.back().scope.rollback();
        } catch (const std::exception&) {
        }
        side->scopes.pop_back();
      }
      side->db.reset();
      side->other.reset();
      side->last_id.reset();
    }
    for (const char* file : {"zantrix.db", "zantrix.db-wal", "zantrix.db-shm"}) {
      fs::remove(sqlite_dir / file);
    }
    // Each sequence's tables live in a schema of their own: making one is
    // cheap, where dropping tables makes the server sync its disk. Old
    // schemas go in batches.
    if (schemas.size() >= 200) {
      std::string drop = "DROP SCHEMA ";
      for (std::size_t i = 0; i < schemas.size(); ++i) drop += (i != 0 ? ", " : "") + schemas[i];
      admin_sql(drop + " CASCADE");
      schemas.clear();
    }
    schemas.push_back("sequence_" + std::to_string(next_schema++));
    admin_sql("CREATE SCHEMA " + schemas.back());
    sequence_uri = uri + "?options=-csearch_path%3D" + schemas.back();
    sqlite.db = open(Backend::SQLite);
    server_side.db = open(Backend::PostgreSQL);
  }

  void admin_sql(const std::string& sql) {
    if (PQstatus(admin.get()) != CONNECTION_OK) PQreset(admin.get());
    differential::admin(admin.get(), sql);
  }

  std::unique_ptr<DB> open(Backend backend) const {
    if (backend == Backend::SQLite) {
      zf::zantrix_config().set_DB({{"sqlite3", sqlite_dir.string()}});
    } else {
      zf::zantrix_config().set_DB({{"postgresql", sequence_uri}});
    }
    return std::make_unique<DB>();
  }

  // Runs one statement step on one side.
  Outcome statement(Side& side, const Step& step) {
    DB& db = *side.db;
    Outcome out = attempt([&] {
      switch (step.op) {
        case Op::Insert:
          db.insert_records(step.table, step.values);
          break;
        case Op::Update:
          db.update_records(step.table, step.values, step.conditions);
          break;
        case Op::Delete:
          db.delete_records(step.table, step.conditions);
          break;
        case Op::Select:
          break;
        case Op::Execute:
          db.execute(side.backend == Backend::PostgreSQL && !step.sql_server.empty()
                         ? step.sql_server
                         : step.sql,
                     step.parameters);
          break;
        default:
          break;
      }
    });
    if (step.op == Op::Select) {
      std::optional<zf::Table> rows;
      out = attempt([&] { rows = db.select_records(step.table, step.columns, step.conditions); });
      out.rows = std::move(rows);
    }
    return out;
  }

  // The innermost scope of `side` ended by an exception passing through it.
  static Outcome end_by_exception(Side& side) {
    return attempt([&] {
      try {
        struct Pop {
          std::deque<OpenScope>& scopes;
          ~Pop() { scopes.pop_back(); }
        } pop{side.scopes};
        throw Unwind{};
      } catch (const Unwind&) {
      }
    });
  }

  static Outcome end_scope(Side& side, End end) {
    if (end == End::Exception) return end_by_exception(side);
    Outcome out = attempt([&] {
      if (end == End::Commit) {
        side.scopes.back().scope.commit();
      } else {
        side.scopes.back().scope.rollback();
      }
    });
    side.scopes.pop_back();
    return out;
  }

  std::optional<std::string> table_difference(const std::string& table) {
    std::optional<zf::Table> a;
    std::optional<zf::Table> b;
    const Outcome oa = attempt([&] { a = sqlite.db->select_records(table); });
    const Outcome ob = attempt([&] { b = server_side.db->select_records(table); });
    if (!oa.ok || !ob.ok) {
      if (!oa.ok && !ob.ok && oa.kind == ob.kind) return std::nullopt;
      return "select_records(" + table + ") after the step: SQLite " + shown(oa) + "; PostgreSQL " +
             shown(ob);
    }
    const std::string differs = compare(*a, *b);
    if (differs.empty()) return std::nullopt;
    return "table " + table + " after the step: " + differs;
  }

  // Makes `to` hold the rows `from` holds in `table`, through its store.
  std::optional<std::string> copy_rows(Side& from, Side& to, const std::string& table) {
    std::optional<zf::Table> rows;
    Outcome o = attempt([&] {
      rows = from.db->select_records(table);
      to.db->delete_records(table);
      for (std::size_t r = 0; r < rows->rows(); ++r) {
        NamedValues values;
        for (const auto& column : rows->column_list()) {
          if (column.name() == "id" || column.missing(r)) continue;
          switch (column.kind()) {
            case zf::ColumnKind::Integer:
              values.emplace_back(column.name(), column.integers()[r]);
              break;
            case zf::ColumnKind::Number:
              values.emplace_back(column.name(), column.numbers()[r]);
              break;
            default:
              values.emplace_back(column.name(), std::string(column.text_at(r)));
          }
        }
        to.db->insert_records(table, values);
        to.last_id = to.db->last_insert_id();
      }
    });
    if (o.ok) return std::nullopt;
    return "the rows of " + table + " could not be copied from " + name_of(from.backend) + " to " +
           name_of(to.backend) + ": " + shown(o);
  }

  // `last_insert_id` after an insert step on one side: the new row's id,
  // or, after a failure, the id of the latest successful insert.
  std::optional<std::string> check_last_id(Side& side, const Step& step, const Outcome& o) {
    std::int64_t id = 0;
    const Outcome got = attempt([&] { id = side.db->last_insert_id(); });
    const std::string where = std::string(name_of(side.backend)) + ": last_insert_id() ";
    if (o.ok) {
      if (!got.ok) return where + "after a successful insert failed: " + shown(got);
      if (step.op == Op::Insert || step.op == Op::Execute) {
        std::size_t found = 0;
        const Outcome sought = attempt([&] {
          found = side.db->select_records(step.table, std::vector<std::string>{"id"}, {{"id", id}})
                      .rows();
        });
        if (!sought.ok || found != 1) {
          return where + "gave " + std::to_string(id) + ", which names no row of " + step.table;
        }
      }
      side.last_id = id;
      return std::nullopt;
    }
    if (!side.last_id) return std::nullopt;
    if (!got.ok) return where + "after a failed insert failed: " + shown(got);
    if (id != *side.last_id) {
      return where + "after a failed insert gave " + std::to_string(id) +
             ", where the latest successful insert gave " + std::to_string(*side.last_id);
    }
    return std::nullopt;
  }

  std::optional<std::string> step(const Step& step) {
    switch (step.op) {
      case Op::Open: {
        if (sqlite.scopes.size() >= 3) return std::nullopt;
        const Outcome a = attempt([&] { sqlite.scopes.emplace_back(*sqlite.db); });
        const Outcome b = attempt([&] { server_side.scopes.emplace_back(*server_side.db); });
        if (a.ok != b.ok || a.kind != b.kind) {
          return "opening a scope: SQLite " + shown(a) + "; PostgreSQL " + shown(b);
        }
        return std::nullopt;
      }
      case Op::Close: {
        if (sqlite.scopes.empty()) return std::nullopt;
        const Outcome a = end_scope(sqlite, step.end);
        const Outcome b = end_scope(server_side, step.end);
        if (a.ok != b.ok || a.kind != b.kind) {
          return "ending a scope: SQLite " + shown(a) + "; PostgreSQL " + shown(b);
        }
        return all_tables();
      }
      case Op::AddColumn: {
        if (!sqlite.scopes.empty()) return std::nullopt;
        Outcome a;
        Outcome b;
        a = attempt([&] {
          if (!sqlite.other) sqlite.other = open(Backend::SQLite);
          sqlite.other->execute(step.sql);
        });
        b = attempt([&] {
          if (!server_side.other) server_side.other = open(Backend::PostgreSQL);
          server_side.other->execute(step.sql_server);
        });
        if (a.ok != b.ok || a.kind != b.kind) {
          return "adding a column: SQLite " + shown(a) + "; PostgreSQL " + shown(b);
        }
        return std::nullopt;
      }
      default:
        break;
    }
    const Outcome a = statement(sqlite, step);
    const Outcome b = statement(server_side, step);
    const bool inserts = step.op == Op::Insert || step.inserts;
    if (a.ok && b.ok) {
      if (a.rows && b.rows) {
        const std::string differs = compare(*a.rows, *b.rows);
        if (!differs.empty()) return "the selection's result: " + differs;
      }
    } else if (!a.ok && !b.ok) {
      if (a.kind != b.kind && !documented_refusal(b)) {
        return "both refused, with different kinds of error: SQLite " + shown(a) + "; PostgreSQL " +
               shown(b);
      }
    } else if (b.ok && documented_sqlite_refusal(step, a)) {
      return std::nullopt;
    } else if (a.ok && documented_refusal(b)) {
      // The server refused what SQLite stored: SQLite is brought back to the
      // server's rows (or its scope ended as the server's did).
      if (step.escapes && !sqlite.scopes.empty()) {
        end_by_exception(sqlite);
      } else if (auto failed = copy_rows(server_side, sqlite, step.table)) {
        return failed;
      }
      if (!server_side.scopes.empty() && step.escapes) end_by_exception(server_side);
      // SQLite's row was stored (then undone by the harness): its id is the
      // latest.
      if (inserts) attempt([&] { sqlite.last_id = sqlite.db->last_insert_id(); });
      return all_tables();
    } else {
      return "one back end refused: SQLite " + shown(a) + "; PostgreSQL " + shown(b);
    }
    if (inserts) {
      for (auto [side, outcome] : {std::pair{&sqlite, &a}, std::pair{&server_side, &b}}) {
        if (auto wrong = check_last_id(*side, step, *outcome)) return wrong;
      }
    }
    if (step.escapes) {
      for (auto [side, outcome] : {std::pair{&sqlite, &a}, std::pair{&server_side, &b}}) {
        if (!outcome->ok && !side->scopes.empty()) end_by_exception(*side);
      }
      if (!a.ok) return all_tables();
    }
    if (step.op == Op::Select) return std::nullopt;
    return table_difference(step.table);
  }

  std::optional<std::string> all_tables() {
    for (const auto& table : kTables) {
      if (auto differs = table_difference(table)) return differs;
    }
    return std::nullopt;
  }

  std::optional<std::string> run(const Sequence& sequence) {
    reset();
    for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
      if (auto differs = step(*sequence.steps[i])) {
        return "step " + std::to_string(i + 1) + ", " + describe(*sequence.steps[i]) + ":\n" +
               *differs;
      }
    }
    while (!sqlite.scopes.empty()) {
      const Outcome a = end_scope(sqlite, End::Commit);
      const Outcome b = end_scope(server_side, End::Commit);
      if (a.ok != b.ok || a.kind != b.kind) {
        return "ending a scope left open at the end: SQLite " + shown(a) + "; PostgreSQL " +
               shown(b);
      }
    }
    if (auto differs = all_tables()) return "at the end, every scope committed:\n" + *differs;
    return std::nullopt;
  }
};

Runner::Runner(const std::string& server_uri) : state_(std::make_unique<State>()) {
  state_->server = server_uri;
  state_->database = "zantrix_differential_" + std::to_string(getpid());
  state_->admin.reset(PQconnectdb(server_uri.c_str()));
  if (PQstatus(state_->admin.get()) != CONNECTION_OK) {
    throw std::runtime_error("cannot reach the server of the tests: " +
                             std::string(PQerrorMessage(state_->admin.get())));
  }
  PQsetNoticeProcessor(
      state_->admin.get(), [](void*, const char*) {}, nullptr);
  admin(state_->admin.get(), "DROP DATABASE IF EXISTS " + state_->database);
  admin(state_->admin.get(), "CREATE DATABASE " + state_->database);
  // Commits need not wait for the disk: what is compared is what the
  // sessions see, never what survives a crash.
  admin(state_->admin.get(),
        "ALTER DATABASE " + state_->database + " SET synchronous_commit = off");
  state_->uri = with_database(server_uri, state_->database);
  state_->admin.reset(PQconnectdb(state_->uri.c_str()));
  PQsetNoticeProcessor(
      state_->admin.get(), [](void*, const char*) {}, nullptr);
  const fs::path memory("/dev/shm");
  const fs::path root = access(memory.c_str(), W_OK) == 0 ? memory : fs::temp_directory_path();
  state_->sqlite_dir = root / ("zantrix_differential_" + std::to_string(getpid()));
  fs::create_directories(state_->sqlite_dir);
}

Runner::~Runner() {
  try {
    state_->reset();
    state_->sqlite.db.reset();
    state_->server_side.db.reset();
    state_->admin.reset(PQconnectdb(state_->server.c_str()));
    PQsetNoticeProcessor(
        state_->admin.get(), [](void*, const char*) {}, nullptr);
    admin(state_->admin.get(), "DROP DATABASE IF EXISTS " + state_->database + " WITH (FORCE)");
  } catch (const std::exception&) {
    // The database is left behind; the server is the tests' own.
  }
  std::error_code ignored;
  fs::remove_all(state_->sqlite_dir, ignored);
}

std::optional<std::string> Runner::run(const Sequence& sequence) {
  return state_->run(sequence);
}

Sequence Runner::shrink(const Sequence& sequence) {
  Sequence best = sequence;
  for (bool dropped = true; dropped;) {
    dropped = false;
    for (std::size_t i = best.steps.size(); i-- > 0;) {
      Sequence shorter = best;
      shorter.steps.erase(shorter.steps.begin() + static_cast<std::ptrdiff_t>(i));
      if (run(shorter)) {
        best = std::move(shorter);
        dropped = true;
      }
    }
  }
  return best;
}

std::string failure_report(std::uint64_t seed, const std::string& difference,
                           const Sequence& shortest) {
  std::ostringstream out;
  out << "seed " << seed << ": " << difference << "\nshortest sequence that shows it ("
      << shortest.steps.size() << " steps):\n";
  for (std::size_t i = 0; i < shortest.steps.size(); ++i) {
    out << "  " << i + 1 << ". " << describe(*shortest.steps[i]) << "\n";
  }
  out << "replay: " << replay_command(seed);
  return out.str();
}

std::string replay_command(std::uint64_t seed) {
  return "make soak-store SEQUENCES=1 SEED=" + std::to_string(seed);
}

std::optional<std::string> server_uri_from_environment() {
  const char* file = std::getenv("ZANTRIX_TEST_POSTGRES_URI_FILE");
  if (file == nullptr) return std::nullopt;
  std::ifstream in(file);
  std::string uri;
  if (!std::getline(in, uri) || uri.empty()) return std::nullopt;
  return uri;
}

}  // namespace zantrix_test::differential
