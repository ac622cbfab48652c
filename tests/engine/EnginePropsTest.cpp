// The properties component as the data-set reader uses it: float interface, codes,
// failures as 1e33 and above, never NaN.

#include "engine/EngineProps.h"
#include "FuzzyCompare.h"
#include "engine/EngineFactory.h"
#include "engine/WaterState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

namespace lumora {
namespace {

const std::string kBundled = std::string(LUMORA_ENGINE_DATA_DIR) + "/thermo.toml";

class EnginePropsTest : public ::testing::Test {
protected:
    void SetUp() override {
        props = CreateProps();
        ASSERT_NE(props, nullptr);
        props->OpenDatabase(kBundled);
        ASSERT_EQ(props->LastMessage(), "");
    }
    std::unique_ptr<Props> props;
};

bool Failed(float v) {
    return !std::isnan(v) && std::fabs(v) >= 1e33f;
}

TEST_F(EnginePropsTest, CodesAndFormulas) {
    EXPECT_EQ(props->SpeciesCode(props->FindSpecies("H2O")), 0);
    EXPECT_EQ(props->SpeciesCode(props->FindSpecies("Na+")), 3);
    for (const char* name : {"Unknown+3", ""}) EXPECT_EQ(props->FindSpecies(name), -1) << name;
    for (int16_t i : {-1, 0, 32000}) EXPECT_EQ(props->SpeciesCode(i), -1) << i;
    // Atomic numbers in order of first appearance, and amounts per element.
    EXPECT_EQ(props->FormulaElements("CoCl2"), std::string("\x1b\x11"));
    EXPECT_EQ(props->FormulaElements("Co(ClO4)2"), std::string("\x1b\x11\x08"));
    EXPECT_FLOAT_EQ(props->ElementCoefficient("Co(ClO4)2", 8), 8.0f);
    EXPECT_FLOAT_EQ(props->ElementCoefficient("CoCl2*6H2O", 1), 12.0f);
    EXPECT_FLOAT_EQ(props->ElementCoefficient("NaCl", 27), 0.0f);
    // Unknown symbol: the known elements before it, then the character of code 0.
    EXPECT_EQ(props->FormulaElements("NaXx"), std::string("\x0b", 1) + '\0');
    EXPECT_EQ(props->FormulaElements("Xx"), std::string(1, '\0'));
    EXPECT_FLOAT_EQ(props->ElementCoefficient("NaXx", 11), 0.0f);
    EXPECT_NE(props->LastMessage().find("unknown element 'Xx'"), std::string::npos);
}

TEST_F(EnginePropsTest, WaterValuesAgreeWithWaterAt) {
    const float T = 473.15f;
    const float psat = props->SaturationPressure(T);
    EXPECT_NEAR(psat, 15.549, 0.01); // IAPWS-95 at 200 C: 1.5549 MPa
    const float rho = props->WaterDensity(T, psat, 0);
    const WaterState w = WaterAt(T, 0);
    EXPECT_FUZZY(rho, w.rho, 1e-5);
    EXPECT_FUZZY(props->WaterDensity(T, 0, 0), w.rho, 1e-6);
    const float eps = props->WaterValueA(T, rho);
    EXPECT_FUZZY(eps, w.eps, 1e-5);
    const float gw = props->WaterValueB(T, psat, rho);
    EXPECT_FUZZY(gw, w.G, 1e-6);
    // OH- in J/mol; species in kJ/mol.
    const Database& db = static_cast<EngineProps&>(*props).database();
    double ref = 0;
    ASSERT_TRUE(StandardGibbs(db, props->FindSpecies("OH-"), w, ref));
    EXPECT_FUZZY(props->StartValueCode2(T, rho, gw), ref, 1e-5);
    const int16_t code = props->SpeciesCode(props->FindSpecies("CoCl4-2"));
    ASSERT_TRUE(StandardGibbs(db, props->FindSpecies("CoCl4-2"), w, ref));
    EXPECT_FUZZY(props->StartValueLow(code, T, psat, rho, eps), ref / 1000.0, 1e-5);
    // 25 C: the tabulated value (Liu et al. 2011), -134150 cal/mol.
    const float rho25 = props->WaterDensity(298.15f, 1, 0);
    const float g25 =
        props->StartValueLow(code, 298.15f, 1, rho25, props->WaterValueA(298.15f, rho25));
    EXPECT_NEAR(g25, -134.150 * 4.184, 1e-3);
}

TEST_F(EnginePropsTest, FailuresAreLargeNeverNaN) {
    const float nan = std::nanf("");
    EXPECT_TRUE(Failed(props->SaturationPressure(700)));
    EXPECT_TRUE(Failed(props->SaturationPressure(nan)));
    EXPECT_TRUE(Failed(props->WaterDensity(200, 1, 0)));
    EXPECT_TRUE(Failed(props->WaterDensity(573.15f, 10, 0))); // steam
    EXPECT_TRUE(Failed(props->WaterDensity(298.15f, 20000, 0)));
    EXPECT_TRUE(Failed(props->WaterDensity(nan, 1, 0)));
    EXPECT_TRUE(Failed(props->WaterValueA(298.15f, 1e35f)));
    EXPECT_TRUE(Failed(props->WaterValueA(298.15f, -1)));
    EXPECT_TRUE(Failed(props->WaterValueB(298.15f, 1, 0)));
    EXPECT_TRUE(Failed(props->StartValueCode2(298.15f, 0.997f, 1e35f)));
    EXPECT_TRUE(Failed(props->StartValueLow(3, 298.15f, 1, 1e35f, 78)));
    EXPECT_TRUE(Failed(props->StartValueLow(3, 298.15f, 1, 0.997f, 1e35f)));
    EXPECT_TRUE(Failed(props->StartValueLow(1000, 298.15f, 1, 0.997f, 78)));
    EXPECT_TRUE(Failed(props->StartValueLow(-5, 298.15f, 1, 0.997f, 78)));
    EXPECT_TRUE(Failed(props->StartValueHigh(1024, 298.15f, 1, 0.997f, 78, 0)));
    EXPECT_TRUE(Failed(props->StartValueHigh(3, 298.15f, 1, 0.997f, 78, 0)));
}

// A failed open names the file and line and drops the previous database; water needs none.
TEST(EngineProps, FailedOpenDropsThePreviousDatabase) {
    EngineProps props;
    props.OpenDatabase(kBundled);
    ASSERT_GT(props.FindSpecies("Na+"), 0);
    const std::string bad = std::string(LUMORA_TEST_BUILD_DIR) + "/broken-db.toml";
    std::ofstream(bad) << "elements = [\n";
    props.OpenDatabase(bad);
    EXPECT_NE(props.LastMessage().find(bad + ", line "), std::string::npos) << props.LastMessage();
    EXPECT_EQ(props.FindSpecies("Na+"), -1);
    EXPECT_EQ(props.SpeciesCode(1), -1);
    EXPECT_EQ(props.FormulaElements("H2O"), std::string(1, '\0'));
    EXPECT_TRUE(Failed(props.StartValueLow(3, 298.15f, 1, 0.997f, 78)));
    EXPECT_NEAR(props.WaterDensity(298.15f, 1, 0), 0.99705, 1e-5);
    props.OpenDatabase("/nonexistent.toml");
    EXPECT_NE(props.LastMessage().find("/nonexistent.toml"), std::string::npos);
    props.OpenDatabase(kBundled);
    EXPECT_EQ(props.LastMessage(), "");
    EXPECT_GT(props.FindSpecies("Na+"), 0);
}

// Seeded random calls with values in and out of range, including the missing-value
// marker: every result is a finite value or a failure of magnitude 1e33 and above.
TEST(EngineProps, RandomInputsNeverGiveNaN) {
    EngineProps props;
    props.OpenDatabase(kBundled);
    std::mt19937 rng(4711);
    std::uniform_real_distribution<float> uT(200, 1400), uP(-100, 12000), uRho(-0.2f, 1.8f),
        uEps(-5, 120);
    std::uniform_int_distribution<int> uCode(-3, 2100);
    auto sane = [](float v) { return std::isfinite(v) || std::fabs(v) >= 1e33f; };
    for (int i = 0; i < 3000; ++i) {
        const float T = uT(rng), P = uP(rng), rho = uRho(rng), eps = uEps(rng);
        const int16_t code = static_cast<int16_t>(uCode(rng));
        ASSERT_TRUE(sane(props.SaturationPressure(T)));
        ASSERT_TRUE(sane(props.WaterDensity(T, P, 0)));
        ASSERT_TRUE(sane(props.WaterValueA(T, rho)));
        ASSERT_TRUE(sane(props.WaterValueB(T, P, rho)));
        ASSERT_TRUE(sane(props.StartValueCode2(T, rho, -237000.0f)));
        ASSERT_TRUE(sane(props.StartValueLow(code, T, P, rho, eps)));
        ASSERT_TRUE(sane(props.StartValueHigh(code, T, P, rho, eps, 0)));
    }
}

} // namespace
} // namespace lumora
