"""Fails on purpose, whatever it is given: the test that runs it expects a
failure, so a test runner that loses a Python check's exit status fails it.

    python3 must_fail.py [ARGS...]
"""
import sys

sys.exit("failing on purpose")
