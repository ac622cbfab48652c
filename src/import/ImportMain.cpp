// lumora-import: a data-set workbook from spectra and their description.
//   lumora-import SPECTRA.csv DESCRIPTION.toml OUTPUT.xlsx [--force]

#include "import/ImportDataSet.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--force") {
            force = true;
        } else if (a.rfind("--", 0) == 0 || files.size() == 3) {
            files.clear();
            break;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 3) {
        std::fprintf(stderr, "Usage: lumora-import SPECTRA.csv DESCRIPTION.toml OUTPUT.xlsx "
                             "[--force]\n");
        return 2;
    }
    std::string error;
    if (!lumora::ImportDataSet(files[0], files[1], files[2], force, error)) {
        std::fprintf(stderr, "lumora-import: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s written\n", files[2].c_str());
    return 0;
}
