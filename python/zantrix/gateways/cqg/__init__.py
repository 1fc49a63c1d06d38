"""The CQG gateway (``wrapper``) and its fee model (``tollbook``)."""
