#include "windows/FactorWindow.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "chart/ChartWidget.h"
#include "dataset/Reread.h"
#include "linalg/FactorAnalysis.h"
#include "windows/ViewGeometry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace lumora {

FactorWindow::FactorWindow(State& st, QWidget* parent) : QDialog(parent), st_(st) {
    setWindowTitle("Reverse Indicator Function");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(DialogFont());

    Chart = new ChartWidget(this);
    Check = new QCheckBox("Try to reduce errors in data matrix", this);
    lblFactors = new QLabel("Number of factors", this);
    Combo = new QComboBox(this);
    lblError = new QLabel(this);
    connect(Check, &QCheckBox::toggled, this, [this] { Check_Click(); });

    // A small dialog in twips: the chart on top, the choice below it, the result last.
    auto px = [&](int l, int t, int w, int h) { return TwipsRect(st_, l, t, w, h); };
    Chart->setGeometry(px(120, 120, 5055, 3255));
    Check->setGeometry(px(240, 3480, 4815, 285));
    lblFactors->setGeometry(px(240, 3885, 1695, 255));
    Combo->setGeometry(px(2040, 3840, 1095, 315));
    lblError->setGeometry(px(240, 4290, 4815, 255));
    setFixedSize(px(0, 0, 5295, 4665).size());
}

void FactorWindow::ShowResult(const FactorResult& r) {
    const int c = r.c;
    // The reverse indicator against the number of factors 0..c, ending at 0.
    auto chartValue = [](double v) {
        return static_cast<float>(std::clamp(v, -1e30, 1e30)); // float-safe, never the 1E+35 break
    };
    Chart->Dimension(1, static_cast<int16_t>(c + 1));
    Chart->SetXAxisMax(static_cast<float>(c));
    Chart->SetXAxisUnit(1.0f);
    for (int i = 1; i <= c; ++i) {
        Chart->SetPointData(static_cast<int16_t>(i), 0, static_cast<float>(i - 1));
        Chart->SetPointData(static_cast<int16_t>(i), 1, chartValue(r.indicator[i - 1]));
    }
    Chart->SetPointData(static_cast<int16_t>(c + 1), 0, static_cast<float>(c));
    Chart->SetPointData(static_cast<int16_t>(c + 1), 1, 0.0f);
    Chart->Refresh();

    Combo->clear();
    if (r.analyzable) {
        lblError->setText(QString::fromStdString("Estimated RMS error is " +
                                                 FormatNumber(r.realError[r.nf], "0E+0")));
        for (int i = 1; i <= c - 1; ++i) Combo->addItem(QString::fromStdString(Str(i)));
        // A count chosen for a larger data set has no entry in this list.
        if (st_.nFactors > c - 1) st_.nFactors = 0;
        const int pick = st_.nFactors != 0 ? st_.nFactors : r.nf;
        Combo->setCurrentIndex(pick - 1); // -1: no selection
    } else {
        lblError->setText("Data are not factor analyzable");
    }
    Check->setChecked(st_.nFactors > 0);
    Combo->setEnabled(Check->isChecked());
}

void FactorWindow::Form_Activate() {
    // Topmost comes with the window flag set at construction.
    Check_Click();
}

void FactorWindow::Check_Click() {
    Combo->setEnabled(Check->isChecked());
    if (Check->isChecked() && Combo->isVisible()) Combo->setFocus();
}

void FactorWindow::Form_KeyDown(int key) {
    if (key == 27) close();
}

int16_t FactorWindow::ShownCount() const {
    if (Combo->currentIndex() < 0) return 0;
    return CInt16(Val(Combo->currentText().toStdString()));
}

void FactorWindow::Form_QueryUnload() {
    // Ticked with no count shown (nothing to choose) reduces nothing.
    st_.nFactors = Check->isChecked() ? ShownCount() : 0;
}

void FactorWindow::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    Form_Activate();
}

void FactorWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        Form_KeyDown(27);
        return;
    }
    QDialog::keyPressEvent(e);
}

void FactorWindow::done(int result) {
    // Every way of closing a dialog ends here (close button, Esc, close()).
    Form_QueryUnload();
    QDialog::done(result);
}

void FactorAnalysis(State& st, MainWindowPort& port, int16_t mode, FactorWindow* window) {
    if (!port.buttonEnabled(Command::Optimize)) return;
    if (port.reread(st) == RereadResult::Failed) return;
    FactorResult r;
    try {
        r = AnalyzeFactors(st.nSol, st.nWl, st.AbsM, st.SolWeight);
    } catch (const RuntimeError& e) {
        st.ErrCode = -1;
        st.ErrMsg = "Factor analysis failed: " + e.Description();
        st.Message(st.ErrMsg + "  ", Icon::Critical);
        return;
    }
    if (mode != 0) {
        st.ErrCode = r.nf;
        return;
    }
    if (!window) return;
    window->ShowResult(r);
    window->exec();
}

} // namespace lumora
