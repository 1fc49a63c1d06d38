#include "platform/telegram/api_json.h"

#include <cstdint>
#include <string>

namespace platform::telegram {

using nlohmann::json;

namespace {

template <class T>
std::optional<T> optional_member(const json& value, const char* name) {
  const auto it = value.find(name);
  if (it == value.end() || it->is_null()) return std::nullopt;
  return it->get<T>();
}

}  // namespace

User user_from_json(const json& value) {
  return {.id = value.at("id").get<std::int64_t>(),
          .is_bot = value.value("is_bot", false),
          .first_name = value.value("first_name", std::string()),
          .username = optional_member<std::string>(value, "username")};
}

Message message_from_json(const json& value) {
  const json& chat = value.at("chat");
  const auto from = value.find("from");
  return {
      .message_id = value.at("message_id").get<std::int64_t>(),
      .from_user = from != value.end() && from->is_object()
                       ? std::optional<User>(user_from_json(*from))
                       : std::nullopt,
      .chat = {.id = chat.at("id").get<std::int64_t>(), .type = chat.value("type", std::string())},
      .date = value.value("date", std::int64_t{0}),
      .text = optional_member<std::string>(value, "text")};
}

Update update_from_json(const json& value) {
  const auto message = value.find("message");
  return {.update_id = value.at("update_id").get<std::int64_t>(),
          .message = message != value.end() && message->is_object()
                         ? std::optional<Message>(message_from_json(*message))
                         : std::nullopt,
          .json = value.dump(-1, ' ', false, json::error_handler_t::replace)};
}

std::vector<Update> updates_from_json(const json& value) {
  std::vector<Update> updates;
  updates.reserve(value.size());
  for (const json& item : value.get_ref<const json::array_t&>()) {
    try {
      updates.push_back(update_from_json(item));
    } catch (const json::exception& e) {
      updates.push_back({.update_id = item.at("update_id").get<std::int64_t>(),
                         .json = item.dump(-1, ' ', false, json::error_handler_t::replace),
                         .unreadable = e.what()});
    }
  }
  return updates;
}

}  // namespace platform::telegram
