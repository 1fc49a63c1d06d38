#include "zantrix/framework/config.h"

#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "zantrix/framework/errors.h"

namespace zantrix::framework {

using nlohmann::json;

struct Config::State {
  std::filesystem::path file;
  std::optional<json> file_values;  // parsed at first access
  json code_values = json::object();
};

namespace {

std::filesystem::path default_file() {
  if (const char* env = std::getenv("ZANTRIX_CONFIG"); env != nullptr && *env != '\0') {
    return env;
  }
  return std::filesystem::path(Config::kDefaultFileName);
}

std::string where(const std::filesystem::path& file, std::string_view key) {
  return "configuration " + file.string() + ": key '" + std::string(key) + "'";
}

json parse_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw FileNotFoundError("configuration file " + file.string() + " was not found");
  std::stringstream text;
  text << in.rdbuf();
  json values = json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (values.is_discarded() || !values.is_object()) {
    throw ValueError("configuration file " + file.string() + " is not a JSON object");
  }
  return values;
}

// A relative directory in the file is taken relative to the file's folder.
std::string resolve_dir(const std::filesystem::path& file, const std::string& dir) {
  const std::filesystem::path p(dir);
  if (p.is_absolute() || dir.empty()) return dir;
  return (std::filesystem::absolute(file).parent_path() / p).lexically_normal().string();
}

struct Lookup {
  const json* value;  // null when the key is absent
  bool from_file;
};

// A key with a default (`optional`) is absent, not an error, when there is no
// file at all: a program that sets its keys in code needs none.
Lookup find(Config::State& s, std::string_view key, bool optional = false) {
  const std::string k(key);
  if (auto it = s.code_values.find(k); it != s.code_values.end()) return {&*it, false};
  if (!s.file_values) {
    if (optional && !std::filesystem::exists(s.file)) return {nullptr, false};
    s.file_values = parse_file(s.file);
  }
  if (auto it = s.file_values->find(k); it != s.file_values->end()) return {&*it, true};
  return {nullptr, false};
}

const json& require(Config::State& s, std::string_view key, Lookup& found) {
  found = find(s, key);
  if (found.value == nullptr) throw KeyError(where(s.file, key) + " is missing");
  return *found.value;
}

[[noreturn]] void wrong_kind(const Config::State& s, std::string_view key, std::string_view want) {
  throw TypeError(where(s.file, key) + " must be " + std::string(want));
}

// The entry `store` of DB as written; under mutex_.
std::optional<std::string> db_entry(Config::State& s, std::string_view store, Lookup& found) {
  const json& v = require(s, "DB", found);
  if (!v.is_object()) wrong_kind(s, "DB", "an object");
  const auto item = v.find(std::string(store));
  if (item == v.end()) {
    throw KeyError(where(s.file, "DB") + " has no entry '" + std::string(store) + "'");
  }
  if (item->is_null()) return std::nullopt;
  if (!item->is_string()) {
    wrong_kind(s, "DB", "an object whose '" + std::string(store) + "' is a text or null");
  }
  return item->get<std::string>();
}

std::int64_t as_integer(const Config::State& s, std::string_view key, const json& v) {
  if (!v.is_number_integer()) wrong_kind(s, key, "an integer");
  return v.get<std::int64_t>();
}

std::vector<std::int64_t> as_integer_list(const Config::State& s, std::string_view key,
                                          const json& v) {
  if (!v.is_array()) wrong_kind(s, key, "a list of integers");
  std::vector<std::int64_t> out;
  out.reserve(v.size());
  for (const json& item : v) {
    if (!item.is_number_integer() ||
        (item.is_number_unsigned() &&
         item.get<std::uint64_t>() > std::uint64_t{std::numeric_limits<std::int64_t>::max()})) {
      wrong_kind(s, key, "a list of integers");
    }
    out.push_back(item.get<std::int64_t>());
  }
  return out;
}

std::string as_text(const Config::State& s, std::string_view key, const json& v) {
  if (!v.is_string()) wrong_kind(s, key, "a text");
  return v.get<std::string>();
}

Config::TextMap as_text_map(const Config::State& s, std::string_view key, const json& v,
                            bool dirs_from_file) {
  if (!v.is_object()) wrong_kind(s, key, "an object of texts");
  Config::TextMap out;
  for (const auto& [name, item] : v.items()) {
    if (!item.is_string()) wrong_kind(s, key, "an object of texts");
    const auto text = item.get<std::string>();
    out.emplace(name, dirs_from_file ? resolve_dir(s.file, text) : text);
  }
  return out;
}

}  // namespace

Config::Config() : Config(default_file()) {}

Config::Config(std::filesystem::path file) : state_(std::make_unique<State>()) {
  state_->file = std::move(file);
}

Config::~Config() = default;

void Config::use_file(std::filesystem::path file) {
  const std::lock_guard lock(mutex_);
  *state_ = State{};
  state_->file = std::move(file);
}

std::filesystem::path Config::file() const {
  const std::lock_guard lock(mutex_);
  return state_->file;
}

Config::TextMap Config::DATA_PATH() const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  const json& v = require(*state_, "DATA_PATH", found);
  return as_text_map(*state_, "DATA_PATH", v, found.from_file);
}

std::int64_t Config::TIME_STEP() const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  return as_integer(*state_, "TIME_STEP", require(*state_, "TIME_STEP", found));
}

Config::TextMap Config::BAR_CONVENTION() const {
  const std::lock_guard lock(mutex_);
  const Lookup found = find(*state_, "BAR_CONVENTION", true);
  if (found.value == nullptr) return {};
  return as_text_map(*state_, "BAR_CONVENTION", *found.value, false);
}

std::optional<std::string> Config::DB(std::string_view store) const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  auto text = db_entry(*state_, store, found);
  if (!text || !found.from_file) return text;
  return resolve_dir(state_->file, *text);
}

std::optional<std::string> Config::DB_text(std::string_view store) const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  return db_entry(*state_, store, found);
}

bool Config::DB_has(std::string_view store) const {
  const std::lock_guard lock(mutex_);
  try {
    Lookup found{};
    const json& v = require(*state_, "DB", found);
    return v.is_object() && v.contains(std::string(store));
  } catch (const std::exception&) {
    return false;
  }
}

std::string Config::TELEGRAM_TOKEN() const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  return as_text(*state_, "TELEGRAM_TOKEN", require(*state_, "TELEGRAM_TOKEN", found));
}

std::int64_t Config::TELEGRAM_CHAT_ID() const {
  const std::lock_guard lock(mutex_);
  Lookup found{};
  return as_integer(*state_, "TELEGRAM_CHAT_ID", require(*state_, "TELEGRAM_CHAT_ID", found));
}

std::string Config::TELEGRAM_API_URL() const {
  const std::lock_guard lock(mutex_);
  const Lookup found = find(*state_, "TELEGRAM_API_URL", true);
  if (found.value == nullptr) return std::string(kDefaultTelegramApiUrl);
  return as_text(*state_, "TELEGRAM_API_URL", *found.value);
}

std::optional<std::vector<std::int64_t>> Config::TELEGRAM_USER_IDS() const {
  const std::lock_guard lock(mutex_);
  const Lookup found = find(*state_, "TELEGRAM_USER_IDS", true);
  if (found.value == nullptr || found.value->is_null()) return std::nullopt;
  return as_integer_list(*state_, "TELEGRAM_USER_IDS", *found.value);
}

void Config::set_DATA_PATH(TextMap value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["DATA_PATH"] = value;
}

void Config::set_TIME_STEP(std::int64_t value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["TIME_STEP"] = value;
}

void Config::set_BAR_CONVENTION(TextMap value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["BAR_CONVENTION"] = value;
}

void Config::set_DB(OptionalTextMap value) {
  const std::lock_guard lock(mutex_);
  json v = json::object();
  for (const auto& [name, dir] : value) v[name] = dir ? json(*dir) : json(nullptr);
  state_->code_values["DB"] = std::move(v);
}

void Config::set_TELEGRAM_TOKEN(std::string value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["TELEGRAM_TOKEN"] = std::move(value);
}

void Config::set_TELEGRAM_CHAT_ID(std::int64_t value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["TELEGRAM_CHAT_ID"] = value;
}

void Config::set_TELEGRAM_API_URL(std::string value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["TELEGRAM_API_URL"] = std::move(value);
}

void Config::set_TELEGRAM_USER_IDS(std::optional<std::vector<std::int64_t>> value) {
  const std::lock_guard lock(mutex_);
  state_->code_values["TELEGRAM_USER_IDS"] = value ? json(*value) : json(nullptr);
}

Config& zantrix_config() {
  static Config config;
  return config;
}

}  // namespace zantrix::framework
