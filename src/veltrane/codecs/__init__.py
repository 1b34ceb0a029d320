"""Readers and writers of mesh file formats."""
