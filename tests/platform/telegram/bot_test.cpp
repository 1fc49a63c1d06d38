// The Bot API client against the fake service: the three calls, how each
// kind of failed answer is classified, that the token never shows in an
// error, and that a stop token cuts a long poll short.
#include "platform/telegram/bot.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/telegram/errors.h"
#include "tests/platform/telegram/fake_bot_api.h"
#include "tests/platform/telegram/fast_options.h"

namespace platform::telegram {
namespace {

using testing::FakeBotApi;
using testing::fast_bot_options;
using testing::Fault;
using testing::kPrompt;

using namespace std::chrono_literals;

const std::string kToken(FakeBotApi::kToken);

class BotTest : public ::testing::Test {
 protected:
  FakeBotApi api;
  Bot bot{kToken, api.url(), fast_bot_options()};
};

// The error a call throws; fails the test when it throws none.
std::exception_ptr error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (...) {
    return std::current_exception();
  }
  ADD_FAILURE() << "the call did not fail";
  return nullptr;
}

template <class Error>
const Error* as(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const Error& e) {
    return &e;  // the exception object lives as long as `error`
  } catch (...) {
  }
  return nullptr;
}

TEST_F(BotTest, GetMeNamesTheBotAndRemembersItsUsername) {
  EXPECT_EQ(bot.username(), std::nullopt);
  const User me = bot.get_me();
  EXPECT_EQ(me.id, FakeBotApi::kBotId);
  EXPECT_TRUE(me.is_bot);
  EXPECT_EQ(me.username, "ThisBot");
  EXPECT_EQ(bot.username(), "ThisBot");
}

TEST_F(BotTest, GetUpdatesGivesMessagesOldestFirstUntilAnOffsetConfirmsThem) {
  const auto first = api.push_text(42, "hello", 7);
  const auto second = api.push_text(43, "/stop now");
  const auto updates = bot.get_updates({});
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].update_id, first);
  EXPECT_EQ(updates[0].message->text, "hello");
  EXPECT_EQ(updates[0].effective_chat()->id, 42);
  EXPECT_EQ(updates[0].message->from_user->id, 7);
  EXPECT_EQ(updates[1].update_id, second);
  EXPECT_NE(to_string(updates[1]).find("\"/stop now\""), std::string::npos);

  EXPECT_EQ(bot.get_updates({.offset = first + 1}).size(), 1u);
  EXPECT_TRUE(bot.get_updates({.offset = second + 1}).empty());
  EXPECT_EQ(api.unconfirmed(), 0u);
}

TEST_F(BotTest, SendMessageDeliversTheTextUnchanged) {
  const std::string text = "Prix: 12,5 € — \"ok\"\nline two";
  const Message sent = bot.send_message(42, text);
  EXPECT_EQ(sent.chat.id, 42);
  EXPECT_EQ(sent.text, text);
  EXPECT_EQ(api.sent(), (std::vector<FakeBotApi::Sent>{{42, text}}));
}

TEST_F(BotTest, PostedMessagesArriveInTheOrderPosted) {
  std::vector<FakeBotApi::Sent> expected;
  for (int i = 0; i < 20; ++i) {
    bot.post_message(i % 3, "message " + std::to_string(i));
    expected.push_back({i % 3, "message " + std::to_string(i)});
  }
  ASSERT_TRUE(bot.flush_messages(kPrompt));
  EXPECT_EQ(api.sent(), expected);
  EXPECT_EQ(bot.unsent_messages(), 0u);
}

// Every way a call fails, with the error it must give: whether calling again
// can help, and after how long. No message may show the token or the address.
TEST_F(BotTest, FailedCallsAreClassifiedAndNeverShowTheToken) {
  std::string closed;
  {
    FakeBotApi gone;
    closed = gone.url();
  }
  Bot impatient(kToken, api.url(), {.request_timeout = 200ms});
  Bot unreachable(kToken, closed, fast_bot_options());
  Bot stranger("999:wrong", api.url(), fast_bot_options());
  Bot unusable(kToken, "gopher://127.0.0.1:1", fast_bot_options());
  enum Kind { kRetryAfter, kTransient, kFinal, kUnauthorized };
  struct Case {
    const char* name;
    std::optional<Fault> fault;
    Bot* bot;
    Kind kind;
    int status;
  };
  const Case cases[] = {
      {"429", Fault::too_many_requests(7), &bot, kRetryAfter, 429},
      {"500", Fault::http(500), &bot, kTransient, 500},
      {"502", Fault::http(502), &bot, kTransient, 502},
      {"dropped connection", Fault::dropped(), &bot, kTransient, 0},
      {"malformed answer", Fault::malformed(), &bot, kTransient, 200},
      {"slow answer", Fault::slow(3s), &impatient, kTransient, 0},
      {"refused connection", std::nullopt, &unreachable, kTransient, 0},
      {"400", Fault::http(400), &bot, kFinal, 400},
      {"403", Fault::http(403), &bot, kFinal, 403},
      {"wrong token", std::nullopt, &stranger, kUnauthorized, 401},
      {"unusable address", std::nullopt, &unusable, kFinal, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fault) api.fail_next("getMe", *c.fault);
    const auto error = error_of([&] { c.bot->get_me(); });
    const auto* e = as<TelegramError>(error);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status(), c.status);
    EXPECT_EQ(as<RetryAfter>(error) != nullptr, c.kind == kRetryAfter);
    EXPECT_EQ(as<TransientError>(error) != nullptr, c.kind == kTransient);
    EXPECT_EQ(as<Unauthorized>(error) != nullptr, c.kind == kUnauthorized);
    if (const auto* retry = as<RetryAfter>(error)) {
      EXPECT_EQ(retry->retry_after(), 7s);
    }
    EXPECT_EQ(std::string(e->what()).find(kToken), std::string::npos) << e->what();
    EXPECT_EQ(std::string(e->what()).find("/bot"), std::string::npos) << e->what();
  }
}

// The wait a 429 imposes is what the service asks for, rounded up to whole
// seconds, but at least a second and at most five minutes: a missing, zero,
// negative or garbled value still spaces the calls out, and a huge one
// cannot silence the bot for good.
TEST_F(BotTest, RetryAfterIsKeptWithinASaneRange) {
  const auto asking = [](const char* retry_after) {
    std::string body = R"({"ok":false,"error_code":429,"description":"Too Many Requests")";
    if (retry_after != nullptr)
      body += R"(,"parameters":{"retry_after":)" + std::string(retry_after) + "}";
    return Fault{.status = 429, .body = body + "}"};
  };
  const std::pair<const char*, std::chrono::seconds> cases[] = {
      {"7", 7s},       {"2.5", 3s},   {"0", 1s},     {"-5", 1s},
      {"0.001", 1s},   {"300", 300s}, {"301", 300s}, {"1000000", 300s},
      {"1e300", 300s}, {"\"7\"", 1s}, {nullptr, 1s},
  };
  for (const auto& [asked, wait] : cases) {
    SCOPED_TRACE(asked != nullptr ? asked : "none");
    api.fail_next("getMe", asking(asked));
    const auto error = error_of([&] { bot.get_me(); });
    const auto* e = as<RetryAfter>(error);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->retry_after(), wait);
  }
}

TEST_F(BotTest, AStopTokenCutsALongPollShort) {
  std::stop_source stop;
  auto poll = std::async(std::launch::async, [&] {
    return error_of([&] { bot.get_updates({.timeout = 30s}, stop.get_token()); });
  });
  ASSERT_TRUE(api.wait_for([&] { return api.waiting_polls() == 1; }));
  stop.request_stop();
  ASSERT_EQ(poll.wait_for(kPrompt), std::future_status::ready);
  EXPECT_NE(as<Aborted>(poll.get()), nullptr);
  // The connection is reusable afterwards.
  api.push_text(1, "after");
  EXPECT_EQ(bot.get_updates({}).size(), 1u);
}

TEST_F(BotTest, ACallAfterStopIsAbortedWithoutBeingSent) {
  std::stop_source stop;
  stop.request_stop();
  EXPECT_NE(as<Aborted>(error_of([&] { bot.send_message(1, "x", stop.get_token()); })), nullptr);
  EXPECT_EQ(api.count("sendMessage"), 0u);
}

}  // namespace
}  // namespace platform::telegram
