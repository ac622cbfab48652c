// lumora-thermo subcommands, run in-process: water and species values, equilibrium
// molalities that keep the totals they were given, and bad command lines.

#include "engine/ThermoCommands.h"

#include "FuzzyCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace lumora {
namespace {

struct ThermoRun {
    int code;
    std::string out, err;
};

ThermoRun Thermo(const std::vector<std::string>& args) {
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

// The water model's values (WaterTest) at 300 C on the saturation curve; none above the
// critical point; Na+ at 25 C as tabulated, -62591 cal/mol.
TEST(ThermoCommands, WaterAndSpecies) {
    const ThermoRun j = Thermo({"--json", "water", "300", "0"});
    ASSERT_EQ(j.code, 0) << j.err;
    EXPECT_NEAR(After(j.out, "\"psat_bar\": "), 85.879, 0.01) << j.out;
    EXPECT_NEAR(After(j.out, "\"density_g_cm3\": "), 0.71214, 1e-4) << j.out;
    EXPECT_EQ(Thermo({"water", "500", "1000", "--json"}).out.find("psat_bar"), std::string::npos);
    const ThermoRun r = Thermo({"--json", "species", "Na+", "25", "1"});
    EXPECT_EQ(r.out, "{\"name\": \"Na+\", \"code\": 3, \"G_kJ_mol\": -261.880744}\n") << r.err;
}

TEST(ThermoCommands, EquilibrateJsonKeepsTheGivenTotals) {
    const ThermoRun r = Thermo({"--json", "equilibrate", "--system", "co-na-cl.toml", "200", "0",
                                "NaCl=1.5", "CoCl2=0.02", "HCl=0.01"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.out.front(), '{');
    auto m = [&](const std::string& name) {
        return After(r.out, "{\"name\": \"" + name + "\", \"molality\": ");
    };
    // Ten significant digits printed; the water lost to OH- is below that.
    EXPECT_FUZZY(m("Co+2") + m("CoCl+") + m("CoCl2(aq)") + m("CoCl4-2"), 0.02, 1e-8);
    EXPECT_FUZZY(m("Na+") + m("NaCl(aq)") + m("NaOH(aq)"), 1.5, 1e-8);
    EXPECT_FUZZY(m("Cl-") + m("NaCl(aq)") + m("HCl(aq)") + m("CoCl+") + 2 * m("CoCl2(aq)") +
                     4 * m("CoCl4-2"),
                 1.55, 1e-8);
    const std::string h = r.out.substr(r.out.find("{\"name\": \"H+\""));
    EXPECT_NEAR(After(r.out, "\"pH\": "),
                -std::log10(After(h, "\"molality\": ") * After(h, "\"gamma\": ")), 1e-8);
    EXPECT_GT(After(r.out, "\"ionic_strength\": "), 1.0);
}

// A system from a species list, printed as a table: H+ and OH- join the listed species.
TEST(ThermoCommands, EquilibrateSpeciesListAndTable) {
    const ThermoRun r = Thermo({"equilibrate", "--species", "Na+,Cl-", "25", "1", "NaCl=0.1"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* row : {"\nH+ ", "\nOH- ", "\nNa+ ", "\nCl- ", "\npH "})
        EXPECT_NE(r.out.find(row), std::string::npos) << row << " in\n" << r.out;
    EXPECT_FUZZY(After(r.out, "\nionic_strength "), 0.1, 1e-5);
    EXPECT_FUZZY(After(r.out, "\nNa+ "), 0.1, 1e-8); // water split into H+ and OH-: 2e-9
}

TEST(ThermoCommands, BadCommandLinesGiveMessagesAndExitCodes) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{}, 2, "Usage"},
        {{"frobnicate"}, 2, "Unknown command: frobnicate"},
        {{"--db"}, 2, "--db needs a file name"},
        {{"water", "25"}, 2, "Expected temperature"},
        {{"water", "abc", "1"}, 2, "Invalid temperature: abc"},
        {{"water", "400", "0"}, 1, "no saturation pressure above the critical temperature"},
        {{"water", "2000", "1"}, 1, "temperature outside"},
        {{"species"}, 2, "Expected a species name"},
        {{"species", "Nope", "25", "1"}, 1, "Unknown species: Nope"},
        {{"--db", "/nonexistent.toml", "species", "Na+", "25", "1"}, 1, "/nonexistent.toml"},
        {{"equilibrate", "25", "1", "NaCl=1"}, 2, "--system FILE or --species"},
        {{"equilibrate", "--system", "na-cl.toml", "--species", "Na+", "25", "1"}, 2, "either"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "NaCl=-1"}, 2, "FORMULA=MOLALITY"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Qq=1"}, 2, "Formula Qq"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "CoCl2=1"}, 1, "Element Co"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Na=1"}, 1, "neutral"},
        {{"equilibrate", "--system", "absent.toml", "25", "1", "NaCl=1"}, 1, "file not found"},
        {{"equilibrate", "--species", "Na+,Xx", "25", "1", "NaCl=1"}, 1, "unknown species \"Xx\""},
    };
    for (const auto& c : cases) {
        const ThermoRun r = Thermo(c.args);
        EXPECT_EQ(r.code, c.code) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.says;
    }
}

} // namespace
} // namespace lumora
