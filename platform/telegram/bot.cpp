#include "platform/telegram/bot.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/telegram/api_json.h"
#include "platform/telegram/errors.h"

namespace platform::telegram {

using nlohmann::json;

namespace {

// An answer larger than this is not a Bot API answer; the transfer is ended.
constexpr std::size_t kMaxAnswerBytes = std::size_t{16} << 20;
// Idle connections kept for reuse; more than this are closed.
constexpr std::size_t kMaxIdleChannels = 4;

void initialise_curl() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("libcurl could not be initialised");
    }
  });
}

std::optional<std::string> ca_file_of(const BotOptions& options) {
  if (options.ca_file) return options.ca_file;
  const char* named = std::getenv("SSL_CERT_FILE");
  if (named == nullptr || *named == '\0') return std::nullopt;
  return named;
}

std::string redact(std::string text, const std::string& token) {
  if (token.empty()) return text;
  for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
    text.replace(at, token.size(), "<token>");
  }
  return text;
}

std::size_t append_answer(char* data, std::size_t size, std::size_t count, void* out) {
  auto* answer = static_cast<std::string*>(out);
  const std::size_t bytes = size * count;
  if (answer->size() + bytes > kMaxAnswerBytes) return 0;  // CURLE_WRITE_ERROR
  answer->append(data, bytes);
  return bytes;
}

// The errors of a transfer that ended without an answer. Only a base address
// libcurl cannot use is a lasting fault; every other one (refused or dropped
// connection, time-out, TLS failure) may pass.
[[noreturn]] void throw_transfer_error(const std::string& where, CURLcode code,
                                       const char* detail) {
  const std::string text =
      where + " failed: " + (*detail != '\0' ? detail : curl_easy_strerror(code));
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_NOT_BUILT_IN:
      throw TelegramError(text, 0);
    default:
      throw TransientError(text, 0);
  }
}

// parameters.retry_after of an error answer when it is a number; else null.
const json* retry_after_of(const json& envelope) {
  if (!envelope.is_object()) return nullptr;
  const auto parameters = envelope.find("parameters");
  if (parameters == envelope.end() || !parameters->is_object()) return nullptr;
  const auto seconds = parameters->find("retry_after");
  if (seconds == parameters->end() || !seconds->is_number()) return nullptr;
  return &*seconds;
}

// The wait a 429 imposes: what the service asks for, rounded up to whole
// seconds and kept between kMinRetryAfter and kMaxRetryAfter. A wait of zero
// would let the client hammer a service that has just said it is overloaded,
// and one of days (or a value garbled on the way) would silence the bot.
std::chrono::seconds retry_delay(std::optional<double> asked) {
  if (!asked || !(*asked > static_cast<double>(kMinRetryAfter.count()))) return kMinRetryAfter;
  if (*asked >= static_cast<double>(kMaxRetryAfter.count())) return kMaxRetryAfter;
  return std::chrono::seconds(static_cast<std::int64_t>(std::ceil(*asked)));
}

// The `result` of a successful answer; otherwise the error the answer means.
json result_of(const std::string& where, long status, const std::string& answer) {
  json envelope = json::parse(answer, nullptr, /*allow_exceptions=*/false);
  const bool is_envelope =
      envelope.is_object() && envelope.contains("ok") && envelope["ok"].is_boolean();
  if (status == 200 && is_envelope && envelope["ok"].get<bool>() && envelope.contains("result")) {
    return std::move(envelope["result"]);
  }
  std::string description;
  if (is_envelope && envelope.contains("description") && envelope["description"].is_string()) {
    description = ": " + envelope["description"].get<std::string>();
  }
  const std::string text = where + " answered HTTP " + std::to_string(status) + description;
  if (status == 429) {
    const json* asked = retry_after_of(envelope);
    const auto wait =
        retry_delay(asked != nullptr ? std::optional(asked->get<double>()) : std::nullopt);
    std::string note = " (retry after " + std::to_string(wait.count()) + " s";
    if (asked != nullptr && asked->get<double>() != static_cast<double>(wait.count())) {
      note += "; the service asked for " + asked->dump() + " s";
    }
    throw RetryAfter(text + note + ")", wait);
  }
  if (status >= 500) throw TransientError(text, static_cast<int>(status));
  if (status == 401)
    throw Unauthorized(where + " refused the bot token (HTTP 401" + description + ")");
  if (status == 200) {
    throw TransientError(where + " gave a malformed answer (not the Bot API's JSON)", 200);
  }
  throw TelegramError(text, static_cast<int>(status));
}

// Runs `read` on a result; a result of the wrong shape is a malformed answer.
template <class Read>
auto decode(const std::string& where, Read&& read) {
  try {
    return read();
  } catch (const json::exception& e) {
    throw TransientError(where + " gave a malformed answer (" + e.what() + ")", 200);
  }
}

std::string dump(const json& body) {
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

// One reusable connection context: a multi handle, so that a transfer can be
// waited for and woken from another thread, and the easy handle it runs.
class Bot::Channel {
 public:
  Channel() : multi_(curl_multi_init()), easy_(curl_easy_init()) {
    if (multi_ == nullptr || easy_ == nullptr) throw std::bad_alloc();
  }
  ~Channel() {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  CURL* easy() const { return easy_; }

  // Runs the prepared transfer to its end; throws Aborted as soon as `stop`
  // is requested.
  CURLcode perform(const std::stop_token& stop) {
    curl_multi_add_handle(multi_, easy_);
    const Detach detach{multi_, easy_};
    CURLM* multi = multi_;
    const std::stop_callback wake(stop, [multi] { curl_multi_wakeup(multi); });
    for (;;) {
      int running = 0;
      CURLMcode code = curl_multi_perform(multi_, &running);
      if (code == CURLM_OK && running == 0) break;
      if (stop.stop_requested()) throw Aborted();
      if (code == CURLM_OK) code = curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
      if (code != CURLM_OK) {
        throw TransientError(std::string("libcurl: ") + curl_multi_strerror(code), 0);
      }
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
        return message->data.result;
      }
    }
    return CURLE_RECV_ERROR;
  }

 private:
  struct Detach {
    CURLM* multi;
    CURL* easy;
    ~Detach() { curl_multi_remove_handle(multi, easy); }
  };

  CURLM* multi_;
  CURL* easy_;
};

struct Bot::Result {
  json value;
};

Bot::Bot(std::string token, std::string base_url, BotOptions options)
    : token_(std::move(token)),
      base_url_([&] {
        while (!base_url.empty() && base_url.back() == '/') base_url.pop_back();
        return std::move(base_url);
      }()),
      ca_file_(ca_file_of(options)),
      options_(options),
      outbox_([this](std::int64_t chat_id, const std::string& text,
                     std::stop_token stop) { send_message(chat_id, text, std::move(stop)); },
              options.outbox) {
  initialise_curl();
}

Bot::~Bot() = default;

std::unique_ptr<Bot::Channel> Bot::acquire() {
  {
    const std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto channel = std::move(idle_.back());
      idle_.pop_back();
      return channel;
    }
  }
  return std::make_unique<Channel>();
}

void Bot::release(std::unique_ptr<Channel> channel) {
  const std::lock_guard lock(mutex_);
  if (idle_.size() < kMaxIdleChannels) idle_.push_back(std::move(channel));
}

Bot::Result Bot::call(std::string_view method, const std::string& body,
                      std::chrono::milliseconds timeout, const std::stop_token& stop) {
  const std::string where = "Bot API " + std::string(method);
  if (stop.stop_requested()) throw Aborted();

  // Returns the channel when the call ends, its options cleared first: they
  // point to this call's buffers.
  struct Lease {
    Bot& bot;
    std::unique_ptr<Channel> channel;
    ~Lease() {
      curl_easy_reset(channel->easy());
      bot.release(std::move(channel));
    }
  } lease{*this, acquire()};
  CURL* easy = lease.channel->easy();

  const std::string url = base_url_ + "/bot" + token_ + "/" + std::string(method);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Content-Type: application/json"), &curl_slist_free_all);
  std::string answer;
  char detail[CURL_ERROR_SIZE] = "";

  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append_answer);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "zantrix-telegram");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options_.connect_timeout.count()));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  if (ca_file_) curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file_->c_str());

  const CURLcode code = lease.channel->perform(stop);
  if (code != CURLE_OK) throw_transfer_error(where, code, redact(detail, token_).c_str());
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return {result_of(where, status, answer)};
}

User Bot::get_me(std::stop_token stop) {
  const Result result = call("getMe", "{}", options_.request_timeout, stop);
  User me = decode("Bot API getMe", [&] { return user_from_json(result.value); });
  const std::lock_guard lock(mutex_);
  username_ = me.username;
  return me;
}

std::optional<std::string> Bot::username() const {
  const std::lock_guard lock(mutex_);
  return username_;
}

std::vector<Update> Bot::get_updates(const GetUpdates& request, std::stop_token stop) {
  const json body = {{"offset", request.offset},
                     {"timeout", request.timeout.count()},
                     {"limit", request.limit},
                     {"allowed_updates", json::array({"message"})}};
  const auto timeout = request.request_timeout.value_or(
      request.timeout.count() > 0
          ? std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout) +
                options_.poll_grace
          : options_.request_timeout);
  const Result result = call("getUpdates", dump(body), timeout, stop);
  return decode("Bot API getUpdates",
                [&] { return updates_from_json(result.value, request.offset); });
}

Message Bot::send_message(std::int64_t chat_id, std::string_view text, std::stop_token stop) {
  const json body = {{"chat_id", chat_id}, {"text", text}};
  const Result result = call("sendMessage", dump(body), options_.request_timeout, stop);
  return decode("Bot API sendMessage", [&] { return message_from_json(result.value); });
}

void Bot::post_message(std::int64_t chat_id, std::string text) {
  outbox_.post(chat_id, std::move(text));
}

bool Bot::flush_messages(std::chrono::milliseconds limit) {
  return outbox_.flush(limit);
}

std::size_t Bot::unsent_messages() const {
  return outbox_.unsent();
}

}  // namespace platform::telegram
