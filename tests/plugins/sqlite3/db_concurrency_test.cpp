// Many threads on two stores of one file or database, several processes
// writing at once, and a writer killed mid-stream.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "tests/plugins/sqlite3/store_folder.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace {

using namespace zantrix_test;
using zdb::DB;

using Sharing = EitherStore;
ZANTRIX_ON_EITHER_STORE(Sharing);

// Every insert is committed with a sync, so the counts stay modest. A ninth
// thread calls commit, which takes no lock, on one of the stores meanwhile.
TEST_P(Sharing, EightThreadsThroughTwoStoresLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kRowsEach = 20;
  DB stores[2];
  std::vector<std::string> failures(kThreads);
  std::atomic<bool> writing = true;
  std::thread committer([&] {
    while (writing) stores[0].commit();
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      DB& db = stores[t % 2];
      try {
        for (int k = 0; k < kRowsEach; ++k) {
          const std::string mark = std::to_string(t) + "/" + std::to_string(k);
          db.insert_records("balance", balance_row(t * 1000 + k, {{"remark", mark}}));
          // The row is visible at once, also through the other store.
          if (stores[(t + 1) % 2].select_records("balance", {}, {{"remark", mark}}).rows() != 1) {
            failures[t] = "row " + mark + " not found after its insert";
            return;
          }
        }
      } catch (const std::exception& e) {
        failures[t] = e.what();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  writing = false;
  committer.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;

  const zf::Table rows =
      stores[0].select_records("balance", std::vector<std::string>{"id", "broker_account_id"});
  ASSERT_EQ(rows.rows(), std::size_t{kThreads * kRowsEach});
  const auto ids = rows.column("id").integers();
  const auto accounts = rows.column("broker_account_id").integers();
  EXPECT_EQ(std::set<std::int64_t>(ids.begin(), ids.end()).size(), rows.rows());
  const std::set<std::int64_t> seen(accounts.begin(), accounts.end());
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kRowsEach; ++k) EXPECT_TRUE(seen.count(t * 1000 + k)) << t << "/" << k;
  }
}

// commit runs without `lock`, so it must take the connection in a way that a
// close on another thread cannot pull from under it. Once closed, every
// commit is the closed-store error.
TEST_P(Sharing, CommitRacingCloseNeverReachesAClosedConnection) {
  constexpr int kRounds = 30;
  constexpr int kCommitters = 3;
  for (int round = 0; round < kRounds; ++round) {
    DB db;
    std::atomic<int> running = 0;
    std::vector<std::string> last_errors(kCommitters);
    std::vector<std::thread> committers;
    for (int t = 0; t < kCommitters; ++t) {
      committers.emplace_back([&, t] {
        ++running;
        try {
          for (;;) db.commit();
        } catch (const zdb::DatabaseError& e) {
          last_errors[t] = e.what();
        }
      });
    }
    while (running < kCommitters) std::this_thread::yield();
    db.close();
    for (auto& thread : committers) thread.join();
    for (const auto& error : last_errors) EXPECT_EQ(error, "Cannot operate on a closed database.");
  }
}

// Reads exactly `size` bytes unless the writer is gone; false at end of pipe.
bool read_all(int fd, void* out, std::size_t size) {
  auto* at = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t got = read(fd, at, size);
    if (got <= 0) return false;
    at += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// A child inserts rows without end and reports each insert that returned; the
// parent kills it mid-stream. Every reported row must be in the file, and the
// file must be sound.
TEST_P(Sharing, EveryReturnedInsertSurvivesAKill) {
  constexpr std::int64_t kReportsBeforeKill = 40;
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    try {
      DB db;
      for (std::int64_t i = 0;; ++i) {
        db.insert_records("balance", balance_row(i, {{"remark", std::string(200, 'r')}}));
        if (write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(2);
      }
    } catch (...) {
      _exit(3);
    }
  }
  close(pipe_fds[1]);
  std::set<std::int64_t> reported;
  std::int64_t i = 0;
  while (reported.size() < kReportsBeforeKill && read_all(pipe_fds[0], &i, sizeof i)) {
    reported.insert(i);
  }
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;
  while (read_all(pipe_fds[0], &i, sizeof i)) reported.insert(i);
  close(pipe_fds[0]);
  ASSERT_GE(reported.size(), std::size_t{kReportsBeforeKill});

  DB db;
  const zf::Table rows =
      db.select_records("balance", std::vector<std::string>{"broker_account_id"});
  const auto stored = rows.column("broker_account_id").integers();
  const std::set<std::int64_t> in_file(stored.begin(), stored.end());
  for (const std::int64_t r : reported) EXPECT_TRUE(in_file.count(r)) << "row " << r << " lost";
  if (on_sqlite()) {
    EXPECT_EQ(raw_value("PRAGMA integrity_check"), "ok");
  }
}

// Engines in separate processes write to one store at once: every row is
// stored once, under an id of its own.
TEST_P(Sharing, ProcessesWritingAtOnceLoseNoRow) {
  constexpr int kProcesses = 3;
  constexpr int kRowsEach = 60;
  { DB db; }
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        DB db;
        for (int k = 0; k < kRowsEach; ++k) {
          auto scope = db.transaction();
          db.insert_records("balance", balance_row(p * 1000 + k));
          if (k % 2 == 0) db.insert_records("position", {{"balance_id", db.last_insert_id()},
                                                          {"security_name", "ES"},
                                                          {"security_code", "ESM4"},
                                                          {"direction", "LONG"},
                                                          {"holding_price", 1.0},
                                                          {"quantity", k},
                                                          {"update_time", zf::local_now()}});
        }
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  EXPECT_EQ(count("balance"), kProcesses * kRowsEach);
  EXPECT_EQ(raw_value("SELECT count(DISTINCT id) FROM balance"),
            std::to_string(kProcesses * kRowsEach));
  EXPECT_EQ(raw_value("SELECT count(DISTINCT broker_account_id) FROM balance"),
            std::to_string(kProcesses * kRowsEach));
  // Each position names the balance its own process inserted just before.
  EXPECT_EQ(raw_value("SELECT count(*) FROM position JOIN balance ON balance.id = "
                      "position.balance_id AND balance.broker_account_id % 1000 = "
                      "position.quantity"),
            std::to_string(kProcesses * kRowsEach / 2));
}

}  // namespace
