"""Read and write VTK legacy files, ASCII and BINARY: grids, polydata, images, field data.

    from veltrane.codecs import vtk
    mesh = vtk.read("grid.vtk")
    vtk.write("copy.vtk", mesh, version="5.1", binary=True)

The file is read as bytes. Section headers are read here, in Python; every
numeric block is read by native code (``veltrane.codecs._vtk_blocks``) straight
from the bytes, on several threads when it is large. A block the native code
declines is looked at again only to say what is wrong with it, and where.

``to_meshio`` and ``from_meshio`` convert to and from meshio's Mesh;
``register_meshio()`` makes this package meshio's reader and writer of .vtk
files. ``python -m veltrane.codecs.vtk FILE...`` (or ``veltrane-vtk FILE...``)
prints a summary of each file; ``--help`` says more.
"""

from ._cli import main
from ._errors import VtkFormatError, VtkUnsupportedError
from ._keywords import CELL_TYPE_NAMES, CELL_TYPES
from ._mesh import ArrayInfo, CellBlock, Mesh
from ._meshio import from_meshio, register_meshio, to_meshio
from ._read import read
from ._summary import summary
from ._write import write

__all__ = [
    "ArrayInfo",
    "CELL_TYPES",
    "CELL_TYPE_NAMES",
    "CellBlock",
    "Mesh",
    "VtkFormatError",
    "VtkUnsupportedError",
    "from_meshio",
    "main",
    "read",
    "register_meshio",
    "summary",
    "to_meshio",
    "write",
]
