"""PositionData: one open position of an account."""

from zantrix._zantrix import PositionData
from zantrix._export import claim

__all__ = ["PositionData"]
claim(__name__)
