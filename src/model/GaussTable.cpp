#include "model/GaussTable.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/ReadCell.h"
#include "model/State.h"
#include "sheet/Worksheet.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace lumora {

namespace {

// The program's own writes must not count as the user's edits.
class EventsOff {
public:
    explicit EventsOff(Worksheet& sheet) : sheet_(sheet), was_(sheet.Events()) {
        sheet_.SetEvents(false);
    }
    ~EventsOff() { sheet_.SetEvents(was_); }
    EventsOff(const EventsOff&) = delete;
    EventsOff& operator=(const EventsOff&) = delete;

private:
    Worksheet& sheet_;
    bool was_;
};

Worksheet& Sheet(State& st) {
    if (!st.xlSheet) throw RuntimeError("Object variable or With block variable not set");
    return *st.xlSheet;
}

// A band value as the loader accepts it: a positive number, else nothing.
std::optional<double> Positive(const std::string& text) {
    const auto v = TextToNumber(text);
    if (v && *v > 0.0) return v;
    return std::nullopt;
}

} // namespace

TableBand SheetToTable(const SheetBand& b, double meanWl, bool wavenumber) {
    TableBand t;
    t.L = CheckedLog(b.height);
    if (!wavenumber) {
        t.c = CheckedDiv(b.center, meanWl);
        t.h = CheckedDiv(b.width, meanWl);
        return t;
    }
    const double r = CheckedDiv(b.width, b.center);
    // The half-maximum points C +- W/2 lie at positive wavelengths only for W < 2C.
    if (!(r < 2.0)) throw RuntimeError(kInvalidCall);
    const double rw = CheckedDiv(4.0 * r, 4.0 - r * r);
    t.c = CheckedDiv(meanWl, b.center);
    t.h = rw * t.c;
    return t;
}

SheetBand TableToSheet(const TableBand& t, double meanWl, bool wavenumber) {
    SheetBand b;
    b.height = CheckedExp(t.L);
    if (!wavenumber) {
        b.center = CheckFinite(meanWl * t.c);
        b.width = CheckFinite(meanWl * t.h);
        return b;
    }
    const double rw = CheckedDiv(t.h, t.c);
    const double r = CheckedDiv(2.0 * (std::sqrt(1.0 + rw * rw) - 1.0), rw);
    b.center = CheckedDiv(meanWl, t.c);
    b.width = CheckFinite(r * b.center);
    return b;
}

void LoadGaussians(State& st, int16_t strict) {
    st.ErrCode = 0;
    st.GaussTab.Redim(3, 0);
    Worksheet& sheet = Sheet(st);

    const std::string kind = CellText(sheet, 9, 7);
    if (kind == "wL")
        st.GaussArg = false;
    else if (kind == "wN")
        st.GaussArg = true;
    else
        return;

    if (CellText(sheet, 9, 8) != "center" || CellText(sheet, 9, 9) != "width" ||
        CellText(sheet, 9, 10) != "max") {
        if (strict != 0) {
            st.Message("Gaussians not found", Icon::Critical);
            return;
        }
    }

    int nG = 0;
    bool complete = true;
    for (int i = 1; i <= st.nSp && complete; ++i) {
        const int row = 9 + i;
        const std::string count = CellText(sheet, row, 7);
        // The count as a whole number (ties to even); text that is no number counts as 0.
        const double n = std::nearbyint(TextToNumber(count).value_or(0.0));
        if (n < 1.0 || n > 8.0) {
            complete = false;
            break;
        }
        const int bands = static_cast<int>(n);
        for (int b = 1; b <= bands; ++b) {
            const int col = 5 + 3 * b;
            const auto C = Positive(CellText(sheet, row, col));
            const auto W = Positive(CellText(sheet, row, col + 1));
            const auto H = Positive(CellText(sheet, row, col + 2));
            if (!C || !W || !H || (st.GaussArg && !(*W < 2.0 * *C))) {
                complete = false;
                break;
            }
            const TableBand t = SheetToTable({*C, *W, *H}, st.MeanWl, st.GaussArg);
            ++nG;
            st.GaussTab.RedimPreserve(3, nG);
            st.GaussTab(0, nG) = i;
            st.GaussTab(1, nG) = t.c;
            st.GaussTab(2, nG) = t.h;
            st.GaussTab(3, nG) = t.L;
        }
    }
    if (!complete) {
        if (strict != 0) st.Message("Gaussians not loaded due to errors", Icon::Critical);
        return;
    }

    st.GaussTab(0, 0) = nG;
    st.FitMode = 1;
    EvaluateGaussians(st);
    if (st.ErrCode != 0) st.FitMode = 0;
}

void WriteGaussianTable(State& st, int16_t header) {
    st.ErrCode = 0;
    const int nG = BandCount(st);
    if (nG == 0) return;
    Worksheet& sheet = Sheet(st);
    EventsOff quiet(sheet);

    if (header != 0) {
        sheet.Clear(9, 7, 9 + st.nSp, 37);
        sheet.SetValue(9, 7, std::string(st.GaussArg ? "wN" : "wL"));
    }

    int previous = 0, col = 7, count = 0;
    for (int g = 1; g <= nG; ++g) {
        const int species = BandSpecies(st, g);
        // Bands of species outside the table have no row to go to.
        if (species < 1 || species > st.nSp) continue;
        const int row = 9 + species;
        if (species != previous) {
            previous = species;
            col = 7;
            count = 0;
        }
        ++count;
        if (header != 0) sheet.SetValue(row, 7, static_cast<double>(count));
        const SheetBand b = TableToSheet({st.GaussTab(1, g), st.GaussTab(2, g), st.GaussTab(3, g)},
                                         st.MeanWl, st.GaussArg);
        sheet.SetValue(row, col + 1, b.center);
        sheet.SetValue(row, col + 2, b.width);
        sheet.SetValue(row, col + 3, b.height);
        col += 3;
    }

    if (header != 0) {
        int m = 0;
        for (int i = 1; i <= st.nSp; ++i)
            m = std::max(m, static_cast<int>(Val(CellText(sheet, 9 + i, 7))));
        for (int t = 0; t < m; ++t) {
            sheet.SetValue(9, 8 + 3 * t, std::string("center"));
            sheet.SetValue(9, 9 + 3 * t, std::string("width"));
            sheet.SetValue(9, 10 + 3 * t, std::string("max"));
        }
    }
}

void SetAbscissa(State& st, int16_t wavenumber) {
    if (BandCount(st) == 0 || st.FitMode == 0) return;
    st.GaussArg = wavenumber != 0;
    {
        Worksheet& sheet = Sheet(st);
        EventsOff quiet(sheet);
        sheet.SetValue(9, 7, std::string(st.GaussArg ? "wN" : "wL"));
    }
    LoadGaussians(st, 0);
    EvaluateGaussians(st);
}

} // namespace lumora
