#include "zantrix/plugins/telegram/commands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/telegram/customed_ext_bot.h"

namespace zantrix::plugins::telegram {
namespace {

CustomedExtBot& client(CallbackContext& context) {
  return dynamic_cast<CustomedExtBot&>(context.bot);
}

// Sends `text` to the update's chat, behind the answers already on their way.
void answer(const Update& update, CallbackContext& context, std::string text) {
  if (const auto* chat = update.effective_chat())
    context.bot.post_message(chat->id, std::move(text));
}

// "[<time stamp>] " + text.
std::string stamped(std::string_view text) {
  std::string out = "[";
  out.append(time_stamp()).append("] ").append(text);
  return out;
}

void usage(const Update& update, CallbackContext& context, std::string_view text) {
  answer(update, context, std::string(text));
}

// Records a request with `change`, which returns the acknowledgement, and
// queues the acknowledgement before the lock is let go: the engine, which
// needs the lock to see the request, can only answer after it.
template <class Change>
void record(const Update& update, CallbackContext& context, Change&& change) {
  client(context).update(
      [&](RequestState& state) { answer(update, context, stamped(change(state))); });
}

std::string quote_word(const std::string& word) {
  const bool has_single = word.find('\'') != std::string::npos;
  const bool has_double = word.find('"') != std::string::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  for (const char c : word) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == quote) {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += quote;
  return out;
}

}  // namespace

std::string time_stamp() {
  return framework::format_datetime(framework::local_now());
}

std::optional<std::int64_t> parse_count(std::string_view word) {
  const bool plus = word.starts_with('+');
  if (plus) word.remove_prefix(1);
  if (word.empty() || (plus && word[0] == '-')) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::string word_list(const std::vector<std::string>& words) {
  std::string out = "[";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += ", ";
    out += quote_word(words[i]);
  }
  return out + "]";
}

void stop(const Update& update, CallbackContext& context) {
  record(update, context, [](RequestState& s) {
    s.zantrix_status = "Terminated";
    return "Terminating Zantrix...";
  });
}

void balance(const Update& update, CallbackContext& context) {
  record(update, context, [](RequestState& s) {
    s.get_balance = true;
    return "Fetching balance...";
  });
}

void positions(const Update& update, CallbackContext& context) {
  record(update, context, [](RequestState& s) {
    s.get_positions = true;
    return "Fetching positions...";
  });
}

void orders(const Update& update, CallbackContext& context) {
  const auto& args = context.args;
  answer(update, context, stamped(word_list(args) + "..."));
  if (args.size() > 2) return usage(update, context, kOrdersUsage);
  bool active = false;
  std::optional<std::int64_t> count;
  if (args.size() == 2) {
    if (args[0] != "-a" && args[1] != "-a") return usage(update, context, kOrdersUsage);
    const std::string* word = args[0] != "-a" ? &args[0] : args[1] != "-a" ? &args[1] : nullptr;
    if (word == nullptr) return;  // "-a -a": nothing to record, nothing more to say
    count = parse_count(*word);
    if (!count) return usage(update, context, kOrdersUsage);
    active = true;
  } else if (args.size() == 1) {
    if (args[0] == "-a") {
      active = true;
    } else {
      count = parse_count(args[0]);
      if (!count) return usage(update, context, kOrdersUsage);
    }
  }
  record(update, context, [&](RequestState& s) {
    if (active) s.active_orders = true;
    if (count) s.num_orders_displayed = *count;
    s.get_orders = true;
    return "Fetching orders (active_orders=" + framework::format_bool(s.active_orders) +
           ", num_orders_displayed=" + framework::format_integer(s.num_orders_displayed) + ")...";
  });
}

void deals(const Update& update, CallbackContext& context) {
  const auto& args = context.args;
  if (args.size() > 1) return usage(update, context, kDealsUsage);
  std::optional<std::int64_t> count;
  if (args.size() == 1) {
    count = parse_count(args[0]);
    if (!count) return usage(update, context, kDealsUsage);
  }
  record(update, context, [&](RequestState& s) {
    if (count) s.num_deals_displayed = *count;
    s.get_deals = true;
    return "Fetching deals (num_deals_displayed=" +
           framework::format_integer(s.num_deals_displayed) + ")...";
  });
}

void cancel_order(const Update& update, CallbackContext& context) {
  const auto& args = context.args;
  if (args.size() != 2) return usage(update, context, kCancelOrderUsage);
  record(update, context, [&](RequestState& s) {
    s.cancel_order = true;
    s.cancel_order_id = args[0];
    s.gateway_name = args[1];
    return "Canceling order: order_id=" + args[0] + ",gateway_name=" + args[1] + "...";
  });
}

void cancel_orders(const Update& update, CallbackContext& context) {
  record(update, context, [](RequestState& s) {
    s.cancel_orders = true;
    return "Canceling all active orders...";
  });
}

void send_order(const Update& update, CallbackContext& context) {
  const auto& args = context.args;
  if (args.size() != 1 || std::ranges::count(args[0], ',') != 7) {
    return usage(update, context, kSendOrderUsage);
  }
  record(update, context, [&](RequestState& s) {
    s.send_order = true;
    s.order_string = args[0];
    return "Send order (" + args[0] + ")...";
  });
}

void close_positions(const Update& update, CallbackContext& context) {
  const auto& args = context.args;
  if (args.size() > 1) return usage(update, context, kClosePositionsUsage);
  record(update, context, [&](RequestState& s) {
    if (args.size() == 1) s.close_positions_gateway_name = args[0];
    s.close_positions = true;
    return "Closing positions...";
  });
}

void echo(const Update& update, CallbackContext& context) {
  if (update.message && update.message->text)
    answer(update, context, "[ECHO] " + *update.message->text);
}

}  // namespace zantrix::plugins::telegram
