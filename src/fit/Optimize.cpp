#include "fit/Optimize.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/Intervals.h"
#include "model/GaussTable.h"
#include "model/ReadFixedMarks.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace lumora {

namespace {

/// Probe step of the coordinate and directional differences (times GScale for a coordinate).
constexpr double kProbeStep = 0.01;
/// A line search whose step falls to this length has collapsed.
constexpr double kMinStep = 0.0001;

double Sign(double x) {
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
}

class Run {
public:
    explicit Run(State& st) : st_(st), ui_(*st.ui) {}

    void Execute() {
        if (!Prepare()) return;
        if (!Iterate()) return;
        EndOfRun();
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
        if (settingsSaved_ && st_.xlApp) {
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
        ui_.setButtons(true, 0);
        ui_.progress(-1.0);
        ui_.status("");
        ui_.yield();
        // After a failed re-read the sheet still differs from the state: the next
        // command must read it again, and the reader owns the event switch then.
        if (!readFailed_) {
            st_.xlsWatch->Changed = false;
            st_.xlsWatch->SetEvents(true);
        }
    }

private:
    Worksheet& Sheet() { return *st_.xlSheet; }
    void WriteNumber(int row, int col, double x) { Sheet().SetValue(row, col, CheckFinite(x)); }
    /// sqrt(Goal(probe)); false when the goal function failed or Esc was pressed.
    bool Error(int16_t probe, double& e) {
        const double value = CallGoal(st_, probe);
        if (st_.ErrCode != 0) return false;
        e = CheckedSqrt(value);
        return true;
    }

    bool Prepare() {
        SheetWatcher& watch = *st_.xlsWatch;
        if (ui_.absorptionViewVisible() && watch.Changed) ui_.unloadAbsorptionView();
        if (watch.Changed) {
            readFailed_ = true; // until the reader says otherwise, also if it throws
            if (st_.hooks.readDataSet)
                st_.hooks.readDataSet(st_);
            else
                st_.ErrCode = -1;
            if (st_.ErrCode != 0) return false;
            readFailed_ = false;
        }
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
        ui_.setButtons(false, 3);
        ui_.yield();

        converged_ = false;
        st_.IterCount = 0;
        st_.GaussLimit = 0.95;
        std::string tag;
        if (st_.FitMode != 0) {
            ReadFixedMarks(st_);
            tag = "Gauss";
        } else {
            st_.GaussFixed.Erase();
        }
        const int errRow = st_.nSp + 10;
        Sheet().SetHorizontalAlignment(errRow, 5, errRow, 5, kAlignCenter);
        Sheet().SetValue(errRow, 5, tag.empty() ? CellValue{} : CellValue{tag});
        for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Res(i);
        shown_ = st_.G0;
        return Error(0, st_.RmsErr);
    }

    /// The iterations; false when the run ends without saving the result table.
    bool Iterate() {
        const double t = kProbeStep;
        for (;;) {
            double sum = 0.0;
            ui_.yield();
            if (st_.ErrCode != 0) return true; // Esc between two iterations

            // Coordinate probes: a Newton-scaled slope per free species.
            for (int i = 1; i <= st_.nSp; ++i) {
                if (!st_.SpFree(i)) {
                    st_.SearchDir(i) = 0.0;
                    continue;
                }
                const double h = static_cast<double>(st_.GScale(i)) * t;
                const double x0 = st_.G0(i);
                st_.G0(i) = x0 - h;
                const bool lo = Error(-1, st_.ErrLo);
                st_.G0(i) = x0;
                if (!lo) break;
                st_.G0(i) = x0 + h;
                const bool hi = Error(-1, st_.ErrHi);
                st_.G0(i) = x0;
                if (!hi) break;
                const double g = CheckedDiv(st_.ErrHi - st_.ErrLo, h + h);
                const double c =
                    CheckedDiv((st_.ErrHi - st_.RmsErr) + (st_.ErrLo - st_.RmsErr), h * h);
                const double d = c != 0.0 ? CheckedDiv(g, std::fabs(c)) : Sign(g) * h;
                st_.SearchDir(i) = d;
                sum = CheckFinite(sum + d * d);
            }
            if (st_.ErrCode != 0) return true;

            const double n = std::sqrt(sum);
            if (n == 0.0) {
                if (!ui_.ask("Nothing to optimize. Save data?  ")) return false;
                if (!Error(-1, st_.RmsErr)) return true;
                WriteNumber(st_.nSp + 10, 4, st_.RmsErr);
                return true;
            }
            for (int i = 1; i <= st_.nSp; ++i) st_.SearchDir(i) = st_.SearchDir(i) / n;

            // Directional probes.
            for (int i = 1; i <= st_.nSp; ++i) {
                st_.G0Save(i) = st_.G0(i);
                st_.G0(i) = st_.G0Save(i) - t * st_.SearchDir(i);
            }
            if (!Error(-1, st_.ErrLo)) return RestoreSaved();
            for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Save(i) + t * st_.SearchDir(i);
            if (!Error(-1, st_.ErrHi)) return RestoreSaved();

            // Newton step along the direction, long steps damped logarithmically.
            const double g = (st_.ErrHi - st_.ErrLo) / (t + t);
            const double c =
                std::fabs(((st_.ErrHi - st_.RmsErr) + (st_.ErrLo - st_.RmsErr)) / (t * t)) +
                std::fabs(g) * t;
            double s = c != 0.0 ? CheckFinite(-g / c) : -t;
            if (std::fabs(s) > t) s = (1.0 + std::log(std::fabs(s) / t)) * Sign(s) * t;

            // Line search: halve until the error does not rise by more than RelTol.
            // A step that gains less than RelTol of the error ends the run like a
            // collapse: the minimum is as close as the search resolves. Otherwise a
            // direction along which the error does not change (a vanishing species whose
            // band height makes up for its concentration) is followed for ever.
            bool stalled = false;
            for (;;) {
                for (int i = 1; i <= st_.nSp; ++i) {
                    if (!st_.SpFree(i)) continue;
                    st_.G0(i) = st_.G0Save(i) + s * st_.SearchDir(i);
                    st_.G0Res(i) = CSng(st_.G0(i));
                }
                if (!Error(0, st_.ErrHi)) return true;
                if (st_.ErrHi < st_.RmsErr) {
                    stalled = st_.RmsErr - st_.ErrHi <= st_.RelTol * st_.RmsErr;
                    st_.RmsErr = st_.ErrHi;
                    break;
                }
                if (WithinTolerance(st_.ErrHi, st_.RmsErr)) {
                    stalled = true;
                    break;
                }
                s = s / 2.0;
                st_.ErrLo = 0.0;
                if (std::fabs(s) > kMinStep) continue;
                // Collapsed: keep the rejected trial point and loosen the tolerance.
                st_.RelTol = st_.RelTol * 10.0;
                break;
            }
            if (stalled) {
                st_.ErrLo = 0.0;
                st_.RelTol = st_.RelTol * 10.0;
            }

            st_.IterCount = CInt16(st_.IterCount + 1.0);
            ui_.status("Iteration: " + std::to_string(st_.IterCount) +
                       ",    Error: " + Trim(FormatNumber(st_.RmsErr, "0.000000")));
            ui_.yield();
            if (st_.ErrCode != 0) return true;

            for (int i = 1; i <= st_.nSp; ++i)
                if (st_.SpFree(i)) WriteNumber(i + 9, 4, st_.G0(i));
            shown_ = st_.G0;
            WriteNumber(st_.nSp + 10, 4, st_.RmsErr);
            if (st_.FitMode == 1) WriteGaussianTable(st_, 0);
            if (ui_.absorptionViewVisible() && ui_.absorptionViewIndex() > 0)
                ui_.showAbsorptionView();

            if (st_.ErrLo == 0.0 && (std::fabs(s) < kMinStep || stalled)) {
                if (st_.FitMode == 0 || st_.GaussLimit == 0.9995) {
                    converged_ = true;
                    return true;
                }
                if (st_.GaussLimit < 0.995)
                    st_.GaussLimit = 0.995;
                else if (st_.GaussLimit < 0.9995)
                    st_.GaussLimit = 0.9995;
            }
        }
    }

    /// ErrHi / RmsErr <= 1 + RelTol, read as "no worse than" when RmsErr is 0.
    bool WithinTolerance(double err, double best) const {
        if (best == 0.0) return err <= 0.0;
        return err / best <= 1.0 + st_.RelTol;
    }

    /// A failed directional probe leaves the parameters where the line search starts.
    bool RestoreSaved() {
        for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Save(i);
        return true;
    }

    void EndOfRun() {
        if (st_.ErrCode == kInterrupt) {
            BackToShownParameters();
            st_.ErrCode = -1;
            if (!ui_.ask("Optimization interrupted. Keep current data?  ")) return;
        }
        if (!SaveResultTable()) return;
        if (!converged_) return;
        ui_.status("Calculating confidence intervals...");
        ConfidenceIntervals(st_);
    }

    /// Esc may stop an evaluation halfway or at a probe point: evaluate once more at the
    /// parameters the "Result" column shows, so that the table and the views belong to
    /// them. The code stays the interrupt's.
    void BackToShownParameters() {
        st_.G0 = shown_;
        CallGoal(st_, -1);
    }

    /// The table beside the spectra: species and solution names, the rms deviation
    /// of each solution, then Eps and AbsC per wavelength. False when Esc stopped it.
    bool SaveResultTable() {
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

    State& st_;
    Ui& ui_;
    bool converged_ = false;
    bool settingsSaved_ = false;
    bool displayStatusBar_ = true;
    bool readFailed_ = false;
    bool failed_ = false;
    /// The parameters the "Result" column shows (the start values before the first write).
    Vec<double> shown_;
};

} // namespace

void Optimize(State& st) {
    Run run(st);
    try {
        run.Execute();
    } catch (const RuntimeError& e) {
        run.Fail(e.Description());
    } catch (const std::bad_alloc&) {
        run.Fail("Out of memory");
    } catch (const std::exception& e) {
        run.Fail(e.what());
    }
    run.CleanUp();
}

} // namespace lumora
