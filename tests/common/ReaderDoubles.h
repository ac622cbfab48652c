#pragma once
// In-memory stand-ins for the reader's surroundings: a spreadsheet host with
// workbooks and sheets, and the three engine components with a shared call log.

#include "base/RuntimeError.h"
#include "model/State.h"
#include "sheet/SpreadsheetApp.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumora::test {

using Cell = std::pair<int, int>;

class FakeSheet : public Worksheet {
public:
    explicit FakeSheet(std::string name = "Data") : name_(std::move(name)) {}

    std::string Name() const override { return name_; }
    Workbook* Parent() override { return parent; }

    CellValue Value(int row, int col) const override {
        if (row < 1 || col < 1 || failing.count({row, col}))
            throw RuntimeError("Application-defined or object-defined error");
        auto it = cells.find({row, col});
        return it == cells.end() ? CellValue{} : it->second;
    }
    void SetValue(int row, int col, const CellValue& value) override {
        if (row < 1 || col < 1) throw RuntimeError("Application-defined or object-defined error");
        writes.push_back({row, col});
        Put(row, col, value);
    }
    std::optional<std::string> Comment(int row, int col) const override {
        auto it = comments.find({row, col});
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
        clears.push_back({{row1, col1}, {row2, col2}});
        Erase(row1, col1, row2, col2);
    }
    void Clear(int row1, int col1, int row2, int col2) override {
        fullClears.push_back({{row1, col1}, {row2, col2}});
        Erase(row1, col1, row2, col2);
    }
    void SetHorizontalAlignment(int, int, int, int, int) override {}
    void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
    void SetEvents(bool on) override { events_ = on; }
    bool Events() const override { return events_; }

    /// A cell typed by the user: the change event fires while events are on.
    void UserEdit(int row, int col, const CellValue& value) {
        Put(row, col, value);
        if (events_ && handler_) handler_();
    }
    void Put(int row, int col, const CellValue& value) {
        if (IsEmpty(value))
            cells.erase({row, col});
        else
            cells[{row, col}] = value;
    }
    /// Fills a row from column 1; empty strings leave cells empty.
    void Row(int row, const std::vector<CellValue>& values) {
        for (int c = 1; c <= 40; ++c) cells.erase({row, c});
        for (size_t i = 0; i < values.size(); ++i) {
            const CellValue& v = values[i];
            if (auto s = std::get_if<std::string>(&v); s && s->empty()) continue;
            Put(row, static_cast<int>(i) + 1, v);
        }
    }
    CellValue At(int row, int col) const {
        auto it = cells.find({row, col});
        return it == cells.end() ? CellValue{} : it->second;
    }

    std::map<Cell, CellValue> cells;
    std::map<Cell, std::string> comments;
    std::set<Cell> failing; ///< reading these cells fails
    std::vector<Cell> writes;
    std::vector<std::pair<Cell, Cell>> clears;
    std::vector<std::pair<Cell, Cell>> fullClears;
    Workbook* parent = nullptr;

private:
    void Erase(int row1, int col1, int row2, int col2) {
        for (int r = row1; r <= row2; ++r)
            for (int c = col1; c <= col2; ++c) cells.erase({r, c});
    }
    std::string name_;
    bool events_ = true;
    std::function<void()> handler_;
};

class FakeHost;

class FakeBook : public Workbook {
public:
    FakeBook(FakeHost* host, std::string path) : host_(host), path_(std::move(path)) {}

    std::string Name() const override {
        const size_t slash = path_.rfind('/');
        return slash == std::string::npos ? path_ : path_.substr(slash + 1);
    }
    std::string FullName() const override { return path_; }
    Worksheet* ActiveSheet() override {
        return active >= 1 && active <= static_cast<int>(sheets.size()) ? sheets[active - 1].get()
                                                                        : nullptr;
    }
    Worksheet* Worksheets(int index) override {
        return index >= 1 && index <= static_cast<int>(sheets.size()) ? sheets[index - 1].get()
                                                                      : nullptr;
    }
    int WorksheetCount() const override { return static_cast<int>(sheets.size()); }
    void Activate() override;
    bool Dirty() const override { return false; }
    bool Save(std::string&) override { return true; }
    ReloadResult ReloadIfChangedOnDisk(std::string& error) override {
        ++reloadChecks;
        if (!onDisk) return ReloadResult::Unchanged;
        if (diskUnreadable) {
            error = "damaged";
            return ReloadResult::Failed;
        }
        onDisk(*Sheet());
        onDisk = nullptr;
        return ReloadResult::Reloaded;
    }

    FakeSheet* AddSheet(const std::string& name = "Data") {
        sheets.push_back(std::make_unique<FakeSheet>(name));
        sheets.back()->parent = this;
        if (active == 0) active = 1;
        return sheets.back().get();
    }
    FakeSheet* Sheet(int index = 1) { return static_cast<FakeSheet*>(Worksheets(index)); }

    std::vector<std::unique_ptr<FakeSheet>> sheets;
    int active = 0;
    /// A version saved on disk by another program, applied by the next reload.
    std::function<void(FakeSheet&)> onDisk;
    bool diskUnreadable = false;
    int reloadChecks = 0;

private:
    FakeHost* host_;
    std::string path_;
};

class FakeHost : public SpreadsheetApp {
public:
    std::string HostName() const override { return "fake"; }
    std::vector<std::string> Extensions() const override { return extensions; }
    void SetVisible(bool v) override { visible = v; }
    int WorkbookCount() override { return static_cast<int>(books.size()); }
    Workbook* WorkbookItem(int index) override {
        return index >= 1 && index <= static_cast<int>(books.size()) ? books[index - 1].get()
                                                                     : nullptr;
    }
    Workbook* Open(const std::string& path, std::string& error) override {
        opened.push_back(path);
        auto it = files.find(path);
        if (it == files.end()) {
            error = "not found";
            return nullptr;
        }
        books.push_back(std::make_unique<FakeBook>(this, path));
        it->second(*books.back());
        active = books.back().get();
        return active;
    }
    Workbook* ActiveWorkbook() override { return active; }
    bool DisplayStatusBar() const override { return true; }
    void SetDisplayStatusBar(bool) override {}
    void SetStatusBar(const std::string&) override {}
    void ResetStatusBar() override {}
    bool Interactive() const override { return true; }
    void SetInteractive(bool) override {}
    bool ScreenUpdating() const override { return true; }
    void SetScreenUpdating(bool) override {}

    /// Files on "disk": path to a function that fills the opened workbook.
    std::map<std::string, std::function<void(FakeBook&)>> files;
    std::vector<std::unique_ptr<FakeBook>> books;
    FakeBook* active = nullptr;
    std::vector<std::string> extensions{".xlsx"};
    std::vector<std::string> opened;
    bool visible = false;
};

inline void FakeBook::Activate() {
    host_->active = this;
}

/// Calls made to the engine, in order ("Solver.OpenDatabase /db/x.toml", ...).
using CallLog = std::vector<std::string>;

class FakeSolver : public Solver {
public:
    explicit FakeSolver(CallLog& log) : log_(log) {}
    void Shutdown() override {}
    void SetOptions(const std::string& options) override {
        log_.push_back("Solver.SetOptions " + options);
        last_ = refuseOptions ? "Unknown switch" : "";
    }
    void OpenDatabase(const std::string& path) override {
        log_.push_back("Solver.OpenDatabase " + path);
        last_ = refuseDatabase ? "Cannot read database" : "";
    }
    void OpenSystem(const std::string& path) override {
        log_.push_back("Solver.OpenSystem " + path);
        last_ = refuseSystem ? "Cannot read system" : "System file accepted";
    }
    void SetSpeciesG(int16_t, float) override {}
    std::string LastMessage() override {
        log_.push_back("Solver.LastMessage");
        return last_;
    }
    void SetControl(int, int) override {}
    void Equilibrate(float, float, std::span<double>, std::span<const double>, std::span<double>,
                     std::span<double>, int16_t& code) override {
        code = 1;
    }
    int16_t Version() override { return 70; }

    bool refuseDatabase = false;
    bool refuseOptions = false;
    bool refuseSystem = false;

private:
    CallLog& log_;
    std::string last_;
};

/// Elements used by the doubles: H 1, O 8, Na 11, Cl 17, K 19, Co 27.
class FakeProps : public Props {
public:
    explicit FakeProps(CallLog& log) : log_(log) {}
    int16_t Version() override { return 70; }
    void OpenDatabase(const std::string& path) override {
        log_.push_back("Props.OpenDatabase " + path);
    }
    int16_t FindSpecies(const std::string& name) override {
        log_.push_back("Props.FindSpecies " + name);
        auto it = index.find(name);
        return it == index.end() ? -1 : it->second;
    }
    int16_t SpeciesCode(int16_t i) override {
        log_.push_back("Props.SpeciesCode");
        auto it = code.find(i);
        return it == code.end() ? -1 : it->second;
    }
    float ElementCoefficient(const std::string& formula, int16_t element) override {
        log_.push_back("Props.ElementCoefficient " + formula);
        auto it = coefficient.find({formula, element});
        return it == coefficient.end() ? 0.0f : it->second;
    }
    std::string FormulaElements(const std::string& formula) override {
        log_.push_back("Props.FormulaElements " + formula);
        auto it = elements.find(formula);
        return it == elements.end() ? std::string(1, '\0') : it->second;
    }
    float SaturationPressure(float) override {
        log_.push_back("Props.SaturationPressure");
        return saturation;
    }
    float WaterDensity(float, float, int16_t) override {
        log_.push_back("Props.WaterDensity");
        return density;
    }
    float WaterValueA(float, float) override {
        log_.push_back("Props.WaterValueA");
        return 78.4f;
    }
    float WaterValueB(float, float, float) override {
        log_.push_back("Props.WaterValueB");
        return -237183.0f;
    }
    float StartValueCode2(float, float, float) override {
        log_.push_back("Props.StartValueCode2");
        return -157250.0f;
    }
    float StartValueLow(int16_t c, float, float, float, float) override {
        log_.push_back("Props.StartValueLow");
        return c == failingCode ? 1e35f : -(100.0f + c / 8.0f);
    }
    float StartValueHigh(int16_t c, float, float, float, float, int16_t) override {
        log_.push_back("Props.StartValueHigh");
        return c == failingCode ? 1e35f : -(200.0f + c / 16.0f);
    }

    std::map<std::string, int16_t> index{{"H2O", 1},   {"H+", 2},    {"OH-", 3}, {"Cl-", 4},
                                         {"CoCl+", 5}, {"CoCl2", 6}, {"Na+", 7}, {"HCl(g)", 8},
                                         {"Fe+2", 9},  {"Co+2", 10}};
    std::map<int16_t, int16_t> code{{1, 0},    {2, 1}, {3, 2},    {4, 3},   {5, 500},
                                    {6, 1500}, {7, 4}, {8, 2100}, {9, 400}, {10, 600}};
    std::map<std::string, std::string> elements{{"NaCl", "\x0b\x11"},   {"CoCl2", "\x1b\x11"},
                                                {"HCl", "\x01\x11"},    {"KCl", "\x13\x11"},
                                                {"density, g/cm3", ""}, {"weight", ""}};
    std::map<std::pair<std::string, int16_t>, float> coefficient{
        {{"NaCl", 11}, 1.0f}, {{"NaCl", 17}, 1.0f}, {{"CoCl2", 27}, 1.0f}, {{"CoCl2", 17}, 2.0f},
        {{"HCl", 1}, 1.0f},   {{"HCl", 17}, 1.0f},  {{"KCl", 19}, 1.0f},   {{"KCl", 17}, 1.0f}};
    float saturation = 0.0317f;
    float density = 0.997f;
    int16_t failingCode = -1;

private:
    CallLog& log_;
};

/// System: one gas species, then the aqueous phase H2O .. NaCl (species 2..10).
class FakeSysReader : public SysReader {
public:
    explicit FakeSysReader(CallLog& log) : log_(log) {}
    int16_t Version() override { return 70; }
    void ReadSystem(const std::string& path, SysRec& rec) override {
        log_.push_back("SysReader.ReadSystem " + path);
        rec = record;
    }
    std::string LastMessage() override { return ""; }

    static SysRec DefaultRecord() {
        SysRec r;
        r.nElem = 5;
        r.nPmc = 0;
        r.nAq = 9;
        r.lastAq = 10;
        r.phases = {{1, 0, "gas"}, {9, 1, "aqueous"}};
        r.elemCode = {0, 1, 8, 11, 17, 27};
        r.spName = {"",    "HCl(g)", "H2O",   "H+",    "OH-", "Na+",
                    "Cl-", "Co+2",   "CoCl+", "CoCl2", "NaCl"};
        return r;
    }
    SysRec record = DefaultRecord();

private:
    CallLog& log_;
};

} // namespace lumora::test
