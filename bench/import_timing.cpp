// Times lumora-import on a 200-solution x 2000-wavelength table (decimal comma,
// semicolons, falling wavelengths: the slow dialect) with a titration description.
//   import_timing [REPEATS]

#include "import/ImportDataSet.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
    const int nSol = 200, nWl = 2000;
    const auto dir = std::filesystem::temp_directory_path() / "lumora-import-timing";
    std::filesystem::create_directories(dir);
    const std::string csv = (dir / "spectra.csv").string(),
                      desc = (dir / "titration.toml").string(), out = (dir / "out.xlsx").string();
    {
        std::ofstream f(csv);
        f << "Wavelength";
        for (int j = 1; j <= nSol; ++j) f << ";T" << j;
        f << "\n";
        char buf[32];
        for (int i = nWl - 1; i >= 0; --i) {
            f << 300 + i * 0.25;
            for (int j = 0; j < nSol; ++j) {
                std::snprintf(buf, sizeof buf, ";%.6f", 0.5 + 0.001 * ((i * 7 + j * 13) % 997));
                for (char* c = buf; *c; ++c)
                    if (*c == '.') *c = ',';
                f << buf;
            }
            f << "\n";
        }
        std::ofstream d(desc);
        d << "database = \"thermo.toml\"\nsystem = \"co-na-cl.toml\"\nT = 25\nP = 1\n"
             "[[species]]\nname = \"CoCl+\"\n[titration]\ncell_volume = 2000\n"
             "titrand = { CoCl2 = 0.01 }\ntitrant = { NaCl = 5.0 }\nadded = [";
        for (int j = 0; j < nSol; ++j) d << (j ? ", " : "") << j * 5;
        d << "]\n";
    }
    double best = 1e9;
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        std::string error;
        if (!lumora::ImportDataSet(csv, desc, out, true, error)) {
            std::fprintf(stderr, "import_timing: %s\n", error.c_str());
            return 1;
        }
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
    }
    std::printf("lumora-import of %d solutions x %d wavelengths: best of %d runs %.3f s\n", nSol,
                nWl, repeats, best);
    return 0;
}
