"""The CQG gateway's fee model."""
