"""VexGate: the CQG gateway, "CQG Integrated Client API".

Made by ``Ravelhost().Init(VexGate)``; hand it the framework's gateway object
(a ``BaseGateway`` subclass whose ``ravelhost`` is set) with ``Init``, then
log on, subscribe the account, quotes, order books and bars, place and cancel
orders, and read the balance and positions. Every request waits for the CQG
worker with the interpreter lock released, on the calling thread's own proxy
of the client, so any Python thread may make it, but never a callback (the
worker thread). ``place_order`` returns the order's id; when the placement
could not be confirmed it raises ``OrderPlacingError``, whose ``order_id`` is
the order's id at the venue: keep the order as your own all the same.
"""

from zantrix._zantrix import (
    ACCOUNT_RELOAD_PAUSE,
    CQGAccount,
    CQGInstrument,
    CQGSeries,
    FREQ_ALLOWED,
    INVALID_VALUE,
    OrderPlacingError,
    TIMEOUT,
    TIMEZONE,
    VexGate,
)
from zantrix._export import claim

__all__ = [
    "VexGate",
    "OrderPlacingError",
    "CQGAccount",
    "CQGInstrument",
    "CQGSeries",
    "TIMEOUT",
    "ACCOUNT_RELOAD_PAUSE",
    "TIMEZONE",
    "INVALID_VALUE",
    "FREQ_ALLOWED",
]
claim(__name__)
