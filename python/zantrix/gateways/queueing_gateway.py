"""A gateway object that queues what the CQG worker hands over, for the
engine's own thread to take, in order.

A callback must not call the gateway, so an engine acts on quotes, order
books, order updates and deals from its own thread: ``QueueingGateway``
records each one as it arrives and ``take()`` hands the engine everything
queued so far. Subclass it to count, filter or record more on the worker.
"""

import queue

from zantrix.gateways.base_gateway import BaseGateway

__all__ = ["QueueingGateway"]


class QueueingGateway(BaseGateway):
    """Queues every quote, order book, order update and deal in arrival order.

    ``instruments`` are the traded instruments, each with its
    ``cqg_symbol`` and its ``security`` (as ``PaperMarket.instruments`` lists
    them); their quotes and order books are opened, and the symbol look-ups
    answer from them.
    """

    def __init__(self, instruments):
        BaseGateway.__init__(self)
        self.events = queue.SimpleQueue()
        self.securities = {i.cqg_symbol: i.security for i in instruments}
        self.symbols = {i.security: i.cqg_symbol for i in instruments}
        for security in self.symbols:
            self.cqg_quotes.open(security)
            self.cqg_orderbooks.open(security)

    def process_quote(self, quote):
        self.events.put(quote)

    def process_orderbook(self, orderbook):
        self.events.put(orderbook)

    def process_order(self, update):
        self.events.put(update)

    def process_deal(self, deal):
        self.events.put(deal)

    def get_zx_security_from_cqg_symbol(self, cqg_symbol):
        return self.securities.get(cqg_symbol)

    def get_cqg_symbol_from_zx_security(self, security):
        return self.symbols[security]

    def take(self):
        """Everything queued so far, oldest first; never waits."""
        taken = []
        while True:
            try:
                taken.append(self.events.get_nowait())
            except queue.Empty:
                return taken
