// The zantrix program's demo interrupted with SIGINT part-way: it ends
// cleanly with status 130, and every fill the market reported is in the store.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/apps/demo/sample_market.h"

namespace zantrix::app::demo::test {
namespace {

using namespace std::chrono_literals;

// One number a query gives on the store, or -1 while it cannot be read.
long query_number(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  long value = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return value;
}

std::string text_of(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(DemoProgram, CtrlCStopsTheSessionWithEveryReportedFillInTheStore) {
  const fs::path root = fs::temp_directory_path() / "zantrix_demo_program";
  fs::remove_all(root);
  const fs::path config = write_sample_market(root, 8);
  const fs::path out = root / "out.txt";
  const fs::path store = root / "db" / "zantrix.db";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::execl(ZANTRIX_PROGRAM, ZANTRIX_PROGRAM, "--config", config.c_str(), "demo", nullptr);
    ::_exit(127);
  }
  // Interrupt once the session has traded a little.
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (query_number(store, "SELECT COUNT(*) FROM trading_deal") < 3 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const std::string printed = text_of(out);
  EXPECT_EQ(WEXITSTATUS(status), 130) << printed;
  EXPECT_NE(printed.find("Interrupted"), std::string::npos) << printed;

  const std::string key = "fills reported by the market: ";
  const auto at = printed.find(key);
  ASSERT_NE(at, std::string::npos) << printed;
  const long reported = std::stol(printed.substr(at + key.size()));
  EXPECT_EQ(query_number(store, "SELECT COUNT(*) FROM trading_deal"), reported);
  // Every deal points to its order, and every order's filled quantity is the
  // sum of its deals.
  EXPECT_EQ(query_number(store,
                         "SELECT COUNT(*) FROM trading_deal d JOIN trading_order o "
                         "ON o.id = d.order_id AND o.broker_order_id = d.broker_order_id"),
            reported);
  EXPECT_EQ(query_number(store,
                         "SELECT COUNT(*) FROM trading_order o WHERE o.filled_quantity != "
                         "(SELECT COALESCE(SUM(filled_quantity), 0) FROM trading_deal d "
                         "WHERE d.order_id = o.id)"),
            0);
  EXPECT_EQ(query_number(store,
                         "SELECT COUNT(*) FROM balance WHERE strategy_status = 'Interrupted'"),
            1);
  EXPECT_EQ(query_number(store, "SELECT COUNT(*) FROM pragma_integrity_check WHERE "
                                "integrity_check = 'ok'"),
            1);
  fs::remove_all(root);
}

}  // namespace
}  // namespace zantrix::app::demo::test
