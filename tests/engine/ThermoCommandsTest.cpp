// lumora-thermo subcommands, run in-process.

#include "engine/ThermoCommands.h"

#include <gtest/gtest.h>

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

TEST(ThermoCommands, WaterTableAndJson) {
    const ThermoRun t = Thermo({"water", "25", "1"});
    ASSERT_EQ(t.code, 0) << t.err;
    EXPECT_NE(t.out.find("density_g_cm3  0.997047"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("psat_bar"), std::string::npos);
    const ThermoRun j = Thermo({"--json", "water", "300", "0"});
    ASSERT_EQ(j.code, 0) << j.err;
    EXPECT_EQ(j.out.front(), '{');
    EXPECT_EQ(j.out.back(), '\n');
    for (const char* key :
         {"\"T_C\": 300", "\"P_bar\": 85.87", "\"density_g_cm3\": 0.7121", "\"psat_bar\"",
          "\"dielectric\"", "\"G_J_mol\"", "\"A_gamma\"", "\"B_gamma\""})
        EXPECT_NE(j.out.find(key), std::string::npos) << key << " in " << j.out;
    // Supercritical: no saturation pressure.
    const ThermoRun s = Thermo({"water", "500", "1000", "--json"});
    ASSERT_EQ(s.code, 0) << s.err;
    EXPECT_EQ(s.out.find("psat_bar"), std::string::npos);
}

TEST(ThermoCommands, Species) {
    const ThermoRun r = Thermo({"--json", "species", "Na+", "25", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "{\"name\": \"Na+\", \"code\": 3, \"G_kJ_mol\": -261.880744}\n");
}

TEST(ThermoCommands, BadInputGivesMessagesAndNonZeroExit) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "Usage"},
        {{"frobnicate"}, "Unknown command: frobnicate"},
        {{"water", "25"}, "Expected temperature"},
        {{"water", "abc", "1"}, "Invalid temperature: abc"},
        {{"water", "25", "1x"}, "Invalid pressure: 1x"},
        {{"water", "400", "0"}, "no saturation pressure above the critical temperature"},
        {{"water", "2000", "1"}, "temperature outside"},
        {{"species", "Nope", "25", "1"}, "Unknown species: Nope"},
        {{"species"}, "Expected a species name"},
        {{"--db", "/nonexistent.toml", "species", "Na+", "25", "1"}, "/nonexistent.toml"},
        {{"--db"}, "--db needs a file name"},
    };
    for (const auto& c : cases) {
        const ThermoRun r = Thermo(c.args);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
} // namespace lumora
