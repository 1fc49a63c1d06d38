// VexGate's quotes and order books: subscriptions with and without answers,
// the lookup of instruments and tick requests by symbol, how quotes build
// and publish Quote records, and how ticks build top-of-book records.
#include <string>

#include "tests/gateways/cqg/wrapper/vexgate_fixture.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"

namespace zantrix::gateways::cqg::test {
namespace {

using cqgsim::QuoteUpdate;
using cqgsim::TickSetup;

class VexGateQuoteTest : public VexGateTest {
 protected:
  void SetUp() override {
    VexGateTest::SetUp();
    vex->subscribe_quote("EPZ4");
    TakeOutput();
  }
};

TEST_F(VexGateQuoteTest, SubscribingAsksForQuotesAndBestBidAndAsk) {
  vex->subscribe_quote("ESZ4");
  const long caller = ::gettid();
  EXPECT_EQ(TakeOutput(),
            (std::vector<Line>{{caller, "Waiting for eventQuoteDone in subscribe_quote(ESZ4)..."},
                               {caller, "eventQuoteDone is done."}}));
  const auto levels = CallsOf("Instrument.put_DataSubscriptionLevel");
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(levels[1].arguments, std::vector<cel::Variant>{static_cast<long>(cel::dsQuotesAndBBA)});
  EXPECT_EQ(levels[1].thread, static_cast<platform::com::DWORD>(worker));
}

TEST_F(VexGateQuoteTest, AFailedResolutionReleasesTheWaitWithoutSettingALevel) {
  vex->wait_timeout = 10s;
  vex->subscribe_quote("NOPE");
  EXPECT_TRUE(vex->eventQuoteDone.is_set());
  EXPECT_EQ(CallsOf("Instrument.put_DataSubscriptionLevel").size(), 1u);
}

TEST_F(VexGateQuoteTest, AMissingAnswerEndsTheWaitAfterTheTimeOut) {
  simulator->DropAnswers("CQGCEL.NewInstrument");
  vex->wait_timeout = 50ms;
  vex->subscribe_quote("ESZ4");
  EXPECT_EQ(TextsOf(TakeOutput()).back(), "eventQuoteDone is done.");
  EXPECT_FALSE(vex->eventQuoteDone.is_set());
}

TEST_F(VexGateQuoteTest, ALastTradeAloneIsPublishedWithTheSecuritysExchange) {
  const auto before = framework::local_now();
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.5}});
  simulator->Sync();
  const auto quotes = gateway->quotes();
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0].security, EP);
  EXPECT_EQ(quotes[0].exchange, framework::Exchange::CME);
  EXPECT_EQ(quotes[0].last_price, 101.5);
  EXPECT_EQ(quotes[0].bid_price, 0);
  EXPECT_EQ(quotes[0].ask_price, 0);
  EXPECT_GE(quotes[0].datetime, before);
  EXPECT_EQ(gateway->cqg_quotes.at(EP), quotes[0]);
  EXPECT_EQ(gateway->calls()[0].thread, workerId);
}

TEST_F(VexGateQuoteTest, ABidAloneIsStoredAndTheAskThatFollowsPublishesBoth) {
  simulator->SetQuotes("EPZ4", {{cel::qtBid, 100.0, 4}});
  simulator->Sync();
  EXPECT_TRUE(gateway->quotes().empty());
  ASSERT_TRUE(gateway->cqg_quotes.at(EP).has_value());
  EXPECT_EQ(gateway->cqg_quotes.at(EP)->bid_price, 100.0);

  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 100.25, 2}});
  simulator->Sync();
  const auto quotes = gateway->quotes();
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0].bid_price, 100.0);
  EXPECT_EQ(quotes[0].ask_price, 100.25);
}

TEST_F(VexGateQuoteTest, OneNotificationPublishesALaterCopyPerQuote) {
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.0},
                                {cel::qtDayHigh, 102.0},
                                {cel::qtDayLow, 99.0},
                                {cel::qtDayOpen, 100.0},
                                {cel::qtYesterdaySettlement, 98.5}});
  simulator->Sync();
  const auto quotes = gateway->quotes();
  ASSERT_EQ(quotes.size(), 5u);
  EXPECT_EQ(quotes[0].high_price, 0);
  EXPECT_EQ(quotes[1].high_price, 102.0);
  EXPECT_EQ(quotes[1].low_price, 0);
  EXPECT_EQ(quotes[4].last_price, 101.0);
  EXPECT_EQ(quotes[4].high_price, 102.0);
  EXPECT_EQ(quotes[4].low_price, 99.0);
  EXPECT_EQ(quotes[4].open_price, 100.0);
  EXPECT_EQ(quotes[4].prev_close_price, 98.5);
}

TEST_F(VexGateQuoteTest, AQuoteThatSetsNoFieldRepublishesTheStoredRecordUnchanged) {
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.0}});
  simulator->Sync();
  simulator->SetQuotes("EPZ4", {{cel::qtIndicativeOpen, 120.0}, {cel::qtMarker, 121.0}});
  simulator->Sync();
  const auto quotes = gateway->quotes();
  ASSERT_EQ(quotes.size(), 3u);
  EXPECT_EQ(quotes[1], quotes[0]);
  EXPECT_EQ(quotes[2], quotes[0]);
}

TEST_F(VexGateQuoteTest, InvalidQuotesAndUnknownTypesAreSkippedAndTheRestProcessed) {
  simulator->SetQuotes("EPZ4", {{.type = cel::qtTrade, .price = 50.0, .valid = false},
                                {static_cast<cel::eQuoteType>(99), 77.0},
                                {cel::qtTrade, 101.0}});
  simulator->Sync();
  const auto quotes = gateway->quotes();
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0].last_price, 101.0);
}

TEST_F(VexGateQuoteTest, AnInstrumentTheGatewayCannotMapProducesNothing) {
  vex->subscribe_quote("ZNZ4");
  TakeOutput();
  simulator->SetQuotes("ZNZ4", {{cel::qtTrade, 110.0}});
  EXPECT_TRUE(TakeOutput().empty());
  EXPECT_TRUE(gateway->calls().empty());
}

TEST_F(VexGateQuoteTest, ASecurityWithoutAQuoteEntryStopsTheNotification) {
  RecordingGateway narrow({{"EPZ4", EP}});
  // The gateway maps the symbol but opened no entry for it.
  class Unopened final : public framework::BaseGateway {
   public:
    explicit Unopened(RecordingGateway& inner) : inner_(inner) {}
    void process_quote(const core::Quote& quote) override { inner_.process_quote(quote); }
    void process_orderbook(const core::OrderBook& book) override { inner_.process_orderbook(book); }
    void process_order(const framework::OrderUpdate& update) override {
      inner_.process_order(update);
    }
    void process_deal(const framework::DealUpdate& deal) override { inner_.process_deal(deal); }
    std::optional<core::Security> get_zx_security_from_cqg_symbol(
        const std::string& symbol) const override {
      return inner_.get_zx_security_from_cqg_symbol(symbol);
    }
    std::string get_cqg_symbol_from_zx_security(const core::Security& security) const override {
      return inner_.get_cqg_symbol_from_zx_security(security);
    }

   private:
    RecordingGateway& inner_;
  } unopened(narrow);
  unopened.ravelhost = host.get();
  vex->Init(unopened);
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 101.0}});
  const auto lines = TakeOutput();
  vex->Init(*gateway);
  EXPECT_TRUE(narrow.calls().empty());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].text.starts_with("Exception in OnInstrumentChanged: Futures(code='EPZ4'"));
}

TEST_F(VexGateQuoteTest, QuoteTypeTextsFollowTheTable) {
  EXPECT_EQ(QuoteType2String(cel::qtMarker), "Marker price");
  EXPECT_EQ(QuoteType2String(cel::qtTodayMarker), "Marker price");
  EXPECT_EQ(QuoteType2String(cel::qtYesterdaySettlement), "Yesterday's settlement price");
  EXPECT_EQ(QuoteType2String(cel::qtCohUndBid), "Coherent underlying price for the best bid");
  EXPECT_THROW(QuoteType2String(static_cast<cel::eQuoteType>(99)), framework::KeyError);
}

TEST_F(VexGateQuoteTest, UnsubscribingPrefersTheInstrumentNamedExactly) {
  vex->subscribe_quote("MESZ4");
  vex->subscribe_quote("ESZ4");
  TakeOutput();
  vex->unsubscribe_quote("ESZ4");
  EXPECT_EQ(TextsOf(TakeOutput()),
            (std::vector<std::string>{"Successfully unsubscribe quote for ESZ4"}));
  const auto removed = CallsOf("CQGCEL.RemoveInstrument");
  ASSERT_EQ(removed.size(), 1u);
  const auto& instrument =
      std::get<std::shared_ptr<platform::com::IDispatch>>(removed[0].arguments[0]);
  EXPECT_EQ(platform::com::Dispatch<cqgsim::Instrument>(instrument)->fullName, "F.US.ESZ4");
}

// A symbol finds the contract it names exactly, or as whole "."-separated
// pieces of a full name; never one whose name merely contains it. Several
// contracts that fit are an error naming them.
TEST_F(VexGateQuoteTest, ASymbolFindsOnlyTheContractItNames) {
  vex->subscribe_quote("MESZ4");
  const struct {
    const char* symbol;
    const char* found;
  } cases[] = {{"EPZ4", "F.US.EPZ4"}, {"F.US.EPZ4", "F.US.EPZ4"}, {"US.MESZ4", "F.US.MESZ4"},
               {"ESZ4", nullptr},     {"PZ4", nullptr},           {"CLZ4", nullptr}};
  for (const auto& c : cases) {
    const auto found = vex->get_instrument_from_cqg_symbol(c.symbol);
    EXPECT_EQ(found ? found->FullName() : "none", c.found ? c.found : "none") << c.symbol;
  }
  vex->unsubscribe_quote("ESZ4");
  EXPECT_TRUE(CallsOf("CQGCEL.RemoveInstrument").empty());

  simulator->DefineInstrument({.fullName = "F.EU.ESZ4"});
  vex->subscribe_quote("F.EU.ESZ4");
  vex->subscribe_quote("F.US.ESZ4");
  ExpectError<framework::ValueError>(
      [&] { vex->unsubscribe_quote("ESZ4"); },
      "cqg_symbol ESZ4 names more than one contract: F.EU.ESZ4, F.US.ESZ4");
  EXPECT_TRUE(CallsOf("CQGCEL.RemoveInstrument").empty());
}

class VexGateOrderBookTest : public VexGateTest {
 protected:
  void SetUp() override {
    VexGateTest::SetUp();
    vex->subscribe_orderbook("EPZ4");
    TakeOutput();
  }
};

TEST_F(VexGateOrderBookTest, SubscribingSetsTheRequestAndTracesTheLimitBeforeSending) {
  vex->subscribe_orderbook("ESZ4");
  const auto texts = TextsOf(TakeOutput());
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "Limit: 10", "Waiting for eventOrderbookDone in subscribe_orderbook(ESZ4)...",
                "eventOrderbookDone is done."}));
  const auto calls = simulator->Calls();
  std::vector<std::string> members;
  for (const auto& call : calls) {
    if (call.member.starts_with("TicksRequest.") || call.member == "CQGCEL.RequestTicks") {
      members.push_back(call.member);
    }
  }
  const std::vector<std::string> once{
      "TicksRequest.put_Symbol",     "TicksRequest.put_Type",
      "TicksRequest.put_TickFilter", "TicksRequest.put_SessionsFilter",
      "TicksRequest.put_Limit",      "TicksRequest.Limit",
      "CQGCEL.RequestTicks"};
  ASSERT_EQ(members.size(), 2 * once.size());
  EXPECT_EQ(std::vector<std::string>(members.begin() + 7, members.end()), once);
  const auto sessions = CallsOf("TicksRequest.put_SessionsFilter");
  EXPECT_EQ(sessions.back().arguments, std::vector<cel::Variant>{31L});
}

TEST_F(VexGateOrderBookTest, AnAskThenABidPublishAFullTopOfBook) {
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 100.25, 3}});
  simulator->Sync();
  EXPECT_TRUE(gateway->orderbooks().empty());
  const auto one_sided = gateway->cqg_orderbooks.at(EP);
  ASSERT_TRUE(one_sided.has_value());
  EXPECT_EQ(one_sided->ask_price_1, 100.25);
  EXPECT_EQ(one_sided->ask_volume_1, 3);
  EXPECT_EQ(one_sided->bid_price_1, 0);

  simulator->SetQuotes("EPZ4", {{cel::qtBid, 100.0, 5}});
  simulator->SetQuotes("EPZ4", {{cel::qtTrade, 100.25, 1}});
  simulator->Sync();
  const auto books = gateway->orderbooks();
  ASSERT_EQ(books.size(), 2u);
  EXPECT_EQ(books[0].bid_price_1, 100.0);
  EXPECT_EQ(books[0].bid_volume_1, 5);
  EXPECT_EQ(books[0].ask_price_1, 100.25);
  EXPECT_EQ(books[0].bid_price_2, 0);
  EXPECT_EQ(books[0].exchange, framework::Exchange::CME);
  EXPECT_GT(books[0].datetime, one_sided->datetime);
  EXPECT_EQ(books[1], books[0]);
}

TEST_F(VexGateOrderBookTest, AZeroVolumeHoldsPublishingBackUntilItRecovers) {
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 100.25, 3}, {cel::qtBid, 100.0, 0}});
  simulator->Sync();
  EXPECT_TRUE(gateway->orderbooks().empty());
  simulator->SetQuotes("EPZ4", {{cel::qtBid, 100.0, 2}});
  simulator->Sync();
  EXPECT_EQ(gateway->orderbooks().size(), 1u);
}

TEST_F(VexGateOrderBookTest, OnlyTheNewlyAddedTicksAreReadInOrder) {
  vex->unsubscribe_orderbook("EPZ4");
  for (int i = 0; i < 7; ++i) simulator->SetQuotes("EPZ4", {{cel::qtTrade, 100.0, 1}});
  vex->subscribe_orderbook("EPZ4");
  simulator->AddTicks("EPZ4",
                      {{cel::tptAsk, 101.0, 1}, {cel::tptBid, 100.5, 2}, {cel::tptAsk, 100.75, 4}});
  simulator->Sync();
  std::vector<long> read;
  for (const auto& call : simulator->Calls()) {
    if (call.member == "Ticks.Item") read.push_back(std::get<long>(call.arguments[0]));
  }
  EXPECT_EQ(read, (std::vector<long>{7, 8, 9}));
  const auto books = gateway->orderbooks();
  ASSERT_EQ(books.size(), 2u);
  EXPECT_EQ(books[1].ask_price_1, 100.75);
  EXPECT_EQ(books[1].ask_volume_1, 4);
}

TEST_F(VexGateOrderBookTest, AnUnknownTickTypeStopsTheNotificationAfterWhatWasPublished) {
  simulator->AddTicks("EPZ4", {{cel::tptAsk, 101.0, 1},
                               {cel::tptBid, 100.5, 2},
                               {static_cast<cel::eTickPriceType>(42), 1.0, 1},
                               {cel::tptAsk, 100.75, 4}});
  const auto lines = TakeOutput();
  EXPECT_EQ(gateway->orderbooks().size(), 1u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (Line{worker, "Exception in OnTicksAdded: 42"}));
}

TEST_F(VexGateOrderBookTest, ResolutionsReleaseTheWaitWithOrWithoutError) {
  vex->subscribe_orderbook("NOPE");
  EXPECT_TRUE(vex->eventOrderbookDone.is_set());
  simulator->DropAnswers("CQGCEL.RequestTicks");
  vex->wait_timeout = 50ms;
  vex->subscribe_orderbook("ESZ4");
  EXPECT_FALSE(vex->eventOrderbookDone.is_set());
  EXPECT_EQ(TextsOf(TakeOutput()).back(), "eventOrderbookDone is done.");
}

TEST_F(VexGateOrderBookTest, TicksOfAnUnmappedSymbolAreSkipped) {
  vex->subscribe_orderbook("ZNZ4");
  simulator->SetQuotes("ZNZ4", {{cel::qtAsk, 110.0, 1}, {cel::qtBid, 109.5, 1}});
  EXPECT_EQ(TakeOutput().size(), 3u);  // the subscription's own lines
  EXPECT_TRUE(gateway->calls().empty());
}

TEST_F(VexGateOrderBookTest, UnsubscribingRemovesTheRequestOnce) {
  vex->unsubscribe_orderbook("EPZ4");
  vex->unsubscribe_orderbook("EPZ4");
  EXPECT_EQ(TextsOf(TakeOutput()),
            (std::vector<std::string>{"Successfully unsubscribe orderbook for EPZ4"}));
  EXPECT_EQ(CallsOf("CQGCEL.RemoveTicks").size(), 1u);
  EXPECT_FALSE(vex->eventOrderbookDone.is_set());
  simulator->SetQuotes("EPZ4", {{cel::qtAsk, 100.25, 3}, {cel::qtBid, 100.0, 2}});
  simulator->Sync();
  EXPECT_TRUE(gateway->orderbooks().empty());
}

TEST_F(VexGateOrderBookTest, TickTypeTextsFollowTheTable) {
  EXPECT_EQ(TickType2String(cel::tptAsk), "Ask price");
  EXPECT_EQ(TickType2String(cel::tptBid), "Bid price");
  EXPECT_EQ(TickType2String(cel::tptSettlement), "Settlement price");
  EXPECT_EQ(TickType2String(cel::tptTrade), "Trade price");
  EXPECT_THROW(TickType2String(static_cast<cel::eTickPriceType>(9)), framework::KeyError);
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
