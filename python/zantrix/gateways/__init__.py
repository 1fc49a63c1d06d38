"""The gateways' parts reachable from Python: the fee models."""
