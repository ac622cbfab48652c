#pragma once
// A complete, valid data set on a fake sheet, and a fixture that reads it with the
// fake host and engine.

#include "ReaderDoubles.h"
#include "TestUi.h"
#include "dataset/ReadDataSet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::test {

using S = std::string;

/// Two species (CoCl+ free with an empty "Initial" cell, CoCl2 fixed), three
/// solutions, marked composition rows, densities, weights, one spectrum row on
/// each side of the window and two missing absorbances.
inline void FillValidDataSet(FakeSheet& sh) {
    sh.cells.clear();
    sh.Row(1, {S(""), S("Cobalt chloride")});
    sh.Row(2, {S("Database:"), S("/db/thermo.toml")});
    sh.Row(3, {S("System:"), S("/db/co.toml")});
    sh.Row(4, {S("Options:"), S("/mode=2 /x")});
    sh.Row(5, {S("T, C:"), 25.0});
    sh.Row(6, {S("P, bar:"), 0.0});
    sh.Row(7, {S("wl_start:"), 400.0});
    sh.Row(8, {S("wl_stop:"), 600.0});
    sh.Row(9, {S("Species:"), 2.0, S("Initial"), S("Result"), S(" \u00B1")});
    sh.Row(10, {S(""), S("CoCl+"), S(""), S(""), 3.92});
    sh.Row(11, {S(""), S("CoCl2"), -300.5, -301.0});
    sh.Row(12, {S("Mean err.:"), S(""), 0.7, S("old"), S("tag")});
    sh.Row(13, {S(""), S("Composition, molality")});
    sh.Row(14, {S("NaCl"), 0.1, 0.2, 0.3});
    sh.Row(15, {S("CoCl2"), 0.01, 0.01, 0.02, S("*")});
    sh.Row(16, {S("HCl"), 0.001, S("0.002"), 0.003, S("Corrected")});
    sh.Row(17, {S("density, g/cm3"), 1.01, 1.02, 1.03});
    sh.Row(18, {S("weight"), 1.0, 2.0, 3.0});
    sh.Row(19, {S(""), S("Absorption spectra")});
    sh.Row(20, {S("Wavelength, nm"), S("s1"), S("s2"), S("s3")});
    sh.Row(21, {380.0, 0.01, 0.02, 0.03});
    sh.Row(22, {400.0, 0.1, 0.2, S("")});
    sh.Row(23, {500.0, 0.3, S("n/a"), 0.5});
    sh.Row(24, {600.0, 0.2, 0.1, 0.05});
    sh.Row(25, {700.0, 0.0, 0.0, 0.0});
}

class ReaderFixture : public ::testing::Test {
protected:
    static constexpr const char* kFolder = "/data/";
    static constexpr const char* kFile = "set.xlsx";

    void SetUp() override {
        auto solver = std::make_unique<FakeSolver>(log);
        auto props = std::make_unique<FakeProps>(log);
        auto reader = std::make_unique<FakeSysReader>(log);
        solverD = solver.get();
        propsD = props.get();
        sysD = reader.get();
        st.solver = std::move(solver);
        st.props = std::move(props);
        st.sysReader = std::move(reader);

        host = std::make_shared<FakeHost>();
        host->files[S(kFolder) + kFile] = [this](FakeBook& b) {
            FillValidDataSet(*b.AddSheet());
            if (edit) edit(*b.Sheet());
        };
        st.attachHost = [this](bool start) -> std::shared_ptr<SpreadsheetApp> {
            if (start ? !canStart : !running) return nullptr;
            running = true;
            return host;
        };
        st.goalOverride = [this](State& s, int16_t probe) {
            ++goalCalls;
            goalProbe = probe;
            goalG0.clear();
            for (int i = 1; i <= s.nSp; ++i) goalG0.push_back(s.G0(i));
            if (goalCode != 0) s.ErrCode = goalCode;
            return goalValue;
        };
        st.WorkDir = kFolder;
    }

    void Read(const std::string& name = kFile) {
        ui.fileText = name;
        ui.fileText = ReadDataSet(st, ui.request());
    }
    FakeSheet& Sheet() {
        EXPECT_FALSE(host->books.empty());
        return *host->books.front()->Sheet();
    }

    State st;
    TestUi ui{st};
    CallLog log;
    FakeSolver* solverD = nullptr;
    FakeProps* propsD = nullptr;
    FakeSysReader* sysD = nullptr;
    std::shared_ptr<FakeHost> host;
    bool running = true;
    bool canStart = true;
    /// Applied to the sheet when the file is opened.
    std::function<void(FakeSheet&)> edit;

    int goalCalls = 0;
    int16_t goalProbe = 0;
    std::vector<double> goalG0;
    double goalValue = 0.0004;
    int16_t goalCode = 0;
};

} // namespace lumora::test
