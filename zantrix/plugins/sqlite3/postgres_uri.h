// The PostgreSQL URI of the configuration, read into what the server back end
// needs: the connection string libpq is given, the time-outs, and the URI as
// a message may show it.
//
// Time-outs are query parameters of the URI, in whole seconds (0: none):
// `connect_timeout` (libpq's own; 10 when the URI does not give it) bounds
// making a connection, and `statement_timeout` (30 when not given) bounds
// every statement: the server cancels a statement that runs longer, and the
// store drops a connection whose server has not answered a second after
// that, so that a server or network that stops answering fails the call
// instead of stalling every thread that waits for the store.
//
// No message ever shows a secret: `masked` is the URI with the password of
// its user part, a `password` parameter and any malformed %-escape replaced
// by "****".
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zantrix::plugins::sqlite3::detail {

inline constexpr std::chrono::seconds kConnectTimeout{10};
inline constexpr std::chrono::seconds kStatementTimeout{30};

struct ServerUri {
  // The URI as libpq takes it: the store's own parameters left out,
  // connect_timeout added when missing.
  std::string conninfo;
  std::chrono::seconds statement_timeout = kStatementTimeout;
  std::string masked;
};

// A ValueError (the URI masked) when `uri` cannot be read, holds a password,
// or gives a time-out that is not a whole number of seconds.
ServerUri read_server_uri(const std::string& uri);

std::string masked_uri(std::string_view uri);

}  // namespace zantrix::plugins::sqlite3::detail
