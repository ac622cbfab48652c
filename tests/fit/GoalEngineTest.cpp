// The goal function on the real engine: Co(II) chloride complexes in NaCl-HCl
// solutions, spectra made from the engine's own speciation.

#include "fit/Goal.h"

#include "FuzzyCompare.h"
#include "TestUi.h"
#include "engine/EngineFactory.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumora {
namespace {

const std::string kData = LUMORA_DATA_DIR;

// Gibbs energies of formation at 25 C, 1 bar (cal/mol in the bundled database:
// Shock et al. 1997 for Co+2, Liu et al. 2011, GCA 75, 1227, for the chloride complexes).
const char* const kSpecies[] = {"Co+2", "CoCl+", "CoCl2(aq)", "CoCl4-2"};
const double kG0[] = {-13000 * 4.184e-3, -45107.8 * 4.184e-3, -75781.9 * 4.184e-3,
                      -134150 * 4.184e-3};

class GoalEngine : public ::testing::Test {
protected:
    void SetUp() override {
        st.solver = CreateSolver();
        st.solver->SetOptions("/mode=1");
        st.solver->OpenDatabase(kData + "/thermo.toml");
        const std::string system = kData + "/systems/co-na-cl.toml";
        st.solver->OpenSystem(system);
        ASSERT_EQ(st.solver->LastMessage(), "System file accepted");
        auto reader = CreateSysReader();
        reader->ReadSystem(system, st.sysRec);
        const SysRec& rec = st.sysRec;

        auto element = [&](int z) {
            for (int m = 1; m <= rec.nElem; ++m)
                if (rec.elemCode[static_cast<size_t>(m)] == z) return m;
            return -1;
        };
        const int h = element(1), na = element(11), cl = element(17), co = element(27);
        ASSERT_GT(std::min({h, na, cl, co}), 0);

        st.nSp = 4;
        st.nSol = 10;
        st.nWl = 30;
        st.nEl = rec.nElem;
        st.AqFirst = static_cast<int16_t>(rec.phases.back().offset + 1);
        st.TC = 25.0f;
        st.PBar = 1.0f;
        st.SpIdx.Redim(4);
        st.G0.Redim(4);
        for (int k = 1; k <= 4; ++k) {
            for (size_t i = 1; i < rec.spName.size(); ++i)
                if (rec.spName[i] == kSpecies[k - 1]) st.SpIdx(k) = static_cast<int16_t>(i);
            ASSERT_GT(st.SpIdx(k), 0) << kSpecies[k - 1];
            st.G0(k) = kG0[k - 1];
        }
        st.Bulk.Redim(st.nEl, st.nSol);
        st.BulkCorr.Redim(st.nEl, st.nSol);
        st.SolDens.Redim(st.nSol);
        st.SolWeight.Redim(st.nSol);
        for (int j = 1; j <= st.nSol; ++j) {
            const double coCl2 = 0.01, nacl = 0.5 * (j - 1), hcl = 0.01;
            st.Bulk(0, j) = kWaterMolality;
            st.Bulk(co, j) = coCl2;
            st.Bulk(na, j) = nacl;
            st.Bulk(h, j) = hcl;
            st.Bulk(cl, j) = 2 * coCl2 + nacl + hcl;
            st.BulkCorr(0, j) = kWaterMolality;
            cobalt[j] = coCl2;
            st.SolDens(j) = static_cast<float>(1.0 + 0.035 * nacl);
            st.SolWeight(j) = 1.0f;
        }
        st.WArr1.Redim(0);
        st.WAmt.Redim(rec.lastAq);
        st.WArr2.Redim(rec.lastAq);
        st.AbsM.Redim(st.nSol, st.nWl);
        for (int w = 1; w <= st.nWl; ++w) st.AbsM(0, w) = 400.0 + 10.0 * w;
    }

    /// Absorbances from the concentrations that Goal just computed.
    void MakeSpectra() {
        for (int w = 1; w <= st.nWl; ++w)
            for (int j = 1; j <= st.nSol; ++j) {
                double a = 0.0;
                for (int k = 1; k <= st.nSp; ++k) {
                    const double eps = 50.0 * k * std::exp(-std::pow((w - 6.0 * k) / 6.0, 2));
                    a += eps * st.Conc(k, 0) * st.Conc(k, j);
                }
                st.AbsM(j, w) = a;
            }
    }

    State st;
    test::TestUi ui{st};
    double cobalt[11] = {};
};

TEST_F(GoalEngine, CobaltMassBalanceAndPerfectFitAtTheTrueEnergies) {
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0) << (ui.messages.empty() ? "" : ui.messages[0].text);
    // Every cobalt species is refined: their concentrations add up to the cobalt
    // concentration (molality times density).
    for (int j = 1; j <= st.nSol; ++j) {
        double sum = 0.0;
        for (int k = 1; k <= st.nSp; ++k) sum += st.Conc(k, 0) * st.Conc(k, j);
        EXPECT_FUZZY(sum, cobalt[j] * st.SolDens(j), 1e-6) << "solution " << j;
    }
    MakeSpectra();
    const double atTruth = Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_LT(atTruth, 1e-12);

    // Moving one Gibbs energy by 2 kJ/mol spoils the fit.
    st.G0(2) += 2.0;
    const double shifted = Goal(st, -1);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_GT(shifted, 1e3 * atTruth);
    EXPECT_GT(shifted, 1e-8);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(GoalEngine, EngineFailureShowsTheEngineMessage) {
    st.TC = -50.0f; // no liquid water
    Goal(st, 0);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind("Vexil: ", 0), 0u) << ui.messages[0].text;
}

} // namespace
} // namespace lumora
