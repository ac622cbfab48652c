#pragma once
// lumora-import: a complete data-set workbook from a spectra table (CSV) and its
// description (TOML).

#include "dataset/DataSetLayout.h"
#include "import/AbsorbanceCsv.h"
#include "import/ImportDescription.h"

#include <string>

namespace lumora {

/// The sheet of the spectra with the description's conditions, species and
/// compositions (a titration's worked out with dilution); false with a reason when the
/// two do not fit together (another number of solutions, an empty window).
bool ImportLayout(const AbsorbanceTable& spectra, const ImportDescription& d, DataSetLayout& sheet,
                  std::string& error);

/// Reads both files and writes the workbook `out` (saved whole or not at all). An
/// existing `out` is kept unless `force`. False with a message naming the file.
bool ImportDataSet(const std::string& csv, const std::string& description, const std::string& out,
                   bool force, std::string& error);

} // namespace lumora
