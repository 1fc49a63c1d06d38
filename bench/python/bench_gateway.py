"""The gateway from Python against its floors, measured in one Python process
on the paper market of the shipped sample.

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python/bench_gateway.py

Times, best of a few runs each:
  - quotes delivered into a Python BaseGateway subclass per second (the
    simulated market moves one instrument's quote QUOTES times), beside the
    same count of calls of a pure-Python method in a loop, the floor;
  - VexGate.place_order round trips from Python, against the same loop run
    in C++ on the same gateway.
Prints one line per measurement and the ratios.
"""

import os
import pathlib
import time

os.environ.setdefault("ZANTRIX_CONFIG", str(
    pathlib.Path(__file__).resolve().parents[2] / "examples" / "zantrix_config.json"))

from zantrix import _zantrix
from zantrix.core.constants import Direction, OrderType
from zantrix.core.order import Order
from zantrix.gateways.cqg.wrapper.ravelhost import Ravelhost
from zantrix.gateways.cqg.wrapper.vexgate import VexGate
from zantrix.gateways.queueing_gateway import QueueingGateway
from zantrix.paper import PaperMarket

QUOTES = 200_000
ORDERS = 2_000
RUNS = 3


class Counting(QueueingGateway):
    """Counts the quotes it receives; the rest is not measured."""

    def __init__(self, instruments):
        QueueingGateway.__init__(self, instruments)
        self.quotes = 0

    def process_quote(self, quote):
        self.quotes += 1

    def process_orderbook(self, orderbook):
        pass

    def process_order(self, update):
        pass

    def process_deal(self, deal):
        pass


def best_of(work):
    best = float("inf")
    for _ in range(RUNS):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    with PaperMarket() as market:
        stock = market.instruments[0]
        host = Ravelhost()
        vex = host.Init(VexGate)
        gateway = Counting(market.instruments)
        gateway.ravelhost = host
        vex.Init(gateway)
        vex.account_reload_pause = 0
        vex.Logon(market.account_name, "paper")
        vex.subscribe_account_and_positions(market.account_id)
        vex.subscribe_quote(stock.cqg_symbol)
        while 0 not in market.step().instruments:
            pass

        counts = []

        def deliver():
            before = gateway.quotes
            market.run_market(stock.cqg_symbol, QUOTES)
            counts.append(gateway.quotes - before)
        delivered = best_of(deliver)
        quote = gateway.cqg_quotes[stock.security]
        floor = best_of(lambda: [gateway.process_quote(quote) for _ in range(min(counts))])
        quotes_per_second = min(counts) / delivered
        floor_per_second = min(counts) / floor
        print(f"quotes into a Python BaseGateway: {quotes_per_second:,.0f}/s "
              f"({min(counts):,} quotes in {delivered:.3f} s)")
        print(f"the same count of pure-Python method calls: {floor_per_second:,.0f}/s "
              f"(ratio {floor_per_second / quotes_per_second:.2f})")

        order = Order(stock.security, quantity=stock.trade_size, direction=Direction.LONG,
                      order_type=OrderType.MARKET)

        def from_python():
            for _ in range(ORDERS):
                vex.place_order(order)
        python = best_of(from_python)
        cpp = min(_zantrix._place_order_loop(vex, order, ORDERS) for _ in range(RUNS))
        print(f"place_order from Python: {python / ORDERS * 1e6:.1f} us a round trip")
        print(f"place_order from C++: {cpp / ORDERS * 1e6:.1f} us a round trip "
              f"(Python / C++ {python / cpp:.2f})")
        vex.Logoff()
        host.Shutdown()


if __name__ == "__main__":
    main()
