"""Paper trading: the simulated CQG market that ``zantrix demo`` trades.

``PaperMarket()`` loads the stored one-minute history of its instruments (the
demo's by default: ``demo_instruments()``) from ``DATA_PATH`` and lists them,
with one account, on the simulated CQG client; a ``Ravelhost`` made
afterwards starts on it, and the same ``VexGate`` code trades against it as
against the real client::

    market = PaperMarket()
    host = Ravelhost()
    vex = host.Init(VexGate)
    ...
    while (minute := market.step()) is not None:
        ...  # the minute's events have been delivered: act on them

Stepped, ``step()`` replays one minute and returns once its events have been
delivered, so the same history, options and calls give the same session.
Free-running, ``start(interval)`` replays a minute every ``interval`` seconds
on a thread of its own until the history ends or ``stop()``. One market may
be open at a time; ``close()`` (or leaving a ``with`` block) ends it.
"""

from zantrix._zantrix import (
    demo_instruments,
    Minute,
    PaperMarket,
    TapeInstrument,
    VenueFill,
    VenuePosition,
)
from zantrix._export import claim

__all__ = [
    "PaperMarket",
    "TapeInstrument",
    "Minute",
    "VenueFill",
    "VenuePosition",
    "demo_instruments",
]
claim(__name__)
