#include "tests/support/error_of.h"
#include "zantrix/core/data.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "zantrix/framework/errors.h"

namespace {

using namespace std::chrono_literals;
using zantrix::core::Bar;
using zantrix::core::CapitalDistribution;
using zantrix::core::FieldValue;
using zantrix::core::Futures;
using zantrix::core::MarketRecord;
using zantrix::core::OrderBook;
using zantrix::core::Quote;
using zantrix::core::RecordBuilder;
using zantrix::core::Security;
using zantrix::core::SecurityKind;
using zantrix::core::Stock;
using zantrix::framework::DateTime;
using zantrix::framework::Exchange;
using zantrix::framework::KeyError;
using zantrix::framework::TypeError;
using zantrix::framework::ValueError;
namespace core = zantrix::core;
using zantrix::test::error_of;

const DateTime kOpen = std::chrono::local_days{2024y / 3 / 1} + 9h + 30min;

Bar sample_bar() {
  return Bar{.datetime = kOpen,
             .security = Stock("HK.00700", "Tencent"),
             .open = 300,
             .high = 305.5,
             .low = 299,
             .close = 304,
             .volume = 12000};
}

// "bid_price_1" .. "ask_num_10", in field order.
std::vector<std::string> level_names() {
  std::vector<std::string> names;
  for (const char* group :
       {"bid_price", "ask_price", "bid_volume", "ask_volume", "bid_num", "ask_num"}) {
    for (int n = 1; n <= 10; ++n) names.push_back(std::string(group) + "_" + std::to_string(n));
  }
  return names;
}

TEST(RecordDefaults, BarWithRequiredFieldsOnly) {
  const Bar bar = sample_bar();
  EXPECT_EQ(bar.num_trds, 0);
  EXPECT_EQ(bar.value, 0.0);
  EXPECT_EQ(bar.ticker, "");
  EXPECT_EQ(bar.trading_date, "");
}

TEST(RecordDefaults, QuoteWithRequiredFieldsOnly) {
  const Quote q{
      .security = Stock("HK.00700", "Tencent"), .exchange = Exchange::SEHK, .datetime = kOpen};
  for (const char* name :
       {"last_price", "open_price", "high_price", "low_price", "prev_close_price", "volume",
        "turnover", "turnover_rate", "amplitude", "price_spread", "bid_price", "ask_price"}) {
    EXPECT_EQ(core::get_field(q, name), FieldValue(0.0)) << name;
  }
  EXPECT_FALSE(q.suspension);
  EXPECT_EQ(q.sec_status, "NORMAL");
}

TEST(RecordDefaults, OrderBookLevelsStartAtZero) {
  const OrderBook ob{
      .security = Futures("HK.HSImain", "HSI"), .exchange = Exchange::HKFE, .datetime = kOpen};
  for (const std::string& name : level_names()) {
    EXPECT_EQ(core::get_field(ob, name), FieldValue(0.0)) << name;
  }
}

TEST(RecordFields, EveryOrderBookLevelNameReachesItsOwnMember) {
  OrderBook ob{
      .security = Futures("HK.HSImain", "HSI"), .exchange = Exchange::HKFE, .datetime = kOpen};
  const auto names = level_names();
  for (std::size_t i = 0; i < names.size(); ++i) {
    core::set_field(ob, names[i], static_cast<double>(i + 1));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(core::get_field(ob, names[i]), FieldValue(static_cast<double>(i + 1))) << names[i];
  }
  EXPECT_EQ(ob.bid_price_1, 1);
  EXPECT_EQ(ob.bid_price_3, 3);
  EXPECT_EQ(ob.bid_price_10, 10);
  EXPECT_EQ(ob.ask_price_1, 11);
  EXPECT_EQ(ob.bid_volume_5, 25);
  EXPECT_EQ(ob.ask_volume_10, 40);
  EXPECT_EQ(ob.bid_num_1, 41);
  EXPECT_EQ(ob.ask_num_10, 60);
}

TEST(RecordFields, GetAndSetByName) {
  Bar bar = sample_bar();
  EXPECT_EQ(core::get_field(bar, "high"), FieldValue(305.5));
  EXPECT_EQ(core::get_field(bar, "datetime"), FieldValue(kOpen));

  core::set_field(bar, "volume", std::int64_t{500});  // an integer into a number
  EXPECT_EQ(bar.volume, 500.0);
  core::set_field(bar, "num_trds", 42.0);  // a whole number into an integer
  EXPECT_EQ(bar.num_trds, 42);
  core::set_field(bar, "ticker", std::string("HSIH4"));
  EXPECT_EQ(bar.ticker, "HSIH4");
  core::set_field(bar, "security", Futures("HK.HSImain", "HSI"));
  EXPECT_EQ(bar.security.kind(), SecurityKind::Futures);

  Quote q{.security = Stock("HK.00700", "Tencent"), .exchange = Exchange::SEHK, .datetime = kOpen};
  core::set_field(q, "suspension", true);
  core::set_field(q, "exchange", Exchange::HKFE);
  EXPECT_TRUE(q.suspension);
  EXPECT_EQ(q.exchange, Exchange::HKFE);
}

TEST(RecordFields, BadNameOrKindIsNamedAndChangesNothing) {
  Bar bar = sample_bar();
  const Bar before = bar;
  EXPECT_THROW(core::get_field(bar, "bid_price_3"), KeyError);
  EXPECT_EQ(error_of([&] { core::set_field(bar, "opne", 1.0); }),
            "'Bar' object has no attribute 'opne'");

  EXPECT_THROW(core::set_field(bar, "num_trds", 1.5), TypeError);
  EXPECT_THROW(core::set_field(bar, "ticker", 1.0), TypeError);
  EXPECT_THROW(core::set_field(bar, "open", true), TypeError);
  const std::string message = error_of([&] { core::set_field(bar, "open", std::string("300")); });
  EXPECT_NE(message.find("Bar.open"), std::string::npos) << message;
  EXPECT_EQ(bar, before);
}

TEST(RecordEquality, FieldWiseAndNeverAcrossTypes) {
  EXPECT_EQ(sample_bar(), sample_bar());
  Bar other = sample_bar();
  other.trading_date = "2024-03-01";
  EXPECT_NE(sample_bar(), other);
  other = sample_bar();
  other.security = Futures("HK.00700", "Tencent", {.exchange = Exchange::SEHK});
  EXPECT_NE(sample_bar(), other);

  const CapitalDistribution cd{.datetime = kOpen,
                               .security = Stock("HK.00700", "Tencent"),
                               .capital_in_big = 1,
                               .capital_in_mid = 2,
                               .capital_in_small = 3,
                               .capital_out_big = 4,
                               .capital_out_mid = 5,
                               .capital_out_small = 6};
  const Quote q{
      .security = Stock("HK.00700", "Tencent"), .exchange = Exchange::SEHK, .datetime = kOpen};
  EXPECT_EQ(MarketRecord(sample_bar()), MarketRecord(sample_bar()));
  EXPECT_NE(MarketRecord(sample_bar()), MarketRecord(q));
  EXPECT_NE(MarketRecord(sample_bar()), MarketRecord(cd));
  EXPECT_EQ(MarketRecord(cd), MarketRecord(cd));
}

TEST(RecordReplace, CopiesWithChangesAndLeavesOriginal) {
  const Quote q{.security = Stock("HK.00700", "Tencent"),
                .exchange = Exchange::SEHK,
                .datetime = kOpen,
                .last_price = 300};
  const Quote next = core::replace(q, {{"last_price", 301.5}, {"volume", 200}});
  EXPECT_EQ(q.last_price, 300.0);
  EXPECT_EQ(q.volume, 0.0);
  EXPECT_EQ(next.last_price, 301.5);
  EXPECT_EQ(next.volume, 200.0);
  EXPECT_EQ(core::replace(next, {{"last_price", 300.0}, {"volume", 0.0}}), q);

  EXPECT_THROW(core::replace(q, {{"last_price", 1.0}, {"nope", 1.0}}), KeyError);
  EXPECT_EQ(q.last_price, 300.0);
}

TEST(RecordText, BarShowsEveryFieldInOrder) {
  Bar bar = sample_bar();
  bar.ticker = "T";
  EXPECT_EQ(core::to_string(bar),
            "Bar(datetime=2024-03-01 09:30:00, security=Stock(code='HK.00700', "
            "security_name='Tencent', lot_size=1, exchange=Exchange.SEHK, expiry_date=None, "
            "quote_currency=''), open=300.0, high=305.5, low=299.0, close=304.0, "
            "volume=12000.0, num_trds=0, value=0.0, ticker='T', trading_date='')");
}

TEST(RecordText, QuoteAndOrderBookFormsThroughMarketRecord) {
  const Quote q{
      .security = Stock("HK.00700", "Tencent"), .exchange = Exchange::HKFE, .datetime = kOpen};
  std::ostringstream os;
  os << MarketRecord(q);
  const std::string text = os.str();
  EXPECT_EQ(text.rfind("Quote(security=Stock(", 0), 0u) << text;
  for (const char* part : {"), exchange=Exchange.HKFE, datetime=2024-03-01 09:30:00, ",
                           "suspension=False, ", "sec_status='NORMAL')"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }

  const OrderBook ob{
      .security = Futures("HK.HSImain", "HSI"), .exchange = Exchange::HKFE, .datetime = kOpen};
  const std::string book = core::to_string(ob);
  EXPECT_NE(book.find("bid_price_9=0.0, bid_price_10=0.0, ask_price_1=0.0"), std::string::npos)
      << book;
  EXPECT_NE(book.find(", ask_num_10=0.0)"), std::string::npos) << book;
}

TEST(RecordBuilderTest, BuildsBarsFromRowsKeepingDefaults) {
  const std::vector<std::string> columns{"open", "high", "low", "close", "volume"};
  const auto builder = RecordBuilder::make("Bar", columns);
  const Futures hsi("HK.HSImain", "HSI");
  const std::vector<FieldValue> row{1.0, 2.0, 0.5, 1.5, std::int64_t{100}};
  const MarketRecord record = builder.build(hsi, kOpen, row);
  ASSERT_TRUE(std::holds_alternative<Bar>(record));
  const Bar& bar = std::get<Bar>(record);
  EXPECT_EQ(bar, (Bar{.datetime = kOpen,
                      .security = hsi,
                      .open = 1,
                      .high = 2,
                      .low = 0.5,
                      .close = 1.5,
                      .volume = 100}));
  EXPECT_EQ(bar.security.kind(), SecurityKind::Futures);

  const std::vector<FieldValue> next{3.0, 4.0, 2.5, 3.5, 7.0};
  EXPECT_EQ(std::get<Bar>(builder.build(hsi, kOpen + 1min, next)).close, 3.5);
}

TEST(RecordBuilderTest, ColumnsInAnyOrderIncludingOptionalFields) {
  const std::vector<std::string> columns{"ticker", "volume", "close",   "low",
                                         "high",   "open",   "num_trds"};
  const auto builder = RecordBuilder::make("Bar", columns);
  const std::vector<FieldValue> row{std::string("HSIH4"), 9.0, 4.0, 1.0, 5.0, 2.0, 3.0};
  const Bar bar = std::get<Bar>(builder.build(Stock("A", "a"), kOpen, row));
  EXPECT_EQ(bar.ticker, "HSIH4");
  EXPECT_EQ(bar.open, 2.0);
  EXPECT_EQ(bar.high, 5.0);
  EXPECT_EQ(bar.num_trds, 3);
  EXPECT_EQ(bar.volume, 9.0);
}

TEST(RecordBuilderTest, OtherTypesByName) {
  const std::vector<std::string> quote_columns{"exchange", "last_price"};
  const auto quotes = RecordBuilder::make("Quote", quote_columns);
  const std::vector<FieldValue> quote_row{Exchange::HKFE, 12.5};
  const Quote q = std::get<Quote>(quotes.build(Stock("A", "a"), kOpen, quote_row));
  EXPECT_EQ(q.exchange, Exchange::HKFE);
  EXPECT_EQ(q.last_price, 12.5);
  EXPECT_EQ(q.datetime, kOpen);

  const std::vector<std::string> book_columns{"exchange", "bid_price_3"};
  const std::vector<FieldValue> book_row{Exchange::HKFE, 99.0};
  const auto books = RecordBuilder::make("OrderBook", book_columns);
  EXPECT_EQ(std::get<OrderBook>(books.build(Stock("A", "a"), kOpen, book_row)).bid_price_3, 99);

  const std::vector<std::string> flow_columns{"capital_in_big",   "capital_in_mid",
                                              "capital_in_small", "capital_out_big",
                                              "capital_out_mid",  "capital_out_small"};
  const std::vector<FieldValue> flow_row{1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  const auto flows = RecordBuilder::make("CapitalDistribution", flow_columns);
  EXPECT_EQ(std::get<CapitalDistribution>(flows.build(Stock("A", "a"), kOpen, flow_row))
                .capital_out_small,
            6.0);
}

TEST(RecordBuilderTest, ConstructionErrorsNameTheCulprit) {
  const std::vector<std::string> bar_columns{"open", "high", "low", "close", "volume"};
  EXPECT_THROW(RecordBuilder::make("Tick", bar_columns), KeyError);
  EXPECT_NE(error_of([&] { RecordBuilder::make("Tick", bar_columns); }).find("class_name"),
            std::string::npos);

  const std::vector<std::string> extra{"open", "high", "foo", "low", "close", "volume"};
  EXPECT_EQ(error_of([&] { RecordBuilder::make("Bar", extra); }),
            "Bar.__init__() got an unexpected keyword argument 'foo'");

  const std::vector<std::string> no_open{"high", "low", "close", "volume"};
  EXPECT_EQ(error_of([&] { RecordBuilder::make("Bar", no_open); }),
            "Bar.__init__() missing 1 required positional argument: 'open'");
  const std::vector<std::string> two_missing{"open", "high", "low"};
  EXPECT_EQ(error_of([&] { RecordBuilder::make("Bar", two_missing); }),
            "Bar.__init__() missing 2 required positional arguments: 'close' and 'volume'");
  const std::vector<std::string> none;
  EXPECT_EQ(error_of([&] { RecordBuilder::make("Bar", none); }),
            "Bar.__init__() missing 5 required positional arguments: 'open', 'high', 'low', "
            "'close', and 'volume'");
  EXPECT_EQ(error_of([&] { RecordBuilder::make("Quote", none); }),
            "Quote.__init__() missing 1 required positional argument: 'exchange'");
}

TEST(RecordBuilderTest, BadRowsAreRejected) {
  const std::vector<std::string> columns{"open", "high", "low", "close", "volume"};
  const auto builder = RecordBuilder::make("Bar", columns);
  const std::vector<FieldValue> short_row{1.0, 2.0};
  EXPECT_THROW(builder.build(Stock("A", "a"), kOpen, short_row), ValueError);
  const std::vector<FieldValue> text_row{1.0, 2.0, std::string("x"), 1.0, 1.0};
  const std::string message = error_of([&] { builder.build(Stock("A", "a"), kOpen, text_row); });
  EXPECT_NE(message.find("Bar.low"), std::string::npos) << message;
}

}  // namespace
