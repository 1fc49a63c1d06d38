"""Times pandas reading the record store's balance table.

    pandas_select.py FILE

Opens FILE with Python's sqlite3 module and times
pandas.read_sql_query("SELECT * FROM balance ", connection), the statement the
store runs, best of 5. Prints "select <rows> <columns> <seconds>".
"""

import sqlite3
import sys
import time

import pandas as pd

REPEATS = 5


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    connection = sqlite3.connect(sys.argv[1])
    best = None
    for _ in range(REPEATS):
        start = time.perf_counter()
        frame = pd.read_sql_query("SELECT * FROM balance ", connection)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    connection.close()
    print(f"select {len(frame)} {len(frame.columns)} {best:.4f}")


if __name__ == "__main__":
    main()
