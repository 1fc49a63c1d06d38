// Reading Bot API objects from their JSON form. Internal to the client: a
// member that is missing or of the wrong kind throws nlohmann::json's own
// exception, which the client reports as a malformed answer.
#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/telegram/types.h"

namespace platform::telegram {

User user_from_json(const nlohmann::json& value);
Message message_from_json(const nlohmann::json& value);
Update update_from_json(const nlohmann::json& value);

// The items of the result of a getUpdates asked from `offset`. An item that
// cannot be read becomes an Update marked `unreadable`, so that it is passed
// over rather than holding up the items behind it. One whose update_id cannot
// be read either is numbered by its place: the id after the item before it
// (the Bot API numbers updates one after another), `offset` for the first
// item when the offset is positive, else the ids just below the first
// readable one. Such a number lies between the ids of the items around it, so
// confirming past it skips no other update. An answer that gives no id at
// all and no offset to count from cannot be placed and throws.
std::vector<Update> updates_from_json(const nlohmann::json& value, std::int64_t offset);

}  // namespace platform::telegram
