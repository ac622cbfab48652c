#pragma once
// The sheet of a new data set: every keyword of the layout in place, one example
// species, two example solutions and wavelength rows waiting for their absorbances,
// with a note beside each block saying what goes there. The notes stand in cells
// that the reader never looks at, so the sheet reads as it is once the absorbances
// are filled in.

#include "sheet/CellValue.h"

#include <vector>

namespace lumora {

/// The template's rows from A1 (absorbance cells empty).
std::vector<std::vector<CellValue>> DataSetTemplateRows();

} // namespace lumora
