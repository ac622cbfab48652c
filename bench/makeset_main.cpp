// lumora-makeset: writes a complete data-set workbook from a generator description.
//   lumora-makeset DESCRIPTION.toml OUTPUT.xlsx [--noise SIGMA] [--seed N]

#include "MakeSet.h"

#include "xlsx/XlsxWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    using namespace lumora;
    std::string in, out;
    double noise = -1;
    long seed = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--noise" && i + 1 < argc)
            noise = std::atof(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = std::atol(argv[++i]);
        else if (in.empty())
            in = a;
        else if (out.empty())
            out = a;
    }
    if (in.empty() || out.empty()) {
        std::fprintf(
            stderr,
            "Usage: lumora-makeset DESCRIPTION.toml OUTPUT.xlsx [--noise SIGMA] [--seed N]\n");
        return 2;
    }
    SetSpec spec;
    std::string error;
    if (!LoadSetSpec(in, spec, error)) {
        std::fprintf(stderr, "lumora-makeset: %s\n", error.c_str());
        return 1;
    }
    if (noise >= 0) spec.noise = noise;
    if (seed >= 0) spec.seed = static_cast<unsigned>(seed);
    GeneratedSet set;
    const std::string base = std::filesystem::absolute(in).parent_path().string();
    if (!GenerateSet(spec, base, set, error)) {
        std::fprintf(stderr, "lumora-makeset: %s\n", error.c_str());
        return 1;
    }
    if (!WriteNewXlsx(out, {{"Data", set.rows, {}}}, error)) {
        std::fprintf(stderr, "lumora-makeset: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %zu solutions\n", out.c_str(), spec.solutions.size());
    for (size_t k = 0; k < spec.species.size(); ++k)
        std::printf("  %-14s true G = %.4f kJ/mol%s\n", spec.species[k].name.c_str(), set.trueG[k],
                    spec.species[k].refine ? "" : " (fixed)");
    return 0;
}
