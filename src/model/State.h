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
#include "model/FitMethod.h"
#include "model/IntervalMethod.h"
#include "sheet/SheetWatcher.h"
#include "sheet/SpreadsheetApp.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    /// Replaces the residual vector of the last goal evaluation, for tests whose goal function
    /// stands in for the real one (unset: the real residuals; none with a stand-in goal).
    std::function<void(const State&, std::vector<double>&)> residualsOverride;
    /// Replaces the data-set reader for tests of its callers (unset: the real reader).
    std::function<void(State&)> readOverride;

    // Scalars
    int16_t ErrCode = 0;            ///< outcome of the last command: 0 good, kInterrupt after Esc
    std::string ErrMsg;             ///< message belonging to ErrCode
    std::vector<std::string> Notes; ///< what the last read changed of the data, for the user
    std::string WorkDir;            ///< folder of the data-set workbook, with its final "/"
    std::string Title;              ///< the data set's title line
    std::string SrcFile;            ///< the data-file box's text the data set was read from
    std::string SrcPath;            ///< full path of that workbook
    int16_t nFactors = 0;  ///< factors of the reduced data matrix (0: the data as measured)
    bool NoLimits = false; ///< "/ie": no range checks of T, P and density
    int16_t FitMode = 0;   ///< 0 molar absorptivities per wavelength, 1 Gaussian bands
    FitMethod Method = FitMethod::Descent; ///< the options cell's "/method=" at the last read
    /// the options cell's "/intervals=" at the last read
    IntervalMethod Intervals = IntervalMethod::Hessian;
    /// why the last interval phase gave no intervals or left species undetermined ("" none)
    std::string IntervalNote;
    bool GaussArg = true;     ///< Gaussian bands on wavenumber (false: wavelength)
    float ScanSpan = 10.0f;   ///< span of a goal-function scan (kJ/mol)
    float TwipsX = 15.0f;     ///< twips per pixel, horizontal
    float TwipsY = 15.0f;     ///< twips per pixel, vertical
    float FrameW = 0.0f;      ///< border width of the main window (pixels)
    float CaptionH = 0.0f;    ///< caption height of the main window (pixels)
    double GaussLimit = 0.95; ///< least fraction of a full Gauss-Newton step on the bands
    double Damping = 1e-10;   ///< relative damping of the normal equations' diagonal
    double RelTol = 1e-8;     ///< relative change of the error the optimizer resolves
    float TC = 0.0f;          ///< temperature (C)
    float TK = 0.0f;          ///< temperature (K)
    float PBar = 0.0f;        ///< pressure (bar; 0 the saturation pressure)
    float Dens = 0.0f;        ///< density of water (g/cm3)
    float WaterA = 0.0f;      ///< dielectric constant of water
    float WaterB = 0.0f;      ///< Gibbs energy of water (J/mol)
    float WlStart = 0.0f;     ///< first wavelength of the fitted window (nm)
    float WlStop = 0.0f;      ///< last wavelength of the fitted window (nm)
    double WlMin = 0.0;       ///< shortest wavelength of the table (nm), at most 122
    double WlMax = 0.0;       ///< longest wavelength of the table (nm), at least 380
    double MeanWl = 0.0;      ///< mean of the fitted wavelengths (nm)
    double RmsErr = 0.0;      ///< mean error: sqrt of the goal function (absorbance)
    int16_t nEl = 0;          ///< elements of the system (element 0, water, not counted)
    int16_t nSp = 0;          ///< species of the data set
    int16_t nFree = 0;        ///< species whose Gibbs energy is refined
    int16_t nSol = 0;         ///< solutions
    int16_t nComp = 0;        ///< composition rows (substances)
    int16_t nWl = 0;          ///< fitted wavelengths
    int16_t AqFirst = 0;      ///< index of water among the system's species
    int16_t AqLast = 0;       ///< last aqueous species of the system
    int16_t RowWave = 0;      ///< sheet row of the "Wave" keyword
    int16_t RowWlFirst = 0;   ///< sheet row of the first fitted wavelength
    int16_t RowWlLast = 0;    ///< sheet row of the last fitted wavelength
    int16_t RowWlSkip = 0;    ///< sheet row of the last wavelength below the window (0: none)
    int16_t CurRow = 0;       ///< cell cursor of the reader: row
    int16_t CurCol = 0;       ///< cell cursor of the reader: column
    double ErrLo = 0.0;       ///< error at the lower probe point (absorbance)
    double ErrHi = 0.0;       ///< error at the upper probe point (absorbance)
    int16_t IterCount = 0;    ///< optimizer iterations of the last run
    /// Goal-function calls since the counter was last reset (batch summary).
    long GoalCalls = 0;
    /// Counts successful reads of the data set, so views can tell their data are stale.
    long ReadSerial = 0;

    SysRec sysRec; ///< the chemical system as the engine read it

    // Arrays; index 0 is present and, where not said otherwise, unused.
    Vec<std::string> SpName; ///< species names (1..nSp)
    Vec<int16_t> SpIdx;      ///< index of each species among the system's species
    Vec<Boolean16> SpFree;   ///< refined (kTrue) or fixed by a "Result" value
    Vec<float> G0Init;       ///< "Initial" Gibbs energies (kJ/mol)
    Vec<float> G0Res;        ///< "Result" Gibbs energies (kJ/mol); the start of a run
    Vec<double> G0;          ///< Gibbs energies the goal function evaluates (kJ/mol)
    Vec<float> GScale;       ///< probe scale of each species (kJ/mol)
    Vec<float> GErr;         ///< 95 % half-widths (kJ/mol; 0 none)
    /// 95 % profile bounds (kJ/mol), sized by profile intervals only; empty where the
    /// profile stays below its threshold (not determined)
    Vec<std::optional<double>> GLo, GHi;
    /// correlation of the refined energies (free species in order, 1..nFree); unsized when
    /// the data do not determine it
    Mat<double> GCorr;
    Vec<double> SearchDir; ///< search direction of the optimizer and the gradient scan
    Vec<double> G0Save;    ///< Gibbs energies at the start of a line search (kJ/mol)
    Mat<double> Eps;       ///< molar absorptivities (species, wavelength) (l/(mol cm))
    Mat<double> Conc;      ///< concentrations (species, solution) (mol/l); Conc(k, 0) the row norm
    Mat<double> NormM;     ///< normal equations of one wavelength (species, 0..species)
    Vec<double> WBulk;     ///< element amounts of one speciation (mol; 0 water)
    Vec<double> WArr1;     ///< engine work space of one speciation
    Vec<double> WAmt;      ///< species amounts of one speciation (mol)
    Vec<double> WArr2;     ///< engine work space of one speciation
    Vec<std::string> SolName; ///< solution names (1..nSol)
    Vec<float> SolDens;       ///< solution densities (g/cm3)
    Vec<float> SolWeight;     ///< weights of the solutions, mean 1
    Mat<double> Bulk;         ///< (element, solution) (mol/kg water); element 0 is water
    Mat<double> BulkCorr;     ///< (element, solution) (mol/kg water), marked rows only
    Mat<double> AbsM; ///< absorbances (solution, wavelength); solution 0 holds the wavelength (nm)
    Mat<float> AbsC; ///< calculated absorbances (solution, wavelength); AbsC(j, 0) the rms residual
    Mat<double> GaussTab;  ///< bands (0..3, band): species, scaled centre, scaled width, ln height;
                           ///< GaussTab(0, 0) the count
    Mat<double> GaussSave; ///< GaussTab before a probe evaluation
    Vec<uint8_t> GaussFixed; ///< fixed band parameters, from the comments on the band table
    Mat<double> RefEps;      ///< reference absorptivities of the fitting mode (species, wavelength)

    /// Shows a message through the Ui.
    void Message(const std::string& text, Icon icon) { ui->message(text, icon); }
};

} // namespace lumora
