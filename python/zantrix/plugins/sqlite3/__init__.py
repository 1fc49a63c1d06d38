"""The SQLite record store."""
