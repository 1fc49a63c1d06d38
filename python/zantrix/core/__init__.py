"""The core modules: securities, constants, deals and market data."""
