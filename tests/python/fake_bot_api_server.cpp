// The fake Bot API of the bot's tests as a process the Python tests drive:
// it prints its address on the first line, then serves until its input ends,
// answering one line of input with one line of output:
//   push <chat id> <text>  queues a message from that chat; prints its update id
//   texts <chat id>        prints the texts sent to the chat as a JSON list
#include <iostream>
#include <string>

#include "tests/platform/telegram/fake_bot_api.h"

namespace {

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += ' ';
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace

int main() {
  platform::telegram::testing::FakeBotApi api;
  std::cout << api.url() << std::endl;
  for (std::string command; std::cin >> command;) {
    long long chat = 0;
    std::cin >> chat;
    if (command == "push") {
      std::string text;
      std::getline(std::cin, text);
      if (!text.empty() && text.front() == ' ') text.erase(0, 1);
      std::cout << api.push_text(chat, text) << std::endl;
    } else if (command == "texts") {
      std::string list = "[";
      for (const auto& text : api.texts_to(chat)) {
        list += (list.size() > 1 ? ", " : "") + json_text(text);
      }
      std::cout << list << "]" << std::endl;
    } else {
      std::cout << "unknown command " << command << std::endl;
    }
  }
}
