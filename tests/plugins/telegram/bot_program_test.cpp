// The program's "bot" command end to end: the zantrix program run against the
// fake Bot API, its self-check and its serve mode, which answers from a
// record store made here.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/plugins/sqlite3/store_folder.h"
#include "tests/plugins/telegram/bot_fixture.h"
#include "zantrix/framework/config.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/plugins/sqlite3/db.h"

extern char** environ;

namespace zantrix::plugins::telegram {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Answers = std::vector<std::string>;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// One run of the program, its standard output and error in files.
class ProgramRun {
 public:
  struct Result {
    int status = -1;
    std::string out;
    std::string err;
  };

  // Runs `program` with `args`; its standard input is a pipe that stays open
  // until end_input.
  ProgramRun(const fs::path& folder, std::vector<std::string> args,
             std::string program = ZANTRIX_PROGRAM)
      : out_(folder / "stdout.txt"), err_(folder / "stderr.txt") {
    int input[2];
    EXPECT_EQ(pipe2(input, O_CLOEXEC), 0);
    input_ = input[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    if (error != 0) pid_ = 0;
    EXPECT_EQ(error, 0) << "could not start " << program;
  }

  ~ProgramRun() {
    end_input();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // What the program has written on standard output so far.
  std::string out_so_far() const { return read_file(out_); }

  // Closes the program's standard input.
  void end_input() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // Waits for the program to end; a program still running after `limit` is
  // killed and the test fails.
  Result wait(std::chrono::seconds limit = 30s) {
    Result result;
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (pid_ > 0) {
      const pid_t ended = waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        pid_ = 0;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (Clock::now() > deadline) {
        ADD_FAILURE() << "the program did not end";
        break;
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    result.out = read_file(out_);
    result.err = read_file(err_);
    return result;
  }

 private:
  fs::path out_;
  fs::path err_;
  int input_ = -1;
  pid_t pid_ = 0;
};

class BotProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zantrix_bot_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Writes the configuration: the fake API, the token, and the owner's chat
  // and the store's folder when given (its server, when server_uri_ is set).
  fs::path configure(std::string_view token, std::optional<std::int64_t> chat_id,
                     std::optional<fs::path> store = std::nullopt) {
    const fs::path file = folder_ / "zantrix_config.json";
    std::ofstream out(file);
    out << "{\"TELEGRAM_TOKEN\": \"" << token << "\", \"TELEGRAM_API_URL\": \""
        << (api_url_.empty() ? api.url() : api_url_) << "\"";
    if (chat_id) out << ", \"TELEGRAM_CHAT_ID\": " << *chat_id;
    if (!server_uri_.empty()) {
      out << ", \"DB\": {\"postgresql\": \"" << server_uri_ << "\"}";
    } else if (store) {
      out << ", \"DB\": {\"sqlite3\": \"" << store->string() << "\"}";
    }
    out << "}\n";
    return file;
  }

  ProgramRun run(const fs::path& config, std::vector<std::string> words) {
    words.insert(words.begin(), {"--config", config.string(), "bot"});
    return ProgramRun(folder_, std::move(words));
  }

  // Sends `text` to the running program and returns the next `count` answers
  // to the owner (time stamps replaced by "[T]").
  Answers ask(const std::string& text, std::size_t count) {
    const std::size_t before = api.texts_to(kOwner).size();
    api.push_text(kOwner, text);
    EXPECT_TRUE(api.wait_for([&] { return api.texts_to(kOwner).size() >= before + count; }, 20s))
        << "too few answers to " << text;
    const auto texts = api.texts_to(kOwner);
    Answers answers;
    for (std::size_t i = before; i < texts.size(); ++i) answers.push_back(unstamped(texts[i]));
    return answers;
  }

  FakeBotApi api;
  fs::path folder_;
  std::string server_uri_;
  std::string api_url_;  // the Bot API's address when not the fake's
};

framework::DateTime at(const char* text) {
  return framework::parse_datetime(text);
}

// A balance snapshot with `positions` positions, as an engine records it:
// the balance row first, then its positions pointing to it.
void add_snapshot(sqlite3::DB& db, double cash, int positions) {
  db.insert_records("balance", {{"broker_name", std::string("CQG")},
                                {"broker_environment", std::string("SIMULATE")},
                                {"broker_account_id", std::int64_t{1}},
                                {"broker_account", std::string("ACC1")},
                                {"strategy_account_id", std::int64_t{1}},
                                {"strategy_account", std::string("S1")},
                                {"strategy_version", std::string("1.0")},
                                {"cash", cash},
                                {"available_cash", 90000.0},
                                {"update_time", at("2024-03-05 10:00:00")}});
  const std::int64_t balance_id = db.last_insert_id();
  for (int i = 0; i < positions; ++i) {
    db.insert_records("position", {{"balance_id", balance_id},
                                   {"security_name", std::string("Tencent")},
                                   {"security_code", std::string("HK.00700")},
                                   {"direction", std::string("LONG")},
                                   {"holding_price", 300.5 + i},
                                   {"quantity", std::int64_t{100}},
                                   {"update_time", at("2024-03-05 10:00:00")}});
  }
}

// A store (in `folder`, or on the server of `server_uri`) with two balance
// snapshots of one position each, three orders and two deals.
void fill_store(const fs::path& folder, const std::string& server_uri = "") {
  if (server_uri.empty()) {
    framework::zantrix_config().set_DB({{"sqlite3", folder.string()}});
  } else {
    framework::zantrix_config().set_DB({{"postgresql", server_uri}});
  }
  sqlite3::DB db;
  add_snapshot(db, 50000.0, 1);
  add_snapshot(db, 100000.5, 1);
  for (const char* status : {"FILLED", "SUBMITTED", "PART_FILLED"}) {
    db.insert_records("trading_order", {{"broker_order_id", std::string("B-") + status},
                                        {"balance_id", std::int64_t{2}},
                                        {"security_name", std::string("Tencent")},
                                        {"security_code", std::string("HK.00700")},
                                        {"price", 301.0},
                                        {"quantity", std::int64_t{100}},
                                        {"direction", std::string("LONG")},
                                        {"offset", std::string("OPEN")},
                                        {"order_type", std::string("LIMIT")},
                                        {"create_time", at("2024-03-05 10:01:00")},
                                        {"update_time", at("2024-03-05 10:02:00")},
                                        {"filled_avg_price", 0.0},
                                        {"filled_quantity", std::int64_t{0}},
                                        {"status", std::string(status)}});
  }
  for (const char* deal : {"D-1", "D-2"}) {
    db.insert_records("trading_deal", {{"broker_deal_id", std::string(deal)},
                                       {"broker_order_id", std::string("B-FILLED")},
                                       {"order_id", std::int64_t{1}},
                                       {"balance_id", std::int64_t{2}},
                                       {"security_name", std::string("Tencent")},
                                       {"security_code", std::string("HK.00700")},
                                       {"direction", std::string("LONG")},
                                       {"offset", std::string("OPEN")},
                                       {"order_type", std::string("LIMIT")},
                                       {"update_time", at("2024-03-05 10:03:00")},
                                       {"filled_avg_price", 301.0},
                                       {"filled_quantity", std::int64_t{50}}});
  }
  db.close();
}

std::string order_row(int id, const char* status) {
  return "id=" + std::to_string(id) + ", broker_order_id=B-" + status +
         ", balance_id=2, security_name=Tencent, security_code=HK.00700, price=301.0, "
         "quantity=100, direction=LONG, offset=OPEN, order_type=LIMIT, "
         "create_time=2024-03-05 10:01:00, update_time=2024-03-05 10:02:00, "
         "filled_avg_price=0.0, filled_quantity=0, status=" +
         status;
}

TEST_F(BotProgramTest, SelfCheckAnswersTheFirstSenderAndPrintsItsChat) {
  const auto pending = api.push_text(5150, "hello bot", 5150);
  auto program = run(configure(FakeBotApi::kToken, std::nullopt), {"--selfcheck"});
  const auto result = program.wait();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out.ends_with("\nChat id: 5150\nClosed.\n")) << result.out;
  EXPECT_NE(result.out.find("\"hello bot\""), std::string::npos);
  EXPECT_EQ(api.sent(), (std::vector<FakeBotApi::Sent>{{5150, "Yes I am here!"}}));
  std::vector<std::pair<std::int64_t, std::int64_t>> polls;
  for (const auto& call : api.calls()) {
    if (call.method == "getUpdates") polls.emplace_back(call.offset, call.timeout);
  }
  EXPECT_EQ(polls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 0}, {pending + 1, 0}}));
}

TEST_F(BotProgramTest, SelfCheckWithNoMessageWaitingFails) {
  auto program = run(configure(FakeBotApi::kToken, kOwner), {"--selfcheck"});
  const auto result = program.wait();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zantrix: There is no pending update: send the bot a message first\n");
  EXPECT_TRUE(api.sent().empty());
}

// With nothing listening at the Bot API's address, the self-check says at
// once that it cannot connect and how long it keeps trying.
TEST_F(BotProgramTest, SelfCheckDuringAnOutageSaysSoAtOnce) {
  {
    FakeBotApi gone;
    api_url_ = gone.url();
  }
  auto program = run(configure(FakeBotApi::kToken, std::nullopt), {"--selfcheck"});
  const std::string opening = "Telegram: no answer from the Bot API at " + api_url_ + " (";
  std::string out;
  EXPECT_TRUE(api.wait_for([&] {
    out = program.out_so_far();
    return out.find('\n') != std::string::npos;
  }));
  EXPECT_TRUE(out.starts_with(opening)) << out;
  EXPECT_TRUE(std::regex_search(
      out, std::regex(R"(\); retrying after 1 s, backing off to every 30 s, for up to \d+ s\n$)")))
      << out;
  EXPECT_EQ(out.find(FakeBotApi::kToken), std::string::npos) << out;
}

// The bot serves the same answers from a store in a file or on a server.
class BotStoreTest : public BotProgramTest,
                     public testing::WithParamInterface<zantrix_test::Backend> {
 protected:
  void SetUp() override {
    BotProgramTest::SetUp();
    if (GetParam() == zantrix_test::Backend::PostgreSQL) {
      database_ = std::make_unique<zantrix_test::ServerDatabase>();
      if (database_->uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
      server_uri_ = database_->uri();
    }
  }
  std::unique_ptr<zantrix_test::ServerDatabase> database_;
};
ZANTRIX_ON_EITHER_STORE(BotStoreTest);

TEST_P(BotStoreTest, ServesTheStoreUntilStop) {
  fill_store(folder_, server_uri_);
  auto program = run(configure(FakeBotApi::kToken, kOwner, folder_), {});

  EXPECT_EQ(ask("/balance", 2),
            (Answers{"[T] Fetching balance...",
                     "Balance:\nid: 2\nbroker_name: CQG\nbroker_environment: SIMULATE\n"
                     "broker_account_id: 1\nbroker_account: ACC1\nstrategy_account_id: 1\n"
                     "strategy_account: S1\nstrategy_version: 1.0\ncash: 100000.5\n"
                     "available_cash: 90000.0\nupdate_time: 2024-03-05 10:00:00"}));
  EXPECT_EQ(ask("/positions", 2),
            (Answers{"[T] Fetching positions...",
                     "Positions:\nid=2, balance_id=2, security_name=Tencent, "
                     "security_code=HK.00700, direction=LONG, holding_price=300.5, quantity=100, "
                     "update_time=2024-03-05 10:00:00"}));
  EXPECT_EQ(ask("/orders -a 5", 3),
            (Answers{"[T] ['-a', '5']...",
                     "[T] Fetching orders (active_orders=True, num_orders_displayed=5)...",
                     "Active orders (last 5):\n" + order_row(2, "SUBMITTED") + "\n" +
                         order_row(3, "PART_FILLED")}));
  EXPECT_EQ(
      ask("/orders 2", 3),
      (Answers{
          "[T] ['2']...", "[T] Fetching orders (active_orders=False, num_orders_displayed=2)...",
          "Orders (last 2):\n" + order_row(2, "SUBMITTED") + "\n" + order_row(3, "PART_FILLED")}));
  EXPECT_EQ(ask("/deals 1", 2),
            (Answers{"[T] Fetching deals (num_deals_displayed=1)...",
                     "Deals (last 1):\nid=2, broker_deal_id=D-2, broker_order_id=B-FILLED, "
                     "order_id=1, balance_id=2, security_name=Tencent, security_code=HK.00700, "
                     "direction=LONG, offset=OPEN, order_type=LIMIT, "
                     "update_time=2024-03-05 10:03:00, filled_avg_price=301.0, "
                     "filled_quantity=50"}));
  EXPECT_EQ(ask("/send_order ABC,1,l,o,m,GW,None,None", 2),
            (Answers{"[T] Send order (ABC,1,l,o,m,GW,None,None)...",
                     "Not connected to an engine: no order was sent."}));
  EXPECT_EQ(ask("/cancel_orders", 2),
            (Answers{"[T] Canceling all active orders...",
                     "Not connected to an engine: no orders were cancelled."}));

  api.push_text(kStranger, "/stop");
  EXPECT_EQ(ask("/stop", 1), (Answers{"[T] Terminating Zantrix..."}));
  const auto result = program.wait();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(api.texts_to(kStranger).empty());
  EXPECT_EQ(api.texts_to(kOwner).size(), 17u);
  EXPECT_NE(result.out.find("Serving Telegram commands until /stop\n"), std::string::npos);
  EXPECT_NE(result.out.find("refused a message from chat 666"), std::string::npos);
  EXPECT_TRUE(result.out.ends_with("Stopped by /stop.\n")) << result.out;
  EXPECT_EQ(api.unconfirmed(), 0u);
}

// "/positions" answers with the positions of the latest balance snapshot,
// the engine's current ones, in at most four messages of whole lines within
// the message limit; the lines left out are counted.
TEST_F(BotProgramTest, PositionsAreTheLatestSnapshotsInAFewMessages) {
  fill_store(folder_);
  auto program = run(configure(FakeBotApi::kToken, kOwner, folder_), {});
  sqlite3::DB db;
  add_snapshot(db, 100000.0, 0);
  EXPECT_EQ(ask("/positions", 2), (Answers{"[T] Fetching positions...", "No open positions."}));

  constexpr int kHeld = 150;
  add_snapshot(db, 100000.0, kHeld);
  const Answers answers = ask("/positions", 5);
  EXPECT_EQ(ask("/balance", 2).size(), 2u);  // nothing more came for /positions
  ASSERT_EQ(answers.size(), 5u);
  ASSERT_TRUE(answers[1].starts_with("Positions:\n"));
  const std::regex row(R"(id=\d+, balance_id=4, security_name=Tencent, .*, )"
                       R"(update_time=2024-03-05 10:00:00)");
  const std::regex left_out(R"(\((\d+) more lines not shown\))");
  int shown = 0;
  int not_shown = 0;
  for (std::size_t i = 1; i < answers.size(); ++i) {
    EXPECT_LE(answers[i].size(), 4096u);
    std::istringstream lines(answers[i]);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
      if (std::regex_match(line, row)) {
        ++shown;
      } else if (i == 4 && std::regex_match(line, match, left_out)) {
        not_shown = std::stoi(match[1].str());
      } else if (line != "Positions:") {
        ADD_FAILURE() << "not a whole row: " << line;
      }
    }
  }
  EXPECT_GT(not_shown, 0);
  EXPECT_EQ(shown + not_shown, kHeld);
  db.close();
  ask("/stop", 1);
  EXPECT_EQ(program.wait().status, 0);
}

TEST_F(BotProgramTest, WithoutAStoreRecordRequestsAreAnsweredSo) {
  auto program = run(configure(FakeBotApi::kToken, kOwner, folder_ / "nowhere"), {});
  EXPECT_EQ(ask("/deals", 2), (Answers{"[T] Fetching deals (num_deals_displayed=1)...",
                                       "No records: the record store is not available."}));
  ask("/stop", 1);
  const auto result = program.wait();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("No record store at"), std::string::npos);
}

TEST_F(BotProgramTest, ARefusedTokenEndsTheProgramWithoutShowingIt) {
  const std::string token = "987654:secret-token";
  auto program = run(configure(token, kOwner), {});
  const auto result = program.wait();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("refused the bot token (HTTP 401"), std::string::npos) << result.err;
  EXPECT_EQ(result.out.find(token), std::string::npos);
  EXPECT_EQ(result.err.find(token), std::string::npos);
}

// A program that ends without closing the process-wide bot, while the bot's
// long poll over HTTPS is open, ends cleanly: the bot is shut down before the
// exit-time clean-up of the TLS library under libcurl.
TEST_F(BotProgramTest, AProgramThatNeverClosesTheBotEndsCleanlyDuringALongPoll) {
  FakeBotApi tls("ThisBot", FakeBotApi::Scheme::https);
  ProgramRun program(
      folder_,
      {tls.url(), std::string(FakeBotApi::kToken), std::to_string(kOwner), FakeBotApi::ca_file()},
      BOT_EXIT_PROGRAM);
  tls.push_text(kOwner, "/balance");
  ASSERT_TRUE(tls.wait_for(
      [&] { return !tls.sent().empty() && tls.unconfirmed() == 0 && tls.waiting_polls() == 1; }));
  program.end_input();
  const auto result = program.wait();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace zantrix::plugins::telegram
