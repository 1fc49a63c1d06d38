"""zantrix: the zantrix modules from Python: history loading, market-data
records, securities, metrics, fees, the record store and the report, and the
trading path: the CQG client environment and gateway, the gateway object
subclassed in Python, the Telegram bot and a simulated market for paper
trading.

The work is done by the compiled module ``zantrix._zantrix`` over the C++
libraries; the modules of this package give its names the system's module
paths::

    from zantrix import zantrix_config
    from zantrix.core.security import Stock
    from zantrix.core.data import _get_data

    zantrix_config().use_file("examples/zantrix_config.json")
    bars = _get_data(Stock("HK.00700", "Tencent"), "2024-03-28 09:30:00",
                     "2024-03-28 16:00:00", interval="1min")

Tables come as ``pandas.DataFrame`` objects whose numeric columns share the
libraries' memory; errors come as Python's exceptions of the same kinds, with
the libraries' messages.
"""

from zantrix._zantrix import __version__, Config, zantrix_config

__all__ = ["Config", "zantrix_config", "__version__"]
