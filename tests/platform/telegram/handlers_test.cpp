// Which updates the command and message handlers take, and how the
// dispatcher hands an update to the first of them.
#include "platform/telegram/handlers.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/platform/telegram/fake_bot_api.h"
#include "tests/platform/telegram/fast_options.h"

namespace platform::telegram {
namespace {

using testing::FakeBotApi;
using testing::fast_bot_options;

Update text_update(std::int64_t id, std::string text, std::int64_t chat = 42) {
  return {.update_id = id,
          .message = Message{.message_id = id, .chat = {.id = chat}, .text = std::move(text)}};
}

TEST(ParseCommand, ReadsTheNameAndTheAddressedBot) {
  struct Case {
    std::string text;
    std::optional<std::pair<std::string, std::string>> command;
  };
  const Case cases[] = {
      {"/stop", std::pair{"stop", ""}},
      {"/cancel_order 4f2a GW1", std::pair{"cancel_order", ""}},
      {"/orders@ThisBot -a", std::pair{"orders", "ThisBot"}},
      {"/stop@", std::pair{"stop", ""}},
      {"/stop, please", std::pair{"stop", ""}},
      {"/", std::nullopt},
      {"/ stop", std::nullopt},
      {" /stop", std::nullopt},
      {"stop", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto command = parse_command(c.text);
    ASSERT_EQ(command.has_value(), c.command.has_value());
    if (!command) continue;
    EXPECT_EQ(command->name, c.command->first);
    EXPECT_EQ(command->username, c.command->second);
  }
}

TEST(SplitWords, SplitsOnAnyWhiteSpace) {
  EXPECT_EQ(split_words("  a\tb\n c\r\n"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(split_words(" \t ").empty());
  EXPECT_EQ(split_words("ABC,1,l"), (std::vector<std::string>{"ABC,1,l"}));
}

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { bot.get_me(); }  // learns the username "ThisBot"

  FakeBotApi api;
  Bot bot{std::string(FakeBotApi::kToken), api.url(), fast_bot_options()};
};

TEST_F(HandlerTest, ACommandHandlerTakesItsCommandBareOrAddressedToThisBot) {
  const CommandHandler handler("stop", {});
  EXPECT_TRUE(handler.check_update(text_update(1, "/stop"), bot));
  EXPECT_TRUE(handler.check_update(text_update(1, "/stop now"), bot));
  EXPECT_TRUE(handler.check_update(text_update(1, "/stop@ThisBot"), bot));
  EXPECT_TRUE(handler.check_update(text_update(1, "/stop@thisBOT"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "/stop@OtherBot"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "/Stop"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "/stops"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "stop"), bot));
  EXPECT_FALSE(handler.check_update(Update{.update_id = 1}, bot));
}

TEST_F(HandlerTest, ACommandsArgumentsAreTheWordsAfterIt) {
  const CommandHandler handler("orders", {});
  EXPECT_EQ(handler.arguments(text_update(1, "/orders@ThisBot  -a\t5 ")),
            (std::vector<std::string>{"-a", "5"}));
  EXPECT_TRUE(handler.arguments(text_update(1, "/orders")).empty());
}

TEST(CommandHandler, BeforeGetMeOnlyBareCommandsAreTaken) {
  FakeBotApi api;
  const Bot unnamed(std::string(FakeBotApi::kToken), api.url(), fast_bot_options());
  const CommandHandler handler("stop", {});
  EXPECT_TRUE(handler.check_update(text_update(1, "/stop"), unnamed));
  EXPECT_FALSE(handler.check_update(text_update(1, "/stop@ThisBot"), unnamed));
}

TEST_F(HandlerTest, AMessageHandlerTakesTextThatIsNoCommand) {
  const MessageHandler handler(Callback{});
  EXPECT_TRUE(handler.check_update(text_update(1, "hello there"), bot));
  EXPECT_TRUE(handler.check_update(text_update(1, "/ not a command"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "/help"), bot));
  EXPECT_FALSE(handler.check_update(text_update(1, "/stop@OtherBot"), bot));
  Update no_text = text_update(1, "");
  no_text.message->text.reset();
  EXPECT_FALSE(handler.check_update(no_text, bot));
  EXPECT_FALSE(handler.check_update(Update{.update_id = 1}, bot));
}

TEST_F(HandlerTest, TheDispatcherGivesAnUpdateToTheFirstHandlerThatTakesIt) {
  std::vector<std::string> served;
  const auto note = [&](std::string label) {
    return [this, &served, label](const Update& update, CallbackContext& context) {
      std::string entry = label + ":" + *update.message->text;
      for (const auto& arg : context.args) entry += "|" + arg;
      served.push_back(entry);
      EXPECT_EQ(&context.bot, &bot);
    };
  };
  Dispatcher dispatcher(bot);
  dispatcher.add_handler(std::make_unique<MessageHandler>(note("echo")));
  dispatcher.add_handler(std::make_unique<CommandHandler>("stop", note("first")));
  dispatcher.add_handler(std::make_unique<CommandHandler>("stop", note("second")));

  EXPECT_TRUE(dispatcher.process_update(text_update(1, "/stop a b")));
  EXPECT_TRUE(dispatcher.process_update(text_update(2, "hi")));
  EXPECT_FALSE(dispatcher.process_update(text_update(3, "/help")));
  EXPECT_EQ(served, (std::vector<std::string>{"first:/stop a b|a|b", "echo:hi"}));
}

TEST_F(HandlerTest, ACallbackThatThrowsIsReportedAndTheNextUpdateIsServed) {
  int served = 0;
  Dispatcher dispatcher(bot);
  dispatcher.add_handler(std::make_unique<CommandHandler>(
      "boom", [](const Update&, CallbackContext&) { throw std::runtime_error("kaput"); }));
  dispatcher.add_handler(
      std::make_unique<MessageHandler>([&](const Update&, CallbackContext&) { ++served; }));

  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(dispatcher.process_update(text_update(17, "/boom")));
  EXPECT_TRUE(dispatcher.process_update(text_update(18, "next")));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Telegram: the callback for update 17 failed: kaput\n");
  EXPECT_EQ(served, 1);
}

}  // namespace
}  // namespace platform::telegram
