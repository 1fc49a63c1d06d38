"""The framework's enumerations. Each member's ``value`` is its text."""

from zantrix._zantrix import (
    Direction,
    Exchange,
    Offset,
    OrderStatus,
    OrderType,
)
from zantrix._export import claim

__all__ = ["Exchange", "Direction", "Offset", "OrderType", "OrderStatus"]
claim(__name__)
