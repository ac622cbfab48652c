// The equilibrium core with fixed standard Gibbs energies: an independent
// law-of-mass-action computation, balances on random compositions, failures.

#include "engine/Equilibrium.h"

#include "FuzzyCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace lumora {
namespace {

constexpr double kCal = 4.184;
constexpr double kR = 8.31446261815324;
constexpr double kLn10 = 2.302585092994046;

/// Apparent standard Gibbs energies (cal/mol) along the saturation curve computed with
/// SUPCRT92 (Johnson, Oelkers and Helgeson 1992): Na+, Cl-, OH-, H2O, NaCl(aq) and
/// HCl(aq) of Shock and Helgeson 1988, Sverjensky et al. 1997 and Tagirov et al. 1997;
/// Co+2 of Shock et al. 1997; the Co chloride complexes of Liu et al. 2011.
struct GibbsSet {
    double tC;
    std::map<std::string, double> cal;
};

const GibbsSet kAt25{25,
                     {{"H2O", -56688},
                      {"H+", 0},
                      {"OH-", -37595},
                      {"Na+", -62591},
                      {"Cl-", -31379},
                      {"NaCl(aq)", -92910},
                      {"HCl(aq)", -30411},
                      {"Co+2", -13000},
                      {"CoCl+", -45108},
                      {"CoCl2(aq)", -75782},
                      {"CoCl4-2", -134150}}};
const GibbsSet kAt300{300,
                      {{"H2O", -63071},
                       {"H+", 0},
                       {"OH-", -33436},
                       {"Na+", -67454},
                       {"Cl-", -31508},
                       {"NaCl(aq)", -101618},
                       {"HCl(aq)", -34707},
                       {"Co+2", -4371},
                       {"CoCl+", -43028},
                       {"CoCl2(aq)", -76945},
                       {"CoCl4-2", -142391}}};

/// Species of a Co-Na-Cl-H-O test system: name, H, O, Na, Cl, Co, charge, ion size.
struct TestSpecies {
    std::string name;
    double h, o, na, cl, co, z, a;
};

const std::vector<TestSpecies> kCoSystem = {
    {"H2O", 2, 1, 0, 0, 0, 0, 0},      {"H+", 1, 0, 0, 0, 0, 1, 9},
    {"OH-", 1, 1, 0, 0, 0, -1, 3.5},   {"Na+", 0, 0, 1, 0, 0, 1, 4},
    {"Cl-", 0, 0, 0, 1, 0, -1, 3},     {"NaCl(aq)", 0, 0, 1, 1, 0, 0, 0},
    {"HCl(aq)", 1, 0, 0, 1, 0, 0, 0},  {"Co+2", 0, 0, 0, 0, 1, 2, 6},
    {"CoCl+", 0, 0, 0, 1, 1, 1, 4},    {"CoCl2(aq)", 0, 0, 0, 2, 1, 0, 0},
    {"CoCl4-2", 0, 0, 0, 4, 1, -2, 4},
};
const std::vector<std::string> kElements = {"H", "O", "Na", "Cl", "Co"};

/// Builds the core for a subset of the species (water first), with elements in the
/// order `perm` of kElements (perm[m] = position in kElements of element m).
struct TestSystem {
    Equilibrium eq;
    std::vector<TestSpecies> species;
    std::vector<int> perm;

    TestSystem(const std::vector<std::string>& names, const GibbsSet& g,
               std::vector<int> order = {0, 1, 2, 3, 4})
        : perm(std::move(order)) {
        std::vector<EquilibriumSpecies> sp;
        for (const auto& n : names) {
            const auto it = std::find_if(kCoSystem.begin(), kCoSystem.end(),
                                         [&](const TestSpecies& s) { return s.name == n; });
            species.push_back(*it);
            const double all[5] = {it->h, it->o, it->na, it->cl, it->co};
            EquilibriumSpecies e;
            for (int p : perm) e.stoich.push_back(all[p]);
            e.charge = it->z;
            e.ionSize = it->a;
            sp.push_back(e);
        }
        std::vector<std::string> el;
        for (int p : perm) el.push_back(kElements[p]);
        std::string msg;
        EXPECT_TRUE(eq.SetSpecies(sp, el, msg)) << msg;
        for (size_t i = 0; i < names.size(); ++i)
            eq.SetGibbs(static_cast<int>(i), g.cal.at(names[i]) * kCal);
        eq.SetActivityParams({g.tC + 273.15, 0.5114, 0.3288, 0.041});
    }
    /// Bulk from water and element amounts given in kElements order.
    std::vector<double> Bulk(double water, const double (&el)[5]) const {
        std::vector<double> b{water};
        for (int p : perm) b.push_back(el[p]);
        return b;
    }
};

const std::vector<std::string> kAllNames = {"H2O",   "H+",        "OH-",     "Na+",
                                            "Cl-",   "NaCl(aq)",  "HCl(aq)", "Co+2",
                                            "CoCl+", "CoCl2(aq)", "CoCl4-2"};

double Rt(double tC) {
    return kR * (tC + 273.15);
}

/// Element and charge balances relative to the magnitude of their terms.
void ExpectBalanced(const TestSystem& s, const std::vector<double>& bulk,
                    const std::vector<double>& n, double tol) {
    const size_t nEl = s.perm.size();
    for (size_t e = 0; e <= nEl; ++e) {
        double sum = 0, scale = 0;
        for (size_t j = 0; j < s.species.size(); ++j) {
            const auto& sp = s.species[j];
            const double all[5] = {sp.h, sp.o, sp.na, sp.cl, sp.co};
            const double c = e < nEl ? all[s.perm[e]] : sp.z;
            sum += c * n[j];
            scale += std::fabs(c * n[j]);
        }
        const double target = e < nEl ? bulk[0] * (s.perm[e] == 0   ? 2
                                                   : s.perm[e] == 1 ? 1
                                                                    : 0) +
                                            bulk[e + 1]
                                      : 0;
        EXPECT_LE(std::fabs(sum - target), tol * std::max(scale, std::fabs(target)))
            << (e < nEl ? kElements[s.perm[e]] : std::string("charge"));
    }
    for (double v : n) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0.0);
    }
}

// ---- Independent law-of-mass-action computation --------------------------------------

/// The same equilibria solved with other unknowns: the kilograms of water W and the
/// ionic strength by fixed-point iteration, free chloride by bisection, free metals in
/// closed form and H+ from the charge balance. A = Bdot = 0 is the ideal solution.
std::vector<double> ReferenceSpeciation(const GibbsSet& g, const ActivityParams& p, double bNa,
                                        double bCl, double bCo) {
    const auto& c = g.cal;
    const double rt = Rt(g.tC);
    auto G = [&](const char* n) { return c.at(n) * kCal; };
    auto K = [&](double dG) { return std::exp(-dG / rt); };
    const double kw = K(G("OH-") - G("H2O"));
    const double kNaCl = K(G("NaCl(aq)") - G("Na+") - G("Cl-"));
    const double kHCl = K(G("HCl(aq)") - G("Cl-"));
    const double b1 = K(G("CoCl+") - G("Co+2") - G("Cl-"));
    const double b2 = K(G("CoCl2(aq)") - G("Co+2") - 2 * G("Cl-"));
    const double b4 = K(G("CoCl4-2") - G("Co+2") - 4 * G("Cl-"));
    auto lng = [&](double z, double a, double I) {
        const double s = std::sqrt(I);
        return z == 0 ? 0.0 : kLn10 * (-p.A * z * z * s / (1 + a * p.B * s) + p.Bdot * I);
    };
    double W = 1, I = 0.5 * (bNa + bCl);
    std::vector<double> m(11);
    for (int outer = 0; outer < 2000; ++outer) {
        const double gH = std::exp(lng(1, 9, I)), gOH = std::exp(lng(-1, 3.5, I));
        const double gNa = std::exp(lng(1, 4, I)), gCl = std::exp(lng(-1, 3, I));
        const double gCo = std::exp(lng(2, 6, I)), g1 = std::exp(lng(1, 4, I)),
                     g4 = std::exp(lng(-2, 4, I));
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
    std::vector<double> n(11);
    n[0] = kWaterMolality * W;
    for (int j = 1; j < 11; ++j) n[j] = W * m[j];
    return n;
}

// B-dot and ideal solutions, trace cobalt included.
TEST(Equilibrium, AgreesWithIndependentMassActionSolution) {
    struct Case {
        const GibbsSet* g;
        ActivityParams p;
        double na, co;
        bool ideal;
    };
    const Case cases[] = {
        {&kAt25, {298.15, 0.5114, 0.3288, 0.041}, 0.1, 0.01, false},
        {&kAt25, {298.15, 0.5114, 0.3288, 0.041}, 2.0, 0.05, false},
        {&kAt300, {573.15, 0.9737, 0.3743, 0.0}, 0.5, 0.02, false},
        {&kAt300, {573.15, 0.9737, 0.3743, 0.0}, 3.0, 0.001, false},
        {&kAt25, {298.15, 0, 0.3288, 0}, 1.0, 1e-9, true},
        {&kAt300, {573.15, 0, 0.3743, 0}, 1.0, 1e-9, true},
        {&kAt300, {573.15, 0, 0.3743, 0}, 0.2, 0.5, true},
    };
    for (const Case& k : cases) {
        TestSystem s(kAllNames, *k.g);
        s.eq.SetActivityParams(k.p);
        const double cl = k.na + 2 * k.co;
        const auto bulk = s.Bulk(kWaterMolality, {0, 0, k.na, cl, k.co});
        std::vector<double> n(11);
        EquilibriumOptions o;
        if (k.ideal) o.activity = ActivityModel::Ideal;
        const auto r = s.eq.Solve(bulk, n, o);
        ASSERT_EQ(r.code, kEqOk) << r.message;
        const auto ref = ReferenceSpeciation(*k.g, k.p, k.na, cl, k.co);
        for (size_t j = 0; j < 11; ++j)
            EXPECT_FUZZY(n[j], ref[j], 1e-8) << kAllNames[j] << " Na " << k.na << " Co " << k.co;
    }
}

// ---- Balances on random compositions -------------------------------------------------

struct RandomCase {
    double na, hcl, co, naoh;
};

std::vector<RandomCase> RandomCases(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<RandomCase> out;
    for (int i = 0; i < count; ++i) {
        RandomCase c;
        c.na = std::pow(10, -6 + 6.8 * u(rng)); // up to 6 mol/kg
        c.co = std::pow(10, -10 + 9.7 * u(rng));
        const bool base = u(rng) < 0.2;
        c.hcl = base ? 0 : std::pow(10, -10 + 10.5 * u(rng));
        c.naoh = base ? std::pow(10, -8 + 8.3 * u(rng)) : 0;
        out.push_back(c);
    }
    return out;
}

std::vector<double> CaseBulk(const TestSystem& s, const RandomCase& c) {
    // NaCl + HCl + CoCl2 + NaOH: H, O, Na, Cl, Co in excess of the water.
    return s.Bulk(kWaterMolality,
                  {c.hcl + c.naoh, c.naoh, c.na + c.naoh, c.na + c.hcl + 2 * c.co, c.co});
}

// The same compositions with the elements in another order, solved from the previous
// result (warm start), give the same amounts.
TEST(Equilibrium, RandomCompositionsKeepBalancesOrderAndWarmStartInvariance) {
    const std::vector<int> permuted = {3, 4, 1, 2, 0};
    EquilibriumOptions warm;
    warm.warmStart = true;
    for (const GibbsSet* g : {&kAt25, &kAt300}) {
        TestSystem s(kAllNames, *g);
        TestSystem p(kAllNames, *g, permuted);
        for (const RandomCase& c : RandomCases(20261206u, 400)) {
            std::vector<double> n(11), np(11);
            const auto bulk = CaseBulk(s, c);
            const auto r = s.eq.Solve(bulk, n, EquilibriumOptions{});
            ASSERT_EQ(r.code, kEqOk)
                << r.message << " Na " << c.na << " Co " << c.co << " HCl " << c.hcl;
            ExpectBalanced(s, bulk, n, 1e-12);
            ASSERT_EQ(p.eq.Solve(CaseBulk(p, c), np, warm).code, kEqOk);
            for (size_t j = 0; j < n.size(); ++j) EXPECT_FUZZY(np[j], n[j], 1e-9) << kAllNames[j];
        }
    }
}

// Every failure gives its code and message and leaves all amounts 0, never NaN.
TEST(Equilibrium, FailuresGiveCodesAndMessagesNeverNaN) {
    struct Case {
        const char* what;
        std::vector<double> bulk; // water, H, O, Na, Cl, Co
        int16_t code;
        const char* says;
        size_t amounts = 11;
        int maxIterations = 200;
        bool noCobaltSpecies = false;
        bool nanGibbs = false;
    };
    const double nan = std::nan(""), w = kWaterMolality;
    const Case cases[] = {
        {"NaN element", {w, 0, 0, nan, 0.1, 0}, kEqBadInput, "not a number"},
        {"infinite water", {INFINITY, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "not a number"},
        {"negative element", {w, 0, 0, -0.1, 0.1, 0}, kEqBadInput, "negative"},
        {"no water", {0, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "no water"},
        {"sodium alone", {w, 0, 0, 0.1, 0, 0}, kEqInfeasible, "neutral"},
        {"chloride excess", {w, 0, 0, 0.1, 0.3, 0}, kEqInfeasible, "neutral"},
        {"short bulk", {w, 0, 0}, kEqBadInput, "fewer entries"},
        {"short amounts", {w, 0, 0, 0.1, 0.1, 0}, kEqBadInput, "too small", 5},
        {"one iteration", {w, 0, 0, 3.0, 3.1, 0.05}, kEqNoConvergence, "no convergence", 11, 1},
        {"no Co species", {w, 0, 0, 0.1, 0.12, 0.01}, kEqInfeasible, "element Co", 5, 200, true},
        {"NaN Gibbs",
         {w, 0, 0, 0.1, 0.12, 0.01},
         kEqBadInput,
         "not a number",
         11,
         200,
         false,
         true},
    };
    const std::vector<std::string> noCo = {"H2O", "H+", "OH-", "Na+", "Cl-"};
    for (const Case& c : cases) {
        TestSystem s(c.noCobaltSpecies ? noCo : kAllNames, kAt25);
        if (c.nanGibbs) s.eq.SetGibbs(8, nan);
        EquilibriumOptions o;
        o.maxIterations = c.maxIterations;
        std::vector<double> n(c.amounts, 7.0);
        const auto r = s.eq.Solve(c.bulk, n, o);
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_NE(r.message.find(c.says), std::string::npos) << c.what << ": " << r.message;
        for (double v : n) EXPECT_EQ(v, 0.0) << c.what;
    }
}

TEST(Equilibrium, TwoOxidationStatesAreFixedByTheChargeBalance) {
    // Cu+ and Cu+2 together: the charge is no longer a sum of element valences, so the
    // charge balance is a constraint of its own. CuCl1.5 gives Cu+ : Cu+2 = 1 : 1.
    // Elements H, O, Cl, Cu.
    std::vector<EquilibriumSpecies> sp = {
        {{2, 1, 0, 0}, 0, 0},  {{1, 0, 0, 0}, 1, 9}, {{1, 1, 0, 0}, -1, 3.5},
        {{0, 0, 1, 0}, -1, 3}, {{0, 0, 0, 1}, 1, 4}, {{0, 0, 0, 1}, 2, 6},
    };
    Equilibrium eq;
    std::string msg;
    ASSERT_TRUE(eq.SetSpecies(sp, {"H", "O", "Cl", "Cu"}, msg)) << msg;
    const double G[6] = {-237183, 0, -157297, -131290, 50000, 65000};
    for (int i = 0; i < 6; ++i) eq.SetGibbs(i, G[i]);
    eq.SetActivityParams({298.15, 0.5114, 0.3288, 0.041});
    const std::vector<double> bulk = {kWaterMolality, 0, 0, 1.5e-3, 1e-3};
    std::vector<double> n(6);
    const auto r = eq.Solve(bulk, n, EquilibriumOptions{});
    ASSERT_EQ(r.code, kEqOk) << r.message;
    double charge = 0, scale = 0;
    for (int i = 0; i < 6; ++i) {
        charge += sp[i].charge * n[i];
        scale += std::fabs(sp[i].charge * n[i]);
    }
    EXPECT_LE(std::fabs(charge), 1e-12 * scale);
    EXPECT_FUZZY(n[3], 1.5e-3, 1e-12);
    EXPECT_FUZZY(n[4] + n[5], 1e-3, 1e-12);
    EXPECT_FUZZY(n[4], 0.5e-3, 1e-3); // H+ and OH- shift it by about 1e-7
}

} // namespace
} // namespace lumora
