"""The performance report: a tear-sheet page, its text, and its CSV tables.

``analyse(values, benchmark)`` takes pandas Series indexed by time (a
``DatetimeIndex``); ``round_trips(deals, point_values)`` takes ``Deal``
records. A ``Report`` of both renders as one self-contained HTML page
(``render_html``), as text (``render_text``) or as the tables behind its
charts (``write_csv``)::

    page = Report(title="My strategy",
                  performance=analyse(equity, benchmark=buy_and_hold),
                  trading=Trading(round_trips(deals)))
    pathlib.Path("tear_sheet.html").write_text(render_html(page))
"""

from zantrix._zantrix import (
    analyse,
    InstrumentFees,
    Performance,
    render_html,
    render_text,
    Report,
    round_trips,
    RoundTrip,
    Trading,
    write_csv,
)
from zantrix._export import claim

__all__ = [
    "Report",
    "Performance",
    "Trading",
    "RoundTrip",
    "InstrumentFees",
    "analyse",
    "round_trips",
    "render_html",
    "render_text",
    "write_csv",
]
claim(__name__)
