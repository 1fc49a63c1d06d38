// Reading Bot API objects from their JSON form. Internal to the client: a
// member that is missing or of the wrong kind throws nlohmann::json's own
// exception, which the client reports as a malformed answer.
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "platform/telegram/types.h"

namespace platform::telegram {

User user_from_json(const nlohmann::json& value);
Message message_from_json(const nlohmann::json& value);
Update update_from_json(const nlohmann::json& value);
// The items of a getUpdates result. An item that cannot be read but carries
// an integer update_id becomes an Update marked `unreadable`; one without an
// update_id cannot be placed among the updates and throws.
std::vector<Update> updates_from_json(const nlohmann::json& value);

}  // namespace platform::telegram
