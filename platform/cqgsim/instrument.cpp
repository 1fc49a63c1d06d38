#include "platform/cqgsim/instrument.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

bool Quote::IsValid() {
  return servant_.Serve("Quote.IsValid", {}, [this] { return valid; });
}

cqg::eQuoteType Quote::Type() {
  return servant_.Serve("Quote.Type", {}, [this] { return type; });
}

double Quote::Price() {
  return servant_.Serve("Quote.Price", {}, [this] { return price; });
}

long Quote::Volume() {
  return servant_.Serve("Quote.Volume", {}, [this] { return volume; });
}

std::string Instrument::FullName() {
  return servant_.Serve("Instrument.FullName", {}, [this] { return fullName; });
}

cqg::eDataSubscriptionLevel Instrument::DataSubscriptionLevel() {
  return servant_.Serve("Instrument.DataSubscriptionLevel", {}, [this] { return level; });
}

void Instrument::put_DataSubscriptionLevel(cqg::eDataSubscriptionLevel value) {
  servant_.Serve("Instrument.put_DataSubscriptionLevel", {static_cast<long>(value)},
                 [this, value] { level = value; });
}

bool Instrument::Follows(cqg::eQuoteType type) const {
  switch (level) {
    case cqg::dsNone:
      return false;
    case cqg::dsQuotesAndBBA:
      return true;
    case cqg::dsQuotes:
      break;
  }
  switch (type) {
    case cqg::qtAsk:
    case cqg::qtBid:
    case cqg::qtCohUndAsk:
    case cqg::qtCohUndBid:
    case cqg::qtImpliedAsk:
    case cqg::qtImpliedBid:
    case cqg::qtOutrightAsk:
    case cqg::qtOutrightBid:
      return false;
    default:
      return true;
  }
}

}  // namespace platform::cqgsim
