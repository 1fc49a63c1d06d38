#include "zantrix/core/security.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace {

using zantrix::core::Commodity;
using zantrix::core::Currency;
using zantrix::core::Futures;
using zantrix::core::Security;
using zantrix::core::SecurityKind;
using zantrix::core::Stock;
using zantrix::framework::Exchange;

std::size_t hash_of(const Security& s) { return std::hash<Security>{}(s); }

TEST(SecurityDefaults, EachKindFillsItsOwnLotSizeAndExchange) {
  const Stock stock("HK.00700", "Tencent");
  EXPECT_EQ(stock.lot_size(), 1);
  EXPECT_EQ(stock.exchange(), Exchange::SEHK);

  const Currency currency("EUR.USD", "Euro");
  EXPECT_EQ(currency.lot_size(), 1000);
  EXPECT_EQ(currency.exchange(), Exchange::IDEALPRO);

  const Commodity commodity("XAUUSD", "Gold");
  EXPECT_EQ(commodity.lot_size(), 1000);
  EXPECT_EQ(commodity.exchange(), Exchange::IDEALPRO);

  const Futures futures("HK.HSImain", "HSI");
  EXPECT_EQ(futures.lot_size(), 1000);
  EXPECT_EQ(futures.exchange(), Exchange::SMART);

  for (const Security& s : {Security(stock), Security(currency), Security(commodity),
                            Security(futures)}) {
    EXPECT_FALSE(s.expiry_date().has_value()) << s;
    EXPECT_EQ(s.quote_currency(), "") << s;
  }
}

TEST(SecurityDefaults, BaseLeavesOptionalFieldsAbsent) {
  const Security base("X", "Thing");
  EXPECT_EQ(base.kind(), SecurityKind::Security);
  EXPECT_FALSE(base.lot_size().has_value());
  EXPECT_FALSE(base.exchange().has_value());
  EXPECT_FALSE(base.expiry_date().has_value());
  EXPECT_EQ(base.quote_currency(), "");
}

TEST(SecurityConstruction, NamedOptionsOverrideOnlyWhatTheyName) {
  const Futures f("HK.HSImain", "HSI", {.lot_size = 50, .expiry_date = "2026-12-30"});
  EXPECT_EQ(f.lot_size(), 50);
  EXPECT_EQ(f.exchange(), Exchange::SMART);
  EXPECT_EQ(f.expiry_date(), "2026-12-30");

  const Stock s("US.AAPL", "Apple", {.exchange = Exchange::NASDAQ, .quote_currency = "USD"});
  EXPECT_EQ(s.lot_size(), 1);
  EXPECT_EQ(s.exchange(), Exchange::NASDAQ);
  EXPECT_EQ(s.quote_currency(), "USD");
}

TEST(SecurityConstruction, PositionalFieldsAndExplicitAbsence) {
  const Futures f("CLmain", "Crude", 100, Exchange::NYMEX, "2025-06-20", "USD");
  EXPECT_EQ(f.lot_size(), 100);
  EXPECT_EQ(f.exchange(), Exchange::NYMEX);
  EXPECT_EQ(f.expiry_date(), "2025-06-20");
  EXPECT_EQ(f.quote_currency(), "USD");

  const Stock no_lot("HK.00700", "Tencent", std::nullopt);
  EXPECT_FALSE(no_lot.lot_size().has_value());
  EXPECT_EQ(no_lot.exchange(), Exchange::SEHK);

  const Security base("X", "Thing", 10, Exchange::SGX);
  EXPECT_EQ(base.lot_size(), 10);
  EXPECT_EQ(base.exchange(), Exchange::SGX);
}

TEST(SecurityKinds, NamesAndDescriptions) {
  EXPECT_EQ(Security("X", "x").kind_name(), "Security");
  EXPECT_EQ(Security("X", "x").description(), "Base class for different asset types");
  EXPECT_EQ(Stock("X", "x").kind_name(), "Stock");
  EXPECT_EQ(Stock("X", "x").description(), "Cash equity");
  EXPECT_EQ(Currency("X", "x").description(), "Foreign exchange");
  EXPECT_EQ(Commodity("X", "x").description(), "Commodity");
  EXPECT_EQ(Futures("X", "x").kind_name(), "Futures");
  EXPECT_EQ(Futures("X", "x").description(), "Futures");
}

TEST(SecurityKinds, KindSurvivesCopyIntoBaseTypeAndAssignment) {
  const Security held = Futures("HK.HSImain", "HSI", {.expiry_date = "2026-12-30"});
  EXPECT_EQ(held.kind(), SecurityKind::Futures);
  EXPECT_EQ(held.kind_name(), "Futures");
  EXPECT_EQ(held.lot_size(), 1000);
  EXPECT_EQ(held.expiry_date(), "2026-12-30");

  Security replaced = Stock("HK.00700", "Tencent");
  replaced = held;
  EXPECT_EQ(replaced.kind(), SecurityKind::Futures);
  EXPECT_EQ(replaced, Futures("HK.HSImain", "HSI", {.expiry_date = "2026-12-30"}));
}

TEST(SecurityEquality, KindsCompareAllSixFields) {
  const Futures a("HK.HSImain", "HSI", {.expiry_date = "2026-12-30"});
  EXPECT_EQ(a, Futures("HK.HSImain", "HSI", {.expiry_date = "2026-12-30"}));
  EXPECT_NE(a, Futures("HK.HSImain", "HSI", {.expiry_date = "2027-01-28"}));
  EXPECT_NE(a, Futures("HK.HSImain", "HSI"));
  EXPECT_NE(a, Futures("HK.HSImain", "HSI", {.lot_size = 50, .expiry_date = "2026-12-30"}));
  EXPECT_NE(a, Futures("HK.HSImain", "HSI",
                       {.expiry_date = "2026-12-30", .quote_currency = "HKD"}));
  EXPECT_NE(hash_of(Futures("HK.HSImain", "HSI")), hash_of(Futures("HK.HHImain", "HSI")));
}

TEST(SecurityEquality, DifferentKindsWithIdenticalFieldsDiffer) {
  const Stock stock("EUR.USD", "Euro", 1000, Exchange::IDEALPRO);
  const Currency currency("EUR.USD", "Euro");
  ASSERT_EQ(stock.lot_size(), currency.lot_size());
  ASSERT_EQ(stock.exchange(), currency.exchange());
  EXPECT_NE(stock, currency);
  EXPECT_NE(Commodity("EUR.USD", "Euro"), currency);
}

TEST(SecurityEquality, BaseComparesIdentityOnlyAndHashesAlike) {
  const Security a("X", "Thing", 10, Exchange::SGX);
  const Security b("X", "Thing", 20, Exchange::SGX, "2030-01-01", "SGD");
  EXPECT_EQ(a, b);
  EXPECT_EQ(hash_of(a), hash_of(b));
  EXPECT_NE(a, Security("X", "Other", 10, Exchange::SGX));
  EXPECT_NE(a, Security("Y", "Thing", 10, Exchange::SGX));
  EXPECT_NE(a, Security("X", "Thing", 10, Exchange::SEHK));
}

TEST(SecurityEquality, BaseAgainstKindUsesIdentityRuleBothWays) {
  const Stock stock("HK.00700", "Tencent");
  const Security base("HK.00700", "Tencent", std::nullopt, Exchange::SEHK);
  EXPECT_EQ(base, stock);
  EXPECT_EQ(stock, base);
  EXPECT_EQ(hash_of(base), hash_of(stock));
  EXPECT_NE(Security("HK.00700", "Tencent", std::nullopt, Exchange::HKFE), stock);
}

TEST(SecurityEquality, AbsentExchangeEqualsOnlyAbsent) {
  const Security none_a("X", "Thing");
  const Security none_b("X", "Thing", 5);
  EXPECT_EQ(none_a, none_b);
  EXPECT_EQ(hash_of(none_a), hash_of(none_b));
  EXPECT_NE(none_a, Security("X", "Thing", std::nullopt, Exchange::SEHK));
  EXPECT_NE(none_a, Stock("X", "Thing"));
  EXPECT_EQ(Stock("X", "Thing", 1, std::nullopt), Stock("X", "Thing", 1, std::nullopt));
  EXPECT_NE(Stock("X", "Thing", 1, std::nullopt), Stock("X", "Thing"));
}

TEST(SecurityHashing, MixedKindsServeAsMapAndSetKeys) {
  std::unordered_map<Security, int> positions;
  positions[Stock("HK.00700", "Tencent")] = 1;
  positions[Futures("HK.HSImain", "HSI")] = 2;
  positions[Currency("EUR.USD", "Euro")] = 3;
  positions[Commodity("EUR.USD", "Euro")] = 4;
  ASSERT_EQ(positions.size(), 4u);
  EXPECT_EQ(positions.at(Futures("HK.HSImain", "HSI")), 2);
  EXPECT_EQ(positions.at(Commodity("EUR.USD", "Euro")), 4);
  EXPECT_EQ(positions.count(Futures("HK.HSImain", "HSI", {.lot_size = 50})), 0u);
  // A base key finds the kind with the same identity.
  EXPECT_EQ(positions.at(Security("HK.00700", "Tencent", std::nullopt, Exchange::SEHK)), 1);

  std::unordered_set<Futures> contracts{Futures("A", "a"), Futures("A", "a"), Futures("B", "b")};
  EXPECT_EQ(contracts.size(), 2u);
}

TEST(SecurityText, KindNameAndAllSixFields) {
  EXPECT_EQ(to_string(Stock("700", "Tencent")),
            "Stock(code='700', security_name='Tencent', lot_size=1, exchange=Exchange.SEHK, "
            "expiry_date=None, quote_currency='')");
  EXPECT_EQ(to_string(Security("X", "It's")),
            "Security(code='X', security_name='It\\'s', lot_size=None, exchange=None, "
            "expiry_date=None, quote_currency='')");
  std::ostringstream os;
  os << Security(Futures("HK.HSImain", "HSI", {.expiry_date = "2026-12-30"}));
  EXPECT_EQ(os.str(),
            "Futures(code='HK.HSImain', security_name='HSI', lot_size=1000, "
            "exchange=Exchange.SMART, expiry_date='2026-12-30', quote_currency='')");
}

}  // namespace
