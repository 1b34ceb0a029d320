"""python -m veltrane.codecs.vtk FILE...: a summary of each file."""

import sys

from ._summary import main

sys.exit(main())
