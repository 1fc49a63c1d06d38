// The chat commands of the bot and the echo of plain text.
//
// Each callback runs on the update fetcher's thread with the update and a
// context whose `bot` is the bot client (a CustomedExtBot) and whose `args`
// are the words after the command. A command checks its words first; wrong
// words are answered with the command's usage text and leave the request
// state exactly as it was. Accepted words are recorded in one publication
// (CustomedExtBot::update), inside which the acknowledgement, with a time
// stamp, is queued for the update's chat: whatever the engine answers after
// seeing the request arrives after it. No command calls the engine.
//
// A count is an optional sign and decimal digits that fit a 64-bit integer;
// 0 and negative counts are recorded as given. Anything else, a count too
// large included, gets the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/telegram/dispatcher.h"
#include "platform/telegram/types.h"

namespace zantrix::plugins::telegram {

using platform::telegram::CallbackContext;
using platform::telegram::Update;

// The usage texts of the commands that take words; the others ignore any
// words they are given.
inline constexpr std::string_view kOrdersUsage =
    "/orders [parameters]: Fetch orders\n"
    "- filter:str (optional) if \"-a\", only return alive orders\n"
    "- n:int (optional) number of displayed records";
inline constexpr std::string_view kDealsUsage =
    "/deals [parameters]: fetch done deals\n"
    "- n:int (optional) number of displayed records";
inline constexpr std::string_view kCancelOrderUsage =
    "/cancel_order [parameters]: cancel an active order\n"
    "- order_id: str, the id of the order\n"
    "- gateway_name: str, the name of the gateway";
inline constexpr std::string_view kSendOrderUsage =
    "/send_order [parameters] send an order with string instruction:\n"
    "- order_string: str, security_code, quantity, direction(l/s), offset(o/c),\n"
    "                order_type(m/l/s), gateway_name, price(None),\n"
    "                stop_price(None)";
inline constexpr std::string_view kClosePositionsUsage =
    "/close_positions [parameters]:\n"
    "- gateway_name: str, the name of the gateway";

// "/stop": zantrix_status = "Terminated".
void stop(const Update& update, CallbackContext& context);
// "/balance": get_balance.
void balance(const Update& update, CallbackContext& context);
// "/positions": get_positions.
void positions(const Update& update, CallbackContext& context);
// "/orders [-a] [n]": echoes its words first, then get_orders with the filter
// and count.
void orders(const Update& update, CallbackContext& context);
// "/deals [n]": get_deals with the count.
void deals(const Update& update, CallbackContext& context);
// "/cancel_order <order_id> <gateway_name>".
void cancel_order(const Update& update, CallbackContext& context);
// "/cancel_orders": cancel_orders.
void cancel_orders(const Update& update, CallbackContext& context);
// "/send_order <eight comma-separated fields>", stored unparsed.
void send_order(const Update& update, CallbackContext& context);
// "/close_positions [gateway_name]".
void close_positions(const Update& update, CallbackContext& context);
// Any text that is not a command: "[ECHO] " + the text.
void echo(const Update& update, CallbackContext& context);

// The local date and time now, "%Y-%m-%d %H:%M:%S" with ".ffffff" unless the
// microseconds are zero; the process's time zone (TZ) applies.
std::string time_stamp();

// A count: an optional sign and decimal digits within the 64-bit range.
std::optional<std::int64_t> parse_count(std::string_view word);

// The words as a list: "[" + each word quoted + "]" joined by ", ", as in
// ['-a', '5']. A word is put in single quotes, or in double quotes when it
// holds a single quote and no double quote; backslashes, the enclosing quote
// and control characters are escaped.
std::string word_list(const std::vector<std::string>& words);

}  // namespace zantrix::plugins::telegram
