// TelegramBot: its properties and request state, messaging, taking the
// pending updates, closing, the self-check, and answers that meet faults.
#include "zantrix/plugins/telegram/bot.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/telegram/handlers.h"
#include "tests/plugins/telegram/bot_fixture.h"
#include "zantrix/framework/config.h"
#include "zantrix/framework/errors.h"

namespace zantrix::plugins::telegram {
namespace {

using Clock = std::chrono::steady_clock;

// What the compiler must refuse: a status or a message that is not text.
template <class T>
concept StatusFrom = requires(TelegramBot& b, T v) {
  b.set_zantrix_status(v);
};
template <class T>
concept MessageFrom = requires(TelegramBot& b, T v) {
  b.send_message(v);
};
static_assert(StatusFrom<std::string> && StatusFrom<const char*>);
static_assert(!StatusFrom<int> && !StatusFrom<std::int64_t> && !StatusFrom<std::nullptr_t>);
static_assert(MessageFrom<std::string> && !MessageFrom<int> && !MessageFrom<std::nullptr_t>);

using TelegramBotTest = BotFixture;

TEST_F(TelegramBotTest, ANewBotHasTheInitialRequestState) {
  EXPECT_EQ(bot.zantrix_status(), "Running");
  EXPECT_FALSE(bot.get_balance());
  EXPECT_EQ(bot.num_orders_displayed(), 1);
  EXPECT_EQ(bot.num_deals_displayed(), 1);
  EXPECT_EQ(bot.order_string(), "");
  EXPECT_EQ(bot.cancel_order_id(), std::nullopt);
  EXPECT_EQ(bot.close_positions_gateway_name(), std::nullopt);
  EXPECT_EQ(bot.request_state(), RequestState{});
}

TEST_F(TelegramBotTest, PropertiesWriteTheBotClientsFields) {
  bot.set_num_deals_displayed(5);
  bot.set_cancel_order_id("4f2a");
  bot.set_get_orders(0);
  bot.set_cancel_orders(7);
  bot.set_zantrix_status("Paused");
  EXPECT_EQ(bot.num_deals_displayed(), 5);
  EXPECT_EQ(bot.client().state().cancel_order_id, "4f2a");
  EXPECT_FALSE(bot.get_orders());
  EXPECT_TRUE(bot.cancel_orders());
  EXPECT_EQ(bot.zantrix_status(), "Paused");
  bot.set_cancel_order_id(std::nullopt);
  EXPECT_EQ(bot.cancel_order_id(), std::nullopt);
}

TEST_F(TelegramBotTest, TakingRequestsClearsTheFlagsAndKeepsTheValues) {
  answers_to("/orders -a 4");
  answers_to("/cancel_order X GW");
  answers_to("/stop");
  const RequestState seen = bot.take_requests();
  EXPECT_TRUE(seen.get_orders && seen.active_orders && seen.cancel_order);
  EXPECT_EQ(seen.zantrix_status, "Terminated");

  RequestState left = seen;
  left.get_orders = left.active_orders = left.cancel_order = false;
  EXPECT_EQ(bot.request_state(), left);
  EXPECT_EQ(bot.num_orders_displayed(), 4);
}

TEST_F(TelegramBotTest, TheHelpTextListsTheCommands) {
  std::string expected = "\n";
  for (const char* line :
       {"<Zantrix TelegramBot> Available commands:\"", "1. /stop", "2. /balance", "3. /positions",
        "4. /orders", "5. /deals", "6. /cancel_order", "7. /cancel_orders", "8. /send_order",
        "9. /close_positions", "10. /help"}) {
    expected += "    " + std::string(line) + "\n";
  }
  expected += "    ";
  EXPECT_EQ(TelegramBot::help_text, expected);
}

TEST_F(TelegramBotTest, SendMessageGoesToTheOwnersChatUnlessAnotherIsGiven) {
  bot.send_message("to the owner");
  bot.send_message("elsewhere", 99);
  ASSERT_TRUE(bot.client().flush_messages(kPrompt));
  EXPECT_EQ(api.sent(),
            (std::vector<FakeBotApi::Sent>{{kOwner, "to the owner"}, {99, "elsewhere"}}));
}

TEST(TelegramBot, WithoutAnOwnersChatSendMessageNeedsAChatAndEveryChatIsRefused) {
  FakeBotApi api;
  auto options = test_options(api);
  options.chat_id.reset();
  TelegramBot bot(std::string(FakeBotApi::kToken), options);
  EXPECT_THROW(bot.send_message("hi"), framework::ValueError);

  ::testing::internal::CaptureStdout();
  api.push_text(kOwner, "/stop");
  ASSERT_TRUE(api.wait_for([&] { return api.unconfirmed() == 0; }));
  bot.close();
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("refused a message from chat 4242"),
            std::string::npos);
  EXPECT_EQ(bot.zantrix_status(), "Running");
}

// In a group, every member writes in the owner's chat: with a list of users,
// only they steer the engine, and any other message is refused like one from
// another chat (no answer, nothing recorded, one line).
TEST(TelegramBot, WithAListOfUsersOnlyTheyAreServed) {
  FakeBotApi api;
  auto options = test_options(api);
  options.user_ids = std::vector<std::int64_t>{7, 8};
  TelegramBot bot(std::string(FakeBotApi::kToken), options);
  struct Case {
    const char* name;
    std::int64_t chat;
    std::optional<std::int64_t> from;  // absent: sent on behalf of the chat
    const char* refusal;               // the line written; null when served
  };
  const Case cases[] = {
      {"a listed user", kOwner, 7, nullptr},
      {"another member of the chat", kOwner, 9,
       "Telegram: refused a message from user 9 in chat 4242: only the users configured as "
       "TELEGRAM_USER_IDS are served"},
      {"a listed user in another chat", kStranger, 8,
       "Telegram: refused a message from chat 666: only the chat configured as TELEGRAM_CHAT_ID "
       "is served"},
      {"no sender", kOwner, std::nullopt,
       "Telegram: refused a message from no user in chat 4242: only the users configured as "
       "TELEGRAM_USER_IDS are served"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t answered = api.sent().size();
    ::testing::internal::CaptureStdout();
    if (c.from) {
      api.push_text(c.chat, "/balance", *c.from);
    } else {
      api.push_json(R"({"message": {"chat": {"id": )" + std::to_string(c.chat) +
                    R"(, "type": "group"}, "date": 1, "text": "/balance"}})");
    }
    const std::string marker = std::string("after ") + c.name;
    api.push_text(kOwner, marker, 8);
    EXPECT_TRUE(api.wait_for([&] {
      const auto texts = api.texts_to(kOwner);
      return !texts.empty() && texts.back() == "[ECHO] " + marker;
    }));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, c.refusal != nullptr ? std::string(c.refusal) + "\n" : "");
    EXPECT_EQ(bot.take_requests().get_balance, c.refusal == nullptr);
    EXPECT_EQ(api.sent().size() - answered, c.refusal == nullptr ? 2u : 1u);
  }
}

TEST(TelegramBot, AnEmptyTokenIsAValueError) {
  FakeBotApi api;
  EXPECT_THROW(TelegramBot("", test_options(api)), framework::ValueError);
}

TEST(TelegramBot, GetChatIdAnswersTheFirstPendingSender) {
  FakeBotApi api;
  api.push_text(555, "hello", 555);
  api.push_text(777, "later", 777);
  TelegramBot bot(std::string(FakeBotApi::kToken), test_options(api, /*start_polling=*/false));
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(bot.get_chat_id(), 555);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(bot.updates());
  EXPECT_EQ(bot.updates()->size(), 2u);
  EXPECT_EQ(out, to_string(bot.updates()->front()) + "\n");
  EXPECT_NE(out.find("\"hello\""), std::string::npos);
  EXPECT_EQ(api.count("getUpdates"), 1u);
}

TEST(TelegramBot, GetUpdatesWithNothingPendingFails) {
  FakeBotApi api;
  TelegramBot bot(std::string(FakeBotApi::kToken), test_options(api, /*start_polling=*/false));
  EXPECT_EQ(bot.updates(), std::nullopt);
  EXPECT_THROW(bot.get_updates(), std::runtime_error);
  EXPECT_THROW(bot.get_chat_id(), std::runtime_error);
  ASSERT_TRUE(bot.updates());
  EXPECT_TRUE(bot.updates()->empty());
}

TEST_F(TelegramBotTest, GetUpdatesWhilePollingGoesThroughTheFetcher) {
  ASSERT_TRUE(api.wait_for([&] { return api.waiting_polls() == 1; }));
  EXPECT_THROW(bot.get_chat_id(), std::runtime_error);
  EXPECT_EQ(answers_to("/balance"), (std::vector<std::string>{"[T] Fetching balance..."}));
  EXPECT_EQ(bot.error(), std::nullopt);
}

// What get_chat_id takes from a polling bot is served all the same: a
// "/stop" pending during a self-check still stops the engine.
TEST(TelegramBot, UpdatesTakenWhilePollingAreStillServed) {
  FakeBotApi api;
  // The fetcher's first poll hangs, so that the message waits for the take.
  api.fail_next("getUpdates", {.status = 500, .delay = 60s});
  TelegramBot bot(std::string(FakeBotApi::kToken), test_options(api));
  ASSERT_TRUE(api.wait_for([&] { return api.count("getUpdates") == 1; }));
  api.push_text(kOwner, "/stop");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(bot.get_chat_id(), kOwner);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(api.wait_for_sent(1));
  EXPECT_EQ(unstamped(api.texts_to(kOwner).front()), "[T] Terminating Zantrix...");
  EXPECT_EQ(bot.zantrix_status(), "Terminated");
}

TEST_F(TelegramBotTest, CloseDuringALongPollReturnsPromptly) {
  ASSERT_TRUE(api.wait_for([&] { return api.waiting_polls() == 1; }));
  const auto start = Clock::now();
  bot.close();
  EXPECT_LT(Clock::now() - start, kPrompt);
  EXPECT_FALSE(bot.updater().running());
  bot.close();
}

TEST(TelegramBot, ACallbackThatThrowsDoesNotStopTheBot) {
  FakeBotApi api;
  TelegramBot bot(std::string(FakeBotApi::kToken), test_options(api, /*start_polling=*/false));
  bot.updater().dispatcher().add_handler(std::make_unique<platform::telegram::CommandHandler>(
      "boom", [](const platform::telegram::Update&, platform::telegram::CallbackContext&) {
        throw std::runtime_error("kaput");
      }));
  ::testing::internal::CaptureStdout();
  bot.updater().start_polling();
  api.push_text(kOwner, "/boom");
  api.push_text(kOwner, "/balance");
  ASSERT_TRUE(api.wait_for_sent(1));
  bot.close();
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("failed: kaput"), std::string::npos);
  EXPECT_EQ(api.sent().size(), 1u);
  EXPECT_TRUE(bot.get_balance());
}

// An answer that meets a fault is sent again and arrives exactly once.
TEST_F(TelegramBotTest, AnswersAreSentAgainAfterFaults) {
  api.fail_next("sendMessage", Fault::too_many_requests(1));
  EXPECT_EQ(answers_to("/balance"), (std::vector<std::string>{"[T] Fetching balance..."}));
  api.fail_next("sendMessage", Fault::http(500));
  api.fail_next("sendMessage", Fault::dropped());
  EXPECT_EQ(answers_to("/positions"), (std::vector<std::string>{"[T] Fetching positions..."}));
}

TEST_F(TelegramBotTest, AnAnswerThatCannotBeSentIsReportedAndLaterOnesStillGo) {
  api.fail_next("sendMessage", Fault::http(500), 4);
  ::testing::internal::CaptureStdout();
  const auto answers = answers_to("/balance");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(answers.empty());
  EXPECT_NE(
      out.find("could not send a message to chat 4242 (Bot API sendMessage answered HTTP 500"),
      std::string::npos);
  EXPECT_NE(out.find("Fetching balance..."), std::string::npos);
  EXPECT_EQ(answers_to("/positions"), (std::vector<std::string>{"[T] Fetching positions..."}));
}

TEST(SelfCheck, AnswersTheFirstPendingSenderWithOneFetch) {
  FakeBotApi api;
  const auto pending = api.push_text(31337, "are you there?", 31337);
  auto& config = framework::zantrix_config();
  config.set_TELEGRAM_TOKEN(std::string(FakeBotApi::kToken));
  config.set_TELEGRAM_API_URL(api.url());

  ::testing::internal::CaptureStdout();
  self_check();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\"are you there?\""), std::string::npos);
  EXPECT_NE(out.find("\nChat id: 31337\nClosed.\n"), std::string::npos) << out;
  EXPECT_EQ(api.sent(), (std::vector<FakeBotApi::Sent>{{31337, "Yes I am here!"}}));
  // One fetch took the message; the final call only confirmed it.
  std::vector<std::pair<std::int64_t, std::int64_t>> polls;
  for (const auto& call : api.calls()) {
    if (call.method == "getUpdates") polls.emplace_back(call.offset, call.timeout);
  }
  EXPECT_EQ(polls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 0}, {pending + 1, 0}}));
  EXPECT_EQ(api.unconfirmed(), 0u);
}

}  // namespace
}  // namespace zantrix::plugins::telegram
