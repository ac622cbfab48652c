#include "import/ImportDataSet.h"

#include "xlsx/XlsxWriter.h"

#include <filesystem>

namespace lumora {

namespace {

/// One composition per spectrum, named from the description or else the table.
bool Solutions(const AbsorbanceTable& spectra, const ImportDescription& d,
               std::vector<LayoutSolution>& out, std::string& error) {
    out = d.solutions;
    if (d.titration)
        for (Concentrations& c : TitrationCompositions(*d.titration))
            out.push_back({"", std::move(c), 1.0});
    if (out.size() != spectra.names.size()) {
        error = "the description gives " + std::to_string(out.size()) +
                (d.titration ? " added volumes" : " solutions") + " for " +
                std::to_string(spectra.names.size()) + " spectra";
        return false;
    }
    for (size_t j = 0; j < out.size(); ++j)
        if (out[j].name.empty()) out[j].name = spectra.names[j];
    return true;
}

} // namespace

bool ImportLayout(const AbsorbanceTable& spectra, const ImportDescription& d, DataSetLayout& sheet,
                  std::string& error) {
    sheet = d.sheet;
    if (!Solutions(spectra, d, sheet.solutions, error)) return false;
    sheet.wlStart = d.wlStart.value_or(spectra.wavelengths.front());
    sheet.wlStop = d.wlStop.value_or(spectra.wavelengths.back());
    if (!(sheet.wlStart > 0) || sheet.wlStop < sheet.wlStart) {
        error = "the wavelength window must be positive and wl_stop at least wl_start";
        return false;
    }
    sheet.wavelengths = spectra.wavelengths;
    sheet.absorbances = spectra.absorbances;
    return true;
}

bool ImportDataSet(const std::string& csv, const std::string& description, const std::string& out,
                   bool force, std::string& error) {
    std::error_code ec;
    if (!force && std::filesystem::exists(out, ec)) {
        error = out + ": exists already (--force replaces it)";
        return false;
    }
    AbsorbanceTable spectra;
    ImportDescription d;
    DataSetLayout sheet;
    if (!LoadAbsorbanceCsv(csv, spectra, error) || !LoadImportDescription(description, d, error))
        return false;
    if (!ImportLayout(spectra, d, sheet, error)) {
        error = description + ": " + error;
        return false;
    }
    return WriteNewXlsx(out, {{"Data", DataSetRows(sheet), {}}}, error);
}

} // namespace lumora
