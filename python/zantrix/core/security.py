"""The tradable instruments: immutable, comparable and hashable values."""

from zantrix._zantrix import Commodity, Currency, Futures, Security, Stock
from zantrix._export import claim

__all__ = ["Security", "Stock", "Currency", "Commodity", "Futures"]
claim(__name__)
