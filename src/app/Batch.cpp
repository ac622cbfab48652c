#include "app/Batch.h"

#include "app/BatchUi.h"
#include "app/FitChoices.h"
#include "app/HostChoice.h"
#include "base/NumText.h"
#include "dataset/FitReport.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "dataset/ReaderMessage.h"
#include "dataset/Reread.h"
#include "engine/EngineFactory.h"
#include "engine/JsonText.h"
#include "export/ExportSolutions.h"
#include "sheet/SaveDirtyWorkbooks.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <sstream>

namespace lumora {

namespace {

/// Whether profile bounds were sought for the species.
std::string JsonBound(const std::optional<double>& b) {
    return b ? JsonNumber(*b) : JsonString("n.d.");
}

std::string TextBound(const std::optional<double>& b) {
    return b ? FormatNumber(*b, "0.0000") : "n.d.";
}

/// The profile bounds, the correlation matrix and why intervals are missing.
void IntervalLines(const BatchSummary& s, std::ostringstream& o) {
    char line[256];
    bool header = false;
    for (const auto& sp : s.species) {
        if (!sp.HasProfileBounds()) continue;
        if (!header) o << "95 % profile intervals (kJ/mol):\n";
        header = true;
        std::snprintf(line, sizeof line, "%-16s %14s %14s\n", sp.name.c_str(),
                      TextBound(sp.lo).c_str(), TextBound(sp.hi).c_str());
        o << line;
    }
    if (!s.correlation.empty()) {
        o << "Correlation of the refined energies:\n";
        std::vector<std::string> names;
        for (const auto& sp : s.species)
            if (sp.free) names.push_back(sp.name);
        for (size_t k = 0; k < s.correlation.size(); ++k) {
            std::snprintf(line, sizeof line, "%-16s", k < names.size() ? names[k].c_str() : "");
            o << line;
            for (const double c : s.correlation[k]) {
                std::snprintf(line, sizeof line, " %7.3f", c);
                o << line;
            }
            o << "\n";
        }
    }
    if (!s.intervalNote.empty()) o << s.intervalNote << "\n";
}

} // namespace

int RunBatchCommands(State& st, const CommandLine& cl, BatchSummary& summary) {
    const auto t0 = std::chrono::steady_clock::now();
    st.GoalCalls = 0;
    st.ErrCode = 0;
    bool optimized = false;
    int exitCode = 0;

    // The workbook by its name in the working folder, as the data-file box holds it.
    ReadRequest request;
    request.fileName = std::filesystem::path(cl.workbook).filename().string();
    st.ui->status("Reading " + cl.workbook);
    ReadDataSet(st, request);
    st.ErrMsg = ReaderMessage(st.ErrCode, st.ErrMsg);
    if (st.ErrCode != 0) {
        st.ui->message(st.ErrMsg, Icon::Critical);
        exitCode = 2;
    }

    if (exitCode == 0 && !ApplyFitChoices(st, cl)) {
        st.ui->message(st.ErrMsg, Icon::Critical);
        exitCode = 2;
    }

    const bool readOk = exitCode == 0;
    if (exitCode == 0 && cl.optimize) {
        st.solver->SetControl(27, 0);
        const OptimizeEnd end = OptimizeCommand(st, request, {}, cl.method, cl.intervals);
        optimized = true;
        if (st.ErrCode > 0) st.ui->message("Optimization: " + st.ErrMsg, Icon::Critical);
        if (st.ErrCode == 0 && end == OptimizeEnd::NothingToOptimize) {
            // The start values are no result: a script must not take them for one.
            st.ErrCode = -1;
            st.ErrMsg = "Nothing to optimize (" + NothingToOptimizeReason(st) + ")";
            st.ui->message(st.ErrMsg, Icon::Critical);
        }
        if (st.ErrCode != 0) exitCode = 1;
    }

    if (exitCode == 0 && cl.exportSolutions) {
        st.ErrCode = 0;
        if (RereadIfChanged(st, request) != RereadResult::Failed) ExportSolutions(st);
        if (st.ErrCode != 0) exitCode = 1;
    }

    // The workbook keeps what the commands wrote, also after a failure.
    std::string saveError;
    if (st.xlApp && !SaveDirtyWorkbooks(*st.xlApp, saveError)) {
        st.ui->message(saveError, Icon::Critical);
        if (exitCode == 0) {
            st.ErrCode = -1;
            st.ErrMsg = saveError;
        }
        exitCode = 4;
    }

    summary = CollectFitReport(st, readOk, optimized);
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return exitCode;
}

int RunBatch(const CommandLine& cl, std::FILE* out, std::FILE* err) {
    State st;
    BatchUi ui(out, err);
    st.ui = &ui;
    st.NoLimits = cl.noLimits;
    BatchSummary summary;

    auto finish = [&](int code) {
        std::fputs(SummaryText(summary).c_str(), out);
        if (cl.json) std::fprintf(out, "%s\n", SummaryJson(summary).c_str());
        std::fflush(out);
        return code;
    };

    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    if (!st.solver || !st.props || !st.sysReader) {
        summary.ErrCode = -1;
        summary.ErrMsg = "This program requires Vexil to be installed";
        ui.message(summary.ErrMsg, Icon::Critical);
        return finish(3);
    }
    if (st.solver->Version() < 66 || st.props->Version() < 66 || st.sysReader->Version() < 66) {
        summary.ErrCode = -1;
        summary.ErrMsg = "Please upgrade your Vexil package";
        ui.message(summary.ErrMsg, Icon::Critical);
        return finish(3);
    }
    std::string hostError;
    // A batch result must not depend on whether an office happens to be running.
    st.attachHost = MakeHostAttach(cl.host.empty() ? "embedded" : cl.host, hostError);
    if (!st.attachHost) {
        summary.ErrCode = -3;
        summary.ErrMsg = hostError;
        ui.message(hostError, Icon::Critical);
        return finish(3);
    }

    const std::filesystem::path p = std::filesystem::absolute(cl.workbook);
    st.WorkDir = p.parent_path().string();
    if (st.WorkDir.empty() || st.WorkDir.back() != '/') st.WorkDir += '/';

    const int code = RunBatchCommands(st, cl, summary);
    if (st.xlApp) CloseRunWorkbooks(*st.xlApp);
    if (st.solver) st.solver->Shutdown();
    return finish(code);
}

namespace {

std::string JsonOptional(const std::optional<double>& v) {
    return v ? JsonNumber(*v) : "null";
}

/// The log K lines, for the species whose formation from the basis is defined.
std::string FormationText(const BatchSummary& s) {
    std::string text;
    char line[256];
    for (const auto& sp : s.species) {
        if (!sp.logK) continue;
        if (text.empty()) text = "log K of formation from the basis:\n";
        const double pm = sp.logK_pm.value_or(0.0);
        std::snprintf(line, sizeof line, "%-16s %14.4f %10s\n", sp.name.c_str(), *sp.logK,
                      pm != 0 ? FormatNumber(pm, "0.0000").c_str() : "");
        text += line;
    }
    return text;
}

} // namespace

std::string SummaryJson(const BatchSummary& s) {
    std::ostringstream o;
    o << "{\"ErrCode\":" << s.ErrCode << ",\"ErrMsg\":" << JsonString(s.ErrMsg)
      << ",\"RmsErr\":" << JsonNumber(s.RmsErr) << ",\"rms\":" << JsonNumber(s.rms)
      << ",\"nSol\":" << s.nSol << ",\"nWl\":" << s.nWl << ",\"species\":[";
    for (size_t i = 0; i < s.species.size(); ++i) {
        const auto& sp = s.species[i];
        o << (i ? "," : "") << "{\"name\":" << JsonString(sp.name)
          << ",\"initial\":" << JsonNumber(sp.initial) << ",\"result\":" << JsonNumber(sp.result)
          << ",\"pm\":" << JsonNumber(sp.pm) << ",\"free\":" << (sp.free ? "true" : "false")
          << ",\"logK\":" << JsonOptional(sp.logK) << ",\"logK_pm\":" << JsonOptional(sp.logK_pm);
        if (sp.HasProfileBounds())
            o << ",\"lo\":" << JsonBound(sp.lo) << ",\"hi\":" << JsonBound(sp.hi);
        o << "}";
    }
    o << "],\"correlation\":[";
    for (size_t k = 0; k < s.correlation.size(); ++k) {
        o << (k ? ",[" : "[");
        for (size_t l = 0; l < s.correlation[k].size(); ++l)
            o << (l ? "," : "") << JsonNumber(s.correlation[k][l]);
        o << "]";
    }
    o << "],\"intervalNote\":" << JsonString(s.intervalNote) << ",\"iterations\":" << s.iterations
      << ",\"evaluations\":" << s.evaluations << ",\"seconds\":" << JsonNumber(s.seconds)
      << ",\"notes\":[";
    for (size_t i = 0; i < s.notes.size(); ++i) o << (i ? "," : "") << JsonString(s.notes[i]);
    o << "]}";
    return o.str();
}

std::string SummaryText(const BatchSummary& s) {
    std::ostringstream o;
    if (s.species.empty()) return "";
    char line[256];
    std::snprintf(line, sizeof line, "Solutions: %d, wavelengths: %d, iterations: %d\n", s.nSol,
                  s.nWl, s.iterations);
    o << line << "Mean err.: " << FormatNumber(s.RmsErr, "0.000000") << "\n";
    o << "RMS: " << FormatNumber(s.rms, "0.000000") << "\n";
    std::snprintf(line, sizeof line, "%-16s %14s %14s %10s\n", "Species", "Initial", "Result", "±");
    o << line;
    for (const auto& sp : s.species) {
        std::snprintf(line, sizeof line, "%-16s %14.4f %14.4f %10s%s\n", sp.name.c_str(),
                      sp.initial, sp.result,
                      sp.pm != 0       ? FormatNumber(sp.pm, "0.0000").c_str()
                      : !sp.determined ? "n.d."
                                       : "",
                      sp.free ? "" : "  (fixed)");
        o << line;
    }
    IntervalLines(s, o);
    o << FormationText(s);
    const double per =
        s.evaluations > 0 ? s.seconds / static_cast<double>(s.evaluations) * 1000.0 : 0.0;
    std::snprintf(line, sizeof line, "Goal evaluations: %ld (%.3f ms each), time: %.3f s\n",
                  s.evaluations, per, s.seconds);
    o << line;
    for (const auto& note : s.notes) o << "Note: " << note << "\n";
    return o.str();
}

} // namespace lumora
