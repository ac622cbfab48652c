// The database loader: the bundled file, species codes, and messages for bad files.

#include "engine/Database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

const char* kElements = R"toml(elements = [
  { symbol = "H", z = 1, mass = 1.008 },
  { symbol = "O", z = 8, mass = 15.999 },
  { symbol = "Cl", z = 17, mass = 35.45 },
]
)toml";

TEST(Database, BundledFileLoadsWithCodesInFileOrder) {
    Database db;
    std::string msg;
    ASSERT_TRUE(db.Load(kBundled, msg)) << msg;
    EXPECT_TRUE(msg.empty());
    ASSERT_GT(db.Count(), 10);
    EXPECT_EQ(db.Species(db.Find("H2O")).code, 0);
    EXPECT_EQ(db.Species(db.Find("H+")).code, 1);
    EXPECT_EQ(db.Species(db.Find("OH-")).code, 2);
    int lastHkf = 2;
    for (int i = 1; i <= db.Count(); ++i) {
        const SpeciesRecord& s = db.Species(i);
        EXPECT_FALSE(s.source.empty()) << s.name;
        if (s.model == SpeciesModel::Hkf) {
            EXPECT_EQ(s.code, lastHkf + 1) << s.name;
            lastHkf = s.code;
        }
        if (s.charge != 0) {
            EXPECT_GT(s.ionSize, 0) << s.name;
        }
    }
    EXPECT_EQ(db.Find("Unobtainium+"), -1);
    const ElementInfo* co = db.Element("Co");
    ASSERT_NE(co, nullptr);
    EXPECT_EQ(co->z, 27);
    EXPECT_EQ(db.ElementByZ(17)->symbol, "Cl");
    EXPECT_EQ(db.Element("Xx"), nullptr);
}

TEST(Database, HkfParametersAreReadAsWritten) {
    Database db;
    std::string msg;
    ASSERT_TRUE(db.Load(kBundled, msg)) << msg;
    const SpeciesRecord& na = db.Species(db.Find("Na+"));
    EXPECT_EQ(na.model, SpeciesModel::Hkf);
    EXPECT_DOUBLE_EQ(na.hkf.Gf, -62591);
    EXPECT_DOUBLE_EQ(na.hkf.omega, 0.3306);
    EXPECT_DOUBLE_EQ(na.hkf.c2, -2.981);
    EXPECT_EQ(na.charge, 1);
}

TEST(Database, LogKSpeciesGetTheirOwnCodes) {
    const std::string path = WriteTemp("logk.toml", std::string(kElements) + R"toml(
[[species]]
name = "H2O"
formula = "H2O"
model = "water"
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
name = "HCl(g)"
formula = "HCl"
phase = "gas"
model = "other"
source = "test"
)toml");
    Database db;
    std::string msg;
    ASSERT_TRUE(db.Load(path, msg)) << msg;
    const SpeciesRecord& k = db.Species(db.Find("Cl2-2"));
    EXPECT_EQ(k.code, 1024);
    ASSERT_EQ(k.logk.reactants.size(), 1u);
    EXPECT_EQ(k.logk.reactants[0].first, "Cl-");
    EXPECT_EQ(k.logk.reactants[0].second, 2);
    EXPECT_EQ(k.logk.a, 1.5);
    EXPECT_EQ(k.logk.b, -100);
    EXPECT_EQ(k.ionSize, kDefaultIonSize);
    EXPECT_EQ(db.Species(db.Find("HCl(g)")).code, 2048);
    EXPECT_EQ(db.Species(db.Find("Cl-")).code, 3);
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
    const std::string sp = R"toml([[species]]
name = "X"
formula = "Cl"
model = "hkf"
source = "test"
)toml";
    const Case cases[] = {
        {"syntax", std::string(kElements) + "[[species]]\nname = \"X\nformula = 1\n", 7, "string"},
        {"no elements", "x = 1\n", 0, "missing 'elements'"},
        {"no species", kElements, 0, "missing 'species'"},
        {"missing hkf table", std::string(kElements) + sp, 6, "missing table 'hkf'"},
        {"unknown element",
         std::string(kElements) + "[[species]]\nname = \"X\"\nformula = \"Xq\"\nmodel = \"other\"\n"
                                  "source = \"s\"\n",
         8, "unknown element 'Xq'"},
        {"unknown model",
         std::string(kElements) + "[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = \"magic\"\n"
                                  "source = \"s\"\n",
         9, "unknown model 'magic'"},
        {"text for number",
         std::string(kElements) + "[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = \"hkf\"\n"
                                  "source = \"s\"\nhkf = { Gf = \"a\", Hf = 0, S = 0, a1 = 0, a2 = "
                                  "0, a3 = 0, a4 = 0, c1 = 0, c2 = 0, omega = 0 }\n",
         11, "'Gf' must be a finite number"},
        {"duplicate",
         std::string(kElements) +
             "[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = \"other\"\nsource = "
             "\"s\"\n[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = "
             "\"other\"\nsource = \"s\"\n",
         12, "defined twice"},
        {"later reactant",
         std::string(kElements) + "[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = \"logk\"\n"
                                  "source = \"s\"\nlogk = { reaction = { \"Y\" = 1 } }\n",
         11, "reactant 'Y' must be defined earlier"},
        {"bad element", "elements = [ { symbol = \"h\", z = 1, mass = 1 } ]\n", 1,
         "invalid element symbol"},
        {"missing source",
         std::string(kElements) +
             "[[species]]\nname = \"X\"\nformula = \"Cl\"\nmodel = \"other\"\n",
         6, "missing 'source'"},
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

} // namespace
} // namespace lumora
