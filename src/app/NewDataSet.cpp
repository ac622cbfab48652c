#include "app/NewDataSet.h"

#include "dataset/DataSetTemplate.h"
#include "xlsx/XlsxWriter.h"

namespace lumora {

bool WriteNewDataSet(const std::string& path, std::string& error) {
    NewSheet sheet{"Data", DataSetTemplateRows(), {}};
    return WriteNewXlsx(path, {sheet}, error, ExistingFile::Refuse);
}

int NewDataSetCommand(const std::string& path, std::FILE* out, std::FILE* err) {
    std::string error;
    if (!WriteNewDataSet(path, error)) {
        std::fprintf(err, "lumora: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(out, "Wrote %s: fill in the spectra and open it with lumora %s\n", path.c_str(),
                 path.c_str());
    return 0;
}

} // namespace lumora
