"""python -m veltrane.codecs.vtk FILE...: a summary of each file."""

import sys

from ._cli import main

sys.exit(main(prog="python -m veltrane.codecs.vtk"))
