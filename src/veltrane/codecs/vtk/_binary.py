"""Blocks of a BINARY file: raw big-endian values after an ASCII header line."""
