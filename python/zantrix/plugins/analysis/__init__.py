"""Analysis of trading results."""
