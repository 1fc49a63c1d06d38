"""The gateway from Python: values and kinds across the boundary, the
interpreter lock while a request waits, callbacks that raise, gateway objects
collected while the worker calls them, and many threads at once. Every test
trades on the paper market of the shipped sample."""

import gc
import threading
import weakref

import pytest

from zantrix.core.balance import AccountBalance
from zantrix.core.constants import Direction, OrderType
from zantrix.core.data import OrderBook, Quote
from zantrix.core.order import Order
from zantrix.core.position import PositionData
from zantrix.gateways.base_gateway import DealUpdate, OrderUpdate
from zantrix.gateways.cqg.wrapper.ravelhost import Ravelhost
from zantrix.gateways.cqg.wrapper.vexgate import OrderPlacingError, VexGate
from zantrix.gateways.queueing_gateway import QueueingGateway
from zantrix.paper import PaperMarket


class Recorder(QueueingGateway):
    """Queues what the worker hands over, for the test's thread to drain."""

    def drain(self):
        return self.take()


def start(market, gateway_type=Recorder, logon=True):
    host = Ravelhost()
    vex = host.Init(VexGate)
    gateway = gateway_type(market.instruments)
    gateway.ravelhost = host
    vex.Init(gateway)
    vex.account_reload_pause = 0
    if logon:
        vex.Logon(market.account_name, "paper")
        vex.subscribe_account_and_positions(market.account_id)
    return host, vex, gateway


def step_to_a_bar_of(market, instrument):
    """Replays minutes up to the next one with a bar of the instrument."""
    index = [i.cqg_symbol for i in market.instruments].index(instrument.cqg_symbol)
    while index not in market.step().instruments:
        pass


@pytest.fixture
def market(sample):
    with PaperMarket() as opened:
        yield opened


def test_calls_and_callbacks_cross_with_their_values_and_kinds(market):
    host, vex, gateway = start(market)
    stock = market.instruments[0]
    vex.subscribe_quote(stock.cqg_symbol)
    vex.subscribe_orderbook(stock.cqg_symbol)
    step_to_a_bar_of(market, stock)
    handed = gateway.drain()
    assert {type(e) for e in handed} == {Quote, OrderBook}
    assert all(e.security == stock.security for e in handed)
    assert isinstance(gateway.cqg_quotes[stock.security], Quote)
    assert vex.get_instrument_from_cqg_symbol(stock.cqg_symbol).FullName == stock.cqg_full_name
    assert vex.get_instrument_from_cqg_symbol("NOSUCH") is None

    order_id = vex.place_order(Order(stock.security, quantity=stock.trade_size,
                                     direction=Direction.LONG, order_type=OrderType.MARKET))
    assert isinstance(order_id, str) and order_id
    market.sync()
    mine = [e for e in gateway.drain() if isinstance(e, (OrderUpdate, DealUpdate))]
    deals = [e for e in mine if isinstance(e, DealUpdate)]
    assert all(e.order_id == order_id for e in mine)
    assert [d.filled_quantity for d in deals] == [stock.trade_size]

    vex.update_account_balance()
    vex.update_positions()
    assert isinstance(vex.account_balance, AccountBalance)
    assert [(type(p), p.security, p.quantity) for p in vex.positions] == [
        (PositionData, stock.security, stock.trade_size)]

    with pytest.raises(TypeError, match="order"):
        vex.place_order("BUY 00700")
    with pytest.raises(TypeError, match="cqg_symbol"):
        vex.subscribe_quote(700)
    with pytest.raises(ValueError, match="quantity"):
        vex.place_order(Order(stock.security, quantity=0.5))
    market.set_misbehaviour(placeFailsAfterArrival=1.0)
    with pytest.raises(OrderPlacingError) as unconfirmed:
        vex.place_order(Order(stock.security, quantity=stock.trade_size))
    assert isinstance(unconfirmed.value, RuntimeError) and unconfirmed.value.order_id
    host.Shutdown()


def test_a_waiting_request_lets_other_threads_run(market):
    host, vex, _ = start(market, logon=False)
    vex.wait_timeout = 60
    seen_before_release = []

    def release_the_logon():
        seen_before_release.append(vex.eventGatewayIsUp.is_set())
        market.release_answers("CQGCEL.GWLogon")

    market.hold_answers("CQGCEL.GWLogon")
    releaser = threading.Timer(0.2, release_the_logon)
    releaser.start()
    vex.Logon(market.account_name, "paper")
    releaser.join()
    assert seen_before_release == [False]
    assert vex.eventGatewayIsUp.is_set()
    host.Shutdown()


class Raising(Recorder):
    def process_quote(self, quote):
        if self.events.empty():
            self.events.put("raised")
            raise ValueError("no room for this quote")
        self.events.put(quote)


def test_a_callback_that_raises_is_traced_and_the_worker_goes_on(market, capfd):
    host, vex, gateway = start(market, Raising)
    stock = market.instruments[0]
    vex.subscribe_quote(stock.cqg_symbol)
    step_to_a_bar_of(market, stock)
    step_to_a_bar_of(market, stock)
    handed = gateway.drain()
    assert handed[0] == "raised" and isinstance(handed[1], Quote)
    out = capfd.readouterr().out
    assert "Exception in BaseGateway.process_quote:" in out
    assert "in process_quote" in out
    assert "ValueError: no room for this quote" in out
    host.Shutdown()


def test_a_gateway_object_collected_while_subscribed_receives_nothing(market):
    received = []

    class Listener(Recorder):
        def process_quote(self, quote):
            received.append(quote)

    host, vex, gateway = start(market, Listener)
    stock = market.instruments[0]
    vex.subscribe_quote(stock.cqg_symbol)
    step_to_a_bar_of(market, stock)
    assert received
    collected = weakref.ref(gateway)
    del gateway
    gc.collect()
    assert collected() is None
    received.clear()
    step_to_a_bar_of(market, stock)
    assert received == []
    host.Shutdown()


def test_threads_calling_while_callbacks_run_and_objects_go(market):
    host, vex, gateway = start(market)
    for instrument in market.instruments:
        vex.subscribe_quote(instrument.cqg_symbol)
        vex.subscribe_orderbook(instrument.cqg_symbol)
    stock = market.instruments[0]
    unexpected, served = [], []

    def caller():
        for _ in range(20):
            try:
                assert vex.get_instrument_from_cqg_symbol(stock.cqg_symbol) is not None
                vex.update_account_balance()
                assert isinstance(vex.positions, list)
                resting = vex.place_order(Order(stock.security, price=1.0,
                                                quantity=stock.trade_size,
                                                order_type=OrderType.LIMIT))
                vex.cancel_order(resting)
                served.append(resting)
            except (KeyError, RuntimeError):
                pass  # the gateway object that was to name the symbol went meanwhile
            except Exception as error:  # reported below, with the other threads'
                unexpected.append(error)

    def swapper():
        for _ in range(50):
            successor = Recorder(market.instruments)
            successor.ravelhost = host
            vex.Init(successor)
            gc.collect()

    threads = [threading.Thread(target=caller) for _ in range(3)]
    threads.append(threading.Thread(target=swapper))
    market.start(interval=0)
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    market.stop()
    del gateway
    assert unexpected == [] and served
    host.Shutdown()
