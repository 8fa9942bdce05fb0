"""The terminal suites and their one harness (harness.py)."""
