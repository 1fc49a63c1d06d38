// zantrix bot: the Telegram control bot as a program.
//
// With --selfcheck it runs the bot's self-check. Otherwise it serves the chat
// commands until "/stop" and plays the engine's part from the record store:
// it polls the bot's requests, answers those the store can serve, answers the
// others with "Not connected to an engine", and clears each request once it
// is answered. It reads the store only, so it can watch beside a live engine:
// the balance and positions it shows are the engine's latest snapshot.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "platform/telegram/report.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/table.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/sqlite3/db.h"
#include "zantrix/plugins/telegram/bot.h"

namespace zantrix::app {
namespace {

using framework::Table;
using platform::telegram::report;
using plugins::sqlite3::DB;
using plugins::telegram::RequestState;
using plugins::telegram::TelegramBot;

using namespace std::chrono_literals;

constexpr auto kPollInterval = 100ms;
// Messages are cut to stay below the Bot API's limit of 4096 characters (a
// byte count is never below the character count), with room left for the
// note on lines not shown.
constexpr std::size_t kMaxMessageBytes = 4000;
// An answer takes at most this many messages; the lines beyond are counted.
constexpr std::size_t kMaxMessagesPerAnswer = 4;
constexpr std::string_view kNoStore = "No records: the record store is not available.";
// The order statuses that can still change.
constexpr std::string_view kActiveStatuses[] = {"SUBMITTING", "SUBMITTED", "PART_FILLED"};

// The record store: on its server, or in its file when that exists;
// otherwise null, and a line says why.
std::unique_ptr<DB> open_store() {
  try {
    if (plugins::sqlite3::_db_uri()) return std::make_unique<DB>();
  } catch (const std::exception& error) {
    report("The record store cannot be opened (" + std::string(error.what()) +
           "); record requests get \"" + std::string(kNoStore) + "\"");
    return nullptr;
  }
  std::optional<std::string> folder;
  try {
    folder = plugins::sqlite3::_db_path();
  } catch (const framework::ValueError&) {
  }
  if (!folder) {
    report("No record store is configured (DB); record requests get \"" + std::string(kNoStore) +
           "\"");
    return nullptr;
  }
  const std::filesystem::path file = std::filesystem::path(*folder) / "zantrix.db";
  if (!std::filesystem::exists(file)) {
    report("No record store at " + file.string() + "; record requests get \"" +
           std::string(kNoStore) + "\"");
    return nullptr;
  }
  return std::make_unique<DB>();
}

std::string cell_text(const framework::Column& column, std::size_t row) {
  switch (column.kind()) {
    case framework::ColumnKind::Number:
      return framework::format_number(column.numbers()[row]);
    case framework::ColumnKind::Integer:
      return std::to_string(column.integers()[row]);
    case framework::ColumnKind::Text:
      return std::string(column.texts()[row]);
    case framework::ColumnKind::DateTime:
      return framework::format_datetime(column.datetimes()[row]);
  }
  return {};
}

// The row's cells that hold a value, as "name<separator>value", joined by `joint`.
std::string row_text(const Table& table, std::size_t row, std::string_view separator,
                     std::string_view joint) {
  std::string text;
  for (const framework::Column& column : table.column_list()) {
    if (column.missing(row)) continue;
    if (!text.empty()) text += joint;
    text += column.name();
    text += separator;
    text += cell_text(column, row);
  }
  return text;
}

// The rows in the order of their `id`, the store's order of insertion.
Table by_id(Table table) {
  if (table.has_column("id")) table.sort_by("id");
  return table;
}

// The last `count` rows, none for a count below 1.
Table last_rows(const Table& table, std::int64_t count) {
  const std::size_t keep = count < 1 ? 0 : std::min(table.rows(), static_cast<std::size_t>(count));
  std::vector<std::size_t> positions(keep);
  for (std::size_t i = 0; i < keep; ++i) positions[i] = table.rows() - keep + i;
  return table.take(positions);
}

Table active_only(const Table& orders) {
  if (!orders.has_column("status")) return orders;
  const framework::Column& status = orders.column("status");
  std::vector<std::uint8_t> keep(orders.rows());
  for (std::size_t i = 0; i < orders.rows(); ++i) {
    keep[i] = !status.missing(i) &&
              std::ranges::find(kActiveStatuses, status.texts()[i]) != std::end(kActiveStatuses);
  }
  return orders.select(keep);
}

std::string listing(const Table& rows, const std::string& title, const std::string& none) {
  if (rows.empty()) return none;
  std::string text = title + ":";
  for (std::size_t i = 0; i < rows.rows(); ++i) {
    text += '\n';
    text += row_text(rows, i, "=", ", ");
  }
  return text;
}

std::string balance_text(DB& store) {
  const Table balances = by_id(store.select_records("balance"));
  if (balances.empty()) return "No balance recorded.";
  return "Balance:\n" + row_text(balances, balances.rows() - 1, ": ", "\n");
}

// The engine's current positions: those recorded with the latest balance
// snapshot, which they point to by balance_id.
std::string positions_text(DB& store) {
  const Table latest =
      store.select_records("balance", std::vector<std::string>{"id"},
                           {{"condition_str", std::string("id = (SELECT MAX(id) FROM balance)")}});
  if (latest.empty()) return "No open positions.";
  const std::int64_t balance_id = latest.column("id").integers()[0];
  return listing(by_id(store.select_records("position", {}, {{"balance_id", balance_id}})),
                 "Positions", "No open positions.");
}

std::string orders_text(DB& store, const RequestState& request) {
  Table orders = by_id(store.select_records("trading_order"));
  if (request.active_orders) orders = active_only(orders);
  const std::string count = " (last " + std::to_string(request.num_orders_displayed) + ")";
  return listing(last_rows(orders, request.num_orders_displayed),
                 request.active_orders ? "Active orders" + count : "Orders" + count,
                 request.active_orders ? "No active orders recorded." : "No orders recorded.");
}

std::string deals_text(DB& store, const RequestState& request) {
  return listing(
      last_rows(by_id(store.select_records("trading_deal")), request.num_deals_displayed),
      "Deals (last " + std::to_string(request.num_deals_displayed) + ")", "No deals recorded.");
}

// Sends `text` in at most kMaxMessagesPerAnswer pieces that stay under the
// message limit, cut at line breaks where possible and never inside a UTF-8
// character. When the text needs more, the last piece ends with the count of
// the lines left out.
void send_long(TelegramBot& bot, std::string_view text) {
  for (std::size_t sent = 0; !text.empty(); ++sent) {
    std::size_t cut = text.size();
    if (cut > kMaxMessageBytes) {
      cut = text.rfind('\n', kMaxMessageBytes);
      if (cut == std::string_view::npos || cut == 0) {
        cut = kMaxMessageBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      }
    }
    std::string piece(text.substr(0, cut));
    text.remove_prefix(cut);
    if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    if (sent + 1 == kMaxMessagesPerAnswer && !text.empty()) {
      const auto left_out = std::ranges::count(text, '\n') + (text.back() == '\n' ? 0 : 1);
      piece += "\n(" + std::to_string(left_out) + " more lines not shown)";
      text = {};
    }
    bot.send_message(std::move(piece));
  }
}

// Answers one record request from the store, or says why it cannot.
template <class Read>
void answer_from(TelegramBot& bot, DB* store, Read&& read) {
  if (store == nullptr) return bot.send_message(std::string(kNoStore));
  try {
    send_long(bot, read(*store));
  } catch (const std::exception& e) {
    bot.send_message(std::string("Could not read the records: ") + e.what());
  }
}

void answer(TelegramBot& bot, const RequestState& request, DB* store) {
  if (request.get_balance) answer_from(bot, store, balance_text);
  if (request.get_positions) answer_from(bot, store, positions_text);
  if (request.get_orders) answer_from(bot, store, [&](DB& db) { return orders_text(db, request); });
  if (request.get_deals) answer_from(bot, store, [&](DB& db) { return deals_text(db, request); });
  if (request.send_order) bot.send_message("Not connected to an engine: no order was sent.");
  if (request.cancel_order) bot.send_message("Not connected to an engine: no order was cancelled.");
  if (request.cancel_orders)
    bot.send_message("Not connected to an engine: no orders were cancelled.");
  if (request.close_positions)
    bot.send_message("Not connected to an engine: no positions were closed.");
}

int serve() {
  const std::unique_ptr<DB> store = open_store();
  TelegramBot& bot = plugins::telegram::bot();
  report("Serving Telegram commands until /stop");
  for (;;) {
    if (const auto error = bot.error()) throw std::runtime_error(*error);
    const RequestState request = bot.take_requests();
    answer(bot, request, store.get());
    if (request.zantrix_status == "Terminated") {
      bot.close();
      report("Stopped by /stop.");
      return 0;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace

int run_bot(std::span<const std::string> words) {
  const Arguments args(words, {}, {"--selfcheck"});
  if (!args.positional().empty()) throw UsageError("bot takes no words, only --selfcheck");
  if (args.has("--selfcheck")) {
    plugins::telegram::self_check();
    return 0;
  }
  return serve();
}

}  // namespace zantrix::app
