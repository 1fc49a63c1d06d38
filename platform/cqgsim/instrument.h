// The simulated instruments and their quotes.
//
// An Instrument is made when NewInstrument resolves its symbol and stays in
// CQGCEL.Instruments until RemoveInstrument. Its DataSubscriptionLevel
// decides which quotes it is told about: none at dsNone, every quote type but
// the bid and ask families at dsQuotes (the level a new instrument starts
// with), all at dsQuotesAndBBA. A Quote is the value of one changed quote as
// OnInstrumentChanged hands it over; it never changes afterwards.
#pragma once

#include <memory>
#include <string>

#include "platform/cqgsim/collection.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/instrument.h"

namespace platform::cqgsim {

class Quote final : public zantrix::framework::cqg::Quote {
 public:
  Quote(Servant servant, bool valid, zantrix::framework::cqg::eQuoteType type, double price,
        long volume)
      : valid(valid), type(type), price(price), volume(volume), servant_(std::move(servant)) {}

  bool IsValid() override;
  zantrix::framework::cqg::eQuoteType Type() override;
  double Price() override;
  long Volume() override;

  zantrix::framework::cqg::eQuoteType key() const { return type; }

  const bool valid;
  const zantrix::framework::cqg::eQuoteType type;
  const double price;
  const long volume;

 private:
  Servant servant_;
};

inline constexpr CollectionNames QUOTES_NAMES{"Quotes", "Quotes.Count", "Quotes.Item",
                                              "Quotes.ItemByIndex"};
using Quotes = Collection<zantrix::framework::cqg::Quotes, Quote,
                          zantrix::framework::cqg::eQuoteType, QUOTES_NAMES>;

class Instrument final : public zantrix::framework::cqg::Instrument {
 public:
  Instrument(Servant servant, std::string fullName)
      : fullName(std::move(fullName)), servant_(std::move(servant)) {}

  std::string FullName() override;
  zantrix::framework::cqg::eDataSubscriptionLevel DataSubscriptionLevel() override;
  void put_DataSubscriptionLevel(zantrix::framework::cqg::eDataSubscriptionLevel value) override;

  const std::string& key() const { return fullName; }
  // Whether a quote of `type` reaches this instrument at its level.
  bool Follows(zantrix::framework::cqg::eQuoteType type) const;

  const std::string fullName;
  zantrix::framework::cqg::eDataSubscriptionLevel level = zantrix::framework::cqg::dsQuotes;

 private:
  Servant servant_;
};

inline constexpr CollectionNames INSTRUMENTS_NAMES{"Instruments", "Instruments.Count",
                                                   "Instruments.Item", "Instruments.ItemByIndex"};
using Instruments =
    Collection<zantrix::framework::cqg::Instruments, Instrument, std::string, INSTRUMENTS_NAMES>;

}  // namespace platform::cqgsim
