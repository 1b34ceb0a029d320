"""The reader's native extension, imported here and nowhere else in the reader:
``_vtk_blocks`` reads runs of numbers and cell streams straight from the
file's bytes, and finds tokens, lines and line numbers in them.
"""

from veltrane.codecs import _vtk_blocks as blocks

__all__ = ["blocks"]
