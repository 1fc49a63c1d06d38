"""Market-data records and stored history.

``_get_data`` loads history into a ``pandas.DataFrame`` (``time_key`` as
``datetime64[ns]``, numbers as ``float64`` sharing the loader's memory, texts
as ``str``, missing cells as NaN); ``_get_data_iterator`` replays such a
DataFrame, or one made by hand, as records, one row at a time.
"""

from zantrix._zantrix import (
    _get_data,
    _get_data_files,
    _get_data_iterator,
    _get_data_path,
    _load_historical_bars_in_reverse,
    Bar,
    CapitalDistribution,
    DataIterator,
    get_trading_day,
    OrderBook,
    Quote,
)
from zantrix._export import claim

__all__ = [
    "Bar",
    "Quote",
    "OrderBook",
    "CapitalDistribution",
    "DataIterator",
    "_get_data_path",
    "_get_data_files",
    "_get_data",
    "_get_data_iterator",
    "_load_historical_bars_in_reverse",
    "get_trading_day",
]
claim(__name__)
