// The recording gateway object: the symbol table both ways, the latest-record
// maps it opens, and the record of process_* calls, written and read from
// different threads.
#include "zantrix/gateways/recording_gateway.h"

#include <gtest/gtest.h>

#include <thread>

#include "zantrix/framework/errors.h"

namespace zantrix::gateways {
namespace {

const core::Futures EP{"EPZ4", "E-mini S&P 500 Dec 2024"};
const core::Stock TENCENT{"HK.00700", "Tencent"};

core::Quote QuoteOf(const core::Security& security, double last) {
  return {.security = security,
          .exchange = framework::Exchange::SMART,
          .datetime = framework::DateTime{},
          .last_price = last};
}

TEST(RecordingGatewayTest, MapsSymbolsBothWaysAndOpensEntriesForEachSecurity) {
  RecordingGateway gateway({{"EPZ4", EP}, {"700", TENCENT}});
  EXPECT_EQ(gateway.get_zx_security_from_cqg_symbol("EPZ4"), EP);
  EXPECT_EQ(gateway.get_zx_security_from_cqg_symbol("F.US.EPZ4"), std::nullopt);
  EXPECT_EQ(gateway.get_cqg_symbol_from_zx_security(TENCENT), "700");
  EXPECT_THROW(gateway.get_cqg_symbol_from_zx_security(core::Stock("HK.00005", "HSBC")),
               framework::KeyError);
  EXPECT_EQ(gateway.cqg_quotes.at(EP), std::nullopt);
  EXPECT_EQ(gateway.cqg_orderbooks.at(TENCENT), std::nullopt);
  EXPECT_THROW(gateway.cqg_quotes.at(core::Stock("HK.00005", "HSBC")), framework::KeyError);
}

TEST(RecordingGatewayTest, RefusesATableThatListsASymbolOrASecurityTwice) {
  using Table = std::vector<RecordingGateway::Symbol>;
  EXPECT_THROW(RecordingGateway(Table{{"EPZ4", EP}, {"EPZ4", TENCENT}}), framework::ValueError);
  EXPECT_THROW(RecordingGateway(Table{{"EPZ4", EP}, {"EP", EP}}), framework::ValueError);
}

TEST(RecordingGatewayTest, StoringReplacesTheLatestRecord) {
  RecordingGateway gateway({{"EPZ4", EP}});
  gateway.cqg_quotes.store(EP, QuoteOf(EP, 1));
  gateway.cqg_quotes.store(EP, QuoteOf(EP, 2));
  EXPECT_EQ(gateway.cqg_quotes.at(EP)->last_price, 2);
}

TEST(RecordingGatewayTest, RecordsCallsInOrderWithTheirThreadWhileBeingRead) {
  RecordingGateway gateway({{"EPZ4", EP}});
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) {
      gateway.process_quote(QuoteOf(EP, i));
      gateway.process_order({.order_id = std::to_string(i),
                             .updated_time = {},
                             .filled_avg_price = 0,
                             .filled_quantity = 0,
                             .status = framework::OrderStatus::SUBMITTED});
    }
  });
  const auto writer_id = writer.get_id();
  std::size_t seen = 0;
  while (seen < 400) seen = gateway.calls().size();
  writer.join();
  const auto quotes = gateway.quotes();
  ASSERT_EQ(quotes.size(), 200u);
  EXPECT_EQ(quotes[199].last_price, 199);
  EXPECT_EQ(gateway.orders()[7].order_id, "7");
  EXPECT_TRUE(gateway.deals().empty());
  EXPECT_EQ(gateway.calls().front().thread, writer_id);
}

TEST(RecordingGatewayTest, TakingCallsWhileTheyComeLosesAndRepeatsNone) {
  RecordingGateway gateway({{"EPZ4", EP}});
  std::thread writer([&] {
    for (int i = 0; i < 500; ++i) gateway.process_quote(QuoteOf(EP, i));
  });
  std::vector<double> seen;
  while (seen.size() < 500) {
    for (const auto& taken : gateway.take_calls()) {
      seen.push_back(std::get<core::Quote>(taken.call).last_price);
    }
  }
  writer.join();
  for (int i = 0; i < 500; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
  EXPECT_TRUE(gateway.calls().empty());
}

}  // namespace
}  // namespace zantrix::gateways
