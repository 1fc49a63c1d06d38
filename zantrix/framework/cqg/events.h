// ICQGCELEvents: the event interface of the CQGCEL object.
//
// The library delivers each event by calling the handler of the same name on
// every attached sink, on the thread that created the object, with the
// event's arguments. A `cqg...` argument is a library object (null when
// absent: cqgError is null when there is no error). Objects that this system
// never reads are handed over as plain automation objects (IDispatch).
//
// The families of arguments: a series or definition set resolved: the series,
// then cqgError; a series grew (...Added): the series; a series item changed
// (...Updated, ...Inserted, ...Removed): the series, then the item's position. The
// other events are listed with their own arguments.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::framework::cqg {

class Account;
class Error;
class Fill;
class Instrument;
class Order;
class OrderProperties;
class Position;
class Quotes;
class Ticks;
class TimedBars;

// A library object that this system passes on without reading it.
using Object = std::shared_ptr<platform::com::IDispatch>;

class ICQGCELEvents {
 public:
  virtual ~ICQGCELEvents() = default;

  virtual void OnLineTimeChanged(DateTime newLineTime) = 0;
  virtual void OnGWConnectionStatusChanged(eConnectionStatus newStatus) = 0;
  virtual void OnDataConnectionStatusChanged(eConnectionStatus newStatus) = 0;
  virtual void OnInstrumentSubscribed(const std::string& symbol,
                                      std::shared_ptr<Instrument> cqgInstrument) = 0;
  virtual void OnInstrumentChanged(std::shared_ptr<Instrument> cqgInstrument,
                                   std::shared_ptr<Quotes> cqgQuotes,
                                   Object cqgInstrumentProperties) = 0;
  virtual void OnInstrumentDOMChanged(std::shared_ptr<Instrument> cqgInstrument, Object prevAsks,
                                      Object prevBids) = 0;
  virtual void OnAccountChanged(eAccountChangeType changeType, std::shared_ptr<Account> cqgAccount,
                                std::shared_ptr<Position> cqgPosition) = 0;
  virtual void OnIsReady(Object readyStatus) = 0;
  virtual void OnIdle() = 0;
  virtual void OnDataError(std::shared_ptr<Error> cqgError,
                           const std::string& errorDescription) = 0;
  virtual void OnCELStarted() = 0;
  virtual void OnIncorrectSymbol(const std::string& symbol) = 0;
  virtual void OnCommodityInstrumentsResolved(const std::string& commodityName,
                                              long instrumentTypes,
                                              Object cqgCommodityInstruments) = 0;
  virtual void OnGWEnvironmentChanged(long eventCode, long accountId, long phase) = 0;
  virtual void OnCurrencyRatesChanged(Object cqgCurrencyRates) = 0;
  virtual void OnQueryProgress(Object cqgOrdersQuery, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnOrderChanged(eChangeType changeType, std::shared_ptr<Order> cqgOrder,
                              std::shared_ptr<OrderProperties> oldProperties,
                              std::shared_ptr<Fill> cqgFill, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnDataSourcesResolved(Object cqgDataSources, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnDataSourceSymbolsResolved(const std::string& dataSourceAbbreviation,
                                           Object cqgDataSourceSymbols,
                                           std::shared_ptr<Error> cqgError) = 0;
  virtual void OnCustomSessionsResolved(Object cqgSessionsCollection,
                                        std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTradableCommoditiesResolved(long gwAccountId, Object cqgCommodities,
                                             std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTicksResolved(std::shared_ptr<Ticks> cqgTicks,
                               std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTicksAdded(std::shared_ptr<Ticks> cqgTicks, long added_ticks_count) = 0;
  virtual void OnTicksRemoved(std::shared_ptr<Ticks> cqgTicks, long removedTickIndex) = 0;
  virtual void OnTimedBarsResolved(std::shared_ptr<TimedBars> cqgTimedBars,
                                   std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTimedBarsAdded(std::shared_ptr<TimedBars> cqgTimedBars) = 0;
  virtual void OnTimedBarsUpdated(std::shared_ptr<TimedBars> cqgTimedBars, long index) = 0;
  virtual void OnConstantVolumeBarsResolved(Object cqgConstantVolumeBars,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnConstantVolumeBarsAdded(Object cqgConstantVolumeBars) = 0;
  virtual void OnConstantVolumeBarsUpdated(Object cqgConstantVolumeBars, long index) = 0;
  virtual void OnPointAndFigureBarsResolved(Object cqgPointAndFigureBars,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnPointAndFigureBarsAdded(Object cqgPointAndFigureBars) = 0;
  virtual void OnPointAndFigureBarsUpdated(Object cqgPointAndFigureBars, long index) = 0;
  virtual void OnYieldsResolved(Object cqgYields, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnYieldsAdded(Object cqgYields) = 0;
  virtual void OnYieldsUpdated(Object cqgYields, long index) = 0;
  virtual void OnTFlowBarsResolved(Object cqgTFlowBars, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTFlowBarsAdded(Object cqgTFlowBars) = 0;
  virtual void OnTFlowBarsUpdated(Object cqgTFlowBars, long index) = 0;
  virtual void OnCustomStudyDefinitionsResolved(Object cqgCustomStudyDefinitions,
                                                std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTradingSystemDefinitionsResolved(Object cqgTradingSystemDefinitions,
                                                  std::shared_ptr<Error> cqgError) = 0;
  virtual void OnConditionDefinitionsResolved(Object cqgConditionDefinitions,
                                              std::shared_ptr<Error> cqgError) = 0;
  virtual void OnQFormulaDefinitionsResolved(Object cqgQFormulaDefinitions,
                                             std::shared_ptr<Error> cqgError) = 0;
  virtual void OnCustomStudyResolved(Object cqgCustomStudy, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnCustomStudyAdded(Object cqgCustomStudy) = 0;
  virtual void OnCustomStudyUpdated(Object cqgCustomStudy, long index) = 0;
  virtual void OnConditionResolved(Object cqgCondition, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnConditionAdded(Object cqgCondition) = 0;
  virtual void OnConditionUpdated(Object cqgCondition, long index) = 0;
  virtual void OnTradingSystemResolved(Object cqgTradingSystem,
                                       std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTradingSystemAddNotification(Object cqgTradingSystem,
                                              Object cqgTradingSystemAddInfo) = 0;
  virtual void OnTradingSystemUpdateNotification(Object cqgTradingSystem,
                                                 Object cqgTradingSystemUpdateInfo) = 0;
  virtual void OnExpressionResolved(Object cqgExpression, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnExpressionAdded(Object cqgExpression) = 0;
  virtual void OnExpressionUpdated(Object cqgExpression, long index) = 0;
  virtual void OnAlgorithmicOrderRegistrationComplete(const std::string& guid,
                                                      std::shared_ptr<Error> cqgError) = 0;
  virtual void OnAlgorithmicOrderPlaced(const std::string& guid, Object mainParams,
                                        Object customProps) = 0;
  virtual void OnTimedBarsInserted(std::shared_ptr<TimedBars> cqgTimedBars, long index) = 0;
  virtual void OnTimedBarsRemoved(std::shared_ptr<TimedBars> cqgTimedBars, long index) = 0;
  virtual void OnPointAndFigureBarsInserted(Object cqgPointAndFigureBars, long index) = 0;
  virtual void OnPointAndFigureBarsRemoved(Object cqgPointAndFigureBars, long index) = 0;
  virtual void OnYieldsInserted(Object cqgYields, long index) = 0;
  virtual void OnYieldsRemoved(Object cqgYields, long index) = 0;
  virtual void OnTFlowBarsInserted(Object cqgTFlowBars, long index) = 0;
  virtual void OnTFlowBarsRemoved(Object cqgTFlowBars, long index) = 0;
  virtual void OnExpressionInserted(Object cqgExpression, long index) = 0;
  virtual void OnExpressionRemoved(Object cqgExpression, long index) = 0;
  virtual void OnICConnectionStatusChanged(eConnectionStatus newStatus) = 0;
  virtual void OnAllOrdersCanceled(eOrderSide orderSide, const std::vector<long>& gwAccountIds,
                                   const std::vector<std::string>& instrumentNames) = 0;
  virtual void OnInstrumentsGroupResolved(Object cqgInstrumentsGroup,
                                          std::shared_ptr<Error> cqgError) = 0;
  virtual void OnInstrumentsGroupChanged(eChangeType changeType, Object cqgInstrumentsGroup,
                                         const std::vector<std::string>& instrumentsNames) = 0;
  virtual void OnBarsTimestampsResolved(Object cqgBarsTimestamps,
                                        std::shared_ptr<Error> cqgError) = 0;
  virtual void OnStrategyDefinitionProgress(Object cqgDefinition,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnTradingSystemInsertNotification(Object cqgTradingSystem,
                                                 Object cqgTradingSystemInsertInfo) = 0;
  virtual void OnTradingSystemRemoveNotification(Object cqgTradingSystem,
                                                 Object cqgTradingSystemRemoveInfo) = 0;
  virtual void OnTradingSystemTradeRelationAddNotification(
      Object cqgTradingSystem, Object cqgTradingSystemRelationAddInfo) = 0;
  virtual void OnTradableExchangesResolved(long gwAccountId, Object cqgExchanges,
                                           std::shared_ptr<Error> cqgError) = 0;
  virtual void OnHistoricalSessionsResolved(Object cqgHistoricalSessions,
                                            Object cqgHistoricalSessionsRequest,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnSummariesStatementResolved(Object cqgSummariesStatement,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnPositionsStatementResolved(Object cqgPositionsStatement,
                                            std::shared_ptr<Error> cqgError) = 0;
  virtual void OnManualFillUpdateResolved(Object cqgManualFillRequest,
                                          std::shared_ptr<Error> cqgError) = 0;
  virtual void OnManualFillsResolved(Object cqgManualFills, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnManualFillChanged(Object cqgManualFill, long modifyType) = 0;
  virtual void OnAuthenticationStatusChanged(long newStatus, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnPasswordChanged(long requestStatus, std::shared_ptr<Error> cqgError) = 0;
  virtual void OnAdvancedStudyDefinitionsResolved(Object cqgAdvancedStudyDefinitions,
                                                  std::shared_ptr<Error> cqgError) = 0;
  virtual void OnAdvancedStudyResolved(Object cqgAdvancedStudy,
                                       std::shared_ptr<Error> cqgError) = 0;
  virtual void OnAdvancedStudyAdded(Object cqgAdvancedStudy) = 0;
  virtual void OnAdvancedStudyUpdated(Object cqgAdvancedStudy, long index) = 0;
  virtual void OnAdvancedStudyInserted(Object cqgAdvancedStudy, long index) = 0;
  virtual void OnAdvancedStudyRemoved(Object cqgAdvancedStudy, long index) = 0;
  virtual void OnSubMinuteBarsResolved(Object cqgSubminuteBars,
                                       std::shared_ptr<Error> cqgError) = 0;
  virtual void OnSubMinuteBarsAdded(Object cqgSubminuteBars) = 0;
  virtual void OnSubMinuteBarsUpdated(Object cqgSubminuteBars, long index) = 0;
  virtual void OnSubMinuteBarsInserted(Object cqgSubminuteBars, long index) = 0;
  virtual void OnSubMinuteBarsRemoved(Object cqgSubminuteBars, long index) = 0;
  virtual void OnInstrumentResolved(const std::string& symbol,
                                    std::shared_ptr<Instrument> cqgInstrument,
                                    std::shared_ptr<Error> cqgError) = 0;
  virtual void OnStrategyQuoteRequestResolved(Object cqgRFQ, bool isProcessed,
                                              std::shared_ptr<Error> cqgError) = 0;
};

}  // namespace zantrix::framework::cqg
