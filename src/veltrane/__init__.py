"""veltrane: meshes from files into NumPy arrays, exactly and fast."""
