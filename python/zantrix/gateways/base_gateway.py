"""The framework's gateway object as VexGate calls it back, and BaseFees.

Subclass ``BaseGateway`` (call ``BaseGateway.__init__``): VexGate calls its
``process_quote``, ``process_orderbook``, ``process_order`` (an
``OrderUpdate``) and ``process_deal`` (a ``DealUpdate``) on the CQG worker
thread, with the interpreter lock held, and its two symbol look-ups from
either thread. A callback records or queues what it receives and returns;
the engine acts on it from its own thread. A callback must not call the
gateway, and no lock a callback takes may be held across a gateway call. An
exception a callback raises is traced with its traceback and the worker goes
on. A gateway object is retired when Python collects it, so no callback
reaches it afterwards.
"""

from zantrix._zantrix import (
    BaseFees,
    BaseGateway,
    DealUpdate,
    LatestOrderBooks,
    LatestQuotes,
    OrderUpdate,
)
from zantrix._export import claim

__all__ = [
    "BaseGateway",
    "OrderUpdate",
    "DealUpdate",
    "LatestQuotes",
    "LatestOrderBooks",
    "BaseFees",
]
claim(__name__)
