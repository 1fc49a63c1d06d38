// NullSink: a sink of the simulated client's events that ignores every
// event; tests derive from it and override the events they watch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "zantrix/framework/cqg/cel.h"
#include "zantrix/framework/cqg/events.h"

namespace platform::test_support {

namespace cqg = zantrix::framework::cqg;

class NullSink : public cqg::ICQGCELEvents {
 public:
  void OnLineTimeChanged(zantrix::framework::DateTime) override {}
  void OnGWConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnDataConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnInstrumentSubscribed(const std::string&, std::shared_ptr<cqg::Instrument>) override {}
  void OnInstrumentChanged(std::shared_ptr<cqg::Instrument>, std::shared_ptr<cqg::Quotes>,
                           cqg::Object) override {}
  void OnInstrumentDOMChanged(std::shared_ptr<cqg::Instrument>, cqg::Object, cqg::Object) override {
  }
  void OnAccountChanged(cqg::eAccountChangeType, std::shared_ptr<cqg::Account>,
                        std::shared_ptr<cqg::Position>) override {}
  void OnIsReady(cqg::Object) override {}
  void OnIdle() override {}
  void OnDataError(std::shared_ptr<cqg::Error>, const std::string&) override {}
  void OnCELStarted() override {}
  void OnIncorrectSymbol(const std::string&) override {}
  void OnCommodityInstrumentsResolved(const std::string&, long, cqg::Object) override {}
  void OnGWEnvironmentChanged(long, long, long) override {}
  void OnCurrencyRatesChanged(cqg::Object) override {}
  void OnQueryProgress(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnOrderChanged(cqg::eChangeType, std::shared_ptr<cqg::Order>,
                      std::shared_ptr<cqg::OrderProperties>, std::shared_ptr<cqg::Fill>,
                      std::shared_ptr<cqg::Error>) override {}
  void OnDataSourcesResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnDataSourceSymbolsResolved(const std::string&, cqg::Object,
                                   std::shared_ptr<cqg::Error>) override {}
  void OnCustomSessionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradableCommoditiesResolved(long, cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTicksResolved(std::shared_ptr<cqg::Ticks>, std::shared_ptr<cqg::Error>) override {}
  void OnTicksAdded(std::shared_ptr<cqg::Ticks>, long) override {}
  void OnTicksRemoved(std::shared_ptr<cqg::Ticks>, long) override {}
  void OnTimedBarsResolved(std::shared_ptr<cqg::TimedBars>, std::shared_ptr<cqg::Error>) override {}
  void OnTimedBarsAdded(std::shared_ptr<cqg::TimedBars>) override {}
  void OnTimedBarsUpdated(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnConstantVolumeBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConstantVolumeBarsAdded(cqg::Object) override {}
  void OnConstantVolumeBarsUpdated(cqg::Object, long) override {}
  void OnPointAndFigureBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnPointAndFigureBarsAdded(cqg::Object) override {}
  void OnPointAndFigureBarsUpdated(cqg::Object, long) override {}
  void OnYieldsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnYieldsAdded(cqg::Object) override {}
  void OnYieldsUpdated(cqg::Object, long) override {}
  void OnTFlowBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTFlowBarsAdded(cqg::Object) override {}
  void OnTFlowBarsUpdated(cqg::Object, long) override {}
  void OnCustomStudyDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConditionDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnQFormulaDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnCustomStudyResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnCustomStudyAdded(cqg::Object) override {}
  void OnCustomStudyUpdated(cqg::Object, long) override {}
  void OnConditionResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnConditionAdded(cqg::Object) override {}
  void OnConditionUpdated(cqg::Object, long) override {}
  void OnTradingSystemResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemAddNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemUpdateNotification(cqg::Object, cqg::Object) override {}
  void OnExpressionResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnExpressionAdded(cqg::Object) override {}
  void OnExpressionUpdated(cqg::Object, long) override {}
  void OnAlgorithmicOrderRegistrationComplete(const std::string&,
                                              std::shared_ptr<cqg::Error>) override {}
  void OnAlgorithmicOrderPlaced(const std::string&, cqg::Object, cqg::Object) override {}
  void OnTimedBarsInserted(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnTimedBarsRemoved(std::shared_ptr<cqg::TimedBars>, long) override {}
  void OnPointAndFigureBarsInserted(cqg::Object, long) override {}
  void OnPointAndFigureBarsRemoved(cqg::Object, long) override {}
  void OnYieldsInserted(cqg::Object, long) override {}
  void OnYieldsRemoved(cqg::Object, long) override {}
  void OnTFlowBarsInserted(cqg::Object, long) override {}
  void OnTFlowBarsRemoved(cqg::Object, long) override {}
  void OnExpressionInserted(cqg::Object, long) override {}
  void OnExpressionRemoved(cqg::Object, long) override {}
  void OnICConnectionStatusChanged(cqg::eConnectionStatus) override {}
  void OnAllOrdersCanceled(cqg::eOrderSide, const std::vector<long>&,
                           const std::vector<std::string>&) override {}
  void OnInstrumentsGroupResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnInstrumentsGroupChanged(cqg::eChangeType, cqg::Object,
                                 const std::vector<std::string>&) override {}
  void OnBarsTimestampsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnStrategyDefinitionProgress(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnTradingSystemInsertNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemRemoveNotification(cqg::Object, cqg::Object) override {}
  void OnTradingSystemTradeRelationAddNotification(cqg::Object, cqg::Object) override {}
  void OnTradableExchangesResolved(long, cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnHistoricalSessionsResolved(cqg::Object, cqg::Object,
                                    std::shared_ptr<cqg::Error>) override {}
  void OnSummariesStatementResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnPositionsStatementResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillUpdateResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnManualFillChanged(cqg::Object, long) override {}
  void OnAuthenticationStatusChanged(long, std::shared_ptr<cqg::Error>) override {}
  void OnPasswordChanged(long, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyDefinitionsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnAdvancedStudyAdded(cqg::Object) override {}
  void OnAdvancedStudyUpdated(cqg::Object, long) override {}
  void OnAdvancedStudyInserted(cqg::Object, long) override {}
  void OnAdvancedStudyRemoved(cqg::Object, long) override {}
  void OnSubMinuteBarsResolved(cqg::Object, std::shared_ptr<cqg::Error>) override {}
  void OnSubMinuteBarsAdded(cqg::Object) override {}
  void OnSubMinuteBarsUpdated(cqg::Object, long) override {}
  void OnSubMinuteBarsInserted(cqg::Object, long) override {}
  void OnSubMinuteBarsRemoved(cqg::Object, long) override {}
  void OnInstrumentResolved(const std::string&, std::shared_ptr<cqg::Instrument>,
                            std::shared_ptr<cqg::Error>) override {}
  void OnStrategyQuoteRequestResolved(cqg::Object, bool, std::shared_ptr<cqg::Error>) override {}
};

}  // namespace platform::test_support
