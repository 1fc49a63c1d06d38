// A TelegramBot serving the owner's chat through a fake Bot API, and helpers
// to talk to it as a user would.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/platform/telegram/fake_bot_api.h"
#include "tests/platform/telegram/fast_options.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/plugins/telegram/bot.h"

namespace zantrix::plugins::telegram {

using platform::telegram::testing::FakeBotApi;
using platform::telegram::testing::Fault;
using platform::telegram::testing::kPrompt;
using namespace std::chrono_literals;

inline constexpr std::int64_t kOwner = 4242;
inline constexpr std::int64_t kStranger = 666;

inline TelegramBot::Options test_options(const FakeBotApi& api, bool start_polling = true) {
  return {.api_url = api.url(),
          .chat_id = kOwner,
          .bot = platform::telegram::testing::fast_bot_options(),
          .updater = platform::telegram::testing::fast_updater_options(),
          .start_polling = start_polling};
}

// Replaces the leading "[<time stamp>] " of an answer by "[T] ", after
// checking that the stamp is a local date-time in the answer's form.
inline std::string unstamped(const std::string& answer) {
  static const std::regex stamp(R"(^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{6})?)\] )");
  std::smatch match;
  if (!std::regex_search(answer, match, stamp)) return answer;
  framework::DateTime parsed;
  EXPECT_TRUE(framework::try_parse_datetime(match[1].str(), parsed)) << answer;
  EXPECT_NE(match[2].str(), ".000000") << "a zero fraction is left out";
  return "[T] " + answer.substr(static_cast<std::size_t>(match.length(0)));
}

class BotFixture : public ::testing::Test {
 protected:
  // Sends `text` from `chat`, then a marker message from the owner, and
  // returns what the bot answered `chat` before it answered the marker (time
  // stamps replaced by "[T]"). Updates are served and answered in order, so
  // this is everything `text` was answered with.
  std::vector<std::string> answers_to(const std::string& text, std::int64_t chat = kOwner) {
    const std::size_t before = api.texts_to(chat).size();
    api.push_text(chat, text);
    const std::string marker = "marker " + std::to_string(++markers_);
    api.push_text(kOwner, marker);
    const bool answered = api.wait_for([&] {
      const auto texts = api.texts_to(kOwner);
      return !texts.empty() && texts.back() == "[ECHO] " + marker;
    });
    EXPECT_TRUE(answered) << "no answer to the marker after " << text;
    std::vector<std::string> answers;
    const auto texts = api.texts_to(chat);
    for (std::size_t i = before; i < texts.size(); ++i) {
      if (texts[i] != "[ECHO] " + marker) answers.push_back(unstamped(texts[i]));
    }
    return answers;
  }

  FakeBotApi api;
  TelegramBot bot{std::string(FakeBotApi::kToken), test_options(api)};

 private:
  int markers_ = 0;
};

}  // namespace zantrix::plugins::telegram
