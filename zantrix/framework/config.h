// zantrix_config: the process's configuration.
//
// Values come from a JSON file (an object with one member per key) or are set
// in code; a value set in code wins over the file. The file is the one named
// by the environment variable ZANTRIX_CONFIG, else "zantrix_config.json" in
// the working directory, unless `use_file` names another. Nothing is read
// before a key is first asked for: the file is parsed at the first access and
// each key is checked when it is read, so a program may set values in code
// before anything touches the file.
//
// Relative directories in the file (the values of DATA_PATH and DB) are taken
// relative to the folder that holds the file, so a configuration and its data
// can move together. Values set in code are used as given.
//
// Errors name the file and the key: a missing file is a FileNotFoundError, a
// file that is not a JSON object a ValueError, a missing key a KeyError and a
// value of the wrong kind a TypeError.
//
// Every member is safe to call from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zantrix::framework {

class Config {
 public:
  using TextMap = std::map<std::string, std::string>;
  // Store names ("sqlite3") and their directories, a directory may be null:
  // what a program sets as DB.
  using OptionalTextMap = std::map<std::string, std::optional<std::string>>;

  static constexpr std::string_view kDefaultFileName = "zantrix_config.json";
  static constexpr std::string_view kDefaultTelegramApiUrl = "https://api.telegram.org";

  // Reads from the file named by ZANTRIX_CONFIG or the default name.
  Config();
  // Reads from `file`.
  explicit Config(std::filesystem::path file);
  ~Config();
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // Switches to another file and forgets the values set in code.
  void use_file(std::filesystem::path file);
  // The file values are read from (whether or not it exists).
  std::filesystem::path file() const;

  // Data type name -> base directory of stored history.
  TextMap DATA_PATH() const;
  // The system's bar length in milliseconds.
  std::int64_t TIME_STEP() const;
  // Instrument code -> bar-time convention; an empty map when the key is absent.
  TextMap BAR_CONVENTION() const;
  // The directory of the record store back end `store` ("sqlite3"): its text
  // under that name in the DB object, std::nullopt when it is null. Only that
  // entry is checked; the other back ends keep settings of their own shape
  // there. A KeyError when DB or the entry is missing, a TypeError when DB is
  // not an object or the entry is neither a text nor null.
  std::optional<std::string> DB(std::string_view store) const;
  // Whether the DB object has an entry `store`; false when DB is missing or
  // is not an object.
  bool DB_has(std::string_view store) const;
  // The entry `store` of the DB object as written (a connection URI, not a
  // directory), std::nullopt when it is null; the errors of DB(store).
  std::optional<std::string> DB_text(std::string_view store) const;
  std::string TELEGRAM_TOKEN() const;
  std::int64_t TELEGRAM_CHAT_ID() const;
  // The Bot API base address; https://api.telegram.org when the key is absent.
  std::string TELEGRAM_API_URL() const;
  // The users allowed to command the bot; std::nullopt when the key is absent
  // or null (every user of TELEGRAM_CHAT_ID). A TypeError unless a list of
  // integers.
  std::optional<std::vector<std::int64_t>> TELEGRAM_USER_IDS() const;

  void set_DATA_PATH(TextMap value);
  void set_TIME_STEP(std::int64_t value);
  void set_BAR_CONVENTION(TextMap value);
  void set_DB(OptionalTextMap value);
  void set_TELEGRAM_TOKEN(std::string value);
  void set_TELEGRAM_CHAT_ID(std::int64_t value);
  void set_TELEGRAM_API_URL(std::string value);
  // std::nullopt stands for no list, also over one in the file.
  void set_TELEGRAM_USER_IDS(std::optional<std::vector<std::int64_t>> value);

  struct State;  // the values, kept out of this header

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<State> state_;
};

// The process-wide configuration, created at the first call (never before
// main). Modules read their keys from it when they need them.
Config& zantrix_config();

}  // namespace zantrix::framework
