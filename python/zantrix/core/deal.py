"""Deal: one fill of an order."""

from zantrix._zantrix import Deal
from zantrix._export import claim

__all__ = ["Deal"]
claim(__name__)
