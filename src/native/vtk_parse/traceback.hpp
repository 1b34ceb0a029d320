// Traceback entries that name the module's functions and source lines.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace veltrane::vtk {

// Which function an entry names. Entries of different functions never share
// a code object, even where they share a line. kImportArray is NumPy's import
// facility: its entries name NumPy's header and lines, not this module's.
enum class Func : int { kInit, kCoords, kCells, kImportArray };

// Source lines that users see in tracebacks. They describe the module's
// logical source, not the layout of these C++ files.
enum class Line : int {
  kModule = 1,
  kBindNumpy = 16,
  kNumpyApi = 19,

  kCoordsDef = 22,
  kCoordsStart = 24,
  kCoordsCount = 25,
  kCoordsLen = 60,
  kCoordsBlock = 61,
  kCoordsEmpty = 63,
  kCoordsBuffer = 64,
  kCoordsFetch = 67,
  kCoordsTokens = 72,
  kCoordsVertex = 73,
  kCoordsToken0 = 74,  // tokens 1 and 2 follow on the next lines
  kCoordsType = 78,

  kCellsDef = 81,
  kCellsStart = 83,
  kCellsCount = 84,
  kCellsLen = 123,
  kCellsBlock = 124,
  kCellsConnList = 126,
  kCellsOffsetsList = 127,
  kCellsFetch = 131,
  kCellsTokens = 137,
  kCellsNoCount = 138,
  kCellsCountToken = 139,
  kCellsTokensAgain = 144,
  kCellsShort = 145,
  kCellsVertexToken = 147,
  kCellsTotal = 149,
  kCellsArrays = 151,
};

// Adds a frame for (func, line) to the pending exception's traceback.
void add_traceback_entry(Func func, int line);
inline void add_traceback_entry(Func func, Line line) {
  add_traceback_entry(func, static_cast<int>(line));
}

// The source path that traceback entries and code objects name.
extern const char kSourcePath[];

}  // namespace veltrane::vtk
