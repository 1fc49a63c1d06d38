#include "zantrix/framework/cqg/constants.h"

#include <algorithm>
#include <array>
#include <string>

#include "zantrix/framework/errors.h"

namespace zantrix::framework::cqg {

namespace {

struct Constant {
  std::string_view name;
  long value;
};

// Spelling each member once keeps the names and the values from drifting
// apart.
#define CQG_CONSTANT(member) \
  Constant {                 \
#member, member          \
  }

constexpr std::array kConstants{
    CQG_CONSTANT(csConnectionUp),
    CQG_CONSTANT(csConnectionDelayed),
    CQG_CONSTANT(csConnectionDown),
    CQG_CONSTANT(csConnectionTrouble),
    CQG_CONSTANT(csConnectionNotLoggedOn),
    CQG_CONSTANT(ctAdded),
    CQG_CONSTANT(ctChanged),
    CQG_CONSTANT(ctRemoved),
    CQG_CONSTANT(actAccountChanged),
    CQG_CONSTANT(actAccountsReloaded),
    CQG_CONSTANT(actPositionsReloaded),
    CQG_CONSTANT(actPositionAdded),
    CQG_CONSTANT(actPositionChanged),
    CQG_CONSTANT(aslNone),
    CQG_CONSTANT(aslAccountUpdatesAndOrders),
    CQG_CONSTANT(pslNoPositions),
    CQG_CONSTANT(pslSnapshotAndUpdates),
    CQG_CONSTANT(dsNone),
    CQG_CONSTANT(dsQuotes),
    CQG_CONSTANT(dsQuotesAndBBA),
    CQG_CONSTANT(qtAsk),
    CQG_CONSTANT(qtBid),
    CQG_CONSTANT(qtCohUndAsk),
    CQG_CONSTANT(qtCohUndBid),
    CQG_CONSTANT(qtDayHigh),
    CQG_CONSTANT(qtDayLow),
    CQG_CONSTANT(qtDayOpen),
    CQG_CONSTANT(qtImpliedAsk),
    CQG_CONSTANT(qtImpliedBid),
    CQG_CONSTANT(qtIndicativeOpen),
    CQG_CONSTANT(qtMarker),
    CQG_CONSTANT(qtOutrightAsk),
    CQG_CONSTANT(qtOutrightBid),
    CQG_CONSTANT(qtSettlement),
    CQG_CONSTANT(qtTodayMarker),
    CQG_CONSTANT(qtTrade),
    CQG_CONSTANT(qtYesterdaySettlement),
    CQG_CONSTANT(trtCurrentNotify),
    CQG_CONSTANT(tfAll),
    CQG_CONSTANT(tptAsk),
    CQG_CONSTANT(tptBid),
    CQG_CONSTANT(tptSettlement),
    CQG_CONSTANT(tptTrade),
    CQG_CONSTANT(hpDaily),
    CQG_CONSTANT(pfds1Min),
    CQG_CONSTANT(dbcLastQuoteOrSettlement),
    CQG_CONSTANT(tbrContractVolume),
    CQG_CONSTANT(tbrCommodityVolume),
    CQG_CONSTANT(fsNormal),
    CQG_CONSTANT(fsCanceled),
    CQG_CONSTANT(fsModified),
    CQG_CONSTANT(fsBusted),
    CQG_CONSTANT(otMarket),
    CQG_CONSTANT(otLimit),
    CQG_CONSTANT(otStop),
    CQG_CONSTANT(osdUndefined),
    CQG_CONSTANT(osdBuy),
    CQG_CONSTANT(osdSell),
    CQG_CONSTANT(opGUID),
    CQG_CONSTANT(opGWStatus),
    CQG_CONSTANT(opEventServerTimestamp),
    CQG_CONSTANT(opAverageFillPrice),
    CQG_CONSTANT(opFilledQuantity),
    CQG_CONSTANT(osActiveAt),
    CQG_CONSTANT(osContingent),
    CQG_CONSTANT(osInCancel),
    CQG_CONSTANT(osInClient),
    CQG_CONSTANT(osInModify),
    CQG_CONSTANT(osInTransit),
    CQG_CONSTANT(osNotSent),
    CQG_CONSTANT(osParked),
    CQG_CONSTANT(osInOrderBook),
    CQG_CONSTANT(osFilled),
    CQG_CONSTANT(osBusted),
    CQG_CONSTANT(osCanceled),
    CQG_CONSTANT(osRejectFCM),
    CQG_CONSTANT(osRejectGW),
    CQG_CONSTANT(osDisconnected),
    CQG_CONSTANT(osExpired),
    CQG_CONSTANT(osInTransitTimeout),
    CQG_CONSTANT(tzCentral),
    CQG_CONSTANT(tzChina),
    CQG_CONSTANT(tzEastern),
    CQG_CONSTANT(tzGreenwich),
    CQG_CONSTANT(tzPacific),
};

#undef CQG_CONSTANT

}  // namespace

std::optional<long> find_constant(std::string_view name) {
  const auto it = std::find_if(kConstants.begin(), kConstants.end(),
                               [name](const Constant& c) { return c.name == name; });
  if (it == kConstants.end()) return std::nullopt;
  return it->value;
}

long constant(std::string_view name) {
  const auto value = find_constant(name);
  if (!value) throw KeyError(std::string(name));
  return *value;
}

}  // namespace zantrix::framework::cqg
