"""Order: an order of the engine, as a gateway places and follows it."""

from zantrix._zantrix import Order
from zantrix._export import claim

__all__ = ["Order"]
claim(__name__)
