"""What the Python tools of bench/ and tests/ share (see common.py)."""
