"""Performance metrics over numpy arrays and pandas Series.

The ratios return floats (NaN when the volatility is zero); they read their
inputs as plain arrays, by position, with the population standard deviation.
``rolling_maximum_drawdown`` returns a Series named "pv" with the input's
index. ``percentile(n)`` returns an aggregate named ``percentile_<n>``.
"""

from zantrix._zantrix import (
    _Percentile,
    convert_time,
    holding_period,
    information_ratio,
    modigliani_ratio,
    rolling_maximum_drawdown,
    sharpe_ratio,
)

__all__ = [
    "convert_time",
    "holding_period",
    "percentile",
    "sharpe_ratio",
    "information_ratio",
    "modigliani_ratio",
    "rolling_maximum_drawdown",
]


def percentile(n):
    """An aggregate taking the n-th percentile of a series, named for table
    aggregations (``percentile(95)`` is named ``percentile_95.0``)."""
    aggregate = _Percentile(n)

    def percentile_(x):
        return aggregate(x)

    percentile_.__name__ = percentile_.__qualname__ = aggregate.name
    return percentile_
