"""The record store from Python: keyword values in, DataFrames out, texts
stored exactly as given."""

import datetime
import sqlite3

import numpy as np
import pytest

from zantrix.plugins.sqlite3.db import DB

QUOTED = 'say "hi", it\'s'


def test_rows_round_trip_with_texts_holding_quotes(any_store):
    db = DB()
    db.insert_records("balance", broker_name=QUOTED, broker_environment="SIMULATE",
                      broker_account_id=7, broker_account='"', strategy_account_id=1,
                      strategy_account="alpha", strategy_version="1.0", cash=100.5,
                      available_cash=90.0, update_time=datetime.datetime(2024, 3, 1, 9, 30, 0, 5))
    db.update_records("balance", {"strategy_version": QUOTED}, broker_name=QUOTED)

    frame = db.select_records("balance", ["id", "broker_name", "broker_account",
                                          "strategy_version", "cash", "update_time", "remark"],
                              broker_name=QUOTED)

    assert frame.to_dict("list") == {
        "id": [1], "broker_name": [QUOTED], "broker_account": ['"'],
        "strategy_version": [QUOTED], "cash": [100.5],
        "update_time": ["2024-03-01 09:30:00"], "remark": [frame["remark"][0]]}
    assert np.isnan(frame["remark"][0])
    assert [str(t) for t in frame.dtypes[["id", "cash"]]] == ["int64", "float64"]
    db.delete_records("balance", broker_name=QUOTED)
    assert db.select_records("balance").empty
    with pytest.raises(sqlite3.IntegrityError):
        db.insert_records("balance", broker_name="CQG")
    db.close()
