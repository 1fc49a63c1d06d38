// Quirks: the ways the real client library may behave that the simulated one
// shows only when a test asks for them, so that the gateway is tried against
// each. All are off at first; the plain behaviour is the simulator's default.
//
// Misbehaviour sets the rates of the same faults drawn at random, per event,
// from the venue's seeded sequence: the same seed and the same calls give the
// same faults. A rate of 0 draws nothing, so a session that sets none draws
// exactly what it would without them.
#pragma once

namespace platform::cqgsim {

struct Quirks {
  // The events a request causes (the ctAdded of Place, the account load, an
  // instrument, tick or bar resolution, the start-up) are raised during the
  // call, on the client's thread, before the call returns, instead of after it.
  bool eventsDuringCalls = false;
  // An order that can trade when it arrives is filled in its arrival: its
  // ctAdded event carries the fill and no acceptance event follows.
  bool fillOnArrival = false;
  // Switching account data off (aslNone) drops the client's accounts;
  // switching it on reloads them, and they are listed again once
  // actAccountsReloaded is delivered.
  bool accountsReload = false;
  // The GUID an order reports before Place is provisional: Place gives it
  // the GUID it is known by from then on (its GUID, opGUID, Orders' key).
  bool guidChangesOnPlace = false;
  // A trade of a working order fills a part of its remaining quantity, drawn
  // from 1 to all of it; the order stays in the book until it is filled in
  // full, and later market moves fill more.
  bool partialFills = false;
  // When account data is switched on again, each order that holds fills gets
  // a ctChanged that carries its latest fill again.
  bool repeatFillsOnReload = false;
  // Switching account data off (aslNone) answers with actAccountsReloaded
  // too, as switching it on does.
  bool reloadOnSwitchOff = false;
  // Orders.ItemByGuid of a GUID the client does not hold gives a null order
  // unless the API configuration's CollectionsThrowException is true.
  bool itemByGuidFollowsConfiguration = false;
};

// The probability of each fault, drawn per event of the kind named.
struct Misbehaviour {
  // Per trade of an order: the trade fills a part of it, as partialFills does.
  double partialFill = 0;
  // Per OnOrderChanged of an order that holds fills: a ctChanged carrying its
  // latest fill again follows.
  double repeatFill = 0;
  // Per order that holds fills, when account data is switched on again: as
  // repeatFillsOnReload does.
  double repeatFillOnReload = 0;
  // Per Place: the call fails once the order has reached the venue.
  double placeFailsAfterArrival = 0;
  // Per OnOrderChanged: one of the order's time stamp, average price, filled
  // quantity and status, picked at random, reads empty.
  double emptyProperty = 0;
  // Per OnOrderChanged that carries a fill: the event hands over no order,
  // while the fill still names it.
  double nullOrderWithFill = 0;
};

// What the next order event (OnOrderChanged) of the client gets wrong.
enum class OrderEventDefect {
  // The event hands over no order object.
  NullOrder,
  // The event's fill names no order (Fill.Order is null).
  FillWithoutOrder,
  // The order's opGWStatus holds an empty value.
  EmptyStatus,
  // The order's opGUID holds an empty value.
  EmptyGuid,
  // The order's opGWStatus holds a value outside the status enumeration.
  StatusOutsideTable,
  // The order's opEventServerTimestamp holds an empty value.
  EmptyTimestamp,
  // The order's opAverageFillPrice holds an empty value.
  EmptyAveragePrice,
  // The order's opFilledQuantity holds an empty value.
  EmptyFilledQuantity,
};

}  // namespace platform::cqgsim
