#include "export/ExportSolutions.h"

#include "base/AtomicTextFile.h"
#include "base/NumText.h"
#include "base/RuntimeError.h"

#include <span>
#include <stdexcept>

namespace lumora {

namespace {

constexpr const char* kFileName = "Solutions.txt";
constexpr const char* kObjectNotSet = "Object variable or With block variable not set";

template <class T> std::span<T> All(Vec<T>& v) {
    return std::span<T>(v.Data(), static_cast<size_t>(v.Size()));
}

/// Equilibrates solution j with the element amounts of `bulk`; false when the loop
/// must be left (ErrCode set before or by the solver).
bool Equilibrate(State& st, const Mat<double>& bulk, int j) {
    for (int e = 0; e <= st.nEl; ++e) st.WBulk(e) = bulk(e, j);
    if (st.ErrCode != 0) return false;
    int16_t code = 0;
    st.solver->Equilibrate(st.TC, st.PBar, All(st.WArr1), All(st.WBulk), All(st.WAmt),
                           All(st.WArr2), code);
    st.ErrCode = code;
    st.ui->yield();
    return st.ErrCode == 0;
}

/// Adds sign * concentration (mol/l) of every aqueous species of solution j.
void AddConcentrations(State& st, Mat<double>& table, int j, double sign) {
    // Amounts per kilogram of water times the solution density give amounts per litre.
    const double f =
        CheckedDiv(kWaterMolality, st.WAmt(st.AqFirst)) * static_cast<double>(st.SolDens(j));
    for (int k = 1; k <= table.UBound1(); ++k)
        table(k, j) += sign * CheckFinite(f * st.WAmt(st.AqFirst - 1 + k));
}

/// The table (species 1..A, solution 1..nSol); false after an interrupt or a failure
/// (reported).
bool Speciate(State& st, Mat<double>& table) {
    if (!st.solver) throw RuntimeError(kObjectNotSet);
    const int a = st.AqLast - st.AqFirst + 1;
    table.Redim(a > 0 ? a : 0, st.nSol);
    for (int i = 1; i <= st.nSp; ++i) st.solver->SetSpeciesG(st.SpIdx(i), CSng(st.G0(i)));
    if (!st.WBulk.Dimensioned() || st.WBulk.UBound() != st.nEl) st.WBulk.Redim(st.nEl);
    bool complete = true;
    for (int j = 1; j <= st.nSol && complete; ++j) {
        complete = Equilibrate(st, st.Bulk, j);
        if (complete) AddConcentrations(st, table, j, 1.0);
        if (complete) complete = Equilibrate(st, st.BulkCorr, j);
        if (complete) AddConcentrations(st, table, j, -1.0);
    }
    if (complete) return true;
    if (st.ErrCode <= kInterrupt) return false; // Esc: no message, no file
    st.ErrCode = -1;
    st.ErrMsg = st.solver->LastMessage();
    if (st.ErrMsg.empty()) st.ErrMsg = "Equilibrium calculation failed";
    st.Message(st.ErrMsg + "  ", Icon::Critical);
    return false;
}

std::string TableText(const State& st, const Mat<double>& table) {
    std::string text;
    for (int j = 1; j <= st.nSol; ++j) text += "\t" + std::to_string(j);
    text += "\r\n";
    for (int k = 1; k <= table.UBound1(); ++k) {
        text += st.sysRec.spName.at(static_cast<size_t>(st.AqFirst - 1 + k));
        for (int j = 1; j <= st.nSol; ++j) text += "\t" + FormatNumber(table(k, j), "0.00E+00");
        text += "\r\n";
    }
    return text;
}

} // namespace

void ExportSolutions(State& st) {
    // The table has an array of its own: the views keep showing the goal function's Conc.
    Mat<double> table;
    std::string text;
    try {
        if (!Speciate(st, table)) return;
        text = TableText(st, table);
    } catch (const RuntimeError& e) {
        st.ErrCode = -1;
        st.ErrMsg = "Cannot export solutions: " + e.Description();
        st.Message(st.ErrMsg + "  ", Icon::Critical);
        return;
    } catch (const std::out_of_range&) {
        st.ErrCode = -1;
        st.ErrMsg = std::string("Cannot export solutions: ") + kSubscriptOutOfRange;
        st.Message(st.ErrMsg + "  ", Icon::Critical);
        return;
    }

    const std::string path = st.WorkDir + kFileName;
    std::string reason;
    if (!WriteTextFileAtomically(path, text, reason)) {
        st.ErrCode = -1;
        st.ErrMsg = "Cannot write " + path + ": " + reason;
        st.Message(st.ErrMsg + "  ", Icon::Critical);
        return;
    }
    st.Message("File Solutions.txt is written to the working folder  ", Icon::Information);
}

} // namespace lumora
