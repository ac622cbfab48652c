// The solver and system reader components with the bundled database and system files:
// messages, options, published check values, overrides, warm starts and bad input.

#include "engine/EngineFactory.h"
#include "engine/EngineSolver.h"
#include "engine/EngineSysReader.h"
#include "engine/Formula.h"

#include "FuzzyCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

namespace lumora {
namespace {

namespace fs = std::filesystem;

const std::string kData = LUMORA_ENGINE_DATA_DIR;
const std::string kCoSystem = kData + "/systems/co-na-cl.toml";
const std::string kCuSystem = kData + "/systems/cu2-na-cl.toml";
constexpr double kR = 8.31446261815324;

fs::path Scratch() {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "solver-test";
    fs::create_directories(dir);
    return dir;
}

std::string WriteFile(const std::string& name, const std::string& text) {
    const fs::path p = Scratch() / name;
    std::ofstream(p) << text;
    return p.string();
}

class SolverTest : public ::testing::Test {
protected:
    void Open(const std::string& system, const std::string& options = "/mode=1") {
        solver.SetOptions(options);
        ASSERT_EQ(solver.LastMessage(), "");
        solver.OpenDatabase(kData + "/thermo.toml");
        ASSERT_EQ(solver.LastMessage(), "");
        solver.OpenSystem(system);
        ASSERT_EQ(solver.LastMessage(), "System file accepted");
        amounts.assign(static_cast<size_t>(solver.System().lastAq) + 1, 0.0);
    }
    int Index(const std::string& name) const {
        const auto& sp = solver.System().spName;
        for (size_t i = 1; i < sp.size(); ++i)
            if (sp[i] == name) return static_cast<int>(i);
        return -1;
    }
    int Element(const std::string& symbol) const {
        const int z = solver.Db().Element(symbol)->z;
        for (int m = 1; m <= solver.System().nElem; ++m)
            if (solver.System().elemCode[m] == z) return m;
        return -1;
    }
    /// Bulk of 1 kg water with the given substances (formula, mol).
    std::vector<double> Bulk(const std::vector<std::pair<std::string, double>>& parts) const {
        std::vector<double> b(static_cast<size_t>(solver.System().nElem) + 1, 0.0);
        b[0] = kWaterMolality;
        for (const auto& [formula, mol] : parts) {
            std::vector<std::pair<int, double>> el;
            std::string problem;
            EXPECT_TRUE(ParseFormula(solver.Db(), formula, el, problem)) << problem;
            for (const auto& [z, n] : el)
                for (int m = 1; m <= solver.System().nElem; ++m)
                    if (solver.System().elemCode[m] == z) b[m] += n * mol;
        }
        return b;
    }
    int16_t Run(float t, float p, const std::vector<double>& bulk) {
        int16_t code = -99;
        std::vector<double> w1(1), w2(amounts.size());
        solver.Equilibrate(t, p, w1, bulk, amounts, w2, code);
        return code;
    }
    double Molality(const std::string& name) const {
        const int first = solver.System().phases.back().offset + 1;
        return amounts[Index(name)] * kWaterMolality / amounts[first];
    }
    double LogQ(const std::string& complex, int n) const {
        return std::log10(Molality(complex) / (Molality("Co+2") * std::pow(Molality("Cl-"), n)));
    }

    EngineSolver solver;
    std::vector<double> amounts;
};

// ---- Components, system files and messages -------------------------------------------

TEST(SolverComponents, FactoryAndVersion) {
    auto solver = CreateSolver();
    auto reader = CreateSysReader();
    ASSERT_NE(solver, nullptr);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(solver->Version(), 70);
    EXPECT_EQ(reader->Version(), 70);
}

TEST(SystemReader, FillsTheRecordOfABundledSystem) {
    EngineSysReader reader;
    SysRec rec;
    reader.ReadSystem(kCoSystem, rec);
    ASSERT_EQ(reader.LastMessage(), "");
    EXPECT_EQ(rec.nElem, 5);
    EXPECT_EQ(rec.elemCode, (std::vector<int16_t>{0, 1, 8, 11, 17, 27}));
    EXPECT_EQ(rec.nAq, 12);
    EXPECT_EQ(rec.lastAq, 12);
    EXPECT_EQ(rec.nPmc, 0);
    ASSERT_EQ(rec.phases.size(), 1u);
    EXPECT_EQ(rec.phases[0].offset, 0);
    EXPECT_EQ(rec.phases[0].nSpecies, 12);
    EXPECT_EQ(rec.spName[0], "");
    EXPECT_EQ(rec.spName[1], "H2O");
    EXPECT_EQ(rec.spName[12], "CoCl4-2");
    // The bare name resolves in the bundled systems folder.
    SysRec again;
    reader.ReadSystem("co-na-cl.toml", again);
    EXPECT_EQ(again.spName, rec.spName);
}

TEST(SystemReader, BadFilesNameFileLineAndProblem) {
    struct Case {
        const char* file;
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"syntax.toml", "[[phase]\nname = \"aqueous\"\n", "line 1"},
        {"unknown.toml", "[[phase]]\nname = \"aqueous\"\nspecies = [\"H2O\",\n  \"Xx+\"]\n",
         "line 4: unknown species \"Xx+\""},
        {"noaq.toml", "[[phase]]\nname = \"gas\"\nkind = \"gas\"\nspecies = [\"H2O\"]\n",
         "no aqueous phase"},
        {"waterlast.toml", "[[phase]]\nname = \"aqueous\"\nspecies = [\"Na+\", \"H2O\"]\n",
         "line 3: the aqueous phase must list water first"},
        {"twice.toml", "[[phase]]\nname = \"aqueous\"\nspecies = [\"H2O\", \"Na+\", \"Na+\"]\n",
         "listed twice"},
        {"key.toml", "colour = \"red\"\n[[phase]]\nname = \"aqueous\"\nspecies = [\"H2O\"]\n",
         "line 1: unknown key 'colour'"},
        {"nophase.toml", "database = \"thermo.toml\"\n", "no [[phase]] tables"},
    };
    EngineSysReader reader;
    for (const Case& c : cases) {
        const std::string path = WriteFile(c.file, c.text);
        SysRec rec;
        reader.ReadSystem(path, rec);
        EXPECT_EQ(rec.nAq, 0) << c.file;
        EXPECT_NE(reader.LastMessage().find(path), std::string::npos) << reader.LastMessage();
        EXPECT_NE(reader.LastMessage().find(c.says), std::string::npos)
            << c.file << ": " << reader.LastMessage();
        EngineSolver solver;
        solver.OpenSystem(path);
        EXPECT_NE(solver.LastMessage().find(c.says), std::string::npos)
            << c.file << ": " << solver.LastMessage();
    }
    SysRec rec;
    reader.ReadSystem((Scratch() / "absent.toml").string(), rec);
    EXPECT_EQ(rec.nAq, 0);
    EXPECT_NE(reader.LastMessage().find("file not found"), std::string::npos);
}

TEST(SystemReader, PureMineralComponentIsCountedAndNotEquilibrated) {
    std::ifstream in(kData + "/thermo.toml");
    std::string db((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    db += "\n[[species]]\nname = \"Halite\"\nformula = \"NaCl\"\nphase = \"mineral\"\n"
          "model = \"other\"\nsource = \"test mineral\"\n";
    const std::string dbPath = WriteFile("mineral-db.toml", db);
    const std::string sys =
        WriteFile("halite.toml", "database = \"mineral-db.toml\"\n[[phase]]\nname = \"aqueous\"\n"
                                 "species = [\"H2O\", \"H+\", \"OH-\", \"Na+\", \"Cl-\"]\n"
                                 "[[phase]]\nname = \"Halite\"\nspecies = [\"Halite\"]\n");
    EngineSysReader reader;
    SysRec rec;
    reader.ReadSystem(sys, rec);
    ASSERT_EQ(reader.LastMessage(), "");
    EXPECT_EQ(rec.nPmc, 1);
    ASSERT_EQ(rec.phases.size(), 2u);
    EXPECT_EQ(rec.phases[0].name, "Halite");
    EXPECT_EQ(rec.phases[0].offset, 0);
    EXPECT_EQ(rec.phases[1].offset, 1);
    EXPECT_EQ(rec.spName[1], "Halite");
    EXPECT_EQ(rec.spName[2], "H2O");
    EXPECT_EQ(rec.nAq, 5);
    EXPECT_EQ(rec.lastAq, 6);

    EngineSolver solver;
    solver.OpenDatabase(dbPath);
    solver.OpenSystem(sys);
    ASSERT_EQ(solver.LastMessage(), "System file accepted");
    std::vector<double> bulk(static_cast<size_t>(rec.nElem) + 1, 0.1), amounts(7, 5.0), w(1);
    bulk[0] = kWaterMolality;
    int16_t code = 0;
    solver.Equilibrate(25, 1, w, bulk, amounts, w, code);
    EXPECT_EQ(code, kEqUnsupported);
    EXPECT_NE(solver.LastMessage().find("other phases"), std::string::npos);
    for (double v : amounts) EXPECT_EQ(v, 0.0);
}

TEST(SystemReader, SolverRefusesADatabaseThatOrdersTheElementsDifferently) {
    // The system file names a database in which Na+ is made of K: the system reader
    // would number the elements H, O, K, Cl while the solver's database gives H, O, Na, Cl.
    std::ifstream in(kData + "/thermo.toml");
    std::string db((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "name = \"Na+\"\nformula = \"Na\"";
    ASSERT_NE(db.find(from), std::string::npos);
    db.replace(db.find(from), from.size(), "name = \"Na+\"\nformula = \"K\"");
    WriteFile("potassium-db.toml", db);
    const std::string sys =
        WriteFile("odd-db.toml", "database = \"potassium-db.toml\"\n[[phase]]\nname = \"aqueous\"\n"
                                 "species = [\"H2O\", \"H+\", \"OH-\", \"Na+\", \"Cl-\"]\n");
    EngineSolver solver;
    solver.OpenDatabase(kData + "/thermo.toml");
    solver.OpenSystem(sys);
    EXPECT_NE(solver.LastMessage().find("orders the elements differently"), std::string::npos)
        << solver.LastMessage();
    // Without a database of its own the solver takes the one the system names.
    EngineSolver own;
    own.OpenSystem(sys);
    EXPECT_EQ(own.LastMessage(), "System file accepted");
    EngineSysReader reader;
    SysRec rec;
    reader.ReadSystem(sys, rec);
    EXPECT_EQ(rec.elemCode, own.System().elemCode);
}

TEST(SolverOptions, KnownSwitchesAcceptedOthersRefused) {
    struct Case {
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {"", true},
        {"/mode=1", true},
        {"/activity=ideal/mode=1", true},
        {"  /TOL=1e-12 /maxit=50 /mode=0 ", true},
        {"/foo=1", false},
        {"/mode=2", false},
        {"mode=1", false},
        {"/tol=5", false},
        {"/maxit=2.5", false},
    };
    for (const Case& c : cases) {
        EngineSolver solver;
        solver.SetOptions(c.text);
        if (c.ok)
            EXPECT_EQ(solver.LastMessage(), "") << c.text;
        else
            EXPECT_NE(solver.LastMessage(), "") << c.text;
    }
    EngineSolver solver;
    solver.SetOptions("/activity=ideal/mode=1");
    solver.SetOptions("/mode=1/bogus");
    EXPECT_NE(solver.LastMessage().find("\"/bogus\""), std::string::npos) << solver.LastMessage();
    EXPECT_EQ(solver.Options().activity, ActivityModel::Ideal); // a refused text changes nothing
}

TEST(SolverOptions, DatabaseAndSystemFailures) {
    EngineSolver solver;
    solver.OpenDatabase((Scratch() / "no-such-db.toml").string());
    EXPECT_NE(solver.LastMessage().find("no-such-db.toml"), std::string::npos);
    solver.OpenSystem((Scratch() / "no-such-system.toml").string());
    EXPECT_NE(solver.LastMessage().find("file not found"), std::string::npos);
    std::vector<double> bulk{kWaterMolality, 0, 0}, amounts(4, 3.0), w(1);
    int16_t code = 0;
    solver.Equilibrate(25, 1, w, bulk, amounts, w, code);
    EXPECT_EQ(code, kEqNoSystem);
    EXPECT_EQ(solver.LastMessage(), "Vexil: no system is open");
    for (double v : amounts) EXPECT_EQ(v, 0.0);
}

// ---- Published check values ----------------------------------------------------------

TEST_F(SolverTest, PureWaterPhAgainstPublishedIonProduct) {
    // pKw: 13.995 at 25 C, 1 bar (Bandura and Lvov 2006, J. Phys. Chem. Ref. Data 35, 15);
    // 11.300 at 300 C on the saturation curve (SUPCRT92). Pure water: pH = pKw / 2.
    Open(kCoSystem);
    struct Case {
        float t, p;
        double pKw, tol;
    };
    for (const Case& c : {Case{25, 1, 13.995, 0.005}, Case{300, 0, 11.300, 0.03}}) {
        ASSERT_EQ(Run(c.t, c.p, Bulk({})), 0) << solver.LastMessage();
        EXPECT_EQ(solver.LastMessage(), "OK");
        const double pH = -std::log10(Molality("H+") * solver.Gamma(Index("H+")));
        EXPECT_NEAR(pH, c.pKw / 2, c.tol) << c.t;
        EXPECT_FUZZY(Molality("H+"), Molality("OH-"), 1e-12);
        EXPECT_EQ(amounts[Index("Co+2")], 0.0);
    }
}

TEST_F(SolverTest, CobaltChlorideDistributionMatchesSupcrtLogBeta) {
    // log beta_n = log K(CoCl_n) - log K(Co+2) - n log K(Cl-) of the SUPCRT92 table
    // (Liu et al. 2011 complexes, Shock et al. 1997 Co+2), ideal solution.
    Open(kCoSystem, "/activity=ideal");
    struct Case {
        float t, p;
        double b1, b2, b4;
    };
    const Case cases[] = {
        {25, 1, 33.064 - 9.529 - 23.001, 55.549 - 9.529 - 2 * 23.001, 98.333 - 9.529 - 4 * 23.001},
        {300, 0, 16.407 - 1.667 - 12.014, 29.340 - 1.667 - 2 * 12.014, 54.295 - 1.667 - 4 * 12.014},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Run(c.t, c.p, Bulk({{"NaCl", 1.0}, {"CoCl2", 0.01}})), 0) << solver.LastMessage();
        EXPECT_NEAR(LogQ("CoCl+", 1), c.b1, 0.03) << c.t;
        EXPECT_NEAR(LogQ("CoCl2(aq)", 2), c.b2, 0.03) << c.t;
        EXPECT_NEAR(LogQ("CoCl4-2", 4), c.b4, 0.03) << c.t;
    }
}

// ---- Overrides, warm starts, balances --------------------------------------------------

TEST_F(SolverTest, SetSpeciesGShiftsTheDistributionAsLogK) {
    Open(kCoSystem, "/activity=ideal/mode=1");
    const auto bulk = Bulk({{"NaCl", 0.5}, {"CoCl2", 0.02}, {"HCl", 0.01}});
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double q0 = LogQ("CoCl+", 1);
    const double fraction0 = Molality("CoCl+");
    const float g1 = -190.0f, g2 = -194.5f;
    const int i = Index("CoCl+");
    solver.SetSpeciesG(static_cast<int16_t>(i), g1);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double q1 = LogQ("CoCl+", 1);
    solver.SetSpeciesG(static_cast<int16_t>(i), g2);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double q2 = LogQ("CoCl+", 1);
    const double rtLn10 = kR * (200 + 273.15) * std::log(10.0);
    EXPECT_FUZZY(q2 - q1, -(static_cast<double>(g2) - static_cast<double>(g1)) * 1000 / rtLn10,
                 1e-8);
    EXPECT_NE(q1, q0);
    // Reopening the system drops the override.
    solver.OpenSystem(kCoSystem);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    EXPECT_FUZZY(LogQ("CoCl+", 1), q0, 1e-12);
    EXPECT_FUZZY(Molality("CoCl+"), fraction0, 1e-10);
    // An index outside the system is refused with a message, nothing else changes.
    solver.SetSpeciesG(99, -1.0f);
    EXPECT_NE(solver.LastMessage().find("not in the system"), std::string::npos);
}

/// Element and charge balances of a solver result against its bulk.
void ExpectBalanced(const EngineSolver& s, const std::vector<double>& bulk,
                    const std::vector<double>& n, double tol) {
    const SysRec& rec = s.System();
    const int first = rec.phases.back().offset + 1;
    for (int m = 0; m <= rec.nElem; ++m) {
        double sum = 0, scale = 0, target = 0;
        for (int i = first; i <= rec.lastAq; ++i) {
            const SpeciesRecord& sp = s.Db().Species(s.Db().Find(rec.spName[i]));
            double c = sp.charge;
            if (m > 0) {
                std::vector<std::pair<int, double>> el;
                std::string problem;
                ParseFormula(s.Db(), sp.formula, el, problem);
                c = 0;
                for (const auto& [z, k] : el)
                    if (z == rec.elemCode[m]) c = k;
                if (i == first) target = bulk[0] * c;
            }
            sum += c * n[i];
            scale += std::fabs(c * n[i]);
        }
        if (m > 0) target += bulk[m];
        EXPECT_LE(std::fabs(sum - target), tol * std::max(scale, std::fabs(target)))
            << "element " << m;
    }
    for (double v : n) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0.0);
    }
}

TEST_F(SolverTest, RandomCopperCompositionsBalancedAndWarmEqualsCold) {
    Open(kCuSystem, "/mode=1");
    EngineSolver cold;
    cold.OpenDatabase(kData + "/thermo.toml");
    cold.OpenSystem(kCuSystem);
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<double> u(0, 1);
    const float temps[] = {25, 100, 200, 300};
    for (int k = 0; k < 120; ++k) {
        const float t = temps[k % 4];
        const auto bulk = Bulk({{"NaCl", std::pow(10, -3 + 3.6 * u(rng))},
                                {"CuCl2", std::pow(10, -7 + 6 * u(rng))},
                                {"HCl", std::pow(10, -7 + 6.5 * u(rng))}});
        ASSERT_EQ(Run(t, 0, bulk), 0) << solver.LastMessage();
        ExpectBalanced(solver, bulk, amounts, 1e-12);
        std::vector<double> n(amounts.size()), w(1);
        int16_t code = 0;
        cold.Equilibrate(t, 0, w, bulk, n, w, code);
        ASSERT_EQ(code, 0);
        for (size_t i = 1; i < n.size(); ++i) EXPECT_FUZZY(amounts[i], n[i], 1e-10) << i;
    }
    solver.SetControl(27, 0);
    const auto bulk = Bulk({{"NaCl", 1.0}, {"CuCl2", 0.01}});
    ASSERT_EQ(Run(250, 0, bulk), 0);
    ExpectBalanced(solver, bulk, amounts, 1e-12);
}

TEST_F(SolverTest, LooseToleranceStillGivesAResult) {
    Open(kCoSystem, "/tol=1e-6/maxit=5");
    const auto bulk = Bulk({{"NaCl", 1.0}, {"CoCl2", 0.05}});
    ASSERT_EQ(Run(100, 0, bulk), 0) << solver.LastMessage();
    ExpectBalanced(solver, bulk, amounts, 1e-4);
}

TEST_F(SolverTest, EveryBundledSystemReadsAndEquilibrates) {
    struct Case {
        const char* file;
        const char* salt;
        int elements;
    };
    const Case cases[] = {
        {"co-na-cl.toml", "CoCl2", 5}, {"cu2-na-cl.toml", "CuCl2", 5},
        {"cu1-na-cl.toml", "CuCl", 5}, {"ni-na-cl.toml", "NiCl2", 5},
        {"zn-na-cl.toml", "ZnCl2", 5}, {"fe2-na-cl.toml", "FeCl2", 5},
        {"na-cl.toml", nullptr, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EngineSysReader reader;
        SysRec rec;
        reader.ReadSystem(c.file, rec);
        ASSERT_EQ(reader.LastMessage(), "");
        EXPECT_EQ(rec.nElem, c.elements);
        Open(kData + "/systems/" + c.file);
        EXPECT_EQ(solver.System().spName, rec.spName);
        EXPECT_EQ(solver.System().elemCode, rec.elemCode);
        std::vector<std::pair<std::string, double>> parts = {{"NaCl", 2.0}, {"HCl", 0.05}};
        if (c.salt) parts.emplace_back(c.salt, 0.02);
        const auto bulk = Bulk(parts);
        for (float t : {25.0f, 150.0f, 300.0f}) {
            ASSERT_EQ(Run(t, 0, bulk), 0) << t << ": " << solver.LastMessage();
            ExpectBalanced(solver, bulk, amounts, 1e-12);
        }
    }
}

TEST_F(SolverTest, BadInputGivesCodesAndMessagesNeverNaN) {
    Open(kCoSystem);
    struct Case {
        const char* what;
        float t, p;
        std::vector<double> bulk;
        int16_t code;
        const char* says;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"NaN temperature", nan, 1, Bulk({{"NaCl", 0.1}}), kEqBadInput, "temperature"},
        {"negative pressure", 25, -5, Bulk({{"NaCl", 0.1}}), kEqBadInput, "pressure"},
        {"NaN in bulk", 25, 1, {kWaterMolality, 0, 0, nan, 0, 0}, kEqBadInput, "not a number"},
        {"sodium without anion", 25, 1, Bulk({{"Na", 0.1}}), kEqInfeasible, "neutral"},
        {"no water", 25, 1, {0, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "no water"},
        {"beyond the water model", 2000, 1, Bulk({{"NaCl", 0.1}}), kEqNoSystem, "water"},
    };
    for (const Case& c : cases) {
        std::fill(amounts.begin(), amounts.end(), 9.0);
        EXPECT_EQ(Run(c.t, c.p, c.bulk), c.code) << c.what;
        EXPECT_NE(solver.LastMessage().find(c.says), std::string::npos)
            << c.what << ": " << solver.LastMessage();
        for (double v : amounts) EXPECT_EQ(v, 0.0) << c.what;
    }
    // A good call afterwards works and says "OK".
    EXPECT_EQ(Run(25, 1, Bulk({{"NaCl", 0.1}})), 0);
    EXPECT_EQ(solver.LastMessage(), "OK");
}

TEST_F(SolverTest, ZeroAmountElementsDropTheirSpecies) {
    Open(kCoSystem);
    const auto bulk = Bulk({{"NaCl", 0.3}});
    ASSERT_EQ(Run(150, 0, bulk), 0) << solver.LastMessage();
    for (const char* name : {"Co+2", "CoCl+", "CoCl2(aq)", "CoCl4-2"})
        EXPECT_EQ(amounts[Index(name)], 0.0) << name;
    EXPECT_GT(Molality("NaCl(aq)"), 0.0);
    ExpectBalanced(solver, bulk, amounts, 1e-12);
    // The background electrolyte and the full solution alternate, as in a goal function.
    const auto full = Bulk({{"NaCl", 0.3}, {"CoCl2", 0.01}});
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(Run(150, 0, full), 0);
        EXPECT_GT(amounts[Index("CoCl+")], 0.0);
        ASSERT_EQ(Run(150, 0, bulk), 0);
        EXPECT_EQ(amounts[Index("CoCl+")], 0.0);
    }
}

} // namespace
} // namespace lumora
