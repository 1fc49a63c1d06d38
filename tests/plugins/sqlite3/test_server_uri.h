// The libpq URI of the tests' private PostgreSQL server: the first line of
// the file named by ZANTRIX_TEST_POSTGRES_URI_FILE, which the `postgres`
// fixture (or `make soak-store`) writes when it starts the server.
#pragma once

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace zantrix_test {

// std::nullopt when there is no server.
inline std::optional<std::string> test_server_uri() {
  const char* file = std::getenv("ZANTRIX_TEST_POSTGRES_URI_FILE");
  if (file == nullptr) return std::nullopt;
  std::ifstream in(file);
  std::string uri;
  if (!std::getline(in, uri) || uri.empty()) return std::nullopt;
  return uri;
}

}  // namespace zantrix_test
