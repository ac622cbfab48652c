#pragma once
// A data-set sheet in memory (the program's GridSheet) on the embedded host, and
// synthetic goal functions with known minima, for the optimizer and interval tests.

#include "TestUi.h"
#include "model/State.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridSheet.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::test {

/// The sheet, counting the program's writes (and those made while events were on); the
/// writes can be made to fail. UserEdit is an edit by the user, no write of the program.
struct CountingSheet : GridSheet {
    CountingSheet() : GridSheet(nullptr, "Data") {}
    void SetValue(int row, int col, const CellValue& value) override {
        if (failWrites) throw RuntimeError("Application-defined or object-defined error");
        ++writes, eventWrites += Events();
        GridSheet::SetValue(row, col, value);
    }
    void UserEdit(int row, int col, const CellValue& value) {
        GridSheet::SetValue(row, col, value);
    }
    double Number(int row, int col) const { return std::get<double>(Value(row, col)); }
    bool HasNumber(int row, int col) const {
        return std::holds_alternative<double>(Value(row, col));
    }
    int writes = 0, eventWrites = 0;
    bool failWrites = false;
};

/// One call of the synthetic goal function.
struct GoalCall {
    int16_t probe;
    std::vector<double> g; ///< G0(1..nSp), index 0 unused
    bool interactive;
};

/// A goal function installed through st.goalOverride: resets ErrCode and yields like
/// the real one, records every call, fills Eps and AbsC with recognisable values,
/// and can fail (ErrCode -1) at a chosen call.
struct SyntheticGoal {
    std::function<double(const std::vector<double>&)> f; ///< of G0 (index 1..nSp)
    std::vector<GoalCall> calls;
    size_t failAtCall = 0; ///< 1-based; 0 never

    double Call(State& st, int16_t probe) {
        st.ErrCode = 0;
        std::vector<double> g(st.nSp + 1);
        for (int i = 1; i <= st.nSp; ++i) g[i] = st.G0(i);
        calls.push_back({probe, g, st.xlApp->Interactive()});
        st.ui->yield();
        if (st.ErrCode != 0) return 0.0;
        if (failAtCall == calls.size()) return st.ErrCode = -1, 0.0;
        for (int w = 1; w <= st.nWl; ++w) {
            for (int k = 1; k <= st.nSp; ++k) st.Eps(k, w) = 1000.0 * k + w;
            for (int j = 1; j <= st.nSol; ++j)
                st.AbsC(j, w) = static_cast<float>(0.1 * j + 0.01 * w);
        }
        for (int j = 1; j <= st.nSol; ++j) st.AbsC(j, 0) = static_cast<float>(0.001 * j);
        return f(g);
    }
};

/// Geometry of the test data set.
struct SheetShape {
    int nSp = 2, nSol = 3, nWl = 4;
    int skipBefore = 0, skipAfter = 0; ///< spectrum rows below wl_start, above wl_stop
};

/// A State as the reader leaves it, on a sheet laid out like a data set: species
/// rows 10.., the mean error below them, a composition row, then the spectra.
class OptimizeFixture {
public:
    explicit OptimizeFixture(const SheetShape& shape = {}) : ui(st) {
        using S = std::string;
        const int nSp = shape.nSp, nSol = shape.nSol;
        app->SetListener([this](const EmbeddedHost& h) {
            if (h.StatusBarText() != (statusBar.empty() ? "" : statusBar.back()))
                statusBar.push_back(h.StatusBarText());
        });
        st.xlApp = app, st.xlSheet = &sheet;
        st.nSp = int16_t(nSp), st.nSol = int16_t(nSol), st.nWl = int16_t(shape.nWl);
        st.RelTol = 1e-8, st.GaussLimit = 0.95;
        for (auto* v : {&st.G0Init, &st.G0Res, &st.GScale, &st.GErr}) v->Redim(nSp);
        for (auto* v : {&st.G0, &st.SearchDir, &st.G0Save}) v->Redim(nSp);
        st.SpName.Redim(nSp), st.SpFree.Redim(nSp);
        st.Eps.Redim(nSp, shape.nWl), st.AbsC.Redim(nSol, shape.nWl);

        auto row = [&](int r, const std::vector<CellValue>& cells) {
            for (size_t c = 0; c < cells.size(); ++c) sheet.UserEdit(r, int(c) + 1, cells[c]);
        };
        row(9, {S("Species:"), double(nSp), S("Initial"), S("Result"), S(" ±")});
        for (int i = 1; i <= nSp; ++i) {
            st.SpName(i) = "Sp" + std::to_string(i), st.SpFree(i) = kTrue, st.GScale(i) = 1.0f;
            row(i + 9, {S(), st.SpName(i), -100.0 * i});
        }
        st.nFree = int16_t(nSp);
        row(ErrRow() + 2, {S("NaCl")});
        for (int j = 1; j <= nSol; ++j) sheet.UserEdit(ErrRow() + 2, j + 1, 0.1 * j);
        sheet.UserEdit(ErrRow() + 2, nSol + 2, S("*"));
        st.RowWave = int16_t(ErrRow() + 4);
        sheet.UserEdit(st.RowWave, 1, S("Wave"));
        for (int j = 1; j <= nSol; ++j) sheet.UserEdit(st.RowWave, j + 1, "S" + std::to_string(j));
        for (int r = 0, rows = shape.skipBefore + shape.nWl + shape.skipAfter; r < rows; ++r) {
            const int16_t at = int16_t(st.RowWave + 1 + r);
            sheet.UserEdit(at, 1, 310.0 + 10.0 * r);
            for (int j = 1; j <= nSol; ++j) sheet.UserEdit(at, j + 1, 0.05 * j + 0.001 * r);
            if (r < shape.skipBefore || r >= shape.skipBefore + shape.nWl)
                st.RowWlSkip = at;
            else
                st.RowWlFirst = st.RowWlFirst ? st.RowWlFirst : at, st.RowWlLast = at;
        }
        st.xlsWatch->SetSheet(&sheet); // the program's writes from here on
        st.goalOverride = [this](State& s, int16_t probe) { return goal.Call(s, probe); };
    }

    /// Free species i starts at g.
    void Start(int i, double g) { st.G0Res(i) = st.G0Init(i) = static_cast<float>(g); }
    /// Species i held fixed at g (its "Result" cell holds the value).
    void Fix(int i, double g) {
        st.SpFree(i) = kFalse, --st.nFree;
        Start(i, g);
        sheet.UserEdit(i + 9, 4, static_cast<double>(static_cast<float>(g)));
        st.xlsWatch->Changed = false;
    }
    int ErrRow() const { return st.nSp + 10; }

    CountingSheet sheet; // outlives the state, whose watcher lets go of it
    State st;
    TestUi ui;
    std::shared_ptr<EmbeddedHost> app = std::make_shared<EmbeddedHost>();
    std::vector<std::string> statusBar; ///< each text the host's status bar showed
    SyntheticGoal goal;
};

} // namespace lumora::test
