#pragma once
// Everything one command hands to the next: the program-wide shared state under
// the names every routine uses. The application owns one; each test makes its own.

#include "base/Bounded.h"
#include "base/Constants.h"
#include "base/Ui.h"

#include "engine/Props.h"
#include "engine/Solver.h"
#include "engine/SysReader.h"
#include "engine/SysRec.h"
#include "sheet/SheetWatcher.h"
#include "sheet/SpreadsheetApp.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lumora {

/// Boolean array elements hold -1 for true and 0 for false.
using Boolean16 = int16_t;
inline constexpr Boolean16 kTrue = -1;
inline constexpr Boolean16 kFalse = 0;

struct State {
    State();
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // Long-lived objects
    std::unique_ptr<Solver> solver;
    std::unique_ptr<Props> props;
    std::unique_ptr<SysReader> sysReader;
    std::shared_ptr<SpreadsheetApp> xlApp;  ///< the spreadsheet host (also xlAppT)
    Workbook* xlBook = nullptr;             ///< data-set workbook, owned by the host
    Worksheet* xlSheet = nullptr;           ///< data-set sheet, owned by its workbook
    std::unique_ptr<SheetWatcher> xlsWatch; ///< change watcher
    Ui* ui = nullptr;                       ///< never null: a silent Ui until one is set
    /// The spreadsheet host the reader attaches to (unset: none).
    HostAttach attachHost;
    /// Replaces Goal(probe) for tests of its callers (unset: the real goal function).
    std::function<double(State&, int16_t)> goalOverride;
    /// Replaces the data-set reader for tests of its callers (unset: the real reader).
    std::function<void(State&)> readOverride;

    // Scalars
    int16_t ErrCode = 0;
    std::string ErrMsg;
    std::string WorkDir;
    std::string Title;
    std::string SrcFile;
    int16_t nFactors = 0;
    bool NoLimits = false;
    int16_t FitMode = 0;
    bool GaussArg = true;
    float ScanSpan = 10.0f;
    float TwipsX = 15.0f;
    float TwipsY = 15.0f;
    float FrameW = 0.0f;   ///< border width of the main window (pixels)
    float CaptionH = 0.0f; ///< caption height of the main window (pixels)
    double GaussLimit = 0.95;
    double Damping = 1e-10;
    double RelTol = 1e-8;
    float TC = 0.0f;
    float TK = 0.0f;
    float PBar = 0.0f;
    float Dens = 0.0f;
    float WaterA = 0.0f;
    float WaterB = 0.0f;
    float WlStart = 0.0f;
    float WlStop = 0.0f;
    double WlMin = 0.0;
    double WlMax = 0.0;
    double MeanWl = 0.0;
    double RmsErr = 0.0;
    int16_t nEl = 0;
    int16_t nSp = 0;
    int16_t nFree = 0;
    int16_t nSol = 0;
    int16_t nComp = 0;
    int16_t nWl = 0;
    int16_t AqFirst = 0;
    int16_t AqLast = 0;
    int16_t RowWave = 0;
    int16_t RowWlFirst = 0;
    int16_t RowWlLast = 0;
    int16_t RowWlSkip = 0;
    int16_t CurRow = 0;
    int16_t CurCol = 0;
    double ErrLo = 0.0;
    double ErrHi = 0.0;
    int16_t IterCount = 0;
    /// Goal-function calls since the counter was last reset (batch summary).
    long GoalCalls = 0;
    /// Counts successful reads of the data set, so views can tell their data are stale.
    long ReadSerial = 0;

    SysRec sysRec; ///< SysRec

    // Arrays
    Vec<std::string> SpName;
    Vec<int16_t> SpIdx;
    Vec<Boolean16> SpFree;
    Vec<float> G0Init;
    Vec<float> G0Res;
    Vec<double> G0;
    Vec<float> GScale;
    Vec<float> GErr;
    Vec<double> SearchDir;
    Vec<double> G0Save;
    Mat<double> Eps;  ///< (species, wavelength)
    Mat<double> Conc; ///< (species, solution); Conc(k, 0) the row norm
    Mat<double> NormM;
    Vec<double> WBulk;
    Vec<double> WArr1;
    Vec<double> WAmt;
    Vec<double> WArr2;
    Vec<std::string> SolName;
    Vec<float> SolDens;
    Vec<float> SolWeight;
    Mat<double> Bulk;     ///< (element, solution); element 0 is water
    Mat<double> BulkCorr; ///< (element, solution), marked rows only
    Mat<double> AbsM;     ///< (solution, wavelength); solution 0 holds the wavelength
    Mat<float> AbsC;      ///< (solution, wavelength); AbsC(j, 0) the rms residual
    Mat<double> GaussTab; ///< (0..3, band); GaussTab(0, 0) the band count
    Mat<double> GaussSave;
    Vec<uint8_t> GaussFixed;
    Mat<double> RefEps;

    /// Shows a message through the Ui.
    void Message(const std::string& text, Icon icon) { ui->message(text, icon); }
};

} // namespace lumora
