// A store whose PostgreSQL server stops and starts again while it is in use:
// reads recover, and a write cut off in flight says that its outcome is
// unknown instead of being run again. The server is a private one of this
// test, since stopping the shared one would fail the other tests.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/plugins/sqlite3/store_folder.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/sqlite3/connection.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace {

using namespace zantrix_test;
using zdb::DB;

class RestartedServer : public StoreFolder {
 protected:
  void SetUp() override {
    if (!test_server_uri()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    std::string pattern = (fs::temp_directory_path() / "zantrix_server_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    server_dir_ = pattern;
    ASSERT_EQ(server("start"), 0);
    std::ifstream in(server_dir_ / "uri");
    ASSERT_TRUE(std::getline(in, uri_));
    zf::zantrix_config().set_DB({{"postgresql", uri_}});
  }

  void TearDown() override {
    if (!server_dir_.empty()) server("stop");
  }

  int server(const std::string& command) const {
    const std::string line = std::string(ZANTRIX_POSTGRES_SERVER) + " " + command + " '" +
                             server_dir_.string() + "' >/dev/null";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Whether the server runs a statement holding `text` for another session.
  bool running(const std::string& text) const {
    const Rows rows = pg_rows(uri_,
                              "SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND "
                              "query LIKE '%" +
                                  text + "%' AND pid <> pg_backend_pid()");
    return !rows.empty() && rows[0][0] != "0";
  }

  // The server's processes stopped (SIGSTOP) for the guard's life, as a
  // server whose machine or network stops answering; continued at its end.
  // The server first, so that it starts no process meanwhile, then each of
  // its processes (each leads a process group of its own).
  class Stopped {
   public:
    explicit Stopped(const fs::path& dir) {
      pid_t server = 0;
      std::ifstream(dir / "data" / "postmaster.pid") >> server;
      if (server <= 0 || kill(server, SIGSTOP) != 0) return;
      stopped_.push_back(server);
      for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the command may hold blanks, not ')'.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        const pid_t pid = std::stoi(name);
        if (parent == server && kill(pid, SIGSTOP) == 0) stopped_.push_back(pid);
      }
    }
    ~Stopped() {
      for (const pid_t pid : stopped_) kill(pid, SIGCONT);
    }
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;
    bool stopped() const { return stopped_.size() > 1; }

   private:
    std::vector<pid_t> stopped_;
  };

  fs::path server_dir_;
  std::string uri_;
};

// A server that stops answering fails the call that waits on it once its
// deadline passes (a second past statement_timeout), and the making of a new
// connection at connect_timeout; once it answers again the store works on.
TEST_F(RestartedServer, AStoppedServerFailsTheCallAtItsDeadlineAndTheStoreWorksOnAfter) {
  zf::zantrix_config().set_DB({{"postgresql", uri_ + "?statement_timeout=1&connect_timeout=1"}});
  DB db;
  db.insert_records("balance", balance_row(1));
  {
    const Stopped stopped(server_dir_);
    ASSERT_TRUE(stopped.stopped());
    EXPECT_TRUE(error_of<zdb::DatabaseError>([&] { db.select_records("balance"); })
                    .starts_with("The database server did not answer in time (statement_timeout 1 "
                                 "s): the connection was dropped"));
    EXPECT_THROW(db.insert_records("balance", balance_row(2)), zdb::DatabaseError);
  }
  db.insert_records("balance", balance_row(3));
  EXPECT_EQ(db.select_records("balance").rows(), 2u);
}

// The caller's session settings hold on the connection made after a restart:
// an insert after `SET search_path` goes where it went before.
TEST_F(RestartedServer, SessionSettingsAreMadeAgainOnANewConnection) {
  DB db;
  db.execute("CREATE SCHEMA engine1");
  db.execute("SET search_path TO engine1");
  db.create_balance_table();
  ASSERT_EQ(server("down"), 0);
  ASSERT_EQ(server("up"), 0);
  db.insert_records("balance", balance_row(1));
  EXPECT_EQ(pg_rows(uri_, "SELECT count(*) FROM engine1.balance")[0][0], "1");
  EXPECT_EQ(pg_rows(uri_, "SELECT count(*) FROM public.balance")[0][0], "0");
}

TEST_F(RestartedServer, ReadsRecoverAndAnInterruptedWriteSaysItsOutcomeIsUnknown) {
  DB db;
  db.insert_records("balance", balance_row(1));

  std::string write_error = "no error";
  std::thread writer([&] {
    try {
      db.execute("UPDATE balance SET remark = 'late' WHERE id IN (SELECT 1 FROM pg_sleep(60))");
    } catch (const zdb::DatabaseError& e) {
      write_error = e.what();
    }
  });
  for (int i = 0; i < 200 && !running("pg_sleep(60)"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(server("down"), 0);
  writer.join();
  EXPECT_TRUE(
      write_error.starts_with("The connection to the database server was lost while the "
                              "statement ran; whether it took effect is unknown"))
      << write_error;

  // While the server is down, calls fail at once with the connection's error.
  EXPECT_THROW(db.select_records("balance"), zdb::DatabaseError);
  ASSERT_EQ(server("up"), 0);
  const zf::Table rows = db.select_records("balance");
  ASSERT_EQ(rows.rows(), 1u);
  EXPECT_TRUE(rows.column("remark").missing(0));

  // A restart between two calls is not seen by the next ones, writes included.
  ASSERT_EQ(server("down"), 0);
  ASSERT_EQ(server("up"), 0);
  db.insert_records("balance", balance_row(2));
  EXPECT_EQ(db.select_records("balance").rows(), 2u);
  EXPECT_EQ(db.last_insert_id(), 2);

  // A scope whose server restarted before it ended stored nothing, and says
  // so however it ends; the store works on afterwards.
  const std::string lost =
      "The connection to the database server was lost during the transaction; none of its "
      "statements was stored.";
  for (const bool with_statement_after_restart : {false, true}) {
    std::string error = "no error";
    try {
      auto scope = db.transaction();
      db.insert_records("balance", balance_row(3));
      ASSERT_EQ(server("down"), 0);
      ASSERT_EQ(server("up"), 0);
      if (with_statement_after_restart) {
        EXPECT_EQ(error_of<zdb::DatabaseError>(
                      [&] { db.insert_records("balance", balance_row(4)); }),
                  lost);
      }
    } catch (const zdb::DatabaseError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, lost) << with_statement_after_restart;
    EXPECT_EQ(db.select_records("balance").rows(), 2u) << with_statement_after_restart;
  }
  db.insert_records("balance", balance_row(5));
  EXPECT_EQ(db.select_records("balance").rows(), 3u);
}

}  // namespace

namespace {

using ServerKinds = EitherStore;
INSTANTIATE_TEST_SUITE_P(Store, ServerKinds, testing::Values(Backend::PostgreSQL), backend_name);

// Each type a selection may meet on the server comes back as the column kind
// and value its text form gives, also at the edges (before 2000, fractions of
// a second, NaN, large and negative numerics); a column of a type read only
// as text makes the whole selection come as text, with the same values.
TEST_P(ServerKinds, EveryTypeReadsAsItsText) {
  const struct {
    const char* type;
    const char* literal;
    const char* text;  // the cell as text; a number's shortest text
  } cases[] = {
      {"smallint", "-7", "-7"},
      {"integer", "2147483647", "2147483647"},
      {"bigint", "-9223372036854775808", "-9223372036854775808"},
      {"real", "0.1", "0.1"},
      {"double precision", "-1e-300", "-1e-300"},
      {"numeric", "-12345678.000912", "-12345678.000912"},
      {"numeric", "0.00001", "1e-05"},
      {"numeric", "'NaN'", "nan"},
      {"boolean", "true", "1"},
      {"text", "'a \"b\" ''c'''", "a \"b\" 'c'"},
      {"char(3)", "'x'", "x  "},
      {"date", "'1999-12-31'", "1999-12-31"},
      {"timestamp", "'1969-07-20 20:17:40.5'", "1969-07-20 20:17:40.5"},
      {"timestamp", "'2024-03-15 09:30:05'", "2024-03-15 09:30:05"},
      {"timestamp", "'2024-03-15 23:59:59.000001'", "2024-03-15 23:59:59.000001"},
      {"timestamp", "'12345-01-01 00:00:00'", "12345-01-01 00:00:00"},
      {"timestamp", "'0001-01-01 00:00:00 BC'", "0001-01-01 00:00:00 BC"},
      {"date", "'0044-03-15 BC'", "0044-03-15 BC"},
      {"numeric", "42", "42"},
      {"numeric", "-1e400", "-inf"},
      {"numeric", "1e-400", "0"},
  };
  DB db;
  for (const bool with_text_only_column : {false, true}) {
    for (const auto& c : cases) {
      db.execute("DROP TABLE IF EXISTS kinds");
      db.execute(std::string("CREATE TABLE kinds (v ") + c.type + ", w interval)");
      db.execute(std::string("INSERT INTO kinds VALUES (") + c.literal + ", '1 day')");
      const zf::Table found = with_text_only_column
                                  ? db.select_records("kinds")
                                  : db.select_records("kinds", std::vector<std::string>{"v"});
      const zf::Column& v = found.column("v");
      std::string text;
      if (v.kind() == zf::ColumnKind::Integer) text = std::to_string(v.integers()[0]);
      if (v.kind() == zf::ColumnKind::Number) text = zf::format_number(v.numbers()[0]);
      if (v.kind() == zf::ColumnKind::Text) text = v.texts()[0];
      if (text.ends_with(".0")) text.resize(text.size() - 2);
      EXPECT_EQ(text, c.text) << c.type << " " << c.literal << " " << with_text_only_column;
    }
  }
}

// The server-wide lock under which the schema's tables are made is held by
// the connection made after the server ended the one that took it.
TEST_P(ServerKinds, TheSchemaLockIsTakenAgainAfterAReconnect) {
  const std::string& uri = database_->uri();
  const std::string held =
      "SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid WHERE "
      "l.locktype = 'advisory' AND l.granted AND a.datname = current_database()";
  const auto connection = zdb::detail::open_postgres(uri);
  connection->lock_schema();
  ASSERT_EQ(pg_rows(uri, held)[0][0], "1");
  pg_rows(uri,
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
          "current_database() AND pid <> pg_backend_pid()");
  for (int i = 0; i < 100 && pg_rows(uri, held)[0][0] != "0"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  connection->run(zdb::detail::Statement::plain("SELECT 1"), {.rows = true});
  EXPECT_EQ(pg_rows(uri, held)[0][0], "1");
  connection->unlock_schema();
  EXPECT_EQ(pg_rows(uri, held)[0][0], "0");
}

}  // namespace
