"""Native hot-paths for VTK legacy ASCII parsing."""

from collections.abc import Sequence
from typing import Any, SupportsIndex

import numpy as np
import numpy.typing as npt

def parse_ascii_coords(
    lines: Sequence[Any], start: SupportsIndex, n_verts: SupportsIndex
) -> npt.NDArray[np.float64]: ...
def parse_ascii_cells_v42(
    lines: Sequence[Any], start: SupportsIndex, n_cells: SupportsIndex
) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]: ...
