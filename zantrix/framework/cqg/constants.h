// The enumerations of the CQG client library, and the lookup of a member's
// value by its name.
//
// Members keep the library's names. The connection statuses carry the
// library's numbers (csConnectionUp 0 ... csConnectionNotLoggedOn 4); every
// other value is this system's own, so code compares with the members or
// looks them up by name, never with bare numbers. Values are `long`, the
// library's integer type; events hand them over typed.
#pragma once

#include <optional>
#include <string_view>

namespace zantrix::framework::cqg {

enum eConnectionStatus : long {
  csConnectionUp = 0,           // connection is up
  csConnectionDelayed = 1,      // connection is delayed
  csConnectionDown = 2,         // connection is down
  csConnectionTrouble = 3,      // trouble with the gateway connection
  csConnectionNotLoggedOn = 4,  // connected but not logged on to the gateway
};

// How an order or a group of instruments changed.
enum eChangeType : long { ctAdded = 0, ctChanged = 1, ctRemoved = 2 };

// How an account or one of its positions changed.
enum eAccountChangeType : long {
  actAccountChanged = 0,
  actAccountsReloaded = 1,
  actPositionsReloaded = 2,
  actPositionAdded = 3,
  actPositionChanged = 4,
};

enum eAccountSubscriptionLevel : long { aslNone = 0, aslAccountUpdatesAndOrders = 1 };

enum ePositionSubscriptionLevel : long { pslNoPositions = 0, pslSnapshotAndUpdates = 1 };

enum eDataSubscriptionLevel : long { dsNone = 0, dsQuotes = 1, dsQuotesAndBBA = 2 };

enum eQuoteType : long {
  qtAsk = 0,
  qtBid = 1,
  qtCohUndAsk = 2,
  qtCohUndBid = 3,
  qtDayHigh = 4,
  qtDayLow = 5,
  qtDayOpen = 6,
  qtImpliedAsk = 7,
  qtImpliedBid = 8,
  qtIndicativeOpen = 9,
  qtMarker = 10,
  qtOutrightAsk = 11,
  qtOutrightBid = 12,
  qtSettlement = 13,
  qtTodayMarker = 14,
  qtTrade = 15,
  qtYesterdaySettlement = 16,
};

// A tick request for the current ticks, then a notification of each new one.
enum eTicksRequestType : long { trtCurrentNotify = 0 };

enum eTicksFilter : long { tfAll = 0 };

enum eTickPriceType : long { tptAsk = 0, tptBid = 1, tptSettlement = 2, tptTrade = 3 };

enum eHistoricalPeriod : long { hpDaily = 0 };

enum eIntradayPeriod : long { pfds1Min = 1 };

enum eDailyBarClose : long { dbcLastQuoteOrSettlement = 0 };

// Optional outputs of a timed-bars request.
enum eTimedBarsRequestOutput : long { tbrContractVolume = 0, tbrCommodityVolume = 1 };

enum eFillStatus : long { fsNormal = 0, fsCanceled = 1, fsModified = 2, fsBusted = 3 };

enum eOrderType : long { otMarket = 0, otLimit = 1, otStop = 2 };

enum eOrderSide : long { osdUndefined = 0, osdBuy = 1, osdSell = 2 };

// The keys of an order's Properties.
enum eOrderProperty : long {
  opGUID = 0,
  opGWStatus = 1,
  opEventServerTimestamp = 2,
  opAverageFillPrice = 3,
  opFilledQuantity = 4,
};

enum eOrderStatus : long {
  osActiveAt = 0,
  osContingent = 1,
  osInCancel = 2,
  osInClient = 3,
  osInModify = 4,
  osInTransit = 5,
  osNotSent = 6,
  osParked = 7,
  osInOrderBook = 8,
  osFilled = 9,
  osBusted = 10,
  osCanceled = 11,
  osRejectFCM = 12,
  osRejectGW = 13,
  osDisconnected = 14,
  osExpired = 15,
  osInTransitTimeout = 16,
};

// The time zone in which the library reports time stamps.
enum eTimeZone : long {
  tzCentral = 0,
  tzChina = 1,
  tzEastern = 2,
  tzGreenwich = 3,
  tzPacific = 4,
};

// The value of the member called `name` in any of the enumerations above.
std::optional<long> find_constant(std::string_view name);
// The same, or a KeyError naming the member when there is none.
long constant(std::string_view name);

}  // namespace zantrix::framework::cqg
