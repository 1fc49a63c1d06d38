"""BaseFees: the fee components every fee model fills."""

from zantrix._zantrix import BaseFees
from zantrix._export import claim

__all__ = ["BaseFees"]
claim(__name__)
