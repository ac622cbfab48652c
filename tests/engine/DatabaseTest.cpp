// The database loader and chemical formulas: the bundled file, species codes, the log K
// model, and messages for bad files and bad formulas.

#include "engine/Database.h"
#include "engine/Formula.h"
#include "engine/HkfEquation.h"
#include "engine/WaterState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <string>

namespace lumora {
namespace {

const std::string kBundled = std::string(LUMORA_ENGINE_DATA_DIR) + "/thermo.toml";

/// Writes `text` to a file of its own in the build folder and returns the path.
std::string WriteTemp(const std::string& name, const std::string& text) {
    const std::string path = std::string(LUMORA_TEST_BUILD_DIR) + "/" + name;
    std::ofstream(path) << text;
    return path;
}

const Database& Db() {
    static Database db = [] {
        Database d;
        std::string msg;
        EXPECT_TRUE(d.Load(kBundled, msg)) << msg;
        EXPECT_TRUE(msg.empty());
        return d;
    }();
    return db;
}

const char* kElements = R"toml(elements = [
  { symbol = "H", z = 1, mass = 1.008 },
  { symbol = "O", z = 8, mass = 15.999 },
  { symbol = "Na", z = 11, mass = 22.98976928 },
  { symbol = "Cl", z = 17, mass = 35.45 },
]
)toml";

TEST(Database, BundledFileLoadsWithCodesInFileOrder) {
    ASSERT_GT(Db().Count(), 10);
    EXPECT_EQ(Db().Species(Db().Find("H2O")).code, 0);
    EXPECT_EQ(Db().Species(Db().Find("H+")).code, 1);
    EXPECT_EQ(Db().Species(Db().Find("OH-")).code, 2);
    int lastHkf = 2;
    for (int i = 1; i <= Db().Count(); ++i) {
        const SpeciesRecord& s = Db().Species(i);
        EXPECT_FALSE(s.source.empty()) << s.name;
        if (s.model == SpeciesModel::Hkf) {
            EXPECT_EQ(s.code, lastHkf + 1) << s.name;
            lastHkf = s.code;
        }
        if (s.charge != 0) {
            EXPECT_GT(s.ionSize, 0) << s.name;
        }
    }
    EXPECT_EQ(Db().Find("Unobtainium+"), -1);
    ASSERT_NE(Db().Element("Co"), nullptr);
    EXPECT_EQ(Db().Element("Co")->z, 27);
    EXPECT_EQ(Db().ElementByZ(17)->symbol, "Cl");
    EXPECT_EQ(Db().Element("Xx"), nullptr);
}

// Log K species get codes from 1024, other phases from 2048; G follows the formation
// reaction with log K = a + b/T + c/T^2 + d/T^3 + (e + f/T + g/T^2) log10(rho).
TEST(Database, LogKSpeciesGetTheirCodesAndGibbsFromTheirReaction) {
    const std::string path = WriteTemp("logk.toml", std::string(kElements) + R"toml(
[[species]]
name = "H2O"
formula = "H2O"
model = "water"
source = "test"
[[species]]
name = "Na+"
formula = "Na"
charge = 1
model = "hkf"
hkf = { Gf = -62591, Hf = -57433, S = 13.96, a1 = 1.839, a2 = -2.285, a3 = 3.256, a4 = -2.726, c1 = 18.18, c2 = -2.981, omega = 0.3306 }
source = "test"
[[species]]
name = "Cl-"
formula = "Cl"
charge = -1
model = "hkf"
hkf = { Gf = -31379, Hf = -39933, S = 13.56, a1 = 4.032, a2 = 4.801, a3 = 5.563, a4 = -2.847, c1 = -4.40, c2 = -5.714, omega = 1.456 }
source = "test"
[[species]]
name = "Cl2-2"
formula = "Cl2"
charge = -2
model = "logk"
logk = { reaction = { "Cl-" = 2 }, a = 1.5, b = -100 }
source = "test"
[[species]]
name = "NaCl(aq)"
formula = "NaCl"
model = "logk"
logk = { reaction = { "Na+" = 1, "Cl-" = 1 }, a = -0.5, b = 300, c = 2e4, d = -1e6, e = 2.0, f = -50, g = 3e3 }
source = "test"
[[species]]
name = "HCl(g)"
formula = "HCl"
phase = "gas"
model = "other"
source = "test"
)toml");
    Database db;
    std::string msg;
    ASSERT_TRUE(db.Load(path, msg)) << msg;
    EXPECT_EQ(db.Species(db.Find("Cl-")).code, 4);
    const SpeciesRecord& k = db.Species(db.Find("Cl2-2"));
    EXPECT_EQ(k.code, 1024);
    EXPECT_EQ(k.logk.reactants, (std::vector<std::pair<std::string, double>>{{"Cl-", 2}}));
    EXPECT_EQ(k.ionSize, kDefaultIonSize);
    EXPECT_EQ(db.Species(db.Find("NaCl(aq)")).code, 1025);
    EXPECT_EQ(db.Species(db.Find("HCl(g)")).code, 2048);

    const WaterState w = WaterAt(473.15, 100);
    ASSERT_TRUE(w.ok);
    double gNa = 0, gCl = 0, g = 0;
    ASSERT_TRUE(StandardGibbs(db, db.Find("Na+"), w, gNa));
    ASSERT_TRUE(StandardGibbs(db, db.Find("Cl-"), w, gCl));
    ASSERT_TRUE(StandardGibbs(db, db.Find("NaCl(aq)"), w, g));
    const double T = w.T;
    const double logK = -0.5 + 300 / T + 2e4 / (T * T) - 1e6 / (T * T * T) +
                        (2.0 - 50 / T + 3e3 / (T * T)) * std::log10(w.rho);
    EXPECT_NEAR(g, gNa + gCl - 8.31446261815324 * T * std::log(10.0) * logK, 1e-6);
    // Other phases have no standard-state model: refused, the value left alone.
    g = 12345;
    EXPECT_FALSE(StandardGibbs(db, db.Find("HCl(g)"), w, g));
    EXPECT_EQ(g, 12345);
}

// Each malformed file must be refused with the file name, the line of the problem
// and a description of it.
TEST(Database, MalformedFilesNameFileLineAndProblem) {
    struct Case {
        const char* label;
        std::string text;
        int line;
        const char* expected;
    };
    const std::string el = kElements;
    const std::string sp = "[[species]]\nname = \"X\"\nformula = \"Cl\"\n";
    const Case cases[] = {
        {"syntax", el + "[[species]]\nname = \"X\nformula = 1\n", 8, "string"},
        {"no elements", "x = 1\n", 0, "missing 'elements'"},
        {"no species", el, 0, "missing 'species'"},
        {"missing hkf table", el + sp + "model = \"hkf\"\nsource = \"test\"\n", 7,
         "missing table 'hkf'"},
        {"unknown element",
         el + "[[species]]\nname = \"X\"\nformula = \"Xq\"\nmodel = \"other\"\nsource = \"s\"\n", 9,
         "unknown element 'Xq'"},
        {"unknown model", el + sp + "model = \"magic\"\nsource = \"s\"\n", 10,
         "unknown model 'magic'"},
        {"text for number",
         el + sp +
             "model = \"hkf\"\nsource = \"s\"\nhkf = { Gf = \"a\", Hf = 0, S = 0, a1 = 0, "
             "a2 = 0, a3 = 0, a4 = 0, c1 = 0, c2 = 0, omega = 0 }\n",
         12, "'Gf' must be a finite number"},
        {"duplicate",
         el + sp + "model = \"other\"\nsource = \"s\"\n" + sp +
             "model = \"other\"\nsource = \"s\"\n",
         13, "defined twice"},
        {"later reactant",
         el + sp + "model = \"logk\"\nsource = \"s\"\nlogk = { reaction = { \"Y\" = 1 } }\n", 12,
         "reactant 'Y' must be defined earlier"},
        {"bad element", "elements = [ { symbol = \"h\", z = 1, mass = 1 } ]\n", 1,
         "invalid element symbol"},
        {"missing source", el + sp + "model = \"other\"\n", 7, "missing 'source'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = WriteTemp("bad.toml", c.text);
        Database db;
        std::string msg;
        EXPECT_FALSE(db.Load(path, msg));
        EXPECT_EQ(msg.rfind(path, 0), 0u) << msg;
        if (c.line > 0) {
            EXPECT_NE(msg.find(", line " + std::to_string(c.line) + ":"), std::string::npos) << msg;
        }
        EXPECT_NE(msg.find(c.expected), std::string::npos) << msg;
        EXPECT_EQ(db.Count(), 0);
    }
}

TEST(Database, MissingFileIsRefusedAndOldContentKept) {
    Database db;
    std::string msg;
    ASSERT_TRUE(db.Load(kBundled, msg)) << msg;
    const int count = db.Count();
    EXPECT_FALSE(db.Load("/nonexistent/thermo.toml", msg));
    EXPECT_NE(msg.find("/nonexistent/thermo.toml"), std::string::npos);
    EXPECT_EQ(db.Count(), count);
    EXPECT_NE(db.Element("Co"), nullptr);
    EXPECT_EQ(db.Path(), kBundled);
}

// Element amounts by atomic number; the order of first appearance is what
// EngineProps::FormulaElements reports (EnginePropsTest).
TEST(Formula, KnownFormulas) {
    const struct {
        const char* formula;
        std::map<int, double> expected;
    } cases[] = {
        {"H2O", {{1, 2}, {8, 1}}},
        {"NaCl", {{11, 1}, {17, 1}}},
        {"Co(ClO4)2", {{27, 1}, {17, 2}, {8, 8}}},
        {"CoCl2*6H2O", {{27, 1}, {17, 2}, {1, 12}, {8, 6}}},
        {"CoCl2\xC2\xB7"
         "6H2O",
         {{27, 1}, {17, 2}, {1, 12}, {8, 6}}},
        {"Fe0.5Cl1.5", {{26, 0.5}, {17, 1.5}}},
        {"Cu[Cl2(OH)]2", {{29, 1}, {17, 4}, {8, 2}, {1, 2}}},
        {"CoCl4-2", {{27, 1}, {17, 4}}},
        {"CoCl+", {{27, 1}, {17, 1}}},
        {"NaCl(aq)", {{11, 1}, {17, 1}}},
        {"NaOH", {{11, 1}, {8, 1}, {1, 1}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<int, double>> el;
        std::string problem;
        EXPECT_TRUE(ParseFormula(Db(), c.formula, el, problem)) << c.formula << ": " << problem;
        EXPECT_EQ((std::map<int, double>{el.begin(), el.end()}), c.expected) << c.formula;
    }
}

TEST(Formula, BadFormulasReportTheProblem) {
    const struct {
        const char* formula;
        const char* problem;
    } cases[] = {
        {"Xy2", "unknown element 'Xy'"},
        {"NaCl)", "unbalanced ')'"},
        {"Co(Cl", "unbalanced '('"},
        {"", "empty formula"},
        {"nacl", "missing element at position 1"},
        {"Co()", "empty group"},
        {"CoCl2*", "nothing after the hydrate separator"},
        {"CoCl2#", "unexpected '#' at position 6"},
        {"Na1.2.3", "invalid number"},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<int, double>> el{{1, 1}};
        std::string problem;
        EXPECT_FALSE(ParseFormula(Db(), c.formula, el, problem)) << c.formula;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.formula << ": " << problem;
        EXPECT_TRUE(el.empty());
    }
}

} // namespace
} // namespace lumora
