#include "dataset/OptimizeCommand.h"

#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/GaussianCheck.h"
#include "fit/Intervals.h"
#include "fit/Optimize.h"
#include "model/GaussTable.h"
#include "sheet/CellRef.h"

#include <algorithm>
#include <new>
#include <string>

namespace lumora {

namespace {

class Command {
public:
    Command(State& st, const ReadRequest& request, const OptimizeViews& views,
            std::optional<FitMethod> method, std::optional<IntervalMethod> intervals)
        : st_(st), ui_(*st.ui), request_(request), views_(views), method_(method),
          intervals_(intervals) {}

    OptimizeEnd Execute() {
        if (!Prepare()) return OptimizeEnd::StartFailed;
        OptimizeOptions options;
        options.method = method_ ? *method_ : st_.Method;
        options.onIteration = [this](State&) { WriteIteration(); };
        const Vec<float> start = st_.G0Res;
        const OptimizeResult result = Optimize(st_, options);
        if (result.end == OptimizeEnd::StartFailed) return result.end;
        if (result.end == OptimizeEnd::NothingToOptimize && !SaveStartValues()) return result.end;
        EndOfRun(result.end == OptimizeEnd::Converged);
        if (result.end == OptimizeEnd::Converged && st_.ErrCode == 0)
            CheckGaussianResult(st_, start);
        return result.end;
    }

    /// The error handler: any run-time error after the preparation.
    void Fail(const std::string& description) {
        st_.Message("Optimization failed: " + description, Icon::Critical);
        failed_ = true;
        st_.ErrCode = -1;
    }

    /// Reached from every path, also after a failure.
    void CleanUp() {
        st_.GaussLimit = 0.95;
        RestoreHost();
        ui_.progress(-1.0);
        ui_.status("");
        ui_.yield();
        // After a failed re-read the sheet still differs from the state: the next
        // command must read it again, and the reader owns the event switch then.
        if (!readFailed_) {
            st_.xlsWatch->Changed = discarded_;
            st_.xlsWatch->SetEvents(true);
        }
    }

private:
    Worksheet& Sheet() { return *st_.xlSheet; }
    void WriteNumber(int row, int col, double x) { Sheet().SetValue(row, col, CheckFinite(x)); }
    int ErrorRow() const { return st_.nSp + 10; }

    bool Prepare() {
        SheetWatcher& watch = *st_.xlsWatch;
        if (watch.Changed && views_.beforeReread) views_.beforeReread();
        if (watch.Changed && !Reread()) return false;
        if (!st_.xlSheet) { // nothing has been read
            st_.ErrCode = -1;
            readFailed_ = true;
            return false;
        }
        if (st_.xlApp) {
            displayStatusBar_ = st_.xlApp->DisplayStatusBar();
            settingsSaved_ = true;
            st_.xlApp->SetStatusBar("Optimizing...");
            st_.xlApp->SetInteractive(false);
        }
        watch.SetEvents(false);
        ui_.yield();
        WriteModeTag();
        return true;
    }

    bool Reread() {
        readFailed_ = true; // until the reader says otherwise, also if it throws
        ReadDataSet(st_, request_);
        if (views_.afterReread) views_.afterReread();
        if (st_.ErrCode != 0) return false;
        readFailed_ = false;
        return true;
    }

    /// "Gauss" beside the mean error while the bands are fitted, empty otherwise.
    void WriteModeTag() {
        Sheet().SetHorizontalAlignment(ErrorRow(), 5, ErrorRow(), 5, kAlignCenter);
        Sheet().SetValue(ErrorRow(), 5, st_.FitMode != 0 ? CellValue{"Gauss"} : CellValue{});
    }

    void WriteIteration() {
        for (int i = 1; i <= st_.nSp; ++i)
            if (st_.SpFree(i)) WriteNumber(i + 9, 4, st_.G0(i));
        WriteNumber(ErrorRow(), 4, st_.RmsErr);
        if (st_.FitMode == 1) WriteGaussianTable(st_, 0);
        if (views_.afterIteration) views_.afterIteration();
    }

    /// No free species moves the error: on Yes the start values stay with their error
    /// and table. False when the user declines.
    bool SaveStartValues() {
        if (!ui_.ask("Nothing to optimize. Save data?  \n(" + NothingToOptimizeReason(st_) + ")"))
            return false;
        const double value = CallGoal(st_, -1);
        if (st_.ErrCode == 0) {
            st_.RmsErr = CheckedSqrt(value);
            WriteNumber(ErrorRow(), 4, st_.RmsErr);
        } else if (st_.ErrCode == kInterrupt) {
            // Esc stopped the evaluation halfway: once more at the values shown.
            CallGoal(st_, -1);
            st_.ErrCode = kInterrupt;
        }
        return true;
    }

    void EndOfRun(bool converged) {
        if (st_.ErrCode == kInterrupt) {
            st_.ErrCode = -1;
            if (!ui_.ask("Optimization interrupted. Keep current data?  ")) {
                DiscardRun();
                return;
            }
        }
        if (!SaveResultTable()) return;
        if (!converged) return;
        ui_.status("Calculating confidence intervals...");
        if (EstimateIntervals(st_, intervals_ ? *intervals_ : st_.Intervals)) WriteIntervals();
    }

    /// The sheet as before the run: a "Result" value left behind would fix its species
    /// on the next read. The state still holds the run's values, so the next command
    /// reads the sheet again.
    void DiscardRun() {
        for (int i = 1; i <= st_.nSp; ++i)
            if (st_.SpFree(i)) Sheet().ClearContents(i + 9, 4, i + 9, 4);
        Sheet().ClearContents(ErrorRow(), 4, ErrorRow(), 4);
        discarded_ = true;
    }

    /// The half-widths; a species whose profile left it undetermined gets an empty cell
    /// rather than an old number that would read as its interval.
    void WriteIntervals() {
        for (int i = 1; i <= st_.nSp; ++i) {
            if (st_.GErr(i) != 0.0f)
                Sheet().SetValue(i + 9, 5, static_cast<double>(st_.GErr(i)));
            else if (st_.SpFree(i) && st_.GLo.Dimensioned())
                Sheet().ClearContents(i + 9, 5, i + 9, 5);
        }
    }

    /// The table beside the spectra. A sheet too narrow for it fails with the cells
    /// it needed.
    bool SaveResultTable() {
        try {
            return WriteResultTable();
        } catch (const RuntimeError& e) {
            const int last = 2 * st_.nSol + st_.nSp + 6;
            throw RuntimeError(e.Description() + " (the result table needs columns up to " +
                               ColumnName(last) + ")");
        }
    }

    /// Species and solution names, the rms deviation of each solution, then Eps and
    /// AbsC per wavelength. False when Esc stopped it.
    bool WriteResultTable() {
        ui_.status("Saving parameters...");
        ui_.yield();
        if (Interrupted()) return false;
        Worksheet& sheet = Sheet();
        const int nSp = st_.nSp;
        const int nSol = st_.nSol;
        const int c0 = nSol + 2;
        const int cSol = c0 + nSp + 1; // column before the first calculated solution
        // Down to the last spectrum row (or skipped row below the window) and one more,
        // never up into the header, species or composition rows.
        const int bottom = std::max<int>(st_.RowWlLast, st_.RowWlSkip) + 1;
        sheet.ClearContents(st_.RowWave - 1, c0, bottom, 2 * nSol + nSp + 6);
        for (int i = 1; i <= nSp; ++i) sheet.SetValue(st_.RowWave, c0 + i, st_.SpName(i));
        for (int j = 1; j <= nSol; ++j) {
            sheet.SetValue(st_.RowWave, cSol + j, sheet.Value(st_.RowWave, j + 1));
            WriteNumber(st_.RowWave - 1, cSol + j, st_.AbsC(j, 0));
        }
        for (int r = st_.RowWlFirst; r <= st_.RowWlLast; ++r) {
            const int k = r - st_.RowWlFirst + 1;
            ui_.progress(static_cast<double>(k) / st_.nWl);
            ui_.yield();
            if (Interrupted()) return false;
            for (int i = 1; i <= nSp; ++i) WriteNumber(r, c0 + i, st_.Eps(i, k));
            for (int j = 1; j <= nSol; ++j) WriteNumber(r, cSol + j, st_.AbsC(j, k));
        }
        return true;
    }

    /// Esc while the table is written stops the writing (and the intervals).
    bool Interrupted() {
        if (st_.ErrCode != kInterrupt) return false;
        st_.ErrCode = -1;
        return true;
    }

    void RestoreHost() {
        if (!settingsSaved_ || !st_.xlApp) return;
        try {
            SpreadsheetApp& app = *st_.xlApp;
            app.SetScreenUpdating(true);
            app.SetInteractive(true);
            app.ResetStatusBar();
            app.SetDisplayStatusBar(displayStatusBar_);
        } catch (const RuntimeError& e) {
            if (!failed_) Fail(e.Description());
        }
    }

    State& st_;
    Ui& ui_;
    const ReadRequest& request_;
    const OptimizeViews& views_;
    std::optional<FitMethod> method_;
    std::optional<IntervalMethod> intervals_;
    bool settingsSaved_ = false;
    bool displayStatusBar_ = true;
    bool readFailed_ = false;
    bool failed_ = false;
    bool discarded_ = false;
};

} // namespace

std::string NothingToOptimizeReason(const State& st) {
    std::string fixed;
    for (int i = 1; i <= st.nSp; ++i)
        if (!st.SpFree(i)) fixed += (fixed.empty() ? "" : ", ") + st.SpName(i);
    if (st.nFree == 0) return "fixed by a value in \"Result\": " + fixed;
    return "no free species changes the error" +
           (fixed.empty() ? std::string() : "; fixed by a value in \"Result\": " + fixed);
}

OptimizeEnd OptimizeCommand(State& st, const ReadRequest& request, const OptimizeViews& views,
                            std::optional<FitMethod> method,
                            std::optional<IntervalMethod> intervals) {
    Command command(st, request, views, method, intervals);
    OptimizeEnd end = OptimizeEnd::StartFailed;
    try {
        end = command.Execute();
    } catch (const RuntimeError& e) {
        command.Fail(e.Description());
    } catch (const std::bad_alloc&) {
        command.Fail("Out of memory");
    } catch (const std::exception& e) {
        command.Fail(e.what());
    }
    command.CleanUp();
    return end;
}

} // namespace lumora
