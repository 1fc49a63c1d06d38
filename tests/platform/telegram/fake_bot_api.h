// FakeBotApi: a Bot API server on 127.0.0.1 (an ephemeral port) for tests.
//
// It knows one token and answers getMe, getUpdates and sendMessage the way
// the Telegram service does: updates wait in a queue until a getUpdates
// carries an offset past them; a getUpdates with a time-out waits for new
// updates; a getUpdates that arrives while another waits ends the older one
// with 409 Conflict. Tests add incoming messages, schedule faults for the
// next calls of a method, and read back every call and every message sent.
//
// It speaks plain HTTP, or HTTPS with a self-signed certificate for
// 127.0.0.1 (ca_file) that a client must be told to trust.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform::telegram::testing {

using namespace std::chrono_literals;

// How the next call of a method is answered instead of normally.
struct Fault {
  int status = 500;                   // 0 drops the connection in the middle of the answer
  std::optional<int> retry_after{};   // parameters.retry_after of the error answer
  std::chrono::milliseconds delay{};  // hold the answer back this long
  std::optional<std::string> body{};  // a raw body instead of the Bot API's envelope

  static Fault http(int status) { return {.status = status}; }
  static Fault too_many_requests(int retry_after) {
    return {.status = 429, .retry_after = retry_after};
  }
  static Fault dropped() { return {.status = 0}; }
  // Answered normally, but the answer is held back for `delay`.
  static Fault slow(std::chrono::milliseconds delay) { return {.status = 200, .delay = delay}; }
  static Fault malformed() { return {.status = 200, .body = "<html>Bad Gateway</html>"}; }
};

class FakeBotApi {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::string_view kToken = "123456:TEST-token_AbC";
  static constexpr std::int64_t kBotId = 123456;

  enum class Scheme { http, https };

  // Listens on `port` of 127.0.0.1, by default a free one.
  explicit FakeBotApi(std::string username = "ThisBot", Scheme scheme = Scheme::http, int port = 0);
  ~FakeBotApi();
  FakeBotApi(const FakeBotApi&) = delete;
  FakeBotApi& operator=(const FakeBotApi&) = delete;

  // The base address, "http://127.0.0.1:<port>" (or https).
  std::string url() const;
  // The certificate of the HTTPS server, which is its own authority.
  static std::string ca_file();

  // Queues an incoming text message in `chat_id` from user `from_id` (the
  // chat's own id when absent); returns its update_id.
  std::int64_t push_text(std::int64_t chat_id, std::string text,
                         std::optional<std::int64_t> from_id = std::nullopt);
  // Queues an update given as JSON text, which need not be a valid update or
  // even an object. It is numbered with the next update_id, which a later
  // offset confirms, and returns that id; with `number_it` the id is written
  // as its update_id, otherwise the text is sent as given.
  std::int64_t push_json(std::string_view update, bool number_it = true);

  // The next `times` calls of `method` are answered with `fault`.
  void fail_next(std::string method, Fault fault, int times = 1);

  struct Call {
    std::string method;
    Clock::time_point at;
    int status;                // the status answered: 0 for a dropped answer, -1 until answered
    std::int64_t offset = -1;  // getUpdates: its offset and time-out
    std::int64_t timeout = -1;
  };
  struct Sent {
    std::int64_t chat_id;
    std::string text;
    friend bool operator==(const Sent&, const Sent&) = default;
  };

  std::vector<Call> calls() const;
  std::size_t count(std::string_view method) const;
  std::vector<Sent> sent() const;
  std::vector<std::string> texts_to(std::int64_t chat_id) const;
  // Updates not yet confirmed by an offset past them.
  std::size_t unconfirmed() const;
  // getUpdates calls waiting for new updates now.
  std::size_t waiting_polls() const;
  // getUpdates calls ended by a newer one while they waited.
  std::size_t conflicts() const;

  // Waits until `condition` holds, at most `limit`; returns whether it did.
  bool wait_for(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = 10s) const;
  bool wait_for_sent(std::size_t count, std::chrono::milliseconds limit = 10s) const;

  struct Server;

 private:
  std::unique_ptr<Server> server_;
};

}  // namespace platform::telegram::testing
