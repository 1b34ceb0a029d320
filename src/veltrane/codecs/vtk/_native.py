"""The native extension, imported here and nowhere else in the reader and the
writer: ``_vtk_blocks`` reads runs of numbers and cell streams straight from
the file's bytes, finds tokens, lines and line numbers in them, and makes the
text of the writer's ASCII blocks.
"""

from veltrane.codecs import _vtk_blocks as blocks

__all__ = ["blocks"]
