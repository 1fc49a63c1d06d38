"""Times Python's psycopg2 and pandas on the record store's balance table on a
PostgreSQL server.

    psycopg2_peer.py insert URI   a table of the balance table's columns,
                                  balance_peer, filled with the 100,000 rows
                                  bench_db inserts: executemany and
                                  psycopg2.extras.execute_values, each in one
                                  transaction, commit included
    psycopg2_peer.py select URI   pandas.read_sql_query("SELECT * FROM balance ")
                                  over a psycopg2 connection, best of 5

Prints "insert_executemany|insert_execute_values <rows> <seconds> <rows per
second>" or "select <rows> <columns> <seconds>".
"""

import sys
import time
import warnings

import pandas as pd
import psycopg2
import psycopg2.extras

from sqlite3_insert import COLUMNS, ROWS, rows

REPEATS = 5


def insert(uri):
    connection = psycopg2.connect(uri)
    with connection, connection.cursor() as cursor:
        cursor.execute("DROP TABLE IF EXISTS balance_peer")
        cursor.execute("CREATE TABLE balance_peer (LIKE balance INCLUDING ALL)")
    values = list(rows())
    names = ", ".join(COLUMNS)
    for label in ("insert_executemany", "insert_execute_values"):
        with connection, connection.cursor() as cursor:
            cursor.execute("DELETE FROM balance_peer")
        start = time.perf_counter()
        with connection, connection.cursor() as cursor:
            if label == "insert_executemany":
                cursor.executemany(f"INSERT INTO balance_peer ({names}) VALUES "
                                   f"({', '.join('%s' for _ in COLUMNS)})", values)
            else:
                psycopg2.extras.execute_values(
                    cursor, f"INSERT INTO balance_peer ({names}) VALUES %s", values,
                    page_size=1000)
        elapsed = time.perf_counter() - start
        print(f"{label} {ROWS} {elapsed:.4f} {ROWS / elapsed:.1f}")
    with connection, connection.cursor() as cursor:
        cursor.execute("DROP TABLE balance_peer")
    connection.close()


def select(uri):
    connection = psycopg2.connect(uri)
    best = None
    with warnings.catch_warnings():
        # pandas asks for SQLAlchemy and warns on a plain DB-API connection.
        warnings.simplefilter("ignore", UserWarning)
        for _ in range(REPEATS):
            start = time.perf_counter()
            frame = pd.read_sql_query("SELECT * FROM balance ", connection)
            elapsed = time.perf_counter() - start
            best = elapsed if best is None else min(best, elapsed)
    connection.close()
    print(f"select {len(frame)} {len(frame.columns)} {best:.4f}")


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("insert", "select"):
        sys.exit(__doc__)
    (insert if sys.argv[1] == "insert" else select)(sys.argv[2])


if __name__ == "__main__":
    main()
