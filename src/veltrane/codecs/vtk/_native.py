"""The native extensions, imported here and nowhere else in the reader and
the writer.

``_vtk_parse`` reads blocks handed over as lines, one record to a line;
``_vtk_blocks`` reads runs of numbers and cell streams straight from the
file's bytes, and makes the text of the writer's ASCII blocks.
"""

from veltrane.codecs import _vtk_blocks as blocks
from veltrane.codecs import _vtk_parse as parse

__all__ = ["blocks", "parse"]
