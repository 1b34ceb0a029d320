// NumPy's C-API table, fetched by each extension through this one piece of
// code. The static library this file belongs to is linked into each
// extension, so each holds its own copy of the table pointer that NumPy's
// header macros read. No module state and no traceback entries here: those
// are the caller's.
#pragma once

namespace veltrane::numpy_api {

// Imports numpy._core._multiarray_umath (numpy.core._multiarray_umath on
// NumPy 1.x), takes the table from its _ARRAY_API capsule and checks the ABI
// version, the C-API feature version and the byte order with the messages of
// NumPy's own import_array(). On success the table and its feature version
// are stored where the header's macros (PyArray_API,
// PyArray_RUNTIME_VERSION) read them. 0, or -1 with an exception set and
// nothing stored.
int fetch_table();

// Replaces a pending Exception with the ImportError NumPy's import_array()
// raises, whose context is that exception. False, with nothing changed,
// when what is pending is a BaseException and no Exception: that must reach
// the importer as it is.
bool chain_import_error();

}  // namespace veltrane::numpy_api
