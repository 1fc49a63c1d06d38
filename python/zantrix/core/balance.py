"""AccountBalance: a snapshot of an account's money."""

from zantrix._zantrix import AccountBalance
from zantrix._export import claim

__all__ = ["AccountBalance"]
claim(__name__)
