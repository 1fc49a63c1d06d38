"""Ravelhost: the CQG client environment, and its diagnostic Trace.

The environment owns the one CQG client object, the worker thread it lives
on and that thread's message pump; ``Init(VexGate)`` starts it and returns
the gateway, ``Shutdown()`` ends it. Every event handler, and so every
callback of a gateway object, runs on the worker thread. Any Python thread
may call the environment and its gateway: the package initialises COM for a
thread and takes its own proxy of the client on the thread's first call, and
releases both when the thread ends. Calls that wait for the worker release
the interpreter lock meanwhile. Environments still running when the
interpreter exits are shut down then.
"""

from zantrix._zantrix import AssertMessage, Event, Ravelhost, Trace
from zantrix._export import claim

__all__ = ["Ravelhost", "Event", "Trace", "AssertMessage"]
claim(__name__)
