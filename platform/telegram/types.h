// The Bot API objects this client reads: users, chats, messages and updates.
//
// Only the fields the bot uses are kept; unknown fields of an answer are
// ignored. An Update also keeps its JSON text, which is its text form
// (to_string). An update that cannot be read (a field the bot uses missing
// or of the wrong kind) keeps only its update_id and its JSON text, and says
// why in `unreadable`; when it has no usable update_id of its own, the one
// it gets from its place in the answer (api_json.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::telegram {

struct User {
  std::int64_t id = 0;
  bool is_bot = false;
  std::string first_name{};
  std::optional<std::string> username{};
};

struct Chat {
  std::int64_t id = 0;
  std::string type{};  // "private", "group", "supergroup" or "channel"
};

struct Message {
  std::int64_t message_id = 0;
  std::optional<User> from_user{};  // absent for messages sent on behalf of a chat
  Chat chat{};
  std::int64_t date = 0;  // Unix time
  std::optional<std::string> text{};
};

struct Update {
  std::int64_t update_id = 0;
  std::optional<Message> message{};  // a new incoming message, if that is what the update carries
  std::string json{};                // the update's JSON text
  // Why the update could not be read; absent for an update read in full.
  std::optional<std::string> unreadable{};

  // The chat the update belongs to; null when it carries no message.
  const Chat* effective_chat() const { return message ? &message->chat : nullptr; }
};

// The update's JSON text.
inline const std::string& to_string(const Update& update) {
  return update.json;
}

}  // namespace platform::telegram
