#include "platform/telegram/handlers.h"

#include <algorithm>

namespace platform::telegram {
namespace {

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return lower(x) == lower(y); });
}

// The length of the run of name characters at `from`.
std::size_t name_length(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && is_name_char(text[end])) ++end;
  return end - from;
}

const std::string* text_of(const Update& update) {
  return update.message && update.message->text ? &*update.message->text : nullptr;
}

}  // namespace

std::optional<CommandText> parse_command(std::string_view text) {
  if (text.empty() || text[0] != '/') return std::nullopt;
  const std::size_t length = name_length(text, 1);
  if (length == 0) return std::nullopt;
  CommandText command{.name = text.substr(1, length), .username = {}};
  const std::size_t at = 1 + length;
  if (at < text.size() && text[at] == '@') {
    command.username = text.substr(at + 1, name_length(text, at + 1));
  }
  return command;
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_space(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !is_space(text[i])) ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

CommandHandler::CommandHandler(std::string name, Callback callback)
    : Handler(std::move(callback)), name_(std::move(name)) {}

bool CommandHandler::check_update(const Update& update, const Bot& bot) const {
  const std::string* text = text_of(update);
  if (text == nullptr) return false;
  const auto command = parse_command(*text);
  if (!command || command->name != name_) return false;
  if (command->username.empty()) return true;
  const auto username = bot.username();
  return username && same_ignoring_case(command->username, *username);
}

std::vector<std::string> CommandHandler::arguments(const Update& update) const {
  const std::string* text = text_of(update);
  if (text == nullptr) return {};
  std::vector<std::string> words = split_words(*text);
  if (!words.empty()) words.erase(words.begin());
  return words;
}

bool MessageHandler::check_update(const Update& update, const Bot&) const {
  const std::string* text = text_of(update);
  return text != nullptr && !parse_command(*text);
}

}  // namespace platform::telegram
