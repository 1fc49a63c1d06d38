"""The CQG client environment (``ravelhost``) and the CQG gateway (``vexgate``)."""
