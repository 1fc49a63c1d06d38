#include "platform/telegram/api_json.h"

#include <cstdint>
#include <limits>
#include <optional>
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

std::string text_of(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The item's update_id, or why it cannot be read.
std::optional<std::int64_t> id_of(const json& item, std::string& why) {
  if (!item.is_object()) {
    why = "not an object";
    return std::nullopt;
  }
  const auto id = item.find("update_id");
  if (id == item.end()) {
    why = "no update_id";
  } else if (id->is_number_unsigned()) {
    if (id->get<std::uint64_t>() <= std::numeric_limits<std::int64_t>::max()) {
      return id->get<std::int64_t>();
    }
    why = "update_id out of range";
  } else if (id->is_number_integer()) {
    return id->get<std::int64_t>();
  } else {
    why = "update_id not an integer";
  }
  return std::nullopt;
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
          .json = text_of(value)};
}

std::vector<Update> updates_from_json(const json& value, std::int64_t offset) {
  const auto& items = value.get_ref<const json::array_t&>();
  std::vector<Update> updates;
  updates.reserve(items.size());
  // The id of the item before the next one, as far as it is known.
  std::optional<std::int64_t> previous;
  if (offset > 0) previous = offset - 1;
  std::size_t unplaced = 0;  // leading items whose ids wait for the first readable one
  for (const json& item : items) {
    std::string why;
    const std::optional<std::int64_t> id = id_of(item, why);
    if (!id) {
      Update skipped{.json = text_of(item), .unreadable = why};
      if (previous) {
        skipped.update_id = ++*previous;
        *skipped.unreadable += ", numbered by its place in the answer";
      } else {
        ++unplaced;
      }
      updates.push_back(std::move(skipped));
      continue;
    }
    if (!previous) {
      for (std::size_t i = 0; i < unplaced; ++i) {
        updates[i].update_id = *id - static_cast<std::int64_t>(unplaced - i);
        *updates[i].unreadable += ", numbered by its place in the answer";
      }
      unplaced = 0;
    }
    previous = *id;
    try {
      updates.push_back(update_from_json(item));
    } catch (const json::exception& e) {
      updates.push_back({.update_id = *id, .json = text_of(item), .unreadable = e.what()});
    }
  }
  if (unplaced > 0) {
    throw json::other_error::create(
        501, "no update of the answer carries an update_id to count from", nullptr);
  }
  return updates;
}

}  // namespace platform::telegram
