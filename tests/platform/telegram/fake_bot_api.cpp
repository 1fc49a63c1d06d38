#include "tests/platform/telegram/fake_bot_api.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace platform::telegram::testing {

using nlohmann::json;

struct FakeBotApi::Server {
  std::string username;
  std::string scheme;
  std::unique_ptr<httplib::Server> http;
  int port = 0;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable changed;
  bool shutting_down = false;
  std::int64_t next_update_id = 100;
  std::int64_t next_message_id = 1;
  struct Queued {
    std::int64_t id;
    json update;
  };
  std::deque<Queued> queue;           // updates not yet confirmed, oldest first
  std::uint64_t poll_generation = 0;  // bumped by every getUpdates
  std::size_t conflicts = 0;
  std::size_t waiting = 0;  // getUpdates calls waiting for updates now
  std::map<std::string, std::deque<Fault>> faults;
  std::vector<Call> calls;
  std::vector<Sent> sent;

  void handle(const httplib::Request& request, httplib::Response& response);
  void answer(httplib::Response& response, int status, const json& body, Call& call);
  void get_updates(const json& params, httplib::Response& response, Call& call);
  void send_message(const json& params, httplib::Response& response, Call& call);
  std::int64_t push(json update, bool number_it);
};

namespace {

json error_envelope(int status, std::string description, std::optional<int> retry_after = {}) {
  json body = {{"ok", false}, {"error_code", status}, {"description", std::move(description)}};
  if (retry_after) body["parameters"] = {{"retry_after", *retry_after}};
  return body;
}

json ok(json result) {
  return {{"ok", true}, {"result", std::move(result)}};
}

std::string description_of(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden: bot was blocked by the user";
    case 409:
      return "Conflict: terminated by other getUpdates request";
    case 429:
      return "Too Many Requests";
    default:
      return "Internal Server Error";
  }
}

}  // namespace

void FakeBotApi::Server::answer(httplib::Response& response, int status, const json& body,
                                Call& call) {
  response.status = status;
  response.set_content(body.dump(), "application/json");
  call.status = status;
}

void FakeBotApi::Server::handle(const httplib::Request& request, httplib::Response& response) {
  const std::string token = request.matches[1];
  const std::string method = request.matches[2];
  Call call{.method = method, .at = Clock::now(), .status = 0};
  const json params = json::parse(request.body, nullptr, false);

  std::optional<Fault> fault;
  std::size_t index = 0;  // the call's place in `calls`, recorded on arrival
  {
    std::lock_guard lock(mutex);
    if (auto it = faults.find(method); it != faults.end() && !it->second.empty()) {
      fault = it->second.front();
      it->second.pop_front();
    }
    if (method == "getUpdates" && params.is_object()) {
      call.offset = params.value("offset", std::int64_t{0});
      call.timeout = params.value("timeout", std::int64_t{0});
    }
    call.status = -1;
    index = calls.size();
    calls.push_back(call);
  }
  const auto record = [&] {
    std::lock_guard lock(mutex);
    calls[index].status = call.status;
    changed.notify_all();
  };

  const auto sleep = [&](std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, delay, [&] { return shutting_down; });
  };
  const bool slow = fault && fault->status == 200 && !fault->body;
  if (fault && !slow) sleep(fault->delay);
  if (fault && fault->status == 0) {
    // Headers promise a body that never comes: the client sees the
    // connection close in the middle of the answer.
    response.set_content_provider(
        64, "application/json", [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
    call.status = 0;
  } else if (fault && fault->body) {
    response.status = fault->status;
    response.set_content(*fault->body, "text/html");
    call.status = fault->status;
  } else if (fault && !slow) {
    answer(response, fault->status,
           error_envelope(fault->status, description_of(fault->status), fault->retry_after), call);
  } else if (token != kToken) {
    answer(response, 401, error_envelope(401, "Unauthorized"), call);
  } else if (!params.is_object()) {
    answer(response, 400, error_envelope(400, "Bad Request: the body is not a JSON object"), call);
  } else if (method == "getMe") {
    answer(
        response, 200,
        ok({{"id", kBotId}, {"is_bot", true}, {"first_name", "Test bot"}, {"username", username}}),
        call);
  } else if (method == "getUpdates") {
    get_updates(params, response, call);
  } else if (method == "sendMessage") {
    send_message(params, response, call);
  } else {
    answer(response, 404, error_envelope(404, "Not Found"), call);
  }
  // A slow answer is worked out at once and then held back, as a slow link
  // would: the service has already done what the call asked.
  if (slow) sleep(fault->delay);
  record();
}

void FakeBotApi::Server::get_updates(const json& params, httplib::Response& response, Call& call) {
  const std::int64_t offset = params.value("offset", std::int64_t{0});
  const std::int64_t timeout = params.value("timeout", std::int64_t{0});
  const auto limit = static_cast<std::size_t>(params.value("limit", 100));
  std::unique_lock lock(mutex);
  while (!queue.empty() && queue.front().id < offset) {
    queue.pop_front();
  }
  const std::uint64_t generation = ++poll_generation;
  changed.notify_all();
  ++waiting;
  changed.notify_all();
  changed.wait_for(lock, std::chrono::seconds(timeout), [&] {
    return shutting_down || generation != poll_generation || !queue.empty();
  });
  --waiting;
  if (generation != poll_generation) {
    ++conflicts;
    lock.unlock();
    answer(response, 409,
           error_envelope(409,
                          "Conflict: terminated by other getUpdates request; make sure that "
                          "only one bot instance is running"),
           call);
    return;
  }
  json result = json::array();
  for (const Queued& queued : queue) {
    if (result.size() == limit) break;
    result.push_back(queued.update);
  }
  lock.unlock();
  answer(response, 200, ok(std::move(result)), call);
}

void FakeBotApi::Server::send_message(const json& params, httplib::Response& response, Call& call) {
  if (!params.contains("chat_id") || !params["chat_id"].is_number_integer() ||
      !params.contains("text") || !params["text"].is_string() ||
      params["text"].get<std::string>().empty()) {
    answer(response, 400, error_envelope(400, "Bad Request: message text is empty"), call);
    return;
  }
  const auto chat_id = params["chat_id"].get<std::int64_t>();
  const auto text = params["text"].get<std::string>();
  std::int64_t message_id = 0;
  {
    std::lock_guard lock(mutex);
    sent.push_back({chat_id, text});
    message_id = next_message_id++;
  }
  answer(response, 200,
         ok({{"message_id", message_id},
             {"from", {{"id", kBotId}, {"is_bot", true}, {"first_name", "Test bot"}}},
             {"chat", {{"id", chat_id}, {"type", "private"}}},
             {"date", 1700000000},
             {"text", text}}),
         call);
}

std::int64_t FakeBotApi::Server::push(json update, bool number_it) {
  std::lock_guard lock(mutex);
  const std::int64_t id = next_update_id++;
  if (number_it) {
    update["update_id"] = id;
    if (update.contains("message") && update["message"].is_object()) {
      update["message"]["message_id"] = 1000 + id;
    }
  }
  queue.push_back({id, std::move(update)});
  changed.notify_all();
  return id;
}

FakeBotApi::FakeBotApi(std::string username, Scheme scheme, int port)
    : server_(std::make_unique<Server>()) {
  Server& s = *server_;
  s.username = std::move(username);
  if (scheme == Scheme::https) {
    s.scheme = "https";
    s.http = std::make_unique<httplib::SSLServer>(ca_file().c_str(),
                                                  FAKE_BOT_API_FILES "/fake_bot_api_key.pem");
    if (!s.http->is_valid()) throw std::runtime_error("the fake Bot API's certificate is unusable");
  } else {
    s.scheme = "http";
    s.http = std::make_unique<httplib::Server>();
  }
  s.http->set_tcp_nodelay(true);  // answers leave at once, not after a delayed acknowledgement
  s.http->Post(R"(/bot([^/]+)/([A-Za-z]+))",
               [&s](const httplib::Request& request, httplib::Response& response) {
                 s.handle(request, response);
               });
  s.port = port == 0 ? s.http->bind_to_any_port("127.0.0.1")
                     : (s.http->bind_to_port("127.0.0.1", port) ? port : -1);
  if (s.port <= 0) throw std::runtime_error("the fake Bot API could not bind to 127.0.0.1");
  s.thread = std::thread([&s] { s.http->listen_after_bind(); });
  while (!s.http->is_running()) std::this_thread::sleep_for(1ms);
}

FakeBotApi::~FakeBotApi() {
  {
    std::lock_guard lock(server_->mutex);
    server_->shutting_down = true;
  }
  server_->changed.notify_all();
  server_->http->stop();
  server_->thread.join();
}

std::string FakeBotApi::url() const {
  return server_->scheme + "://127.0.0.1:" + std::to_string(server_->port);
}

std::string FakeBotApi::ca_file() {
  return FAKE_BOT_API_FILES "/fake_bot_api_cert.pem";
}

std::int64_t FakeBotApi::push_text(std::int64_t chat_id, std::string text,
                                   std::optional<std::int64_t> from_id) {
  return server_->push(
      {{"message",
        {{"from", {{"id", from_id.value_or(chat_id)}, {"is_bot", false}, {"first_name", "Ann"}}},
         {"chat", {{"id", chat_id}, {"type", "private"}}},
         {"date", 1700000000},
         {"text", std::move(text)}}}},
      true);
}

std::int64_t FakeBotApi::push_json(std::string_view update, bool number_it) {
  return server_->push(json::parse(update), number_it);
}

void FakeBotApi::fail_next(std::string method, Fault fault, int times) {
  std::lock_guard lock(server_->mutex);
  auto& queue = server_->faults[std::move(method)];
  for (int i = 0; i < times; ++i) queue.push_back(fault);
}

std::vector<FakeBotApi::Call> FakeBotApi::calls() const {
  std::lock_guard lock(server_->mutex);
  return server_->calls;
}

std::size_t FakeBotApi::count(std::string_view method) const {
  std::lock_guard lock(server_->mutex);
  return static_cast<std::size_t>(std::ranges::count(server_->calls, method, &Call::method));
}

std::vector<FakeBotApi::Sent> FakeBotApi::sent() const {
  std::lock_guard lock(server_->mutex);
  return server_->sent;
}

std::vector<std::string> FakeBotApi::texts_to(std::int64_t chat_id) const {
  std::vector<std::string> texts;
  for (const Sent& s : sent()) {
    if (s.chat_id == chat_id) texts.push_back(s.text);
  }
  return texts;
}

std::size_t FakeBotApi::unconfirmed() const {
  std::lock_guard lock(server_->mutex);
  return server_->queue.size();
}

std::size_t FakeBotApi::waiting_polls() const {
  std::lock_guard lock(server_->mutex);
  return server_->waiting;
}

std::size_t FakeBotApi::conflicts() const {
  std::lock_guard lock(server_->mutex);
  return server_->conflicts;
}

bool FakeBotApi::wait_for(const std::function<bool()>& condition,
                          std::chrono::milliseconds limit) const {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

bool FakeBotApi::wait_for_sent(std::size_t count, std::chrono::milliseconds limit) const {
  return wait_for([&] { return sent().size() >= count; }, limit);
}

}  // namespace platform::telegram::testing

// cpp-httplib is a prebuilt library that ThreadSanitizer cannot see into: its
// workers share objects they set up lazily, with synchronisation inside the
// library that the sanitizer does not observe, so the first use by a second
// worker is reported as a race. Reports whose stack lies in that library are
// dropped; the client code under test is checked in full.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libcpp-httplib.so\n";
}
