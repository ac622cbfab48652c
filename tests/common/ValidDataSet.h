#pragma once
// A complete, valid data set saved as an .xlsx file, and a fixture that reads it on
// the embedded host with the engine doubles and a goal function that returns 0.0004.

#include "ReaderDoubles.h"
#include "TestUi.h"
#include "WorkbookFiles.h"
#include "dataset/ReadDataSet.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace lumora::test {

using S = std::string;

/// Two species (CoCl+ free with an empty "Initial" cell, CoCl2 fixed), three
/// solutions, marked composition rows, densities, weights, one spectrum row on
/// each side of the window and two missing absorbances. The database thermo.toml is
/// named relative to the workbook.
inline void FillValidDataSet(Worksheet& sh) {
    const std::vector<std::vector<CellValue>> rows{
        {S(""), S("Cobalt chloride")},
        {S("Database:"), S("thermo.toml")},
        {S("System:"), S("/db/co.toml")},
        {S("Options:"), S("/mode=2 /x")},
        {S("T, C:"), 25.0},
        {S("P, bar:"), 0.0},
        {S("wl_start:"), 400.0},
        {S("wl_stop:"), 600.0},
        {S("Species:"), 2.0, S("Initial"), S("Result"), S(" \u00B1")},
        {S(""), S("CoCl+"), S(""), S(""), 3.92},
        {S(""), S("CoCl2"), -300.5, -301.0},
        {S("Mean err.:"), S(""), 0.7, S("old"), S("tag")},
        {S(""), S("Composition, molality")},
        {S("NaCl"), 0.1, 0.2, 0.3},
        {S("CoCl2"), 0.01, 0.01, 0.02, S("*")},
        {S("HCl"), 0.001, S("0.002"), 0.003, S("Corrected")},
        {S("density, g/cm3"), 1.01, 1.02, 1.03},
        {S("weight"), 1.0, 2.0, 3.0},
        {S(""), S("Absorption spectra")},
        {S("Wavelength, nm"), S("s1"), S("s2"), S("s3")},
        {380.0, 0.01, 0.02, 0.03},
        {400.0, 0.1, 0.2, S("")},
        {500.0, 0.3, S("n/a"), 0.5},
        {600.0, 0.2, 0.1, 0.05},
        {700.0, 0.0, 0.0, 0.0}};
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            sh.SetValue(int(r) + 1, int(c) + 1, rows[r][c]); // "" leaves the cell empty
}

class ReaderFixture : public ::testing::Test {
public:
    void SetUp() override {
        st.solver.reset(solverD = new ReaderSolver);
        st.props.reset(propsD = new ReaderProps);
        st.sysReader.reset(sysD = new ReaderSysReader);
        st.attachHost = [this](bool start) -> std::shared_ptr<SpreadsheetApp> {
            if (start ? !canStart : !running) return nullptr;
            return running = true, host;
        };
        st.goalOverride = [this](State& s, int16_t probe) {
            ++goalCalls, goalProbe = probe;
            if (goalCode != 0) s.ErrCode = goalCode;
            return 0.0004;
        };
        st.WorkDir = dir.dir + "/";
        WriteBytes(dir.Path("thermo.toml"), "# the database beside the workbook\n");
        Save("set.xlsx");
    }
    /// The valid set, changed by edit, saved as name.
    void Save(const std::string& name, const std::function<void(GridSheet&)>& edit = {}) {
        GridWorkbook book(dir.Path(name));
        GridSheet& sh = *book.AddSheet("Data");
        FillValidDataSet(sh);
        if (edit) edit(sh);
        std::string error;
        ASSERT_TRUE(book.Save(error)) << error;
    }
    void Read(const std::string& name = "set.xlsx") {
        ui.fileText = name;
        ui.fileText = ReadDataSet(st, ui.request());
    }
    GridSheet& Grid() { return *static_cast<GridWorkbook*>(st.xlBook)->Sheet(1); }

    TempDir dir;
    State st;
    TestUi ui{st};
    std::shared_ptr<EmbeddedHost> host = std::make_shared<EmbeddedHost>();
    ReaderSolver* solverD = nullptr;
    ReaderProps* propsD = nullptr;
    ReaderSysReader* sysD = nullptr;
    bool running = true, canStart = true;
    int goalCalls = 0;
    int16_t goalProbe = 0, goalCode = 0;
};

} // namespace lumora::test
