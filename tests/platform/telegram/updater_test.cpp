// The update fetcher against the fake service: every update served once and
// in order, across faults, restarts and takes; prompt stops; final
// confirmation; and what ends fetching for good.
#include "platform/telegram/updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <streambuf>

#include "platform/telegram/handlers.h"
#include "tests/platform/telegram/fake_bot_api.h"
#include "tests/platform/telegram/fast_options.h"

namespace platform::telegram {
namespace {

using Clock = std::chrono::steady_clock;
using testing::FakeBotApi;
using testing::fast_bot_options;
using testing::fast_updater_options;
using testing::Fault;
using testing::kPrompt;

using namespace std::chrono_literals;

const std::string kToken(FakeBotApi::kToken);

class UpdaterTest : public ::testing::Test {
 protected:
  // An updater whose handlers note the text of every update they serve;
  // "/boom" throws and "/halt" stops the updater from its own callback.
  std::unique_ptr<Updater> make_updater(UpdaterOptions options = fast_updater_options(),
                                        BotOptions bot_options = fast_bot_options(),
                                        std::string token = kToken) {
    auto updater = std::make_unique<Updater>(
        std::make_unique<Bot>(std::move(token), api.url(), bot_options), options);
    Updater* self = updater.get();
    auto& dispatcher = updater->dispatcher();
    dispatcher.add_handler(std::make_unique<CommandHandler>(
        "boom", [](const Update&, CallbackContext&) { throw std::runtime_error("kaput"); }));
    dispatcher.add_handler(std::make_unique<CommandHandler>(
        "halt", [this, self](const Update& update, CallbackContext&) {
          note(update);
          self->stop();
        }));
    dispatcher.add_handler(std::make_unique<MessageHandler>(
        [this](const Update& update, CallbackContext&) { note(update); }));
    return updater;
  }

  void note(const Update& update) {
    const std::lock_guard lock(mutex_);
    served_.push_back(*update.message->text);
  }

  std::vector<std::string> served() const {
    const std::lock_guard lock(mutex_);
    return served_;
  }

  bool wait_served(std::size_t count) {
    return api.wait_for([&] { return served().size() >= count; });
  }

  // The calls of `method`, in the order they arrived.
  std::vector<FakeBotApi::Call> calls_of(std::string_view method) const {
    std::vector<FakeBotApi::Call> calls;
    for (const auto& call : api.calls()) {
      if (call.method == method) calls.push_back(call);
    }
    return calls;
  }

  FakeBotApi api;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> served_;
};

using Strings = std::vector<std::string>;

TEST_F(UpdaterTest, ServesEveryUpdateOnceInOrderAndConfirmsThemOnStop) {
  api.push_text(42, "a");
  api.push_text(42, "b");
  auto updater = make_updater();
  updater->start_polling();
  ASSERT_TRUE(wait_served(2));
  const auto last = api.push_text(42, "c");
  ASSERT_TRUE(wait_served(3));
  EXPECT_EQ(api.conflicts(), 0u);

  updater->stop();
  EXPECT_EQ(served(), (Strings{"a", "b", "c"}));
  EXPECT_EQ(api.unconfirmed(), 0u);
  const auto polls = calls_of("getUpdates");
  EXPECT_EQ(polls.back().offset, last + 1);
  EXPECT_EQ(polls.back().timeout, 0);
  EXPECT_TRUE(std::ranges::is_sorted(polls, {}, &FakeBotApi::Call::offset));
  EXPECT_EQ(updater->error(), std::nullopt);
}

TEST_F(UpdaterTest, StopCutsALongPollShort) {
  auto updater = make_updater();
  updater->start_polling();
  ASSERT_TRUE(api.wait_for([&] { return api.waiting_polls() == 1; }));
  const auto start = Clock::now();
  updater->stop();
  EXPECT_LT(Clock::now() - start, kPrompt);
  EXPECT_FALSE(updater->running());
  EXPECT_EQ(updater->error(), std::nullopt);
}

TEST_F(UpdaterTest, ANewUpdaterDoesNotServeWhatTheLastOneServed) {
  api.push_text(42, "first run");
  make_updater()->start_polling();  // destroyed at once: it may or may not get to serve
  {
    auto updater = make_updater();
    updater->start_polling();
    ASSERT_TRUE(api.wait_for([&] {
      const auto s = served();
      return std::ranges::count(s, "first run") >= 1 && api.unconfirmed() == 0;
    }));
  }
  auto updater = make_updater();
  updater->start_polling();
  api.push_text(42, "second run");
  ASSERT_TRUE(api.wait_for([&] { return std::ranges::count(served(), "second run") == 1; }));
  updater->stop();
  EXPECT_EQ(served(), (Strings{"first run", "second run"}));
}

struct FaultCase {
  const char* name;
  const char* method;
  Fault fault;
};

class UpdaterFaultTest : public UpdaterTest, public ::testing::WithParamInterface<FaultCase> {};

// The fetcher meets the fault on its first call of the method, recovers, and
// serves every update exactly once. The time from the failed call to the
// next one is printed: back-off here is 10 ms, retry_after is 1 s.
TEST_P(UpdaterFaultTest, RecoversWithoutLosingOrRepeatingAnUpdate) {
  const FaultCase& c = GetParam();
  // A short long poll, so that a held-back answer outlasts the client's limit.
  UpdaterOptions options = fast_updater_options();
  options.poll_timeout = 1s;
  BotOptions bot_options = fast_bot_options();
  bot_options.poll_grace = 300ms;

  api.push_text(42, "one");
  api.push_text(42, "two");
  api.fail_next(c.method, c.fault);
  auto updater = make_updater(options, bot_options);
  updater->start_polling();
  ASSERT_TRUE(wait_served(2));
  api.push_text(42, "three");
  ASSERT_TRUE(wait_served(3));
  updater->stop();

  EXPECT_EQ(served(), (Strings{"one", "two", "three"}));
  EXPECT_EQ(updater->error(), std::nullopt);
  EXPECT_EQ(api.unconfirmed(), 0u);
  const auto calls = calls_of(c.method);
  ASSERT_GE(calls.size(), 2u);
  std::cout
      << "recovered from " << c.name << " in "
      << std::chrono::duration_cast<std::chrono::milliseconds>(calls[1].at - calls[0].at).count()
      << " ms\n";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdaterFaultTest,
    ::testing::Values(FaultCase{"429 retry_after=1", "getUpdates", Fault::too_many_requests(1)},
                      FaultCase{"500", "getUpdates", Fault::http(500)},
                      FaultCase{"503 on getMe", "getMe", Fault::http(503)},
                      FaultCase{"dropped connection", "getUpdates", Fault::dropped()},
                      FaultCase{"slow answer", "getUpdates", Fault::slow(2500ms)},
                      FaultCase{"malformed answer", "getUpdates", Fault::malformed()}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::ranges::replace_if(
          name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return name;
    });

// The lines written on standard output, while it lives. Unlike gtest's
// capture it can be read while the updater goes on writing.
class OutputLines : public std::streambuf {
 public:
  OutputLines() : saved_(std::cout.rdbuf(this)) {}
  ~OutputLines() override { std::cout.rdbuf(saved_); }

  std::vector<std::string> lines() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    std::istringstream in(text_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    const std::lock_guard lock(mutex_);
    text_.append(data, static_cast<std::size_t>(size));
    return size;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char one = traits_type::to_char_type(c);
    xsputn(&one, 1);
    return c;
  }

 private:
  std::streambuf* saved_;
  mutable std::mutex mutex_;
  std::string text_;
};

enum class Outage { nothing_listens, failing_answers, timed_out_answers, tls_failure };

struct OutageCase {
  const char* name;
  Outage outage;
  const char* opening;  // how the first line opens, {} standing for the address
  const char* failure;  // what it names as the failure
  bool ends;

  friend void PrintTo(const OutageCase& c, std::ostream* out) { *out << c.name; }
};

class UpdaterOutageTest : public UpdaterTest, public ::testing::WithParamInterface<OutageCase> {};

// An outage of the Bot API, however many calls fail, is one line when it
// starts and one when the service answers again; no line shows the token.
TEST_P(UpdaterOutageTest, IsOneLineWhenItStartsAndOneWhenItEnds) {
  const OutageCase& c = GetParam();
  BotOptions bot_options = fast_bot_options();
  std::string address = api.url();
  int port = 0;
  switch (c.outage) {
    case Outage::nothing_listens: {
      FakeBotApi gone;
      address = gone.url();
      port = std::stoi(address.substr(address.rfind(':') + 1));
      break;
    }
    case Outage::failing_answers:
      api.fail_next("getMe", Fault::http(502), 3);
      break;
    case Outage::timed_out_answers:
      bot_options.request_timeout = 200ms;
      api.fail_next("getMe", Fault::slow(1s), 2);
      break;
    case Outage::tls_failure:
      address = "https" + address.substr(address.find(':'));  // TLS to a plain HTTP server
      break;
  }
  std::vector<std::string> lines;
  {
    std::optional<FakeBotApi> back;  // the service coming back where nothing listened
    const OutputLines output;
    auto updater = std::make_unique<Updater>(std::make_unique<Bot>(kToken, address, bot_options),
                                             fast_updater_options());
    updater->dispatcher().add_handler(std::make_unique<MessageHandler>(
        [this](const Update& update, CallbackContext&) { note(update); }));
    updater->start_polling();
    EXPECT_TRUE(api.wait_for([&] { return !output.lines().empty(); }));
    if (c.outage == Outage::nothing_listens)
      back.emplace("ThisBot", FakeBotApi::Scheme::http, port);
    FakeBotApi& serving = back ? *back : api;
    if (c.ends) {
      serving.push_text(42, "after the outage");
      EXPECT_TRUE(wait_served(1));
    }
    updater->stop();
    lines = output.lines();
  }
  ASSERT_EQ(lines.size(), c.ends ? 2u : 1u) << ::testing::PrintToString(lines);
  std::string opening = c.opening;
  opening.replace(opening.find("{}"), 2, address);
  EXPECT_TRUE(lines[0].starts_with(opening)) << lines[0];
  EXPECT_NE(lines[0].find(c.failure), std::string::npos) << lines[0];
  EXPECT_TRUE(
      lines[0].ends_with("); retrying after 10 ms, backing off to every 40 ms, until it answers"))
      << lines[0];
  if (c.ends) {
    EXPECT_TRUE(
        lines[1].starts_with("Telegram: the Bot API at " + address + " answers again, after "))
        << lines[1];
  }
  for (const auto& line : lines) EXPECT_EQ(line.find(kToken), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Outages, UpdaterOutageTest,
    ::testing::Values(OutageCase{"nothing_listens_until_a_server_starts", Outage::nothing_listens,
                                 "Telegram: no answer from the Bot API at {} (", "Couldn't connect",
                                 true},
                      OutageCase{"three_502_answers", Outage::failing_answers,
                                 "Telegram: the Bot API at {} is failing (",
                                 "getMe answered HTTP 502", true},
                      OutageCase{"two_answers_too_late", Outage::timed_out_answers,
                                 "Telegram: no answer from the Bot API at {} (", "timed out", true},
                      OutageCase{"tls_handshake_fails", Outage::tls_failure,
                                 "Telegram: no answer from the Bot API at {} (", "SSL", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  Fault fault;
  bool retried;      // whether fetching goes on after the refusal
  const char* says;  // what the one line on standard output says

  friend void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }
};

constexpr const char* kWebhookConflict =
    R"({"ok":false,"error_code":409,"description":"Conflict: can't use getUpdates method )"
    R"(while webhook is active; use deleteWebhook to delete the webhook first"})";

class UpdaterRefusalTest : public UpdaterTest, public ::testing::WithParamInterface<RefusalCase> {};

// getUpdates is refused three times running. A refusal that may pass (a
// conflict with another poller or a webhook, any other 4xx) is retried with
// back-off and reported once for the whole episode; a token the service does
// not know (401, 404) ends fetching after the first.
TEST_P(UpdaterRefusalTest, OnlyAnUnknownTokenEndsFetching) {
  const RefusalCase& c = GetParam();
  api.push_text(42, "one");
  api.fail_next("getUpdates", c.fault, 3);
  auto updater = make_updater();
  ::testing::internal::CaptureStdout();
  updater->start_polling();
  bool settled = false;
  if (c.retried) {
    settled = wait_served(1);
    api.push_text(42, "two");
    settled = settled && wait_served(2);
  } else {
    settled = api.wait_for([&] { return !updater->running(); });
  }
  updater->stop();
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(settled) << out;

  EXPECT_EQ(std::ranges::count(out, '\n'), 1) << out;
  EXPECT_NE(out.find(c.says), std::string::npos) << out;
  EXPECT_EQ(out.find("webhook") != std::string::npos,
            std::string_view(c.name).find("webhook") != std::string_view::npos)
      << out;
  if (c.retried) {
    EXPECT_EQ(served(), (Strings{"one", "two"}));
    EXPECT_EQ(updater->error(), std::nullopt);
    EXPECT_GE(api.count("getUpdates"), 4u);
  } else {
    EXPECT_TRUE(served().empty());
    ASSERT_TRUE(updater->error());
    EXPECT_EQ(out, "Telegram: the update fetcher stopped: " + *updater->error() + "\n");
    EXPECT_EQ(api.count("getUpdates"), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, UpdaterRefusalTest,
    ::testing::Values(RefusalCase{"conflict_with_another_poller", Fault::http(409), true,
                                  "HTTP 409: Conflict: terminated by other getUpdates request"},
                      RefusalCase{"conflict_with_a_webhook",
                                  {.status = 409, .body = kWebhookConflict},
                                  true,
                                  "while a webhook is set for this bot"},
                      RefusalCase{"bad_request", Fault::http(400), true, "HTTP 400"},
                      RefusalCase{"forbidden", Fault::http(403), true, "HTTP 403"},
                      RefusalCase{"token_unknown_404", Fault::http(404), false, "HTTP 404"},
                      RefusalCase{"token_refused_401", Fault::http(401), false,
                                  "refused the bot token"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterTest, ARefusedTokenEndsFetchingWithAClearError) {
  auto updater = make_updater(fast_updater_options(), fast_bot_options(), "999:wrong");
  ::testing::internal::CaptureStdout();
  updater->start_polling();
  ASSERT_TRUE(api.wait_for([&] { return !updater->running(); }));
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(updater->error());
  EXPECT_NE(updater->error()->find("refused the bot token (HTTP 401"), std::string::npos);
  EXPECT_EQ(api.count("getMe"), 1u);
  EXPECT_EQ(api.count("getUpdates"), 0u);
}

struct MalformedCase {
  const char* update;
  bool numbered;  // whether the service writes a good update_id into it

  friend void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.update; }
};

class UpdaterMalformedTest : public UpdaterTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

// Updates that cannot be read, also for want of an update_id, are skipped,
// reported once and confirmed; the others are served as usual, whether the
// bad one comes first on a fresh start, between two, last, or first after an
// offset.
TEST_P(UpdaterMalformedTest, AnUpdateThatCannotBeReadIsSkipped) {
  const MalformedCase& c = GetParam();
  std::vector<std::int64_t> bad{api.push_json(c.update, c.numbered)};
  api.push_text(42, "a");
  bad.push_back(api.push_json(c.update, c.numbered));
  api.push_text(42, "b");
  bad.push_back(api.push_json(c.update, c.numbered));
  auto updater = make_updater();
  ::testing::internal::CaptureStdout();
  updater->start_polling();
  bool settled = wait_served(2) && api.wait_for([&] { return api.unconfirmed() == 0; });
  bad.push_back(api.push_json(c.update, c.numbered));
  api.push_text(42, "c");
  settled = settled && wait_served(3) && api.wait_for([&] { return api.unconfirmed() == 0; });
  updater->stop();
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(settled) << out;
  EXPECT_EQ(served(), (Strings{"a", "b", "c"}));
  EXPECT_EQ(updater->error(), std::nullopt);
  EXPECT_EQ(std::ranges::count(out, '\n'), 4) << out;
  for (const auto id : bad) {
    EXPECT_NE(out.find("Telegram: skipped update " + std::to_string(id) + ", which"),
              std::string::npos)
        << out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, UpdaterMalformedTest,
    ::testing::Values(
        MalformedCase{R"({"message": {"chat": {"id": "x"}, "date": 1, "text": "bad"}})", true},
        MalformedCase{R"({"message": {"date": 1, "text": "bad"}})", true},
        MalformedCase{R"({"message": {"chat": {"id": 42}, "date": 1, "text": 5}})", true},
        MalformedCase{R"({"message": {"message_id": 1, "chat": {"id": 42}, "text": "/stop"}})",
                      false},
        MalformedCase{R"({"update_id": "101", "message": {"chat": {"id": 42}}})", false},
        MalformedCase{R"({"update_id": 1.5})", false},
        MalformedCase{R"({"update_id": null})", false},
        MalformedCase{R"({"update_id": 18446744073709551615})", false},
        MalformedCase{R"("an update")", false}));

TEST_F(UpdaterTest, RetryAfterIsWaitedOutAndStopEndsTheWait) {
  api.fail_next("getUpdates", Fault::too_many_requests(3600));
  auto updater = make_updater();
  updater->start_polling();
  ASSERT_TRUE(api.wait_for([&] { return api.count("getUpdates") == 1; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(api.count("getUpdates"), 1u);  // no retry before the wait is out
  const auto start = Clock::now();
  updater->stop();
  EXPECT_LT(Clock::now() - start, kPrompt);
}

TEST_F(UpdaterTest, ACallbackThatThrowsDoesNotStopFetching) {
  api.push_text(42, "/boom");
  api.push_text(42, "after");
  auto updater = make_updater();
  ::testing::internal::CaptureStdout();
  updater->start_polling();
  ASSERT_TRUE(wait_served(1));
  updater->stop();
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("failed: kaput"), std::string::npos);
  EXPECT_EQ(served(), (Strings{"after"}));
  EXPECT_EQ(updater->error(), std::nullopt);
}

TEST_F(UpdaterTest, TakingWithoutPollingTakesEachUpdateOnce) {
  const auto a = api.push_text(42, "a");
  api.push_text(42, "b");
  auto updater = make_updater();
  const auto taken = updater->take_pending();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].update_id, a);
  EXPECT_TRUE(updater->take_pending().empty());

  updater->start_polling();
  api.push_text(42, "c");
  ASSERT_TRUE(wait_served(1));
  updater->stop();
  EXPECT_EQ(served(), (Strings{"c"}));
  EXPECT_EQ(api.unconfirmed(), 0u);
}

TEST_F(UpdaterTest, TakingCutsTheFetchersLongPollShortAndFetchingGoesOn) {
  auto updater = make_updater();
  updater->start_polling();
  ASSERT_TRUE(api.wait_for([&] { return api.waiting_polls() == 1; }));
  const auto start = Clock::now();
  EXPECT_TRUE(updater->take_pending().empty());
  EXPECT_LT(Clock::now() - start, kPrompt);

  api.push_text(42, "later");
  ASSERT_TRUE(wait_served(1));
  updater->stop();
  EXPECT_EQ(updater->error(), std::nullopt);  // a second open poll would have met 409
  EXPECT_EQ(served(), (Strings{"later"}));
}

TEST_F(UpdaterTest, StopFromACallbackEndsFetchingAfterIt) {
  api.push_text(42, "/halt");
  auto updater = make_updater();
  updater->start_polling();
  ASSERT_TRUE(api.wait_for([&] { return !updater->running(); }));
  updater->stop();  // joins and confirms what the callback's stop could not
  EXPECT_EQ(served(), (Strings{"/halt"}));
  EXPECT_EQ(api.unconfirmed(), 0u);
}

}  // namespace
}  // namespace platform::telegram
