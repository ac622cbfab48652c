#include "dataset/FitReport.h"

#include "dataset/DataSetCells.h"
#include "dataset/FormationConstants.h"
#include "fit/GoalResiduals.h"

namespace lumora {

namespace {

double CellNumber(State& st, int row, int col, double fallback) {
    if (!st.xlSheet) return fallback;
    const CellValue v = QuietValue(*st.xlSheet, row, col);
    const double* d = std::get_if<double>(&v);
    return d ? *d : fallback;
}

std::vector<std::vector<double>> CorrelationRows(const State& st) {
    std::vector<std::vector<double>> rows;
    if (!st.GCorr.Dimensioned()) return rows;
    const int n = st.GCorr.UBound1();
    for (int k = 1; k <= n; ++k) {
        rows.emplace_back();
        for (int l = 1; l <= n; ++l) rows.back().push_back(st.GCorr(k, l));
    }
    return rows;
}

} // namespace

FitReport CollectFitReport(State& st, bool readOk, bool optimized) {
    FitReport s;
    s.ErrCode = st.ErrCode;
    s.ErrMsg = st.ErrMsg;
    s.notes = st.Notes;
    if (!readOk) return s;
    s.nSol = st.nSol;
    s.nWl = st.nWl;
    s.iterations = optimized ? st.IterCount : 0;
    s.evaluations = st.GoalCalls;
    if (st.nSp <= 0 || !st.SpName.Dimensioned()) return s;
    // The mean error as the sheet shows it: "Result" column after a run, else "Initial".
    const int row = st.nSp + 10;
    s.RmsErr = CellNumber(st, row, optimized ? 4 : 3, CellNumber(st, row, 3, 0.0));
    for (int i = 1; i <= st.nSp && i <= st.SpName.UBound(); ++i) {
        FitReport::Species sp;
        sp.name = st.SpName(i);
        sp.initial = st.G0Init(i);
        sp.free = st.SpFree(i) != kFalse;
        sp.result = sp.free && optimized ? st.G0(i) : st.G0Res(i);
        sp.pm = st.GErr.Dimensioned() ? st.GErr(i) : 0.0f;
        if (optimized && sp.free && st.GLo.Dimensioned()) {
            sp.lo = st.GLo(i), sp.hi = st.GHi(i);
            sp.determined = sp.lo && sp.hi;
        }
        s.species.push_back(sp);
    }
    if (optimized) {
        s.intervalNote = st.IntervalNote;
        s.correlation = CorrelationRows(st);
    }
    try {
        s.rms = PlainRms(st);
    } catch (const RuntimeError&) {
        s.rms = 0; // no model at the parameters (a failed evaluation)
    }
    AddFormationConstants(st, s);
    return s;
}

} // namespace lumora
