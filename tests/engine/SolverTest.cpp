// The solver and system reader components with the bundled database and system files:
// messages, options, published check values, overrides, balances and bad input.

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
constexpr double kR = 8.31446261815324;

/// Writes a file into the suite's scratch folder; the path.
std::string WriteFile(const std::string& name, const std::string& text) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "solver-test";
    fs::create_directories(dir);
    std::ofstream(dir / name) << text;
    return (dir / name).string();
}

/// The bundled database with `from` replaced by `to`, written as `name`.
std::string EditedDatabase(const std::string& name, const std::string& from,
                           const std::string& to) {
    std::ifstream in(kData + "/thermo.toml");
    std::string db((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = from.empty() ? db.size() : db.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return WriteFile(name, db.replace(at, from.size(), to));
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
        return static_cast<int>(std::find(sp.begin(), sp.end(), name) - sp.begin());
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

// ---- System files, options and messages ----------------------------------------------

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
        {"absent.toml", nullptr, "file not found"},
    };
    EngineSysReader reader;
    for (const Case& c : cases) {
        const std::string path = c.text ? WriteFile(c.file, c.text)
                                        : (fs::path(LUMORA_TEST_BUILD_DIR) / c.file).string();
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
}

// A mineral comes before the aqueous phase in the numbering; the solver refuses to
// equilibrate without it rather than leave it out.
TEST(SystemReader, PureMineralComponentIsCountedAndNotEquilibrated) {
    const std::string dbPath =
        EditedDatabase("mineral-db.toml", "",
                       "\n[[species]]\nname = \"Halite\"\nformula = \"NaCl\"\nphase = \"mineral\"\n"
                       "model = \"other\"\nsource = \"test mineral\"\n");
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
    EXPECT_EQ(rec.phases[1].offset, 1);
    EXPECT_EQ(rec.spName,
              (std::vector<std::string>{"", "Halite", "H2O", "H+", "OH-", "Na+", "Cl-"}));
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
    EditedDatabase("potassium-db.toml", "name = \"Na+\"\nformula = \"Na\"",
                   "name = \"Na+\"\nformula = \"K\"");
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
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"", true},         {"/mode=1", true}, {"/activity=ideal/mode=1", true},
        {"/mode=0 ", true}, {"/foo=1", false}, {"/mode=2", false},
        {"mode=1", false},  {"/tol=5", false}, {"/maxit=2.5", false},
    };
    for (const auto& c : cases) {
        EngineSolver solver;
        solver.SetOptions(c.text);
        EXPECT_EQ(solver.LastMessage().empty(), c.ok) << c.text << ": " << solver.LastMessage();
    }
    EngineSolver solver;
    solver.SetOptions("  /TOL=1e-12 /maxit=50 /mode=1/activity=ideal");
    EXPECT_EQ(solver.Options().tolerance, 1e-12);
    EXPECT_EQ(solver.Options().maxIterations, 50);
    EXPECT_TRUE(solver.Options().warmStart);
    solver.SetOptions("/mode=1/bogus");
    EXPECT_NE(solver.LastMessage().find("\"/bogus\""), std::string::npos) << solver.LastMessage();
    EXPECT_EQ(solver.Options().activity, ActivityModel::Ideal); // a refused text changes nothing
}

TEST(SolverOptions, MissingDatabaseOrSystem) {
    EngineSolver solver;
    solver.OpenDatabase(WriteFile("empty.toml", "") + ".absent");
    EXPECT_NE(solver.LastMessage().find("empty.toml.absent"), std::string::npos);
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

// ---- Overrides, balances, bad input ---------------------------------------------------

TEST_F(SolverTest, SetSpeciesGShiftsTheDistributionAsLogK) {
    Open(kCoSystem, "/activity=ideal/mode=1");
    const auto bulk = Bulk({{"NaCl", 0.5}, {"CoCl2", 0.02}, {"HCl", 0.01}});
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double q0 = LogQ("CoCl+", 1);
    const float g1 = -190.0f, g2 = -194.5f;
    const auto i = static_cast<int16_t>(Index("CoCl+"));
    solver.SetSpeciesG(i, g1);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double q1 = LogQ("CoCl+", 1);
    solver.SetSpeciesG(i, g2);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double rtLn10 = kR * (200 + 273.15) * std::log(10.0);
    EXPECT_FUZZY(LogQ("CoCl+", 1) - q1,
                 -(static_cast<double>(g2) - static_cast<double>(g1)) * 1000 / rtLn10, 1e-8);
    EXPECT_NE(q1, q0);
    // Reopening the system drops the override.
    solver.OpenSystem(kCoSystem);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    EXPECT_FUZZY(LogQ("CoCl+", 1), q0, 1e-12);
    // An index outside the system is refused with a message.
    solver.SetSpeciesG(99, -1.0f);
    EXPECT_NE(solver.LastMessage().find("not in the system"), std::string::npos);
}

// Every bundled system reads as the system reader numbers it and keeps its balances on
// seeded random compositions (warm-started, as the goal function runs it).
TEST_F(SolverTest, EveryBundledSystemKeepsItsBalances) {
    const struct {
        const char* file;
        const char* salt;
        int elements;
    } cases[] = {
        {"co-na-cl.toml", "CoCl2", 5}, {"cu2-na-cl.toml", "CuCl2", 5},
        {"cu1-na-cl.toml", "CuCl", 5}, {"ni-na-cl.toml", "NiCl2", 5},
        {"zn-na-cl.toml", "ZnCl2", 5}, {"fe2-na-cl.toml", "FeCl2", 5},
        {"na-cl.toml", nullptr, 4},
    };
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<double> u(0, 1);
    const float temps[] = {25, 100, 200, 300};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EngineSysReader reader;
        SysRec rec;
        reader.ReadSystem(c.file, rec); // a bare name is looked up in the bundled folder
        ASSERT_EQ(reader.LastMessage(), "");
        EXPECT_EQ(rec.nElem, c.elements);
        EXPECT_EQ(rec.spName[1], "H2O");
        Open(kData + "/systems/" + c.file, "/mode=1");
        EXPECT_EQ(solver.System().spName, rec.spName);
        EXPECT_EQ(solver.System().elemCode, rec.elemCode);
        for (int k = 0; k < 24; ++k) {
            const float t = temps[k % 4];
            std::vector<std::pair<std::string, double>> parts = {
                {"NaCl", std::pow(10, -3 + 3.6 * u(rng))},
                {"HCl", std::pow(10, -7 + 6.5 * u(rng))}};
            if (c.salt) parts.emplace_back(c.salt, std::pow(10, -7 + 6 * u(rng)));
            const auto bulk = Bulk(parts);
            ASSERT_EQ(Run(t, 0, bulk), 0) << t << ": " << solver.LastMessage();
            ExpectBalanced(solver, bulk, amounts, 1e-12);
        }
    }
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

// The solver's own refusals; those of the bulk are the core's (EquilibriumTest).
TEST_F(SolverTest, BadInputGivesCodesAndMessagesNeverNaN) {
    Open(kCoSystem);
    const struct {
        const char* what;
        float t, p;
        std::vector<double> bulk;
        int16_t code;
        const char* says;
        size_t amounts;
    } cases[] = {
        {"NaN temperature", std::nanf(""), 1, Bulk({{"NaCl", 0.1}}), kEqBadInput, "temperature",
         13},
        {"negative pressure", 25, -5, Bulk({{"NaCl", 0.1}}), kEqBadInput, "pressure", 13},
        {"sodium without anion", 25, 1, Bulk({{"Na", 0.1}}), kEqInfeasible, "neutral", 13},
        {"beyond the water model", 2000, 1, Bulk({{"NaCl", 0.1}}), kEqNoSystem, "water", 13},
        {"short amounts", 25, 1, Bulk({{"NaCl", 0.1}}), kEqBadInput, "too small", 3},
    };
    for (const auto& c : cases) {
        amounts.assign(c.amounts, 9.0);
        EXPECT_EQ(Run(c.t, c.p, c.bulk), c.code) << c.what;
        EXPECT_NE(solver.LastMessage().find(c.says), std::string::npos)
            << c.what << ": " << solver.LastMessage();
        for (double v : amounts) EXPECT_EQ(v, 0.0) << c.what;
    }
    // A good call afterwards works and says "OK".
    amounts.assign(13, 0.0);
    EXPECT_EQ(Run(25, 1, Bulk({{"NaCl", 0.1}})), 0);
    EXPECT_EQ(solver.LastMessage(), "OK");
}

} // namespace
} // namespace lumora
