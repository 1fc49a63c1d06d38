#include <gtest/gtest.h>

#include <sstream>

#include "zantrix/framework/balance.h"
#include "zantrix/framework/deal.h"
#include "zantrix/framework/order.h"
#include "zantrix/framework/position.h"

namespace zf = zantrix::framework;
using zantrix::core::Futures;
using zantrix::core::Stock;

TEST(FrameworkRecords, BalanceStartsEmptyWithAbsentOptionalFields) {
  const zf::AccountBalance b;
  EXPECT_EQ(b.cash, 0.0);
  EXPECT_FALSE(b.cash_by_currency.has_value());
  EXPECT_FALSE(b.max_power_short.has_value());
  EXPECT_EQ(zf::to_string(b),
            "AccountBalance(cash=0.0, cash_by_currency=None, available_cash=0.0, "
            "max_power_short=None, net_cash_power=0.0, maintenance_margin=0.0, "
            "realized_pnl=0.0, unrealized_pnl=0.0)");
}

TEST(FrameworkRecords, TextFormsNameEveryFieldAndKeepTheInstrumentKind) {
  const zf::Order order{.security = Futures("CLmain", "Crude"),
                        .price = 71.25,
                        .quantity = 2,
                        .direction = zf::Direction::SHORT,
                        .order_type = zf::OrderType::LIMIT,
                        .stop_price = std::nullopt};
  const auto text = zf::to_string(order);
  EXPECT_EQ(text.rfind("Order(security=Futures(code='CLmain'", 0), 0u) << text;
  for (const char* part : {"price=71.25", "quantity=2.0", "direction=Direction.SHORT",
                           "order_type=OrderType.LIMIT", "stop_price=None",
                           "status=OrderStatus.UNKNOWN"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }

  std::ostringstream os;
  os << zf::PositionData{.security = Stock("HK.00700", "Tencent"),
                         .direction = zf::Direction::LONG,
                         .holding_price = 300.5,
                         .quantity = 100};
  EXPECT_NE(os.str().find("holding_price=300.5, quantity=100.0"), std::string::npos) << os.str();

  const zf::Deal deal{.security = Stock("HK.00700", "Tencent"), .deal_id = "d'1"};
  EXPECT_NE(zf::to_string(deal).find(R"(deal_id='d\'1')"), std::string::npos);
}
