#pragma once
// A data-set sheet in memory, a spreadsheet host that records its switches, and
// synthetic goal functions with known minima, for the optimizer and interval tests.

#include "TestUi.h"
#include "model/State.h"

#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace lumora::test {

/// Worksheet double: a map of cells, the alignment given to each, and a log of
/// every write with the state of the events switch at that moment.
class MemorySheet : public Worksheet {
public:
    struct Write {
        int row, col;
        bool eventsOn;
    };

    std::string Name() const override { return "Data"; }
    Workbook* Parent() override { return nullptr; }
    CellValue Value(int row, int col) const override {
        const auto it = cells.find({row, col});
        return it == cells.end() ? CellValue{} : it->second;
    }
    void SetValue(int row, int col, const CellValue& value) override {
        if (failWrites) throw RuntimeError("Application-defined or object-defined error");
        writes.push_back({row, col, events_});
        if (IsEmpty(value))
            cells.erase({row, col});
        else
            cells[{row, col}] = value;
        Touched();
    }
    std::optional<std::string> Comment(int row, int col) const override {
        const auto it = comments.find({row, col});
        if (it == comments.end()) return std::nullopt;
        return it->second;
    }
    void SetComment(int row, int col, const std::optional<std::string>& text) override {
        if (text)
            comments[{row, col}] = *text;
        else
            comments.erase({row, col});
    }
    void ClearContents(int row1, int col1, int row2, int col2) override {
        clears.push_back({row1, col1, row2, col2});
        for (int r = row1; r <= row2; ++r)
            for (int c = col1; c <= col2; ++c) cells.erase({r, c});
        Touched();
    }
    void Clear(int row1, int col1, int row2, int col2) override {
        ClearContents(row1, col1, row2, col2);
    }
    void SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) override {
        for (int r = row1; r <= row2; ++r)
            for (int c = col1; c <= col2; ++c) alignment[{r, c}] = align;
    }
    void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
    void SetEvents(bool on) override { events_ = on; }
    bool Events() const override { return events_; }

    /// An edit by the user: changes the cell and raises the change event.
    void UserEdit(int row, int col, const CellValue& value) {
        cells[{row, col}] = value;
        Touched();
    }
    double Number(int row, int col) const {
        const CellValue v = Value(row, col);
        if (const double* d = std::get_if<double>(&v)) return *d;
        throw std::runtime_error("no number at " + std::to_string(row) + "," + std::to_string(col));
    }
    bool HasNumber(int row, int col) const {
        return std::holds_alternative<double>(Value(row, col));
    }

    std::map<std::pair<int, int>, CellValue> cells;
    std::map<std::pair<int, int>, std::string> comments;
    std::map<std::pair<int, int>, int> alignment;
    std::vector<Write> writes;
    std::vector<std::vector<int>> clears;
    bool failWrites = false;

private:
    void Touched() {
        if (events_ && handler_) handler_();
    }
    std::function<void()> handler_;
    bool events_ = true;
};

/// Spreadsheet host double that records the status bar and the switches.
class MemoryApp : public SpreadsheetApp {
public:
    std::string HostName() const override { return "memory"; }
    std::vector<std::string> Extensions() const override { return {".xlsx"}; }
    void SetVisible(bool) override {}
    int WorkbookCount() override { return 0; }
    Workbook* WorkbookItem(int) override { return nullptr; }
    Workbook* Open(const std::string&, std::string& error) override {
        error = "not supported";
        return nullptr;
    }
    Workbook* ActiveWorkbook() override { return nullptr; }
    bool DisplayStatusBar() const override { return displayStatusBar; }
    void SetDisplayStatusBar(bool on) override {
        displayStatusBar = on;
        ++displayStatusBarWrites;
    }
    void SetStatusBar(const std::string& text) override {
        statusBar = text;
        statusBarHistory.push_back(text);
    }
    void ResetStatusBar() override {
        statusBar.reset();
        statusBarHistory.push_back("<reset>");
    }
    bool Interactive() const override { return interactive; }
    void SetInteractive(bool on) override { interactive = on; }
    bool ScreenUpdating() const override { return screenUpdating; }
    void SetScreenUpdating(bool on) override { screenUpdating = on; }

    bool displayStatusBar = false;
    int displayStatusBarWrites = 0;
    std::optional<std::string> statusBar;
    std::vector<std::string> statusBarHistory;
    bool interactive = true;
    bool screenUpdating = true;
};

/// One call of the synthetic goal function.
struct GoalCall {
    int16_t probe;
    std::vector<double> g; ///< G0(1..nSp), index 0 unused
    double relTol;
    double gaussLimit;
    bool interactive;
};

/// Deterministic noise in [-1, 1] from the parameters as the engine sees them (floats).
inline double Hash01(const std::vector<double>& g) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (size_t i = 1; i < g.size(); ++i) {
        h ^= std::bit_cast<uint32_t>(static_cast<float>(g[i])) + 0x9E3779B97F4A7C15ull + (h << 6) +
             (h >> 2);
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    return static_cast<double>(h >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

/// A goal function installed through st.goalOverride: resets ErrCode and yields like
/// the real one, records every call, fills Eps and AbsC with recognisable values,
/// and can fail (ErrCode -1) at a chosen call.
struct SyntheticGoal {
    /// Raw goal value of G0 (index 1..nSp).
    std::function<double(const std::vector<double>&)> f;
    std::vector<GoalCall> calls;
    size_t failAtCall = 0; ///< 1-based; 0 never
    MemoryApp* app = nullptr;

    void Install(State& st) {
        st.goalOverride = [this](State& s, int16_t probe) { return Call(s, probe); };
    }
    double Call(State& st, int16_t probe) {
        st.ErrCode = 0;
        std::vector<double> g(st.nSp + 1);
        for (int i = 1; i <= st.nSp; ++i) g[i] = st.G0(i);
        calls.push_back({probe, g, st.RelTol, st.GaussLimit, app ? app->interactive : true});
        st.ui->yield();
        if (st.ErrCode != 0) return 0.0;
        if (failAtCall == calls.size()) {
            st.ErrCode = -1;
            return 0.0;
        }
        for (int w = 1; w <= st.nWl; ++w) {
            for (int k = 1; k <= st.nSp; ++k) st.Eps(k, w) = 1000.0 * k + w;
            for (int j = 1; j <= st.nSol; ++j)
                st.AbsC(j, w) = static_cast<float>(0.1 * j + 0.01 * w);
        }
        for (int j = 1; j <= st.nSol; ++j) st.AbsC(j, 0) = static_cast<float>(0.001 * j);
        return f(g);
    }
    /// Calls with probe 0 (full evaluations).
    std::vector<GoalCall> Full() const {
        std::vector<GoalCall> out;
        for (const auto& c : calls)
            if (c.probe == 0) out.push_back(c);
        return out;
    }
};

/// Geometry of the test data set.
struct SheetShape {
    int nSp = 2;
    int nSol = 3;
    int nWl = 4;
    int skipBefore = 0; ///< spectrum rows below wl_start
    int skipAfter = 0;  ///< spectrum rows above wl_stop
};

/// A State as the reader leaves it, on a MemorySheet laid out like a data set.
class OptimizeFixture {
public:
    explicit OptimizeFixture(const SheetShape& shape = {}) : shape_(shape), ui(st) {
        app = std::make_shared<MemoryApp>();
        goal.app = app.get();
        const int nSp = shape.nSp, nSol = shape.nSol;
        st.xlApp = app;
        st.xlSheet = &sheet;
        st.xlsWatch->SetSheet(&sheet);
        st.nSp = static_cast<int16_t>(nSp);
        st.nSol = static_cast<int16_t>(nSol);
        st.nWl = static_cast<int16_t>(shape.nWl);
        st.RelTol = 1e-8;
        st.GaussLimit = 0.95;
        st.SpName.Redim(nSp);
        st.SpFree.Redim(nSp);
        st.G0Init.Redim(nSp);
        st.G0Res.Redim(nSp);
        st.G0.Redim(nSp);
        st.GScale.Redim(nSp);
        st.GErr.Redim(nSp);
        st.SearchDir.Redim(nSp);
        st.G0Save.Redim(nSp);
        st.Eps.Redim(nSp, shape.nWl);
        st.AbsC.Redim(nSol, shape.nWl);

        sheet.SetEvents(false);
        sheet.SetValue(1, 1, std::string("Test set"));
        sheet.SetValue(9, 1, std::string("Species:"));
        sheet.SetValue(9, 2, static_cast<double>(nSp));
        sheet.SetValue(9, 3, std::string("Initial"));
        sheet.SetValue(9, 4, std::string("Result"));
        sheet.SetValue(9, 5, std::string(" ±"));
        for (int i = 1; i <= nSp; ++i) {
            st.SpName(i) = "Sp" + std::to_string(i);
            st.SpFree(i) = kTrue;
            st.GScale(i) = 1.0f;
            sheet.SetValue(i + 9, 2, st.SpName(i));
            sheet.SetValue(i + 9, 3, -100.0 * i);
        }
        st.nFree = static_cast<int16_t>(nSp);
        const int errRow = nSp + 10;
        sheet.SetValue(errRow, 1, std::string("Mean err.:"));
        sheet.SetValue(errRow + 1, 2, std::string("molality"));
        sheet.SetValue(errRow + 2, 1, std::string("NaCl"));
        for (int j = 1; j <= nSol; ++j) sheet.SetValue(errRow + 2, j + 1, 0.1 * j);
        sheet.SetValue(errRow + 2, nSol + 2, std::string("*"));
        sheet.SetValue(errRow + 3, 2, std::string("Absorption"));
        st.RowWave = static_cast<int16_t>(errRow + 4);
        sheet.SetValue(st.RowWave, 1, std::string("Wave"));
        for (int j = 1; j <= nSol; ++j) sheet.SetValue(st.RowWave, j + 1, "S" + std::to_string(j));
        int row = st.RowWave;
        double wl = 300.0;
        for (int r = 0; r < shape.skipBefore + shape.nWl + shape.skipAfter; ++r) {
            ++row;
            wl += 10.0;
            sheet.SetValue(row, 1, wl);
            for (int j = 1; j <= nSol; ++j) sheet.SetValue(row, j + 1, 0.05 * j + 0.001 * r);
            const bool inside = r >= shape.skipBefore && r < shape.skipBefore + shape.nWl;
            if (!inside) st.RowWlSkip = static_cast<int16_t>(row);
            if (inside) {
                if (st.RowWlFirst == 0) st.RowWlFirst = static_cast<int16_t>(row);
                st.RowWlLast = static_cast<int16_t>(row);
            }
        }
        sheet.writes.clear();
        sheet.SetEvents(true);
        st.xlsWatch->Changed = false;
        goal.Install(st);
    }

    /// Free species i starts at g.
    void Start(int i, double g) {
        st.G0Res(i) = static_cast<float>(g);
        st.G0Init(i) = static_cast<float>(g);
    }
    /// Species i held fixed at g (its "Result" cell holds the value).
    void Fix(int i, double g) {
        st.SpFree(i) = kFalse;
        --st.nFree;
        Start(i, g);
        sheet.SetEvents(false);
        sheet.SetValue(i + 9, 4, static_cast<double>(static_cast<float>(g)));
        sheet.writes.clear();
        sheet.SetEvents(true);
    }
    int ErrRow() const { return shape_.nSp + 10; }
    /// Writes made while the sheet's events were on (the program's writes must not count).
    int WritesWithEventsOn() const {
        int n = 0;
        for (const auto& w : sheet.writes) n += w.eventsOn ? 1 : 0;
        return n;
    }

    SheetShape shape_;
    MemorySheet sheet; // outlives the state, whose watcher lets go of it
    State st;
    TestUi ui;
    std::shared_ptr<MemoryApp> app;
    SyntheticGoal goal;
};

} // namespace lumora::test
