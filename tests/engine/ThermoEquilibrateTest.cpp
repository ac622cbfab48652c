// lumora-thermo equilibrate, run in-process: the molalities it prints keep the totals it
// was given, and bad command lines get messages and exit codes.

#include "engine/ThermoCommands.h"

#include "FuzzyCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace lumora {
namespace {

struct CliRun {
    int code;
    std::string out, err;
};

CliRun Thermo(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = ThermoMain(args, out, err);
    return {code, out.str(), err.str()};
}

/// The number after `key` in `text` (NaN when absent).
double After(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

double Molality(const std::string& json, const std::string& name) {
    return After(json, "{\"name\": \"" + name + "\", \"molality\": ");
}

TEST(ThermoEquilibrate, JsonMolalitiesKeepTheGivenTotals) {
    const CliRun r = Thermo({"--json", "equilibrate", "--system", "co-na-cl.toml", "200", "0",
                             "NaCl=1.5", "CoCl2=0.02", "HCl=0.01"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.out.front(), '{');
    const std::string& j = r.out;
    const double co = Molality(j, "Co+2") + Molality(j, "CoCl+") + Molality(j, "CoCl2(aq)") +
                      Molality(j, "CoCl4-2");
    const double na = Molality(j, "Na+") + Molality(j, "NaCl(aq)") + Molality(j, "NaOH(aq)");
    const double cl = Molality(j, "Cl-") + Molality(j, "NaCl(aq)") + Molality(j, "HCl(aq)") +
                      Molality(j, "CoCl+") + 2 * Molality(j, "CoCl2(aq)") +
                      4 * Molality(j, "CoCl4-2");
    // Ten significant digits printed; the water lost to OH- is below that.
    EXPECT_FUZZY(co, 0.02, 1e-8);
    EXPECT_FUZZY(na, 1.5, 1e-8);
    EXPECT_FUZZY(cl, 1.55, 1e-8);
    const size_t h = j.find("{\"name\": \"H+\"");
    const double mH = After(j.substr(h), "\"molality\": ");
    const double gH = After(j.substr(h), "\"gamma\": ");
    EXPECT_NEAR(After(j, "\"pH\": "), -std::log10(mH * gH), 1e-8);
    EXPECT_GT(After(j, "\"ionic_strength\": "), 1.0);
    EXPECT_GE(After(j, "\"iterations\": "), 0.0);
}

TEST(ThermoEquilibrate, SpeciesListAndTable) {
    const CliRun r = Thermo({"equilibrate", "--species", "Na+,Cl-", "25", "1", "NaCl=0.1"});
    ASSERT_EQ(r.code, 0) << r.err;
    // H+ and OH- join the listed species; a plain salt solution stays neutral.
    for (const char* row : {"\nH+ ", "\nOH- ", "\nNa+ ", "\nCl- ", "\nionic_strength ", "\npH "})
        EXPECT_NE(r.out.find(row), std::string::npos) << row << " in\n" << r.out;
    // Equal molalities of H+ and OH-: pH = pKw / 2 - log10(gamma_H / gamma_OH) / 2, with
    // pKw = 13.995 at 25 C (Bandura and Lvov 2006).
    const size_t h = r.out.find("\nH+ "), oh = r.out.find("\nOH- ");
    std::istringstream hl(r.out.substr(h + 4)), ohl(r.out.substr(oh + 5));
    double mH = 0, gammaH = 0, mOH = 0, gammaOH = 0;
    hl >> mH >> gammaH;
    ohl >> mOH >> gammaOH;
    EXPECT_FUZZY(mH, mOH, 1e-9);
    EXPECT_NEAR(After(r.out, "\npH "), 13.995 / 2 - std::log10(gammaH / gammaOH) / 2, 0.005);
    EXPECT_FUZZY(After(r.out, "\nionic_strength "), 0.1, 1e-5);
}

TEST(ThermoEquilibrate, BadCommandLines) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {{"equilibrate", "25", "1", "NaCl=1"}, 2, "--system FILE or --species"},
        {{"equilibrate", "--system", "na-cl.toml", "--species", "Na+", "25", "1"}, 2, "either"},
        {{"equilibrate", "--system", "na-cl.toml", "25"}, 2, "Expected temperature"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "NaCl"}, 2, "FORMULA=MOLALITY"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "NaCl=-1"}, 2, "FORMULA=MOLALITY"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Qq=1"}, 2, "Formula Qq"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "CoCl2=1"}, 1, "Element Co"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Na=1"}, 1, "neutral"},
        {{"equilibrate", "--system", "absent.toml", "25", "1", "NaCl=1"}, 1, "file not found"},
        {{"equilibrate", "--species", "Na+,Xx", "25", "1", "NaCl=1"}, 1, "unknown species \"Xx\""},
    };
    for (const Case& c : cases) {
        const CliRun r = Thermo(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace lumora
