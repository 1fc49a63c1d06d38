// The books the venue keeps of accounts added with starting cash: realized
// P&L, positions marked to the market and the summary figures they make.
#include <algorithm>
#include <cstdlib>

#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

Venue::Books* Venue::FindBooks(const Account& account) {
  for (auto& books : books_) {
    if (books.account.get() == &account) return &books;
  }
  return nullptr;
}

void Venue::Realize(Books& books, Position& position, const Listing& listing, long change,
                    double price) {
  const long before = position.quantity;
  if (before == 0 || (before > 0) == (change > 0)) return;
  const long closed = std::min(std::labs(before), std::labs(change));
  const double sign = before > 0 ? 1.0 : -1.0;
  const double realized =
      static_cast<double>(closed) * (price - position.averagePrice) * sign * listing.pointValue;
  position.profitLoss += realized;
  books.realized += realized;
}

void Venue::Revalue(Books& books, Position& position, const Listing& listing) {
  if (position.quantity == 0) {
    position.ote = 0;
  } else {
    double mark = listing.last;
    if (mark <= 0) {
      const auto fill = books.lastFill.find(position.instrumentName);
      mark = fill != books.lastFill.end() ? fill->second : position.averagePrice;
    }
    position.ote = (mark - position.averagePrice) * static_cast<double>(position.quantity) *
                   listing.pointValue;
  }
  Summarize(books);
}

void Venue::Summarize(Books& books) {
  double upl = 0;
  for (const auto& position : books.account->positions->items()) upl += position->ote;
  const double balance = books.startingCash + books.realized;
  // Two equal values each: the gateway reads some figures at index 0 and
  // others at index 1.
  SummarySetup& figures = books.account->summary->figures;
  figures.balance.assign(2, balance);
  figures.collaterals.assign(2, 0.0);
  figures.nlv.assign(2, balance + upl);
  figures.upl.assign(2, upl);
  figures.ote.assign(2, upl);
  figures.profitLoss.assign(2, books.realized);
  figures.maintenanceMargin.assign(2, 0.0);
}

void Venue::RevalueListing(const Listing& listing) {
  for (auto& books : books_) {
    if (const auto position = books.account->positions->Find(listing.fullName)) {
      Revalue(books, *position, listing);
    }
  }
}

}  // namespace platform::cqgsim
