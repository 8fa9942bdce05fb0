"""Lets the suites be run as modules from the top of the source tree."""
