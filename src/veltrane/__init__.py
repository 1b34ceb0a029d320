"""veltrane: meshes from files into NumPy arrays, exactly and fast."""

__version__ = "0.1.0"
