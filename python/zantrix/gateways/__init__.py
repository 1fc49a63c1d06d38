"""The gateways: the framework's gateway object, the CQG gateway and its
client environment, and the CQG fee model."""
