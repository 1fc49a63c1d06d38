"""Securities, records, deals, metrics and the configuration as Python
values: construction, defaults, equality, hashing, and the kinds returned."""

import datetime
import json
import os
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

from zantrix import zantrix_config
from zantrix.core.constants import Exchange
from zantrix.core.data import Bar, Quote
from zantrix.core.deal import Deal
from zantrix.core.security import Currency, Futures, Security, Stock
from zantrix.gateways.cqg.tollbook import Tollbook
from zantrix.plugins.analysis.metrics import (holding_period, information_ratio,
                                              modigliani_ratio, percentile,
                                              rolling_maximum_drawdown, sharpe_ratio)

T = datetime.datetime(2024, 3, 1, 9, 30)


def test_securities_are_immutable_values_with_their_kinds_defaults():
    stock = Stock("700", "Tencent")
    assert (stock.lot_size, stock.exchange, stock.expiry_date, stock.quote_currency) == \
        (1, Exchange.SEHK, None, "")
    assert (Futures("HSI", "h").lot_size, Futures("HSI", "h").exchange) == (1000, Exchange.SMART)
    assert Security("700", "Tencent").exchange is None
    assert repr(stock) == ("Stock(code='700', security_name='Tencent', lot_size=1, "
                           "exchange=Exchange.SEHK, expiry_date=None, quote_currency='')")
    assert Exchange.SEHK.value == "SEHK"

    assert {Stock("700", "Tencent"), stock} == {stock}
    assert Stock("X", "x") != Currency("X", "x", 1, Exchange.SEHK)
    assert Futures("HSI", "h", expiry_date="2024-03") != Futures("HSI", "h", expiry_date="2024-04")
    base = Security("X", "x", exchange=Exchange.SMART)
    assert base == Security("X", "x", 5, Exchange.SMART) and hash(base) == hash(
        Security("X", "x", 5, Exchange.SMART))
    with pytest.raises(AttributeError, match="cannot assign to field 'code'"):
        stock.code = "9988"


def test_records_built_by_position_or_keyword_compare_by_fields_and_are_unhashable():
    stock = Stock("700", "Tencent")
    by_keyword = Bar(datetime=T, security=stock, open=1, high=2, low=0.5, close=1.5, volume=10)
    by_position = Bar(T, stock, 1.0, 2.0, 0.5, 1.5, 10.0, 0, 0.0, "", "")

    assert by_keyword == by_position
    assert by_keyword.replace(close=1.75) != by_keyword and by_keyword.close == 1.5
    assert by_keyword != Quote(security=stock, exchange=Exchange.SEHK, datetime=T)
    by_keyword.ticker = "HSIH24"
    assert by_keyword.ticker == "HSIH24" and by_keyword.datetime == T
    with pytest.raises(TypeError):
        hash(by_keyword)
    assert repr(Quote(stock, Exchange.SEHK, T)).startswith(
        "Quote(security=Stock(code='700'")


def test_tollbook_charges_deals_built_in_python():
    deals = [Deal(security=Stock("700", "Tencent"), filled_quantity=q) for q in (3, 2)]

    assert Tollbook(*deals).commissions == pytest.approx(9.6)
    assert Tollbook().total_fees == 0


def test_metrics_take_arrays_and_series_and_return_the_kinds_named():
    dates = pd.date_range("2024-03-01", periods=4)
    values = pd.Series([100.0, 120.0, 90.0, 130.0], index=dates)
    returns = values.pct_change().dropna()

    for ratio in (sharpe_ratio(returns), information_ratio(returns, returns * 0.5),
                  modigliani_ratio(returns.to_numpy(), [0.01, 0.03])):
        assert isinstance(ratio, float)
    assert sharpe_ratio(returns, days=252.9) == sharpe_ratio(returns.to_numpy())
    drawdown = rolling_maximum_drawdown(values, window=2)
    assert drawdown.name == "pv" and drawdown.index.equals(dates)
    assert drawdown.tolist() == [0.0, 0.0, -0.25, -0.25]
    assert rolling_maximum_drawdown([1.0, 2.0]).index.equals(pd.RangeIndex(2))

    trades = pd.DataFrame({"side": ["a", "a", "b"], "pnl": [1.0, 3.0, 5.0],
                           "open_datetime": ["2024-03-01 09:30:00"] * 3,
                           "close_datetime": ["2024-03-01 11:00:30"] * 3})
    assert trades.groupby("side")["pnl"].agg([percentile(50)]).columns.tolist() == \
        ["percentile_50.0"]
    assert trades.apply(holding_period, axis=1).tolist() == [90.5] * 3


def test_configuration_comes_from_zantrix_config_and_is_settable(tmp_path):
    file = tmp_path / "config.json"
    file.write_text(json.dumps({"DATA_PATH": {"kline": "data"}, "TIME_STEP": 900000}))
    script = ("from zantrix import zantrix_config\n"
              "config = zantrix_config()\n"
              "print(config.TIME_STEP, config.DATA_PATH['kline'])\n"
              "config.TIME_STEP = 60000\n"
              "print(config.TIME_STEP)\n")

    printed = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True,
                             text=True, env={**os.environ, "ZANTRIX_CONFIG": str(file)}).stdout

    assert printed.split() == ["900000", str(tmp_path / "data"), "60000"]
