// The private server of the `postgres` test fixture: the tests' role connects
// to its database over 127.0.0.1 and is answered, by a server that listens on
// the loopback address alone and syncs its writes.
#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

struct ConnectionClose {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};

TEST(PostgresServer, AnswersTheTestsRoleOnLoopbackOnly) {
  const char* uri_file = std::getenv("ZANTRIX_TEST_POSTGRES_URI_FILE");
  ASSERT_NE(uri_file, nullptr) << "the test is not registered with the postgres fixture";
  std::ifstream in(uri_file);
  std::string uri;
  if (!std::getline(in, uri)) {
    GTEST_SKIP() << "no PostgreSQL server on this machine (" << uri_file << " is missing)";
  }

  const std::unique_ptr<PGconn, ConnectionClose> connection(PQconnectdb(uri.c_str()));
  ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
  const std::unique_ptr<PGresult, ResultClear> result(PQexec(connection.get(),
      "SELECT 1, current_user, current_database(), inet_server_addr()::text,"
      " current_setting('listen_addresses'), current_setting('fsync')"));
  ASSERT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << PQerrorMessage(connection.get());
  ASSERT_EQ(PQntuples(result.get()), 1);
  const char* const expected[] = {"1", "zantrix", "zantrix", "127.0.0.1/32", "127.0.0.1", "on"};
  for (int column = 0; column < 6; ++column) {
    EXPECT_STREQ(PQgetvalue(result.get(), 0, column), expected[column]) << "column " << column;
  }
}

}  // namespace
