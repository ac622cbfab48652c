#include "dataset/ReadDataSet.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "dataset/FileDialog.h"
#include "dataset/StartValue.h"
#include "dataset/StripMode.h"
#include "engine/DataPath.h"
#include "fit/CallGoal.h"
#include "fit/FitSwitches.h"
#include "linalg/Chi2Quantile95.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"
#include "model/ReadCell.h"
#include "model/ReadFixedMarks.h"
#include "model/State.h"
#include "sheet/SpreadsheetApp.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace lumora {

namespace {

namespace fs = std::filesystem;

// A data error: ends the read with this code and its message; the detail (a cell's
// text, a name, the engine's reason) follows the message.
struct DataError {
    int16_t code;
    std::string detail;
};

[[noreturn]] void Fail(ReadError error, std::string detail = {}) {
    throw DataError{static_cast<int16_t>(error), std::move(detail)};
}

// The cursor is 16-bit: a sheet that goes on past it is refused by name.
constexpr int kLastRow = 32767;

void SetCode(State& st, ReadError error) {
    st.ErrCode = static_cast<int16_t>(error);
}

bool SameName(const std::string& a, const std::string& b) {
    return LCase(a) == LCase(b);
}

// A path with its "..", "." and links resolved as far as they exist.
std::string Resolved(const std::string& path, const std::string& workDir) {
    std::error_code ec;
    fs::path p(path);
    if (p.is_relative()) p = fs::path(workDir) / p;
    fs::path r = fs::weakly_canonical(p, ec);
    return (ec ? p.lexically_normal() : r).string();
}

// Whether the text of the data-file box means the workbook at fullName: a bare name
// means any workbook of that name (the one open is taken), a path means that file.
bool SameWorkbook(const std::string& text, const std::string& fullName,
                  const std::string& workDir) {
    if (text.find('/') == std::string::npos)
        return SameName(text, fs::path(fullName).filename().string());
    return Resolved(text, workDir) == Resolved(fullName, workDir);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Number conversions of the reader: a failed conversion is a run-time error (code 3).
float ToSingle(const std::string& text) {
    return CSng(TextToDouble(text));
}
int16_t ToInteger(const std::string& text) {
    return CInt16(TextToDouble(text));
}

// Looking for the host and the workbook never interrupts the read: a failure is a null.
std::shared_ptr<SpreadsheetApp> AttachHost(State& st, bool start) {
    if (!st.attachHost) return nullptr;
    try {
        return st.attachHost(start);
    } catch (...) {
        return nullptr;
    }
}

template <class F> auto Quietly(F f, decltype(f()) fallback) -> decltype(f()) {
    try {
        return f();
    } catch (...) {
        return fallback;
    }
}

std::string FullNameOf(Workbook* book) {
    return Quietly([&] { return book->FullName(); }, std::string());
}

// The file types of the host in use (the embedded host's when none can be reached).
std::vector<std::string> HostExtensions(State& st) {
    std::shared_ptr<SpreadsheetApp> app = st.xlApp;
    if (!app) app = AttachHost(st, false);
    if (!app) app = AttachHost(st, true);
    std::vector<std::string> ext;
    if (app) ext = Quietly([&] { return app->Extensions(); }, {});
    if (ext.empty()) ext = {".xlsx"};
    return ext;
}

bool FileTypeAccepted(const std::string& name, const std::vector<std::string>& extensions) {
    return std::any_of(extensions.begin(), extensions.end(),
                       [&](const std::string& e) { return EndsWith(name, e); });
}

std::string FilterPattern(const std::vector<std::string>& extensions) {
    std::string p;
    for (const auto& e : extensions) p += (p.empty() ? "*" : " *") + e;
    return p;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Which workbook. Returns false with ErrCode set when the read stops.
bool ChooseWorkbook(State& st, const OpenDialog& dialog, std::string& fileName, bool& refresh) {
    refresh = false;
    if (fileName.empty()) {
        st.SrcFile = "";
        auto app = AttachHost(st, false);
        Workbook* active = nullptr;
        if (app && Quietly([&] { return app->WorkbookCount(); }, 0) > 0)
            active = Quietly([&] { return app->ActiveWorkbook(); }, nullptr);
        if (!active) {
            if (!FileDialog(dialog, "", "Lumora source files", FilterPattern(HostExtensions(st)),
                            st.WorkDir, fileName, false))
                SetCode(st, ReadError::FileNotOpen);
        } else {
            st.xlApp = app;
            fileName = Quietly([&] { return active->Name(); }, std::string());
        }
        // SrcFile waits until a sheet has been taken: a rejected name must not be
        // remembered as the loaded workbook.
    } else if (!st.SrcFile.empty() && SameWorkbook(fileName, st.SrcPath, st.WorkDir)) {
        auto& app = st.xlApp;
        Workbook* active = nullptr;
        if (app && Quietly([&] { return app->WorkbookCount(); }, 0) > 0)
            active = Quietly([&] { return app->ActiveWorkbook(); }, nullptr);
        if (!active || !st.xlSheet || !SameWorkbook(fileName, FullNameOf(active), st.WorkDir)) {
            SetCode(st, ReadError::FileNotOpen);
            return false;
        }
        refresh = true;
        return true;
    }
    if (fileName.empty()) {
        SetCode(st, ReadError::FileNotOpen);
        return false;
    }
    if (!FileTypeAccepted(fileName, HostExtensions(st))) {
        SetCode(st, ReadError::IncorrectFileType);
        return false;
    }
    return true;
}

// Attach, find or open the workbook, take its sheet. Returns false with ErrCode
// set when the read stops; throws DataError{CannotOpenFile} when there is no worksheet or a
// changed file cannot be read again.
bool OpenWorkbook(State& st, const std::string& fileName) {
    auto app = AttachHost(st, false);
    if (!app) app = AttachHost(st, true);
    if (!app) {
        SetCode(st, ReadError::NoHost);
        return false;
    }
    st.xlApp = app;
    Quietly(
        [&] {
            app->SetVisible(true);
            return 0;
        },
        0);
    st.ui->yield();

    Workbook* book = nullptr;
    const int count = Quietly([&] { return app->WorkbookCount(); }, 0);
    for (int i = 1; i <= count && !book; ++i) {
        Workbook* b = Quietly([&] { return app->WorkbookItem(i); }, nullptr);
        if (b && SameWorkbook(fileName, FullNameOf(b), st.WorkDir)) book = b;
    }
    if (book) {
        // An open workbook that another program saved since: take the saved version.
        std::string error;
        if (book->ReloadIfChangedOnDisk(error) == ReloadResult::Failed)
            Fail(ReadError::CannotOpenFile, error);
        Workbook* active = Quietly([&] { return app->ActiveWorkbook(); }, nullptr);
        if (!active || FullNameOf(active) != FullNameOf(book))
            Quietly(
                [&] {
                    book->Activate();
                    return 0;
                },
                0);
    } else {
        const std::string path = StartsWith(fileName, "/") ? fileName : st.WorkDir + fileName;
        std::string error;
        book = Quietly([&] { return app->Open(path, error); }, nullptr);
        if (!book) {
            st.SrcFile = "";
            // A file that is there but damaged or of another kind is no missing file.
            std::error_code ec;
            if (fs::is_regular_file(path, ec)) Fail(ReadError::CannotOpenFile, error);
            SetCode(st, ReadError::FileNotFound);
            st.ErrMsg = error; // why it could not be opened, shown after "File not found"
            return false;
        }
    }
    st.xlBook = book;

    // From here on host errors are no longer ignored.
    Worksheet* sheet = book->ActiveSheet();
    if (!sheet) sheet = book->Worksheets(1);
    if (!sheet) Fail(ReadError::CannotOpenFile);
    st.xlSheet = sheet;
    st.xlsWatch->SetSheet(sheet);
    st.xlsWatch->SetEvents(false);
    if (st.WorkDir.empty()) {
        std::error_code ec;
        st.WorkDir = fs::current_path(ec).string();
        if (st.WorkDir.empty() || st.WorkDir.back() != '/') st.WorkDir += '/';
    }
    st.FitMode = 0;
    st.SrcFile = fileName;
    st.SrcPath = FullNameOf(book);
    return true;
}

// The cursor and the cells of the sheet being read.
class SheetReader {
public:
    explicit SheetReader(State& st) : st_(st), sheet_(*st.xlSheet) {}

    void Read() {
        ReadHeader();
        ReadConditions();
        ReadWindow();
        ReadSpecies();
        ReadComposition();
        ReadSpectra();
    }

private:
    std::string Next() { return Checked(ReadCell(st_, false, false)); }
    std::string NextRow() {
        if (st_.CurRow >= kLastRow)
            Fail(ReadError::UnexpectedError, "more than " + std::to_string(kLastRow) + " rows");
        return Checked(ReadCell(st_, true, false));
    }

    /// A formula saved without its value is no empty cell: taken as one, it would drop
    /// data silently.
    std::string Checked(std::string text) {
        if (text.empty() && sheet_.FormulaWithoutValue(st_.CurRow, st_.CurCol))
            Fail(ReadError::UnexpectedError, "a formula without its value: recalculate and save "
                                             "the workbook in a spreadsheet program");
        return text;
    }

    /// A " ±" value as the scale of the optimizer's probes. Steps of a tiny scale are
    /// lost in the goal function's noise and would freeze the species.
    float ProbeScale(float pm, const std::string& name) {
        constexpr float kFloor = 0.01f;
        if (pm == 0.0f || std::fabs(pm) >= kFloor) return std::fabs(pm);
        st_.Notes.push_back("The \u00B1 value of " + name + " was raised to " +
                            FormatNumber(kFloor, "0.00") + " kJ/mol for the probes");
        return kFloor;
    }

    // A keyword line: column A must be the keyword; returns column B.
    std::string Keyword(const char* keyword) {
        if (NextRow() != keyword) Fail(ReadError::IncorrectKeyword);
        return Next();
    }
    std::string Mandatory(const char* keyword) {
        std::string v = Keyword(keyword);
        if (v.empty()) Fail(ReadError::NoMandatoryData);
        return v;
    }

    std::string DataPath(const std::string& path) {
        return ResolveDataPath(path, st_.xlBook ? FolderOf(st_.xlBook->FullName()) : st_.WorkDir);
    }

    void ReadHeader() {
        st_.Title = ReadCell(st_, true, true);
        if (st_.Title.empty()) st_.Title = Next();
        // Without the engine components nothing can be checked (a start-up that failed).
        if (!st_.solver || !st_.props || !st_.sysReader)
            throw RuntimeError("Object variable or With block variable not set");

        const std::string database = DataPath(Mandatory("Database:"));
        st_.solver->OpenDatabase(database);
        if (!st_.solver->LastMessage().empty())
            Fail(ReadError::DatabaseError, st_.solver->LastMessage());
        st_.props->OpenDatabase(database);

        const std::string system = DataPath(Mandatory("System:"));

        std::string options = Keyword("Options:");
        StripMode(options);
        FitSwitches switches;
        std::string unknown;
        if (!TakeFitSwitches(options, switches, unknown)) Fail(ReadError::OptionsRefused, unknown);
        st_.Method = switches.method;
        st_.Intervals = switches.intervals;
        st_.solver->SetOptions(options + "/mode=1");
        if (!st_.solver->LastMessage().empty())
            Fail(ReadError::OptionsRefused, st_.solver->LastMessage());
        st_.solver->OpenSystem(system);
        if (st_.solver->LastMessage() != "System file accepted")
            Fail(ReadError::SystemFileError, system + ": " + st_.solver->LastMessage());
        st_.sysReader->ReadSystem(system, st_.sysRec);
        if (st_.sysRec.nAq == 0) Fail(ReadError::NoAqueousSolution);
        if (st_.sysRec.phases.empty()) throw RuntimeError(kSubscriptOutOfRange);
        st_.AqFirst = CInt16(1.0 + st_.sysRec.phases.back().offset);
        st_.AqLast = st_.sysRec.lastAq;
    }

    void ReadConditions() {
        st_.TC = ToSingle(Mandatory("T, C:"));
        st_.TK = st_.TC + 273.15f;
        if (!st_.NoLimits && (st_.TC < 0.0f || st_.TC > 1000.0f)) Fail(ReadError::OutOfRange);

        st_.PBar = ToSingle(Mandatory("P, bar:"));
        if (st_.PBar < 0.0f) Fail(ReadError::OutOfRange);
        if (!st_.NoLimits && st_.PBar > 5000.0f) Fail(ReadError::OutOfRange);
        if (st_.PBar == 0.0f) {
            st_.PBar = CSng(CheckFinite(st_.props->SaturationPressure(st_.TK)));
            if (st_.PBar < 1.0f) st_.PBar = 1.0f;
        }
        if (st_.PBar < 1.0f) Fail(ReadError::OutOfRange);

        st_.Dens = CSng(CheckFinite(st_.props->WaterDensity(st_.TK, st_.PBar, 0)));
        st_.WaterA = CSng(CheckFinite(st_.props->WaterValueA(st_.TK, st_.Dens)));
        st_.WaterB = CSng(CheckFinite(st_.props->WaterValueB(st_.TK, st_.PBar, st_.Dens)));
        // Steam, no saturation pressure above the critical point: the engine has no water
        // properties and answers with its failure value, which no range lifts.
        for (const float v : {st_.Dens, st_.WaterA, st_.WaterB})
            if (!(std::fabs(static_cast<double>(v)) < kMissingLimit)) Fail(ReadError::OutOfRange);
        if (!st_.NoLimits && static_cast<double>(st_.Dens) < 0.32) Fail(ReadError::OutOfRange);
        if (st_.sysRec.nPmc != 0) Fail(ReadError::PureMineralComponents);
    }

    void ReadWindow() {
        st_.WlStart = ToSingle(Mandatory("wl_start:"));
        if (!(st_.WlStart > 0.0f)) Fail(ReadError::NonPositiveWavelength);
        st_.WlStop = ToSingle(Mandatory("wl_stop:"));
        if (st_.WlStop < st_.WlStart) Fail(ReadError::StopBelowStart);
    }

    void ReadSpecies() {
        st_.nSp = ToInteger(Mandatory("Species:"));
        if (st_.nSp < 1 || st_.nSp > 8) Fail(ReadError::IncorrectSpeciesCount);
        // All three header cells are read before the check.
        const std::string c = Next(), d = Next(), e = Next();
        if (c != "Initial" || d != "Result" || e != " \u00B1") Fail(ReadError::IncorrectKeyword);

        const int n = st_.nSp;
        st_.G0Init.Redim(n);
        st_.G0Res.Redim(n);
        st_.G0.Redim(n);
        st_.GScale.Redim(n);
        st_.GErr.Redim(n);
        st_.GLo.Erase(), st_.GHi.Erase(), st_.GCorr.Erase();
        st_.IntervalNote.clear();
        st_.SpFree.Redim(n);
        st_.SpIdx.Redim(n);
        st_.SpName.Redim(n);
        st_.SearchDir.Redim(n);
        st_.G0Save.Redim(n);

        const auto& names = st_.sysRec.spName;
        for (int i = 1; i <= n; ++i) {
            const std::string a = NextRow();
            const std::string name = Next();
            if (!a.empty() || name.empty()) Fail(ReadError::SpeciesCountMismatch);

            const int16_t code = st_.props->SpeciesCode(st_.props->FindSpecies(name));
            if (code < 0) Fail(ReadError::SpeciesNotInDatabase, name);
            if (code >= 2048) Fail(ReadError::SpeciesNotAqueous, name);

            int idx = 0;
            for (int s = st_.AqFirst; s <= st_.AqLast && idx == 0; ++s)
                if (names.at(static_cast<size_t>(s)) == name) idx = s;
            if (idx == 0) Fail(ReadError::SpeciesNotInSystem, name);
            st_.SpIdx(i) = static_cast<int16_t>(idx);
            st_.SpName(i) = name;
            for (int j = i - 1; j >= 1; --j)
                if (st_.SpIdx(j) == st_.SpIdx(i)) Fail(ReadError::DuplicatedSpecies, name);

            const int row = st_.CurRow;
            const std::string init = Next();
            if (init.empty()) {
                const float g = StartValue(st_, code);
                st_.G0Init(i) = g;
                if (std::fabs(static_cast<double>(g)) < kMissingLimit)
                    sheet_.SetValue(row, 3, static_cast<double>(g));
            } else if (IsNumeric(init)) {
                st_.G0Init(i) = ToSingle(init);
            } else {
                Fail(ReadError::InitialEnergy, "not a number: \"" + init + "\"");
            }
            // The engine's failure value, or no number at all.
            if (!(std::fabs(static_cast<double>(st_.G0Init(i))) <= kMissingLimit))
                Fail(ReadError::InitialEnergy);

            const std::string result = Next();
            if (IsNumeric(result)) {
                st_.SpFree(i) = kFalse;
                st_.G0Res(i) = ToSingle(result);
            } else {
                st_.SpFree(i) = kTrue;
                st_.G0Res(i) = st_.G0Init(i);
                st_.nFree = CInt16(st_.nFree + 1.0);
            }

            const std::string pm = Next();
            if (IsNumeric(pm)) st_.GScale(i) = ProbeScale(ToSingle(pm), name);
            sheet_.ClearContents(row, 5, row, 5);
        }

        if (st_.nFree > 0) {
            const double s =
                CheckedSqrt(st_.nFree * static_cast<double>(Chi2Quantile95(st_.nFree)));
            for (int i = 1; i <= n; ++i)
                st_.GScale(i) = st_.GScale(i) != 0.0f ? CSng(CheckedDiv(st_.GScale(i), s)) : 1.0f;
        }

        const std::string mean = NextRow();
        if (mean.empty()) Fail(ReadError::SpeciesCountMismatch);
        if (mean != "Mean err.:") Fail(ReadError::IncorrectKeyword);
        sheet_.ClearContents(st_.CurRow, 3, st_.CurRow, 4);
        const std::string a = NextRow();
        const std::string b = Next();
        if (!a.empty() || b.find("molality") == std::string::npos)
            Fail(ReadError::IncorrectKeyword);
    }

    void ReadComposition() {
        st_.nComp = 0;
        st_.nSol = 0;
        st_.nEl = st_.sysRec.nElem;
        st_.Bulk.Redim(st_.nEl, 0);
        st_.BulkCorr.Redim(st_.nEl, 0);
        Vec<double> buffer(0);
        bool firstRow = true;

        for (std::string text = NextRow(); !text.empty(); text = NextRow()) {
            const std::string elements = st_.props->FormulaElements(text);
            bool marked = false;
            const int k = ReadCompositionValues(buffer, firstRow, marked);
            // A first row without any value would leave a data set without solutions.
            if (k == 0 || (!firstRow && k < st_.nSol)) Fail(ReadError::RowTooShort);
            if (firstRow) {
                StartSolutions(k);
                firstRow = false;
            }
            st_.nComp = CInt16(st_.nComp + 1.0);
            if (st_.nComp == 1) {
                st_.SolDens.Fill(1.0f);
                st_.SolWeight.Fill(1.0f);
            }
            if (text.find("g/cm3") != std::string::npos) {
                --st_.nComp;
                for (int j = 1; j <= st_.nSol; ++j) st_.SolDens(j) = CSng(buffer(j));
            } else if (text == "weight") {
                --st_.nComp;
                SetWeights(buffer);
            } else {
                AddComponent(text, elements, buffer, marked);
            }
        }
        for (int j = 1; j <= st_.nSol; ++j) st_.Bulk(0, j) = st_.BulkCorr(0, j) = kWaterMolality;
    }

    /// The values of one composition row into buffer(1..k); returns k. A "*" or
    /// "corrected" ends the row and marks it for the corrected composition.
    int ReadCompositionValues(Vec<double>& buffer, bool firstRow, bool& marked) {
        int k = 0;
        for (;;) {
            const std::string v = Next();
            if (v.empty()) break;
            if (!IsNumeric(v)) {
                if (v == "*" || LCase(v) == "corrected") {
                    marked = true;
                    break;
                }
                Fail(ReadError::InvalidComposition);
            }
            ++k;
            if (firstRow)
                buffer.RedimPreserve(k);
            else if (k > st_.nSol)
                Fail(ReadError::RowTooLong);
            const double x = TextToDouble(v);
            if (x < 0.0) Fail(ReadError::InvalidComposition);
            buffer(k) = x;
        }
        return k;
    }

    /// The first row fixes the number of solutions.
    void StartSolutions(int k) {
        st_.nSol = CInt16(k);
        st_.SolDens.Redim(st_.nSol);
        st_.SolWeight.Redim(st_.nSol);
    }

    /// Weights relative to their mean.
    void SetWeights(const Vec<double>& buffer) {
        const int nSol = st_.nSol;
        double sum = 0.0;
        for (int j = 1; j <= nSol; ++j) sum += buffer(j);
        const double mean = CheckedDiv(sum, nSol);
        for (int j = 1; j <= nSol; ++j) st_.SolWeight(j) = CSng(CheckedDiv(buffer(j), mean));
    }

    /// A substance row: its element coefficients in Bulk(e, 0), its amounts added to
    /// every solution's bulk composition (and to the corrected one when marked).
    void AddComponent(const std::string& text, const std::string& elements,
                      const Vec<double>& buffer, bool marked) {
        const int nEl = st_.nEl;
        const int nSol = st_.nSol;
        if (elements.empty() || elements.back() == '\0') Fail(ReadError::InvalidFormula);
        st_.Bulk.RedimPreserve(nEl, nSol);
        st_.BulkCorr.RedimPreserve(nEl, nSol);
        for (int e = 1; e <= nEl; ++e) st_.Bulk(e, 0) = 0.0;
        for (const char ch : elements) {
            const int16_t z = static_cast<unsigned char>(ch);
            const int m = ElementIndex(z);
            if (m == 0) Fail(ReadError::InvalidFormula);
            st_.Bulk(m, 0) = st_.props->ElementCoefficient(text, z);
        }
        for (int j = 1; j <= nSol; ++j)
            for (int e = 1; e <= nEl; ++e) {
                const double t = buffer(j) * st_.Bulk(e, 0);
                st_.Bulk(e, j) += t;
                if (marked) st_.BulkCorr(e, j) += t;
            }
    }

    /// The system's index 1..nEl of the element with atomic number z; 0 when absent.
    int ElementIndex(int16_t z) const {
        for (int e = 1; e <= st_.nEl; ++e)
            if (st_.sysRec.elemCode.at(static_cast<size_t>(e)) == z) return e;
        return 0;
    }

    void ReadSpectra() {
        if (!StartsWith(Next(), "Absorption")) Fail(ReadError::IncorrectKeyword);
        if (!StartsWith(NextRow(), "Wave")) Fail(ReadError::IncorrectKeyword);
        st_.RowWave = st_.CurRow;
        st_.SolName.Redim(st_.nSol);
        for (int j = 1; j <= st_.nSol; ++j) {
            st_.SolName(j) = Next();
            if (st_.SolName(j).empty()) Fail(ReadError::NoSolutionName);
        }

        st_.nWl = st_.RowWlFirst = st_.RowWlLast = st_.RowWlSkip = 0;
        st_.WlMin = 122.0;
        st_.WlMax = 380.0;
        st_.AbsM.Redim(st_.nSol, 0);
        double previous = 0.0;
        for (std::string a = NextRow(); !a.empty(); a = NextRow()) {
            const double wl = TextToNumber(a).value_or(0.0);
            if (!(wl > previous)) Fail(ReadError::WavelengthsNotGrowing);
            previous = wl;
            if (wl < st_.WlMin)
                st_.WlMin = wl;
            else if (wl > st_.WlMax)
                st_.WlMax = wl;

            if (wl <= st_.WlStart - 1e-8 || wl > st_.WlStop + 1e-8) {
                st_.RowWlSkip = st_.CurRow;
                continue;
            }
            st_.RowWlLast = st_.CurRow;
            if (st_.RowWlFirst == 0) st_.RowWlFirst = st_.CurRow;
            st_.nWl = CInt16(st_.nWl + 1.0);
            st_.AbsM.RedimPreserve(st_.nSol, st_.nWl);
            st_.AbsM(0, st_.nWl) = wl;
            st_.MeanWl += wl;
            for (int j = 1; j <= st_.nSol; ++j)
                st_.AbsM(j, st_.nWl) = TextToNumber(Next()).value_or(kMissing);
            if (!Next().empty()) Fail(ReadError::RowTooLong);
        }
        st_.MeanWl = CheckedDiv(st_.MeanWl, st_.nWl);
    }

    State& st_;
    Worksheet& sheet_;
};

void SizeWorkArrays(State& st) {
    st.nEl = st.sysRec.nElem;
    st.WBulk.Redim(st.nEl);
    st.WArr1.Redim(0);
    st.WAmt.Redim(st.sysRec.lastAq);
    st.WArr2.Redim(st.sysRec.lastAq);
    st.Conc.Redim(st.nSp, st.nSol);
    st.NormM.Redim(st.nSp, st.nSp);
    st.Eps.Redim(st.nSp, st.nWl);
    st.AbsC.Redim(st.nSol, st.nWl);
}

// The initial error. Host failures raise to the caller; a failed goal function is code 9.
void InitialEvaluation(State& st) {
    st.ui->status("Initial estimating...");
    st.ui->yield();
    for (int i = 1; i <= st.nSp; ++i) st.G0(i) = st.G0Init(i);

    if (st.FitMode != 0) {
        LoadGaussians(st, -1);
        ReadFixedMarks(st);
        st.xlSheet->Clear(10 + st.nSp, 5, 10 + st.nSp, 5);
        if (BandCount(st) == 0) {
            // Gaussian mode without bands has nothing to fit with.
            st.FitMode = 0;
            st.Message("No Gaussian bands could be loaded from the sheet. Normal mode is used  ",
                       Icon::Exclamation);
        }
    }

    double goal = 0.0;
    try {
        goal = CallGoal(st, -1);
        if (st.ErrCode == 0) st.RmsErr = CheckedSqrt(CheckFinite(goal));
    } catch (const std::exception&) {
        if (st.ErrCode == 0) st.ErrCode = -1;
    }
    if (st.ErrCode != 0) {
        SetCode(st, ReadError::InitialError);
        return;
    }
    st.xlSheet->SetValue(10 + st.nSp, 3, st.RmsErr);
    st.ui->status("Initial data set.    Error: " + Trim(FormatNumber(st.RmsErr, "0.000000")));
    st.ui->yield();
    // The read is complete: an Esc pressed now has nothing left to interrupt and must
    // not turn it into a failure with an empty message.
    if (st.ErrCode == kInterrupt) st.ErrCode = 0;
}

// The message of the outcome: a data error's text, then the detail and the position of
// the last cell read where they help; for the other codes the detail alone.
std::string ErrorMessage(const State& st, const std::string& detail) {
    if (st.ErrCode <= 0) return detail;
    std::string inside = detail;
    if (DataErrorHasPosition(st.ErrCode))
        inside += (inside.empty() ? "" : ", ") + std::string("row=") + std::to_string(st.CurRow) +
                  ", col=" + std::to_string(st.CurCol);
    const std::string text = DataErrorText(st.ErrCode);
    return inside.empty() ? text : text + " (" + inside + ")";
}

} // namespace

std::string DataErrorText(int16_t code) {
    static const char* const kText[] = {"",
                                        "Check number of species!",
                                        "Could not open the file",
                                        "Unexpected error (short file?)",
                                        "Incorrect keyword",
                                        "No mandatory data",
                                        "No aqueous solution in System file",
                                        "T/P/D out of range",
                                        "System file contains p.m.c.",
                                        "Could not calculate initial error",
                                        "Wavelengths must be positive",
                                        "wl_stop must be greater than wl_start",
                                        "Incorrect number of species",
                                        "Species not found in the database",
                                        "Species is not an aqueous",
                                        "Species not found in System file",
                                        "Duplicated species found",
                                        "Could not calculate initial energy",
                                        "Data row is too long",
                                        "Invalid formula of a substance",
                                        "Data row is too short",
                                        "Composition value is invalid",
                                        "Solution must have name",
                                        "Wavelengths must grow"};
    return code >= 1 && code <= 23 ? kText[code] : "";
}

bool DataErrorHasPosition(int16_t code) {
    return code == 3 || code == 4 || code == 5 || (code >= 10 && code <= 23);
}

std::string ReadDataSet(State& st, const ReadRequest& request) {
    if (st.readOverride) {
        st.readOverride(st);
        return request.fileName;
    }
    st.ErrCode = 0;
    st.nFree = 0;
    std::string fileName = Trim(request.fileName);
    const bool named = !fileName.empty();
    st.GaussLimit = 0.95;
    st.MeanWl = 0.0;
    st.Notes.clear();
    std::string detail;
    Workbook* cleanBook = nullptr;

    try {
        bool refresh = false;
        if (!ChooseWorkbook(st, request.openDialog, fileName, refresh)) {
            st.xlsWatch->Changed = true;
            return named ? request.fileName : fileName;
        }
        if (refresh) {
            // A workbook saved by another program since it was loaded: read the new file.
            std::string error;
            if (st.xlBook && st.xlBook->ReloadIfChangedOnDisk(error) == ReloadResult::Failed)
                Fail(ReadError::CannotOpenFile, error);
        } else if (!OpenWorkbook(st, fileName)) {
            st.xlsWatch->Changed = true;
            return named ? request.fileName : fileName;
        }

        // What the read writes (start values, cleared intervals) is no reason to save.
        if (st.xlBook && !st.xlBook->Dirty()) cleanBook = st.xlBook;
        st.Damping = 1e-10;
        st.ui->status("Reading data file...");
        st.ui->yield();

        // The sheet: any run-time error on the way is code 3.
        try {
            SheetReader(st).Read();
        } catch (const DataError&) {
            throw;
        } catch (...) {
            Fail(ReadError::UnexpectedError);
        }
        SizeWorkArrays(st);

        InitialEvaluation(st);
    } catch (const DataError& e) {
        st.ErrCode = e.code;
        detail = e.detail;
    } catch (...) {
        // A host or engine failure that is no run-time error of the reader itself.
        SetCode(st, ReadError::UnexpectedError);
    }
    st.ErrMsg = ErrorMessage(st, detail);
    if (cleanBook) Quietly([&] { return cleanBook->SetDirty(false), 0; }, 0);

    // After a failure every command re-reads before it uses the half-read state.
    if (st.ErrCode == 0) {
        ++st.ReadSerial;
        st.xlsWatch->Changed = false;
        st.xlsWatch->SetEvents(true);
    } else {
        st.xlsWatch->Changed = true;
        st.ui->status(""); // no "Reading data file..." left beside the error
    }

    st.RelTol = 1e-8;
    return named ? request.fileName : fileName;
}

} // namespace lumora
