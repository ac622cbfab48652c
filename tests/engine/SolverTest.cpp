// The solver and system reader components with the bundled database and system files:
// published check values, an independent law-of-mass-action computation, balances on
// random compositions, overrides, options, messages and bad input; the lumora-thermo
// subcommands on the same.

#include "engine/EngineSolver.h"
#include "engine/EngineSysReader.h"
#include "engine/Formula.h"
#include "engine/ThermoCommands.h"
#include "engine/WaterState.h"

#include "FuzzyCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

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

    EngineSolver solver;
    std::vector<double> amounts;
};

/// Element and charge balances of a solver result against its bulk (m = 0: charge).
void ExpectBalanced(const EngineSolver& s, const std::vector<double>& bulk,
                    const std::vector<double>& n, double tol) {
    const SysRec& rec = s.System();
    const int first = rec.phases.back().offset + 1;
    for (int m = 0; m <= rec.nElem; ++m) {
        double sum = 0, scale = 0, target = m > 0 ? bulk[m] : 0;
        for (int i = first; i <= rec.lastAq; ++i) {
            const SpeciesRecord& sp = s.Db().Species(s.Db().Find(rec.spName[i]));
            std::vector<std::pair<int, double>> el;
            std::string problem;
            ParseFormula(s.Db(), sp.formula, el, problem);
            double c = m == 0 ? sp.charge : 0;
            for (const auto& [z, k] : el)
                if (m > 0 && z == rec.elemCode[m]) c = k;
            if (i == first) target += bulk[0] * c; // the water's own H and O
            sum += c * n[i];
            scale += std::fabs(c * n[i]);
        }
        EXPECT_LE(std::fabs(sum - target), tol * std::max(scale, std::fabs(target)))
            << "element " << m;
    }
    for (double v : n) EXPECT_TRUE(std::isfinite(v) && v >= 0) << v;
}

// The reader and the solver name the file and the problem, and read nothing.
TEST(SystemReader, BadFilesNameFileLineAndProblem) {
    const std::string aq = "[[phase]]\nname = \"aqueous\"\n";
    const std::pair<std::string, const char*> cases[] = {
        {"[[phase]\nname = \"aqueous\"\n", "line 1"},
        {aq + "species = [\"H2O\",\n  \"Xx+\"]\n", "line 4: unknown species \"Xx+\""},
        {"[[phase]]\nname = \"gas\"\nkind = \"gas\"\nspecies = [\"H2O\"]\n", "no aqueous phase"},
        {aq + "species = [\"Na+\", \"H2O\"]\n", "line 3: the aqueous phase must list water first"},
        {aq + "species = [\"H2O\", \"Na+\", \"Na+\"]\n", "listed twice"},
        {"colour = \"red\"\n" + aq + "species = [\"H2O\"]\n", "line 1: unknown key 'colour'"},
        {"database = \"thermo.toml\"\n", "no [[phase]] tables"},
        {"", "file not found"},
    };
    EngineSysReader reader;
    for (const auto& [text, says] : cases) {
        const std::string path = text.empty() ? WriteFile("absent.toml", "") + ".not"
                                              : WriteFile("bad-system.toml", text);
        SysRec rec;
        reader.ReadSystem(path, rec);
        EXPECT_EQ(rec.nAq, 0) << says;
        EXPECT_NE(reader.LastMessage().find(path), std::string::npos) << reader.LastMessage();
        EXPECT_NE(reader.LastMessage().find(says), std::string::npos) << reader.LastMessage();
        EngineSolver solver;
        solver.OpenSystem(path);
        EXPECT_NE(solver.LastMessage().find(says), std::string::npos) << solver.LastMessage();
    }
}

// A system naming a database in which Na+ is made of K: with the bundled database the
// solver refuses it (elements H, O, K, Cl against H, O, Na, Cl); without one of its own it
// takes the named one. A mineral comes before the aqueous phase in the numbering; the
// solver refuses to equilibrate without it rather than leave it out.
TEST(SystemReader, OtherDatabasesAndMinerals) {
    const std::string aq = "[[phase]]\nname = \"aqueous\"\nspecies = [\"H2O\", \"H+\", \"OH-\", "
                           "\"Na+\", \"Cl-\"]\n";
    EditedDatabase("potassium-db.toml", "name = \"Na+\"\nformula = \"Na\"",
                   "name = \"Na+\"\nformula = \"K\"");
    const std::string odd = WriteFile("odd-db.toml", "database = \"potassium-db.toml\"\n" + aq);
    EngineSolver solver, own, mineral;
    solver.OpenDatabase(kData + "/thermo.toml");
    solver.OpenSystem(odd);
    EXPECT_NE(solver.LastMessage().find("orders the elements differently"), std::string::npos)
        << solver.LastMessage();
    own.OpenSystem(odd);
    EXPECT_EQ(own.LastMessage(), "System file accepted");
    EXPECT_EQ(own.Db().Species(own.Db().Find("Na+")).formula, "K");

    EditedDatabase("mineral-db.toml", "",
                   "\n[[species]]\nname = \"Halite\"\nformula = \"NaCl\"\nphase = \"mineral\"\n"
                   "model = \"other\"\nsource = \"t\"\n");
    mineral.OpenSystem(
        WriteFile("halite.toml", "database = \"mineral-db.toml\"\n" + aq +
                                     "[[phase]]\nname = \"Halite\"\nspecies = [\"Halite\"]\n"));
    ASSERT_EQ(mineral.LastMessage(), "System file accepted");
    const SysRec& rec = mineral.System();
    const int halite = mineral.Db().Find("Halite");
    double g = 12345; // no standard-state model: the value is left alone
    EXPECT_FALSE(StandardGibbs(mineral.Db(), halite, WaterAt(298.15, 1), g));
    EXPECT_TRUE(mineral.Db().Species(halite).code == 2048 && g == 12345);
    EXPECT_TRUE(rec.nPmc == 1 && rec.phases[1].offset == 1 && rec.spName[1] == "Halite");
    std::vector<double> bulk(static_cast<size_t>(rec.nElem) + 1, 0.1), amounts(7, 5.0), w(1);
    bulk[0] = kWaterMolality;
    int16_t code = 0;
    mineral.Equilibrate(25, 1, w, bulk, amounts, w, code);
    EXPECT_EQ(code, kEqUnsupported);
    EXPECT_NE(mineral.LastMessage().find("other phases"), std::string::npos);
    EXPECT_EQ(amounts, std::vector<double>(7, 0.0));
}

// The first four texts are accepted, the others refused; a refused text changes nothing.
TEST(SolverOptions, KnownSwitchesAcceptedOthersRefused) {
    const char* texts[] = {"",         "/mode=1", "/activity=ideal/mode=1",
                           "/mode=0 ", "/foo=1",  "/mode=2",
                           "mode=1",   "/tol=5",  "/maxit=2.5"};
    for (int i = 0; i < 9; ++i) {
        EngineSolver solver;
        solver.SetOptions(texts[i]);
        EXPECT_EQ(solver.LastMessage().empty(), i < 4) << texts[i] << ": " << solver.LastMessage();
    }
    EngineSolver solver;
    solver.SetOptions("  /TOL=1e-12 /maxit=50 /mode=1/activity=ideal");
    const auto& o = solver.Options();
    EXPECT_TRUE(o.tolerance == 1e-12 && o.maxIterations == 50 && o.warmStart);
    solver.SetOptions("/mode=1/bogus");
    EXPECT_NE(solver.LastMessage().find("\"/bogus\""), std::string::npos) << solver.LastMessage();
    EXPECT_EQ(solver.Options().activity, ActivityModel::Ideal);
}

// What an override does to the equilibrium is checked against the mass-action reference
// below; here, how long it lasts.
TEST_F(SolverTest, SetSpeciesGLastsUntilTheSystemIsReopened) {
    Open(kCoSystem);
    const auto bulk = Bulk({{"NaCl", 0.5}, {"CoCl2", 0.02}});
    ASSERT_EQ(Run(200, 0, bulk), 0);
    const double m0 = Molality("CoCl+");
    solver.SetSpeciesG(static_cast<int16_t>(Index("CoCl+")), -190.0f);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Run(200, 0, bulk), 0);
        EXPECT_GT(std::fabs(std::log10(Molality("CoCl+") / m0)), 0.1);
    }
    solver.OpenSystem(kCoSystem);
    ASSERT_EQ(Run(200, 0, bulk), 0);
    EXPECT_FUZZY(Molality("CoCl+"), m0, 1e-12);
    // An index outside the system is refused with a message.
    solver.SetSpeciesG(99, -1.0f);
    EXPECT_NE(solver.LastMessage().find("not in the system"), std::string::npos);
}

TEST_F(SolverTest, TwoOxidationStatesAreFixedByTheChargeBalance) {
    // Cu+ and Cu+2 together: the charge is no longer a sum of element valences, so the
    // charge balance is a constraint of its own. With H+ = OH- (the H and O balances),
    // Cu+ + 2 Cu+2 = Cl-: CuCl1.5 gives Cu+ : Cu+2 = 1 : 1 whatever the Gibbs energies.
    Open(WriteFile("cu-mixed.toml", "database = \"thermo.toml\"\n[[phase]]\nname = \"aqueous\"\n"
                                    "species = [\"H2O\", \"H+\", \"OH-\", \"Cl-\", \"Cu+\", "
                                    "\"Cu+2\"]\n"));
    const auto bulk = Bulk({{"CuCl1.5", 1e-3}});
    ASSERT_EQ(Run(25, 1, bulk), 0) << solver.LastMessage();
    ExpectBalanced(solver, bulk, amounts, 1e-12);
    EXPECT_FUZZY(amounts[Index("Cl-")], 1.5e-3, 1e-12);
    EXPECT_FUZZY(amounts[Index("Cu+")], 0.5e-3, 1e-9);
    EXPECT_FUZZY(amounts[Index("Cu+2")], 0.5e-3, 1e-9);
}

/// Apparent standard Gibbs energies (cal/mol) at 25 C, 1 bar and at 300 C on the saturation
/// curve computed with SUPCRT92 (Johnson, Oelkers and Helgeson 1992): Na+, Cl-, OH-, H2O,
/// NaCl(aq) and HCl(aq) of Shock and Helgeson 1988, Sverjensky et al. 1997 and Tagirov et
/// al. 1997; Co+2 of Shock et al. 1997; the Co chloride complexes of Liu et al. 2011.
const std::vector<std::pair<std::string, std::pair<double, double>>> kSupcrtGibbs = {
    {"H2O", {-56688, -63071}},      {"H+", {0, 0}},
    {"OH-", {-37595, -33436}},      {"Na+", {-62591, -67454}},
    {"Cl-", {-31379, -31508}},      {"NaCl(aq)", {-92910, -101618}},
    {"HCl(aq)", {-30411, -34707}},  {"Co+2", {-13000, -4371}},
    {"CoCl+", {-45108, -43028}},    {"CoCl2(aq)", {-75782, -76945}},
    {"CoCl4-2", {-134150, -142391}}};

/// The same equilibria solved with other unknowns: the kilograms of water W and the
/// ionic strength by fixed-point iteration, free chloride by bisection, free metals in
/// closed form and H+ from the charge balance. G (J/mol) and ion size a by species name;
/// A = Bdot = 0 is the ideal solution. Amounts in the order of kSupcrtGibbs.
std::vector<double> ReferenceSpeciation(const std::function<double(const char*)>& G,
                                        const std::function<double(const char*)>& a,
                                        const ActivityParams& p, double bNa, double bCl,
                                        double bCo) {
    auto K = [&](double dG) { return std::exp(-dG / (kR * p.T)); };
    const double kw = K(G("OH-") - G("H2O"));
    const double kNaCl = K(G("NaCl(aq)") - G("Na+") - G("Cl-"));
    const double kHCl = K(G("HCl(aq)") - G("Cl-"));
    const double b1 = K(G("CoCl+") - G("Co+2") - G("Cl-"));
    const double b2 = K(G("CoCl2(aq)") - G("Co+2") - 2 * G("Cl-"));
    const double b4 = K(G("CoCl4-2") - G("Co+2") - 4 * G("Cl-"));
    auto gamma = [&](double z, const char* name, double I) {
        const double s = std::sqrt(I);
        return std::pow(10.0, -p.A * z * z * s / (1 + a(name) * p.B * s) + p.Bdot * I);
    };
    double W = 1, I = 0.5 * (bNa + bCl);
    std::vector<double> m(11);
    for (int outer = 0; outer < 2000; ++outer) {
        const double gH = gamma(1, "H+", I), gOH = gamma(-1, "OH-", I);
        const double gNa = gamma(1, "Na+", I), gCl = gamma(-1, "Cl-", I);
        const double gCo = gamma(2, "Co+2", I), g1 = gamma(1, "CoCl+", I),
                     g4 = gamma(-2, "CoCl4-2", I);
        const double naT = bNa / W, coT = bCo / W, clT = bCl / W;
        auto species = [&](double mCl) {
            const double aCl = gCl * mCl;
            m[4] = mCl;
            m[3] = naT / (1 + kNaCl * gNa * aCl);
            m[5] = kNaCl * gNa * m[3] * aCl;
            const double d = 1 / gCo + b1 * aCl / g1 + b2 * aCl * aCl + b4 * std::pow(aCl, 4) / g4;
            const double aCo = coT / d;
            m[7] = aCo / gCo;
            m[8] = b1 * aCo * aCl / g1;
            m[9] = b2 * aCo * aCl * aCl;
            m[10] = b4 * aCo * std::pow(aCl, 4) / g4;
            // Charge balance for H+: mH - kw/(gH gOH mH) + q = 0.
            const double q = m[3] + 2 * m[7] + m[8] - mCl - 2 * m[10];
            const double cc = kw / (gH * gOH);
            const double mH = q >= 0 ? 2 * cc / (q + std::sqrt(q * q + 4 * cc))
                                     : (-q + std::sqrt(q * q + 4 * cc)) / 2;
            m[1] = mH;
            m[2] = cc / mH;
            m[6] = kHCl * gH * mH * aCl;
            return mCl + m[5] + m[6] + m[8] + 2 * m[9] + 4 * m[10] - clT;
        };
        double lo = std::log(clT) - 60, hi = std::log(clT) + 1;
        for (int it = 0; it < 300; ++it) {
            const double mid = 0.5 * (lo + hi);
            (species(std::exp(mid)) > 0 ? hi : lo) = mid;
        }
        species(std::exp(0.5 * (lo + hi)));
        // Oxygen balance fixes the water: 55.50843 W + W mOH = 55.50843 + bO (bO = 0).
        const double Wn = kWaterMolality / (kWaterMolality + m[2]);
        double In = 0;
        const double z[11] = {0, 1, -1, 1, -1, 0, 0, 2, 1, 0, -2};
        for (int j = 1; j < 11; ++j) In += 0.5 * z[j] * z[j] * m[j];
        const bool done = std::fabs(Wn - W) <= 1e-16 * W && std::fabs(In - I) <= 1e-15 * I;
        W = Wn;
        I = In;
        if (done) break;
    }
    m[0] = kWaterMolality;
    for (double& v : m) v *= W;
    return m;
}

// The SUPCRT92 energies set with SetSpeciesG on a system of exactly the reference's
// species; B-dot and ideal solutions, trace cobalt included.
TEST_F(SolverTest, AgreesWithIndependentMassActionSolution) {
    std::string list;
    for (const auto& [name, g] : kSupcrtGibbs) list += (list.empty() ? "\"" : ", \"") + name + "\"";
    const std::string sys = WriteFile("co-reference.toml", "database = \"thermo.toml\"\n[[phase]]\n"
                                                           "name = \"aqueous\"\nspecies = [" +
                                                               list + "]\n");
    const struct {
        float t, p;
        double na, co;
        bool ideal;
    } cases[] = {
        {25, 1, 0.1, 0.01, false},   {25, 1, 2.0, 0.05, false}, {300, 0, 0.5, 0.02, false},
        {300, 0, 3.0, 0.001, false}, {25, 1, 1.0, 1e-9, true},  {300, 0, 1.0, 1e-9, true},
        {300, 0, 0.2, 0.5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.t << " C, Na " << c.na << ", Co " << c.co);
        Open(sys, c.ideal ? "/activity=ideal" : "");
        // What the solver uses: the energies rounded to its float kJ/mol.
        std::map<std::string, double> applied;
        for (const auto& [name, g] : kSupcrtGibbs) {
            const float kJ = static_cast<float>((c.t == 25 ? g.first : g.second) * 4.184 / 1000);
            solver.SetSpeciesG(static_cast<int16_t>(Index(name)), kJ);
            applied[name] = static_cast<double>(kJ) * 1000;
        }
        const double cl = c.na + 2 * c.co;
        ASSERT_EQ(Run(c.t, c.p, Bulk({{"Na", c.na}, {"Cl", cl}, {"Co", c.co}})), 0)
            << solver.LastMessage();
        const WaterState w = WaterAt(c.t + 273.15, c.p);
        const ActivityParams p{w.T, c.ideal ? 0 : w.Agamma, w.Bgamma, c.ideal ? 0 : w.Bdot};
        const auto ref = ReferenceSpeciation(
            [&](const char* n) { return applied.at(n); },
            [&](const char* n) { return solver.Db().Species(solver.Db().Find(n)).ionSize; }, p,
            c.na, cl, c.co);
        for (size_t j = 0; j < 11; ++j)
            EXPECT_FUZZY(amounts[j + 1], ref[j], 1e-8) << kSupcrtGibbs[j].first;
    }
}

// Every bundled system reads as the system reader numbers it and keeps its balances on
// seeded random compositions from 0 or 1e-10 to 6 mol/kg, acid or basic; warm-started (as
// the goal function runs it, the metal coming and going) it gives the cold answer.
TEST_F(SolverTest, EveryBundledSystemKeepsItsBalancesWarmOrCold) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"co-na-cl.toml", "CoCl2", 5}, {"cu2-na-cl.toml", "CuCl2", 5},
        {"cu1-na-cl.toml", "CuCl", 5}, {"ni-na-cl.toml", "NiCl2", 5},
        {"zn-na-cl.toml", "ZnCl2", 5}, {"fe2-na-cl.toml", "FeCl2", 5},
        {"na-cl.toml", nullptr, 4},
    };
    std::mt19937 rng(20261206u);
    std::uniform_real_distribution<double> u(0, 1);
    const float temps[] = {25, 100, 200, 300};
    for (const auto& [file, chloride, elements] : cases) {
        SCOPED_TRACE(file);
        EngineSysReader reader;
        SysRec rec;
        reader.ReadSystem(file, rec); // a bare name is looked up in the bundled folder
        ASSERT_EQ(reader.LastMessage(), "");
        EXPECT_TRUE(rec.nElem == elements && rec.spName[1] == "H2O") << rec.nElem;
        Open(kData + "/systems/" + file, "/mode=1");
        EXPECT_EQ(solver.System().spName, rec.spName);
        EXPECT_EQ(solver.System().elemCode, rec.elemCode);
        EngineSolver cold;
        cold.OpenSystem(file);
        for (int k = 0; k < 60; ++k) {
            const float t = temps[k % 4];
            const bool base = u(rng) < 0.2;
            std::vector<std::pair<std::string, double>> parts = {
                {"NaCl", std::pow(10, -6 + 6.8 * u(rng))},
                {base ? "NaOH" : "HCl",
                 std::pow(10, base ? -8 + 8.3 * u(rng) : -10 + 10.5 * u(rng))}};
            // A salt of 0 drops the metal's species: the balance then demands exact zeros.
            const double mol = u(rng) < 0.25 ? 0 : std::pow(10, -10 + 9.7 * u(rng));
            if (chloride) parts.emplace_back(chloride, mol);
            const auto bulk = Bulk(parts);
            ASSERT_EQ(Run(t, 0, bulk), 0) << t << ": " << solver.LastMessage();
            ExpectBalanced(solver, bulk, amounts, 1e-12);
            std::vector<double> n(amounts.size()), w(1);
            int16_t code = 0;
            cold.Equilibrate(t, 0, w, bulk, n, w, code);
            ASSERT_EQ(code, 0) << cold.LastMessage();
            for (size_t i = 1; i < n.size(); ++i) EXPECT_FUZZY(amounts[i], n[i], 1e-9) << i;
        }
    }
}

// Every failure gives its code and message and leaves all amounts 0, never NaN.
TEST_F(SolverTest, BadInputGivesCodesAndMessagesNeverNaN) {
    EngineSolver none;
    std::vector<double> bulk{kWaterMolality, 0, 0}, zeros(4, 3.0), w(1);
    int16_t code = 0;
    none.Equilibrate(25, 1, w, bulk, zeros, w, code);
    EXPECT_EQ(code, kEqNoSystem);
    EXPECT_EQ(none.LastMessage(), "Vexil: no system is open");
    EXPECT_EQ(zeros, std::vector<double>(4, 0.0));

    Open(kCoSystem);
    const double nan = std::nan(""), wm = kWaterMolality;
    const auto salt = Bulk({{"NaCl", 0.1}});
    const struct {
        float t, p;
        std::vector<double> bulk; // water, H, O, Na, Cl, Co
        int16_t code;
        const char* says;
        size_t amounts = 13;
        const char* options = "";
        bool nanGibbs = false;
    } cases[] = {
        {std::nanf(""), 1, salt, kEqBadInput, "temperature"},
        {25, -5, salt, kEqBadInput, "pressure"},
        {2000, 1, salt, kEqNoSystem, "water"},
        {25, 1, {wm, 0, 0, nan, 0.1, 0}, kEqBadInput, "not a number"},
        {25, 1, {INFINITY, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "not a number"},
        {25, 1, {wm, 0, 0, -0.1, 0.1, 0}, kEqBadInput, "negative"},
        {25, 1, {0, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "no water"},
        {25, 1, {wm, 0, 0, 0.1, 0, 0}, kEqInfeasible, "neutral"},
        {25, 1, {wm, 0, 0, 0.1, 0.3, 0}, kEqInfeasible, "neutral"},
        {25, 1, {wm, 0, 0}, kEqBadInput, "fewer entries"},
        {25, 1, salt, kEqBadInput, "too small", 3},
        {25, 1, {wm, 0, 0, 3.0, 3.1, 0.05}, kEqNoConvergence, "no convergence", 13, "/maxit=1"},
        {25, 1, {wm, 0, 0, 0.1, 0.12, 0.01}, kEqBadInput, "not a number", 13, "", true}, // G
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        Open(kCoSystem, c.options);
        if (c.nanGibbs) solver.SetSpeciesG(static_cast<int16_t>(Index("CoCl+")), std::nanf(""));
        amounts.assign(c.amounts, 9.0);
        EXPECT_EQ(Run(c.t, c.p, c.bulk), c.code);
        EXPECT_NE(solver.LastMessage().find(c.says), std::string::npos) << solver.LastMessage();
        EXPECT_EQ(amounts, std::vector<double>(c.amounts, 0.0));
    }
    // A good call afterwards works and says "OK".
    amounts.assign(13, 0.0);
    EXPECT_EQ(Run(25, 1, salt), 0);
    EXPECT_EQ(solver.LastMessage(), "OK");
}

// ---- The lumora-thermo subcommands, run in-process -------------------------------------

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
    return at == std::string::npos ? std::nan("") : std::strtod(&text[at + key.size()], nullptr);
}

// Water at 300 C on the saturation curve as WaterAt gives it (85.879 bar), no saturation
// pressure above the critical point; Na+ at 25 C as tabulated, -62591 cal/mol. Molalities
// printed with ten significant digits keep the given totals (the water lost to OH- is
// below that); pH is -log10(m gamma) of H+; a species list gets H+ and OH- besides.
TEST(ThermoCommands, OutputsKeepTheEngineValues) {
    EXPECT_NEAR(After(Thermo({"--json", "water", "300", "0"}).out, "\"psat_bar\": "), 85.879, 0.01);
    EXPECT_EQ(Thermo({"water", "500", "1000", "--json"}).out.find("psat_bar"), std::string::npos);
    EXPECT_EQ(Thermo({"--json", "species", "Na+", "25", "1"}).out,
              "{\"name\": \"Na+\", \"code\": 3, \"G_kJ_mol\": -261.880744}\n");
    const ThermoRun r = Thermo({"--json", "equilibrate", "--system", "co-na-cl.toml", "200", "0",
                                "NaCl=1.5", "CoCl2=0.02", "HCl=0.01"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto m = [&](const std::string& name) {
        return After(r.out, "{\"name\": \"" + name + "\", \"molality\": ");
    };
    EXPECT_FUZZY(m("Co+2") + m("CoCl+") + m("CoCl2(aq)") + m("CoCl4-2"), 0.02, 1e-8);
    EXPECT_FUZZY(m("Na+") + m("NaCl(aq)") + m("NaOH(aq)"), 1.5, 1e-8);
    const std::string h = r.out.substr(r.out.find("{\"name\": \"H+\""));
    EXPECT_NEAR(After(r.out, "\"pH\": "),
                -std::log10(After(h, "\"molality\": ") * After(h, "\"gamma\": ")), 1e-8);
    const ThermoRun t = Thermo({"equilibrate", "--species", "Na+,Cl-", "25", "1", "NaCl=0.1"});
    ASSERT_EQ(t.code, 0) << t.err;
    for (const char* row : {"\nH+ ", "\nOH- ", "\nCl- ", "\npH "})
        EXPECT_NE(t.out.find(row), std::string::npos) << row << " in\n" << t.out;
    EXPECT_FUZZY(After(t.out, "\nionic_strength "), 0.1, 1e-5);
    EXPECT_FUZZY(After(t.out, "\nNa+ "), 0.1, 1e-8); // water split into H+ and OH-: 2e-9
}

TEST(ThermoCommands, BadCommandLinesGiveMessagesAndExitCodes) {
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{}, 2, "Usage"},
        {{"frobnicate"}, 2, "Unknown command: frobnicate"},
        {{"--db"}, 2, "--db needs a file name"},
        {{"water", "25"}, 2, "Expected temperature"},
        {{"water", "abc", "1"}, 2, "Invalid temperature: abc"},
        {{"water", "400", "0"}, 1, "no saturation pressure above the critical temperature"},
        {{"species", "Nope", "25", "1"}, 1, "Unknown species: Nope"},
        {{"--db", "/nonexistent.toml", "species", "Na+", "25", "1"}, 1, "/nonexistent.toml"},
        {{"equilibrate", "25", "1", "NaCl=1"}, 2, "--system FILE or --species"},
        {{"equilibrate", "--system", "na-cl.toml", "--species", "Na+", "25", "1"}, 2, "either"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "NaCl=-1"}, 2, "FORMULA=MOLALITY"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Qq=1"}, 2, "Formula Qq"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "CoCl2=1"}, 1, "Element Co"},
        {{"equilibrate", "--system", "na-cl.toml", "25", "1", "Na=1"}, 1, "neutral"},
        {{"equilibrate", "--species", "Na+,Xx", "25", "1", "NaCl=1"}, 1, "unknown species \"Xx\""},
    };
    for (const auto& [args, code, says] : cases) {
        const ThermoRun r = Thermo(args);
        EXPECT_EQ(r.code, code) << says;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << says;
    }
}

} // namespace
} // namespace lumora
