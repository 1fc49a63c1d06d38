// The two handlers of the bot: bot commands and plain text messages.
//
// A message is a bot command when its text starts with "/" and a command
// name of letters, digits and underscores, optionally followed by "@" and a
// bot's username of the same characters (the form the Bot API marks as a
// bot_command entity at the start of a message). Its arguments are the words
// after the first word, split on white space.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/telegram/dispatcher.h"

namespace platform::telegram {

// The parts of a command at the start of a text: "/name" or "/name@username".
struct CommandText {
  std::string_view name;
  std::string_view username;  // empty when the command names no bot
};

// The command at the start of `text`; absent when the text does not start
// with one.
std::optional<CommandText> parse_command(std::string_view text);

// The words of `text` separated by white space (blank, tab, line breaks).
std::vector<std::string> split_words(std::string_view text);

// Takes the messages that are the command `name`, exactly as written, either
// bare ("/name") or addressed to this bot ("/name@<username>", the username
// compared without regard to case). A command addressed to another bot is not
// taken. The callback's args are the words after the command.
class CommandHandler : public Handler {
 public:
  CommandHandler(std::string name, Callback callback);

  bool check_update(const Update& update, const Bot& bot) const override;
  std::vector<std::string> arguments(const Update& update) const override;

 private:
  std::string name_;
};

// Takes the messages with text that is not a bot command (to any bot).
class MessageHandler : public Handler {
 public:
  using Handler::Handler;

  bool check_update(const Update& update, const Bot& bot) const override;
};

}  // namespace platform::telegram
