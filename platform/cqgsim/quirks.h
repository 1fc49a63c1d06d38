// Quirks: the ways the real client library may behave that the simulated one
// shows only when a test asks for them, so that the gateway is tried against
// each. All are off at first; the plain behaviour is the simulator's default.
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
};

}  // namespace platform::cqgsim
