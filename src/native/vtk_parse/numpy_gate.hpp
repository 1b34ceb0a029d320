// Import-time checks that the running CPython and NumPy have the layouts the
// module was built against.
#pragma once

namespace veltrane::vtk {

// Fetches builtins.type and NumPy's types and tests their sizes; holds them
// for the life of the process. 0, or -1 with an exception set.
int fetch_types();

// Imports NumPy's C-API table as a version and byte-order gate. 0, or -1
// with an exception set and the table's own traceback entries added.
int import_numpy_api();

}  // namespace veltrane::vtk
