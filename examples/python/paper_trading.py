"""Paper trading from Python: the moving-average strategy of ``zantrix demo``
trading the simulated CQG market through VexGate.

    PYTHONPATH=build/python python3 examples/python/paper_trading.py

Replays the shipped sample one minute at a time. On each completed bar the
strategy compares the mean close of the last 30 bars with that of the last
120: above, it wants to be long one trade size; below, short where the
instrument can be sold short and flat otherwise. It opens with a limit order
at the near side of the book, cancels it after five bars without a fill and
then goes to the market; it closes with market orders. Orders, deals,
balances and positions go to the record store (zantrix.db), the gateway's
trace to paper_trading.log and the tear sheet to paper_trading.html, all in
the working folder; the page's path is printed last.

The gateway object only queues what the CQG worker hands it; this thread
drains the queue after each minute and does everything else, so no callback
ever calls the gateway.
"""

import collections
import datetime
import math
import os
import pathlib
import sys

os.environ.setdefault("ZANTRIX_CONFIG",
                      str(pathlib.Path(__file__).resolve().parent.parent / "zantrix_config.json"))

import pandas as pd

from zantrix import zantrix_config
from zantrix.core.constants import Direction, Offset, OrderStatus, OrderType
from zantrix.core.data import OrderBook, Quote
from zantrix.core.deal import Deal
from zantrix.core.order import Order
from zantrix.gateways.base_gateway import DealUpdate, OrderUpdate
from zantrix.gateways.cqg.tollbook import Tollbook
from zantrix.gateways.cqg.wrapper.ravelhost import Ravelhost
from zantrix.gateways.cqg.wrapper.vexgate import OrderPlacingError, VexGate
from zantrix.gateways.queueing_gateway import QueueingGateway
from zantrix.paper import PaperMarket
from zantrix.plugins.analysis.report import (InstrumentFees, Report, Trading, analyse,
                                             render_html, render_text, round_trips)
from zantrix.plugins.sqlite3.db import DB

FAST, SLOW, PATIENCE = 30, 120, 5
STARTING_CASH = 1_000_000.0
SEED = ACCOUNT_ID = 20240319
ACCOUNT_NAME = "DEMO-HK"
SNAPSHOT_MINUTES = 30
FINISHED = {OrderStatus.FILLED, OrderStatus.CANCELLED, OrderStatus.FAILED}

PlaceOrder = collections.namedtuple("PlaceOrder", "instrument order")
CancelOrder = collections.namedtuple("CancelOrder", "instrument order_id")



class OwnOrders:
    """Matches updates and deals to the orders this engine placed: those of an
    id not known yet are held until place_order has returned it, and a fill
    booked before is refused."""

    def __init__(self):
        self.own, self.booked, self.held = set(), set(), []

    def adopt(self, order_id):
        self.own.add(order_id)
        mine = [u for u in self.held if u.order_id == order_id]
        self.held = [u for u in self.held if u.order_id != order_id]
        return [u for u in mine if self.sort(u)]

    def sort(self, update):
        """Whether to book the update now."""
        if update.order_id not in self.own:
            self.held.append(update)
            return False
        if isinstance(update, DealUpdate):
            fill = (update.order_id, update.deal_id)
            if fill in self.booked:
                return False
            self.booked.add(fill)
        return True


def mean_close(bars):
    total = 0.0
    for bar in bars:
        total += bar.close
    return total / len(bars)


class Book:
    def __init__(self):
        self.bid = self.ask = self.last = None
        self.position = self.target = 0.0
        self.working = None  # {"order_id", "type", "placed_at", "cancelled_at"}
        self.chase = False


class MovingAverageCross:
    """Decides only: the session carries its decisions out and feeds it the
    gateway's records."""

    def __init__(self, instruments):
        self.instruments = instruments
        self.books = [Book() for _ in instruments]
        self.orders = {}  # order id -> [instrument, direction, quantity, filled]

    def index_of(self, security):
        for i, instrument in enumerate(self.instruments):
            if instrument.security == security:
                return i
        return None

    def on_quote(self, quote):
        i = self.index_of(quote.security)
        if i is None:
            return
        book = self.books[i]
        if quote.last_price > 0:
            book.last = quote.last_price
        if quote.bid_price > 0:
            book.bid = quote.bid_price
        if quote.ask_price > 0:
            book.ask = quote.ask_price

    def on_orderbook(self, orderbook):
        i = self.index_of(orderbook.security)
        if i is None:
            return
        book = self.books[i]
        if orderbook.bid_price_1 > 0:
            book.bid = orderbook.bid_price_1
        if orderbook.ask_price_1 > 0:
            book.ask = orderbook.ask_price_1

    def on_order(self, update):
        known = self.orders.get(update.order_id)
        if known is None or update.status not in FINISHED:
            return
        book = self.books[known[0]]
        if book.working and book.working["order_id"] == update.order_id:
            book.working = None

    def on_deal(self, deal):
        known = self.orders.get(deal.order_id)
        if known is None:
            return
        book = self.books[known[0]]
        book.position += deal.filled_quantity if known[1] == Direction.LONG \
            else -deal.filled_quantity
        known[3] += deal.filled_quantity
        if known[3] >= known[2] and book.working and book.working["order_id"] == deal.order_id:
            book.working = None

    def on_bar(self, i, bars, bar_number, now):
        book = self.books[i]
        working = book.working
        if working and working["cancelled_at"] is not None \
                and bar_number >= working["cancelled_at"] + PATIENCE:
            # The cancellation was answered with no final status: taken as ended.
            book.working = working = None
        if working:
            if working["type"] == OrderType.LIMIT and working["cancelled_at"] is None \
                    and bar_number >= working["placed_at"] + PATIENCE:
                return [CancelOrder(i, working["order_id"])]
            return []
        if len(bars) >= SLOW:
            fast, slow = mean_close(bars[-FAST:]), mean_close(bars[-SLOW:])
            instrument = self.instruments[i]
            if fast > slow:
                book.target = instrument.trade_size
            elif fast < slow:
                book.target = -instrument.trade_size if instrument.can_short else 0.0
        decision = self.next_order(i, now)
        return [decision] if decision else []

    def wind_down(self, now):
        decisions = []
        for i, book in enumerate(self.books):
            book.target, book.chase = 0.0, True
            if book.working:
                if book.working["cancelled_at"] is None:
                    decisions.append(CancelOrder(i, book.working["order_id"]))
            elif decision := self.next_order(i, now):
                decisions.append(decision)
        return decisions

    def next_order(self, i, now):
        """Closing comes first: a position on the wrong side is closed at the
        market, and the new one is opened once the close has filled."""
        book = self.books[i]
        if book.target == book.position:
            return None
        if book.position != 0 and (book.target == 0 or (book.target > 0) != (book.position > 0)):
            side = Direction.SHORT if book.position > 0 else Direction.LONG
            return PlaceOrder(i, self.make_order(i, side, abs(book.position), Offset.CLOSE,
                                                 OrderType.MARKET, now))
        need = book.target - book.position
        side = Direction.LONG if need > 0 else Direction.SHORT
        near = book.bid if side == Direction.LONG else book.ask
        kind = OrderType.MARKET if book.chase or near is None else OrderType.LIMIT
        return PlaceOrder(i, self.make_order(i, side, abs(need), Offset.OPEN, kind, now))

    def make_order(self, i, direction, quantity, offset, kind, now):
        book = self.books[i]
        price = book.last if book.last is not None else 0.0
        if kind == OrderType.LIMIT:
            price = book.bid if direction == Direction.LONG else book.ask
        return Order(self.instruments[i].security, price=price, quantity=quantity,
                     direction=direction, offset=offset, order_type=kind, gateway_name="CQG",
                     status=OrderStatus.SUBMITTING, create_time=now, updated_time=now,
                     remark="moving-average cross")

    def placed(self, decision, order_id, bar_number):
        order = decision.order
        self.orders[order_id] = [decision.instrument, order.direction, order.quantity, 0.0]
        book = self.books[decision.instrument]
        book.working = {"order_id": order_id, "type": order.order_type,
                        "placed_at": bar_number, "cancelled_at": None}
        if order.order_type == OrderType.MARKET:
            book.chase = False

    def cancel_sent(self, decision, bar_number):
        book = self.books[decision.instrument]
        if book.working and book.working["order_id"] == decision.order_id:
            book.working["cancelled_at"] = bar_number
            book.chase = True


def whole(quantity):
    return int(math.floor(quantity + 0.5))


class Journal:
    """Writes balances, positions, orders and deals to the store, a replayed
    minute's rows in one transaction. Rows are made when recorded and
    written at flush, in order."""

    def __init__(self, db, description, session):
        self.db, self.description, self.session = db, description, session
        self.pending, self.balance_id, self.order_rows = [], 0, {}

    def flush(self):
        if not self.pending:
            return
        writes, self.pending = self.pending, []
        with self.db.transaction():
            for write in writes:
                write()

    def record_balance(self, balance, time, status):
        row = dict(broker_name="CQG", broker_environment="SIMULATE",
                   broker_account_id=ACCOUNT_ID, broker_account=ACCOUNT_NAME,
                   strategy_account_id=1, strategy_account="paper_trading.py",
                   strategy_version="1.0", strategy_version_desc=self.description,
                   strategy_status=status, cash=balance.cash)
        if balance.cash_by_currency is not None:
            row["cash_by_currency"] = balance.cash_by_currency
        row["available_cash"] = balance.available_cash
        if balance.max_power_short is not None:
            row["max_power_short"] = balance.max_power_short
        row.update(net_cash_power=balance.net_cash_power,
                   maintenance_margin=balance.maintenance_margin,
                   unrealized_pnl=balance.unrealized_pnl, realized_pnl=balance.realized_pnl,
                   update_time=time, remark=self.session)

        def write():
            self.db.insert_records("balance", **row)
            self.balance_id = self.db.last_insert_id()
        self.pending.append(write)

    def record_positions(self, positions, time):
        rows = [dict(security_name=p.security.security_name, security_code=p.security.code,
                     direction=p.direction.value, holding_price=p.holding_price,
                     quantity=whole(p.quantity), update_time=time, remark=self.session)
                for p in positions]

        def write():
            for row in rows:
                self.db.insert_records("position", balance_id=self.balance_id, **row)
        self.pending.append(write)

    def record_order(self, order, broker_order_id):
        row = dict(security_name=order.security.security_name, security_code=order.security.code,
                   price=order.price, quantity=whole(order.quantity),
                   direction=order.direction.value, offset=order.offset.value,
                   order_type=order.order_type.value, create_time=order.create_time,
                   update_time=order.updated_time, filled_avg_price=order.filled_avg_price,
                   filled_quantity=whole(order.filled_quantity), status=order.status.value,
                   remark=self.session)
        kept = {k: row[k] for k in ("security_name", "security_code", "direction", "offset",
                                    "order_type")}

        def write():
            self.db.insert_records("trading_order", broker_order_id=broker_order_id,
                                   balance_id=self.balance_id, **row)
            self.order_rows[broker_order_id] = (self.db.last_insert_id(), kept)
        self.pending.append(write)

    def record_order_update(self, update):
        columns = dict(update_time=update.updated_time, filled_avg_price=update.filled_avg_price,
                       filled_quantity=whole(update.filled_quantity), status=update.status.value)

        def write():
            known = self.order_rows.get(update.order_id)
            if known is not None:
                self.db.update_records("trading_order", columns, id=known[0])
        self.pending.append(write)

    def record_deal(self, deal):
        def write():
            known = self.order_rows.get(deal.order_id)
            if known is None:
                return
            self.db.insert_records("trading_deal", broker_deal_id=deal.deal_id,
                                   broker_order_id=deal.order_id, order_id=known[0],
                                   balance_id=self.balance_id, **known[1],
                                   update_time=deal.updated_time,
                                   filled_avg_price=deal.filled_avg_price,
                                   filled_quantity=whole(deal.filled_quantity),
                                   remark=self.session)
        self.pending.append(write)


def bucket(time):
    minutes = (time - datetime.datetime(1970, 1, 1)) // datetime.timedelta(minutes=1)
    return minutes // SNAPSHOT_MINUTES


class Session:
    """Drives the market a minute at a time from this thread and carries the
    strategy's decisions out."""

    def __init__(self, market, db, session_tag):
        self.market = market
        self.instruments = market.instruments
        self.gateway = QueueingGateway(self.instruments)
        self.host = Ravelhost()
        self.vex = self.host.Init(VexGate)
        self.gateway.ravelhost = self.host
        self.vex.Init(self.gateway)
        # The simulated client switches account data at once.
        self.vex.account_reload_pause = 0
        codes = " ".join(i.security.code for i in self.instruments)
        self.journal = Journal(db, f"moving-average cross {FAST}/{SLOW} on {codes}", session_tag)
        self.strategy = MovingAverageCross(self.instruments)
        self.own = OwnOrders()
        self.bar_numbers = [0] * len(self.instruments)
        self.closes = [None] * len(self.instruments)
        self.first_closes = None
        self.orders_by_id, self.deals, self.snapshots = {}, [], []
        self.counts = collections.Counter()

    def run(self):
        vex = self.vex
        vex.Logon(ACCOUNT_NAME, "paper")
        vex.subscribe_account_and_positions(ACCOUNT_ID)
        for instrument in self.instruments:
            vex.subscribe_quote(instrument.cqg_symbol)
            vex.subscribe_orderbook(instrument.cqg_symbol)
            vex.subscribe_bar(instrument.cqg_symbol, SLOW, "1Min")
        for i, instrument in enumerate(self.instruments):
            bars = vex.get_subscribe_bars_data(instrument.security)
            self.closes[i] = bars[-1].close if bars else 0.0
        self.first_closes = list(self.closes)
        self.snapshot(self.market.next_time - datetime.timedelta(minutes=1), "Running")
        self.journal.flush()
        now = None
        while (minute := self.market.step()) is not None:
            now = minute.time
            self.handle_events()
            for i in minute.instruments:
                self.bar_numbers[i] += 1
            self.trade(minute.instruments, now)
            following = self.market.next_time
            if following is None or following.date() != now.date() \
                    or bucket(following) != bucket(now):
                self.snapshot(now, "Running")
            self.journal.flush()
        self.wind_down(now)
        self.settle()
        self.snapshot(now, "Stopped")
        self.journal.flush()
        vex.Logoff()
        self.host.Shutdown()

    def trade(self, moved, now):
        """Once its orders have been answered the strategy may decide again
        on the same bar: a close that filled lets it open the other way."""
        for _ in range(3):
            acted = False
            for i in moved:
                bars = self.vex.get_subscribe_bars_data(self.instruments[i].security)
                if bars is None:
                    continue
                self.closes[i] = bars[-1].close
                acted |= self.carry_out(self.strategy.on_bar(i, bars, self.bar_numbers[i], now))
            if not acted:
                return
            self.settle()

    def wind_down(self, now):
        for _ in range(5):
            decisions = self.strategy.wind_down(now)
            if not any(book.position != 0 or book.working for book in self.strategy.books):
                return
            self.carry_out(decisions)
            self.settle()

    def settle(self):
        self.market.sync()
        self.handle_events()

    def carry_out(self, decisions):
        for decision in decisions:
            if isinstance(decision, PlaceOrder):
                order = decision.order
                try:
                    order_id = self.vex.place_order(order)
                except OrderPlacingError as error:
                    # It may still rest and fill at the venue: it stays ours.
                    print(f"order {error.order_id} kept, its placement unconfirmed: "
                          f"{str(error).splitlines()[0]}", flush=True)
                    order_id = error.order_id
                order.order_id = order_id
                self.journal.record_order(order, order_id)
                self.strategy.placed(decision, order_id, self.bar_numbers[decision.instrument])
                self.orders_by_id[order_id] = order
                self.counts["orders"] += 1
                self.counts[order.order_type.value] += 1
                for update in self.own.adopt(order_id):
                    self.book(update)
            else:
                self.vex.cancel_order(decision.order_id)
                self.strategy.cancel_sent(decision, self.bar_numbers[decision.instrument])
                self.counts["cancels sent"] += 1
        return bool(decisions)

    def handle_events(self):
        for event in self.gateway.take():
            if isinstance(event, Quote):
                self.strategy.on_quote(event)
            elif isinstance(event, OrderBook):
                self.strategy.on_orderbook(event)
            elif self.own.sort(event):
                self.book(event)

    def book(self, update):
        if isinstance(update, OrderUpdate):
            self.journal.record_order_update(update)
            self.strategy.on_order(update)
            if update.status == OrderStatus.CANCELLED:
                self.counts["cancelled"] += 1
            return
        self.journal.record_deal(update)
        self.strategy.on_deal(update)
        order = self.orders_by_id.get(update.order_id)
        if order is not None:
            self.deals.append(Deal(order.security, direction=order.direction,
                                   offset=order.offset, order_type=order.order_type,
                                   updated_time=update.updated_time,
                                   filled_avg_price=update.filled_avg_price,
                                   filled_quantity=update.filled_quantity,
                                   deal_id=update.deal_id, order_id=update.order_id,
                                   gateway_name="CQG"))

    def snapshot(self, time, status):
        self.vex.update_account_balance()
        self.vex.update_positions()
        balance = self.vex.account_balance
        self.journal.record_balance(balance, time, status)
        self.journal.record_positions(self.vex.positions, time)
        fees = Tollbook(*self.deals).total_fees
        benchmark = STARTING_CASH + sum(
            i.trade_size * i.point_value * (close - first)
            for i, close, first in zip(self.instruments, self.closes, self.first_closes))
        self.snapshots.append((time, balance, balance.net_cash_power - fees, benchmark))

    def report(self):
        times = pd.DatetimeIndex([s[0] for s in self.snapshots])
        values = pd.Series([s[2] for s in self.snapshots], index=times)
        benchmark = pd.Series([s[3] for s in self.snapshots], index=times)
        per_day = len(self.snapshots) / max(self.market.days, 1)
        performance = analyse(values, benchmark, days=round(252 * per_day),
                              window=max(1, round(21 * per_day)))
        point_values = {i.security.code: i.point_value for i in self.instruments}
        fees = []
        for instrument in self.instruments:
            mine = [d for d in self.deals if d.security == instrument.security]
            if mine:
                fees.append(InstrumentFees(instrument.security.code, len(mine),
                                           sum(d.filled_quantity for d in mine),
                                           Tollbook(*mine).total_fees))
        last = self.snapshots[-1]
        facts = [
            ("instruments", ", ".join(i.security.code for i in self.instruments)),
            ("minutes replayed", f"{self.market.replayed} over {self.market.days} trading days"),
            ("orders", f"{self.counts['orders']} ({self.counts['MARKET']} market, "
                       f"{self.counts['LIMIT']} limit)"),
            ("cancelled", f"{self.counts['cancelled']} of {self.counts['cancels sent']} "
                          "cancel requests"),
            ("fills", str(len(self.deals))),
            ("fees", f"{Tollbook(*self.deals).total_fees:.2f}"),
            ("realized P&L", f"{last[1].realized_pnl:.2f}"),
            ("unrealized P&L", f"{last[1].unrealized_pnl:.2f}"),
            ("P&L after fees", f"{last[2] - STARTING_CASH:.2f}"),
            ("benchmark", "buy-and-hold of each instrument's trade size"),
        ]
        return Report("zantrix paper trading from Python", performance, facts,
                      Trading(round_trips(self.deals, point_values), fees))


class TraceToLog:
    """Sends this process's standard output, where the gateway traces, to the
    log for the length of a with block."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        sys.stdout.flush()
        self.console = os.dup(1)
        with open(self.path, "ab") as log:
            os.dup2(log.fileno(), 1)

    def __exit__(self, *_):
        sys.stdout.flush()
        os.dup2(self.console, 1)
        os.close(self.console)


def main():
    folder = pathlib.Path.cwd()
    zantrix_config().DB = {"sqlite3": str(folder)}
    log, page = folder / "paper_trading.log", folder / "paper_trading.html"
    tag = f"paper_trading.py {datetime.datetime.now():%Y-%m-%d %H:%M:%S} pid {os.getpid()}"
    with PaperMarket(lookback=SLOW, seed=SEED, account_id=ACCOUNT_ID,
                     account_name=ACCOUNT_NAME, starting_cash=STARTING_CASH) as market:
        print(f"Paper trading {' '.join(i.security.code for i in market.instruments)} over "
              f"{market.days} trading days ({market.minutes} minutes); trace lines go to {log}")
        db = DB()
        with TraceToLog(log):
            session = Session(market, db, tag)
            session.run()
        db.close()
    report = session.report()
    print(render_text(report))
    page.write_text(render_html(report), encoding="utf-8")
    print(f"database: {folder / 'zantrix.db'} (rows with remark \"{tag}\")")
    print(f"page: {page}")


if __name__ == "__main__":
    main()
