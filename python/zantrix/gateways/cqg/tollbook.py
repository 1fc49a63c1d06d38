"""Tollbook: the CQG fee model, built from any number of deals."""

from zantrix._zantrix import Tollbook
from zantrix._export import claim

__all__ = ["Tollbook"]
claim(__name__)
