"""The core modules: securities, constants, market data, and the orders,
deals, balances and positions of trading."""
