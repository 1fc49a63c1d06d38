// Transaction scopes: what is stored when a scope ends each way, nesting,
// other threads meanwhile, and a process killed inside a scope.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "tests/plugins/sqlite3/store_folder.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace {

using namespace zantrix_test;
using zdb::DB;

using Scope = EitherStore;
ZANTRIX_ON_EITHER_STORE(Scope);

// Each case inserts rows 1.. through the store, some inside scopes, and says
// which account ids the file holds afterwards.
TEST_P(Scope, KeepsOrDiscardsItsStatementsAsItEnds) {
  const struct {
    const char* name;
    std::function<void(DB&)> run;
    const char* stored;
  } cases[] = {
      {"ends normally",
       [](DB& db) {
         auto scope = db.transaction();
         db.insert_records("balance", balance_row(1));
         db.insert_records("balance", balance_row(2));
       },
       "1,2"},
      {"ends by an exception",
       [](DB& db) {
         try {
           auto scope = db.transaction();
           db.insert_records("balance", balance_row(1));
           throw std::runtime_error("strategy failed");
         } catch (const std::runtime_error&) {
         }
         db.insert_records("balance", balance_row(2));
       },
       "2"},
      {"rolled back, then outside calls commit as before",
       [](DB& db) {
         auto scope = db.transaction();
         db.insert_records("balance", balance_row(1));
         db.commit();  // the scope commits, not this
         scope.rollback();
         db.insert_records("balance", balance_row(2));
       },
       "2"},
      {"an inner scope joins the outer one, and its rollback undoes only itself",
       [](DB& db) {
         auto outer = db.transaction();
         db.insert_records("balance", balance_row(1));
         {
           auto inner = db.transaction();
           db.insert_records("balance", balance_row(2));
         }
         {
           auto inner = db.transaction();
           db.insert_records("balance", balance_row(3));
           inner.rollback();
         }
         db.insert_records("balance", balance_row(4));
       },
       "1,2,4"},
      {"the outer scope's rollback discards what inner scopes kept",
       [](DB& db) {
         auto outer = db.transaction();
         {
           auto inner = db.transaction();
           db.insert_records("balance", balance_row(1));
         }
         outer.rollback();
       },
       ""},
  };
  for (const auto& c : cases) {
    {
      DB db;
      db.delete_records("balance");
      c.run(db);
    }
    std::string stored;
    for (const auto& row : raw("SELECT broker_account_id FROM balance ORDER BY id")) {
      stored += (stored.empty() ? "" : ",") + row.at(0).value_or("");
    }
    EXPECT_EQ(stored, c.stored) << c.name;
  }

  DB db;
  db.close();
  EXPECT_EQ(error_of<zdb::DatabaseError>([&] { db.transaction(); }),
            "Cannot operate on a closed database.");
}

// A scope holds the store's lock: another thread's statement waits for it to
// end, and both threads' rows are stored.
TEST_P(Scope, AnotherThreadsStatementWaitsForTheScope) {
  DB db;
  std::atomic<bool> other_done = false;
  std::thread other;
  {
    auto scope = db.transaction();
    db.insert_records("balance", balance_row(1));
    other = std::thread([&] {
      db.insert_records("balance", balance_row(2));
      other_done = true;
    });
    for (int i = 0; i < 50 && !other_done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(other_done);
    db.insert_records("balance", balance_row(3));
  }
  other.join();
  EXPECT_EQ(count("balance"), 3);
}

// A process killed inside a scope stores nothing of it; what it committed
// before stays, and the file is sound.
TEST_P(Scope, AProcessKilledInsideAScopeStoresNothingOfIt) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    try {
      DB db;
      for (std::int64_t i = 0; i < 10; ++i) db.insert_records("balance", balance_row(i));
      auto scope = db.transaction();
      for (std::int64_t i = 100;; ++i) {
        db.insert_records("balance", balance_row(i));
        if (i == 300 && write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(2);
      }
    } catch (...) {
      _exit(3);
    }
  }
  close(pipe_fds[1]);
  std::int64_t reached = 0;
  ASSERT_EQ(read(pipe_fds[0], &reached, sizeof reached), static_cast<ssize_t>(sizeof reached));
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(pipe_fds[0]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;
  if (on_sqlite()) {
    EXPECT_EQ(raw_value("PRAGMA integrity_check"), "ok");
  }
  EXPECT_EQ(raw_value("SELECT count(*) FROM balance WHERE broker_account_id < 10"), "10");
  EXPECT_EQ(raw_value("SELECT count(*) FROM balance WHERE broker_account_id >= 100"), "0");
}

}  // namespace
