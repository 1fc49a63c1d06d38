"""The libraries' errors reach Python as exceptions of the same kinds with
the same messages."""

import sqlite3

import pandas as pd
import pytest

from conftest import REPOSITORY
from zantrix.core.data import (Bar, _get_data, _get_data_iterator, _get_data_path,
                               _load_historical_bars_in_reverse)
from zantrix.core.security import Stock
from zantrix.plugins.analysis.metrics import convert_time, sharpe_ratio
from zantrix.plugins.sqlite3.db import DB

STOCK = Stock("HK.00700", "Tencent")
MISSING = Stock("HK.NONE", "none")
KLINE = REPOSITORY / "examples" / "data" / "kline"
DATE_FIRST = pd.DataFrame({"date": pd.to_datetime(["2024-03-01"]), "open": [1.0]})

CASES = [
    (lambda: _get_data(STOCK, "2030-01-01 00:00:00", "2030-01-02 00:00:00", interval="1min"),
     ValueError,
     "There is no historical data for HK.00700 within time range: "
     "[2030-01-01 00:00:00 - 2030-01-02 00:00:00]!"),
    (lambda: _get_data(MISSING, "2024-03-01 00:00:00", "2024-03-02 00:00:00", interval="1min"),
     FileNotFoundError, f"Data was NOT found in {KLINE}/K_1M/HK.NONE!"),
    (lambda: _get_data(STOCK, "2024-03-01", "2024-03-02 00:00:00", interval="1min"),
     ValueError, None),
    (lambda: _get_data(STOCK, 20240301, "2024-03-02 00:00:00"), TypeError, None),
    (lambda: _get_data_path(STOCK, 1), TypeError, "dtype must be str, not int"),
    (lambda: _get_data_path(STOCK, "capital"), KeyError, "'capital'"),
    (lambda: _load_historical_bars_in_reverse(MISSING, "2024-03-01 00:00:00"),
     FileNotFoundError, None),
    (lambda: next(_get_data_iterator(STOCK, DATE_FIRST, "Bar")), AssertionError,
     "The first column in `full_data` must be a `*time*` column, but date was given."),
    (lambda: _get_data_iterator(STOCK, DATE_FIRST, 1), TypeError, "class_name must be str, not int"),
    (lambda: Bar(security=STOCK, open=1.0), TypeError,
     "Bar.__init__() missing 5 required positional arguments: "
     "'datetime', 'high', 'low', 'close', and 'volume'"),
    (lambda: convert_time("10"), ValueError, None),
    (lambda: sharpe_ratio([0.1], days="252"), TypeError, "days must be an integer, not str"),
    (lambda: DB._parse_sql_value(None), ValueError,
     "Data format is not support! type(None)=<class 'NoneType'>"),
    (lambda: DB._parse_sql_value([1]), ValueError,
     "Data format is not support! type([1])=<class 'list'>"),
    (lambda: DB().insert_records("balance"), AssertionError,
     "Must provide columns and values when inserting!"),
    (lambda: DB().select_records("nowhere"), sqlite3.OperationalError, "no such table: nowhere"),
    (lambda: DB().insert_records("balance", cash=1.0), sqlite3.IntegrityError,
     "NOT NULL constraint failed: balance.broker_name"),
]


@pytest.mark.parametrize("call, kind, message", CASES)
def test_errors_keep_their_kind_and_message(store, call, kind, message):
    with pytest.raises(kind) as raised:
        call()
    if message is not None:
        assert str(raised.value) == message
