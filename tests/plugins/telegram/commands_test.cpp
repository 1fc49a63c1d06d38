// Every chat command with good and wrong words: its exact answers and the
// request it records, or that it records nothing.
#include "zantrix/plugins/telegram/commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/plugins/telegram/bot_fixture.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::plugins::telegram {
namespace {

using Answers = std::vector<std::string>;
const std::string kOrdersUsage_(kOrdersUsage);
const std::string kDealsUsage_(kDealsUsage);

class CommandTest : public BotFixture {
 protected:
  // The state a new bot has, changed by `change`.
  template <class Change>
  static RequestState initial_with(Change&& change) {
    RequestState state;
    change(state);
    return state;
  }
};

TEST_F(CommandTest, StopTerminatesWhateverItsWords) {
  EXPECT_EQ(answers_to("/stop now please"), (Answers{"[T] Terminating Zantrix..."}));
  EXPECT_EQ(bot.zantrix_status(), "Terminated");
  EXPECT_EQ(bot.request_state(),
            initial_with([](RequestState& s) { s.zantrix_status = "Terminated"; }));
}

TEST_F(CommandTest, BalancePositionsAndCancelOrdersRecordTheirFlag) {
  EXPECT_EQ(answers_to("/balance"), (Answers{"[T] Fetching balance..."}));
  EXPECT_EQ(answers_to("/positions all"), (Answers{"[T] Fetching positions..."}));
  EXPECT_EQ(answers_to("/cancel_orders"), (Answers{"[T] Canceling all active orders..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) {
              s.get_balance = s.get_positions = s.cancel_orders = true;
            }));
}

TEST_F(CommandTest, OrdersEchoesItsWordsThenRecords) {
  EXPECT_EQ(answers_to("/orders"),
            (Answers{"[T] []...",
                     "[T] Fetching orders (active_orders=False, num_orders_displayed=1)..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) { s.get_orders = true; }));

  EXPECT_EQ(answers_to("/orders -a 5"),
            (Answers{"[T] ['-a', '5']...",
                     "[T] Fetching orders (active_orders=True, num_orders_displayed=5)..."}));
  bot.set_active_orders(false);
  EXPECT_EQ(answers_to("/orders 7 -a"),
            (Answers{"[T] ['7', '-a']...",
                     "[T] Fetching orders (active_orders=True, num_orders_displayed=7)..."}));
  // The filter stays until the engine resets it.
  EXPECT_EQ(answers_to("/orders")[1],
            "[T] Fetching orders (active_orders=True, num_orders_displayed=7)...");
  EXPECT_EQ(answers_to("/orders -3")[1],
            "[T] Fetching orders (active_orders=True, num_orders_displayed=-3)...");
  EXPECT_EQ(answers_to("/orders +0")[1],
            "[T] Fetching orders (active_orders=True, num_orders_displayed=0)...");
}

TEST_F(CommandTest, OrdersWithWrongWordsEchoesThemThenGivesUsageAndRecordsNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"/orders 5 6", "[T] ['5', '6']..."},
      {"/orders abc", "[T] ['abc']..."},
      {"/orders -a x y", "[T] ['-a', 'x', 'y']..."},
      {"/orders -a x", "[T] ['-a', 'x']..."},
      {"/orders 99999999999999999999", "[T] ['99999999999999999999']..."},
      {"/orders 5.0", "[T] ['5.0']..."},
  };
  for (const auto& [text, echo] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(answers_to(text), (Answers{echo, kOrdersUsage_}));
  }
  EXPECT_EQ(answers_to("/orders -a -a"), (Answers{"[T] ['-a', '-a']..."}));
  EXPECT_EQ(bot.request_state(), RequestState{});
}

TEST_F(CommandTest, DealsRecordsItsCount) {
  EXPECT_EQ(answers_to("/deals"), (Answers{"[T] Fetching deals (num_deals_displayed=1)..."}));
  EXPECT_EQ(answers_to("/deals 3"), (Answers{"[T] Fetching deals (num_deals_displayed=3)..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) {
              s.get_deals = true;
              s.num_deals_displayed = 3;
            }));
}

TEST_F(CommandTest, DealsWithWrongWordsGivesUsageAndRecordsNothing) {
  for (const char* text :
       {"/deals three", "/deals 1 2", "/deals -9223372036854775809", "/deals +-1"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(answers_to(text), (Answers{kDealsUsage_}));
  }
  EXPECT_EQ(bot.request_state(), RequestState{});
}

TEST_F(CommandTest, CancelOrderRecordsTheOrderAndGateway) {
  EXPECT_EQ(answers_to("/cancel_order 4f2a GW1"),
            (Answers{"[T] Canceling order: order_id=4f2a,gateway_name=GW1..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) {
              s.cancel_order = true;
              s.cancel_order_id = "4f2a";
              s.gateway_name = "GW1";
            }));
  for (const char* text : {"/cancel_order 4f2a", "/cancel_order", "/cancel_order a b c"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(answers_to(text), (Answers{std::string(kCancelOrderUsage)}));
  }
  EXPECT_EQ(bot.cancel_order_id(), "4f2a");
}

TEST_F(CommandTest, SendOrderStoresTheInstructionUnparsed) {
  EXPECT_EQ(answers_to("/send_order ABC,100,l,o,l,GW1,350.2,None"),
            (Answers{"[T] Send order (ABC,100,l,o,l,GW1,350.2,None)..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) {
              s.send_order = true;
              s.order_string = "ABC,100,l,o,l,GW1,350.2,None";
            }));
  EXPECT_EQ(answers_to("/send_order ,,,,,,,"), (Answers{"[T] Send order (,,,,,,,)..."}));
  EXPECT_EQ(bot.order_string(), ",,,,,,,");
}

TEST_F(CommandTest, SendOrderWithWrongWordsGivesUsage) {
  for (const char* text :
       {"/send_order ABC,100,l,o,l,GW1,350.2", "/send_order ABC,100,l,o,l,GW1,1,None,x",
        "/send_order ABC,100,l,o l,GW1,350.2,None", "/send_order"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(answers_to(text), (Answers{std::string(kSendOrderUsage)}));
  }
  EXPECT_EQ(bot.request_state(), RequestState{});
}

TEST_F(CommandTest, ClosePositionsRecordsAGatewayOnlyWhenGiven) {
  EXPECT_EQ(answers_to("/close_positions"), (Answers{"[T] Closing positions..."}));
  EXPECT_EQ(bot.request_state(), initial_with([](RequestState& s) { s.close_positions = true; }));
  EXPECT_EQ(answers_to("/close_positions GW1"), (Answers{"[T] Closing positions..."}));
  EXPECT_EQ(bot.close_positions_gateway_name(), "GW1");
  EXPECT_EQ(answers_to("/close_positions GW1 GW2"), (Answers{std::string(kClosePositionsUsage)}));
  EXPECT_EQ(bot.close_positions_gateway_name(), "GW1");
}

TEST_F(CommandTest, PlainTextIsEchoedAndHelpIsNotAnswered) {
  EXPECT_EQ(answers_to("hello there"), (Answers{"[ECHO] hello there"}));
  EXPECT_TRUE(answers_to("/help").empty());
  EXPECT_TRUE(answers_to("/help@ThisBot").empty());
  EXPECT_EQ(bot.request_state(), RequestState{});
}

TEST_F(CommandTest, CommandsAddressedToThisBotAreServedAndToOthersIgnored) {
  EXPECT_EQ(answers_to("/balance@ThisBot"), (Answers{"[T] Fetching balance..."}));
  EXPECT_EQ(answers_to("/deals@thisbot 4"),
            (Answers{"[T] Fetching deals (num_deals_displayed=4)..."}));
  bot.take_requests();
  const RequestState before = bot.request_state();
  EXPECT_TRUE(answers_to("/stop@OtherBot").empty());
  EXPECT_TRUE(answers_to("/balance@OtherBot").empty());
  EXPECT_EQ(bot.request_state(), before);
}

TEST_F(CommandTest, AMessageFromAnotherChatIsRefused) {
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(answers_to("/stop", kStranger).empty());
  EXPECT_TRUE(answers_to("hello", kStranger).empty());
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Telegram: refused a message from chat 666: only the chat configured as "
            "TELEGRAM_CHAT_ID is served\n"
            "Telegram: refused a message from chat 666: only the chat configured as "
            "TELEGRAM_CHAT_ID is served\n");
  EXPECT_EQ(bot.zantrix_status(), "Running");
}

TEST(Commands, ACountIsASignAndDigitsWithinRange) {
  EXPECT_EQ(parse_count("5"), 5);
  EXPECT_EQ(parse_count("+5"), 5);
  EXPECT_EQ(parse_count("-0"), 0);
  EXPECT_EQ(parse_count("007"), 7);
  EXPECT_EQ(parse_count("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parse_count("-9223372036854775808"), INT64_MIN);
  for (const char* word :
       {"", "+", "-", "9223372036854775808", "5a", " 5", "0x10", "1e3", "++1", "+-1", "٣"}) {
    EXPECT_EQ(parse_count(word), std::nullopt) << word;
  }
}

TEST(Commands, TheWordListQuotesEachWord) {
  EXPECT_EQ(word_list({}), "[]");
  EXPECT_EQ(word_list({"-a", "5"}), "['-a', '5']");
  EXPECT_EQ(word_list({"it's"}), "[\"it's\"]");
  EXPECT_EQ(word_list({"a'b\"c"}), "['a\\'b\"c']");
  EXPECT_EQ(word_list({"back\\slash", "bell\x07"}), "['back\\\\slash', 'bell\\x07']");
}

// The time stamp is the local time of the process's time zone.
TEST(Commands, TheTimeStampFollowsTZ) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  const auto offset_of = [](const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
    const auto stamp = framework::parse_datetime(time_stamp());
    const auto utc =
        std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    return std::chrono::round<std::chrono::minutes>(stamp.time_since_epoch() -
                                                    utc.time_since_epoch());
  };
  EXPECT_EQ(offset_of("UTC0"), std::chrono::minutes(0));
  EXPECT_EQ(offset_of("XYZ-5:30"), std::chrono::minutes(330));
  if (saved != nullptr) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace zantrix::plugins::telegram
