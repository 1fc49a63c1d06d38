"""Paper trading from Python: the example, run stepped on the shipped sample,
stores the orders and deals that ``zantrix demo`` stores with the same
parameters."""

import json
import os
import pathlib
import sqlite3
import subprocess
import sys

from conftest import REPOSITORY, SAMPLE_CONFIG

ORDERS = ("SELECT security_code, price, quantity, direction, offset, order_type, create_time, "
          "update_time, filled_avg_price, filled_quantity, status FROM trading_order ORDER BY id")
DEALS = ("SELECT security_code, direction, offset, order_type, update_time, filled_avg_price, "
         "filled_quantity FROM trading_deal ORDER BY id")


def rows(store, query):
    with sqlite3.connect(store) as db:
        return db.execute(query).fetchall()


def test_the_example_stores_the_orders_and_deals_of_zantrix_demo(tmp_path):
    sample = json.loads(SAMPLE_CONFIG.read_text())
    kline = (SAMPLE_CONFIG.parent / sample["DATA_PATH"]["kline"]).resolve()
    demo_config = tmp_path / "demo.json"
    demo_config.write_text(json.dumps(
        dict(sample, DATA_PATH={"kline": str(kline)}, DB={"sqlite3": str(tmp_path / "demo")})))
    python_folder = tmp_path / "python"
    python_folder.mkdir()
    example_env = {k: v for k, v in os.environ.items() if k != "ZANTRIX_CONFIG"}
    example = subprocess.Popen(
        [sys.executable, str(REPOSITORY / "examples" / "python" / "paper_trading.py")],
        cwd=python_folder, env=example_env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        text=True)
    demo = subprocess.run([os.environ["ZANTRIX_PROGRAM"], "demo"], cwd=tmp_path,
                          env=dict(os.environ, ZANTRIX_CONFIG=str(demo_config)),
                          capture_output=True, text=True)
    printed, _ = example.communicate()
    assert demo.returncode == 0, demo.stdout + demo.stderr
    assert example.returncode == 0, printed
    page = python_folder / "paper_trading.html"
    assert printed.splitlines()[-1] == f"page: {page}" and page.stat().st_size > 0

    python_store, demo_store = python_folder / "zantrix.db", tmp_path / "demo" / "zantrix.db"
    assert rows(python_store, ORDERS) == rows(demo_store, ORDERS)
    assert rows(python_store, DEALS) == rows(demo_store, DEALS)
    assert rows(python_store, DEALS)
