"""The plugins: performance metrics and the record store."""
