"""Times Python's sqlite3 inserting the benchmark's balance rows.

    sqlite3_insert.py STORE FILE

Creates FILE with the balance table of the store STORE (its own CREATE
statement, WAL and synchronous=FULL as the store uses), then times
executemany of 100,000 rows, the same values bench_db inserts, in one
transaction, commit included. Prints "insert_executemany <rows> <seconds>
<rows per second>".
"""

import datetime
import sqlite3
import sys
import time

ROWS = 100_000
COLUMNS = ("broker_name", "broker_environment", "broker_account_id", "broker_account",
           "strategy_account_id", "strategy_account", "strategy_version", "strategy_status",
           "cash", "available_cash", "unrealized_pnl", "update_time", "remark")


def rows():
    start = datetime.datetime(2024, 1, 2, 9, 30, 0)
    for i in range(ROWS):
        yield ("CQG", "SIMULATE", 1000 + i % 7, f"ACC-{i % 7}", i % 3, "alpha", "1.0",
               "Running", 100000.0 + i * 0.25, 90000.0 + i * 0.5, (i % 1000) - 500.125,
               (start + datetime.timedelta(seconds=i)).strftime("%Y-%m-%d %H:%M:%S"),
               f"snapshot {i}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    store = sqlite3.connect(sys.argv[1])
    (create,) = store.execute("SELECT sql FROM sqlite_master WHERE name = 'balance'").fetchone()
    store.close()
    connection = sqlite3.connect(sys.argv[2])
    connection.execute("PRAGMA journal_mode=WAL")
    connection.execute("PRAGMA synchronous=FULL")
    connection.execute(create)
    connection.commit()
    values = list(rows())
    statement = (f"INSERT INTO balance ({', '.join(COLUMNS)}) "
                 f"VALUES ({', '.join('?' for _ in COLUMNS)})")
    start = time.perf_counter()
    with connection:
        connection.executemany(statement, values)
    elapsed = time.perf_counter() - start
    connection.close()
    print(f"insert_executemany {ROWS} {elapsed:.4f} {ROWS / elapsed:.1f}")


if __name__ == "__main__":
    main()
