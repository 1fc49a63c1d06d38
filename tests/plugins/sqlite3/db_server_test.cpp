// A store whose PostgreSQL server stops and starts again while it is in use:
// reads recover, and a write cut off in flight says that its outcome is
// unknown instead of being run again. The server is a private one of this
// test, since stopping the shared one would fail the other tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/plugins/sqlite3/store_folder.h"
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
                              "query LIKE '%" + text + "%' AND pid <> pg_backend_pid()");
    return !rows.empty() && rows[0][0] != "0";
  }

  fs::path server_dir_;
  std::string uri_;
};

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
  EXPECT_TRUE(write_error.starts_with("The connection to the database server was lost while the "
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
}

}  // namespace
