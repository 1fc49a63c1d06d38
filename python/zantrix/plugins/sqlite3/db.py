"""DB: the SQLite record store of balances, positions, orders and deals.

Conditions and column values are keyword arguments, kept in the order given;
``select_records`` returns a ``pandas.DataFrame``. A statement the database
rejects raises the ``sqlite3`` module's exception for its error.
"""

from zantrix._zantrix import _db_path, DB
from zantrix._export import claim

__all__ = ["DB", "_db_path"]
claim(__name__)
