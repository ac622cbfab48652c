#include "windows/FactorWindow.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "chart/ChartWidget.h"
#include "dataset/Reread.h"
#include "linalg/FactorAnalysis.h"
#include "windows/GrowLayout.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

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

    chart = new ChartWidget(this);
    check = new QCheckBox("Try to reduce errors in data matrix", this);
    factorsLabel = new QLabel("Number of factors", this);
    list = new QComboBox(this);
    errorLabel = new QLabel(this);
    connect(check, &QCheckBox::toggled, this, [this] { OnCheckToggled(); });

    // A small dialog in twips: the chart on top, the choice below it, the result last.
    auto px = [&](int l, int t, int w, int h) { return TwipsRect(st_, l, t, w, h); };
    chart->setGeometry(px(120, 120, 5055, 3255));
    check->setGeometry(px(240, 3480, 4815, 285));
    factorsLabel->setGeometry(px(240, 3885, 1695, 255));
    list->setGeometry(px(2040, 3840, 1095, 315));
    errorLabel->setGeometry(px(240, 4290, 4815, 255));
    resize(px(0, 0, 5295, 4665).size());
    FitCaption(*this);
    (new GrowLayout(*this, *chart))->Capture(px(0, 0, 5295, 4665).size());
    RememberPlace(*this, QStringLiteral("ReverseIndicator"));
}

void FactorWindow::ShowResult(const FactorResult& r) {
    const int c = r.c;
    // The reverse indicator against the number of factors 0..c, ending at 0.
    auto chartValue = [](double v) {
        return static_cast<float>(std::clamp(v, -1e30, 1e30)); // float-safe, never the 1E+35 break
    };
    chart->Dimension(1, static_cast<int16_t>(c + 1));
    chart->SetXAxisMax(static_cast<float>(c));
    chart->SetXAxisUnit(1.0f);
    chart->SetXAxisTitle(QStringLiteral("Number of factors"));
    chart->SetYAxisTitle(QStringLiteral("Reverse indicator function"));
    for (int i = 1; i <= c; ++i) {
        chart->SetPointData(static_cast<int16_t>(i), 0, static_cast<float>(i - 1));
        chart->SetPointData(static_cast<int16_t>(i), 1, chartValue(r.indicator[i - 1]));
    }
    chart->SetPointData(static_cast<int16_t>(c + 1), 0, static_cast<float>(c));
    chart->SetPointData(static_cast<int16_t>(c + 1), 1, 0.0f);
    chart->Refresh();

    list->clear();
    if (r.analyzable) {
        errorLabel->setText(QString::fromStdString("Estimated RMS error is " +
                                                   FormatNumber(r.realError[r.nf], "0E+0")));
        for (int i = 1; i <= c - 1; ++i) list->addItem(QString::fromStdString(Str(i)));
        // A count chosen for a larger data set has no entry in this list.
        if (st_.nFactors > c - 1) st_.nFactors = 0;
        const int pick = st_.nFactors != 0 ? st_.nFactors : r.nf;
        list->setCurrentIndex(pick - 1); // -1: no selection
    } else {
        errorLabel->setText("Data are not factor analyzable");
    }
    check->setChecked(st_.nFactors > 0);
    list->setEnabled(check->isChecked());
}

void FactorWindow::OnActivate() {
    // Topmost comes with the window flag set at construction.
    OnCheckToggled();
}

void FactorWindow::OnCheckToggled() {
    list->setEnabled(check->isChecked());
    if (check->isChecked() && list->isVisible()) list->setFocus();
}

void FactorWindow::KeyDown(int key) {
    if (key == 27) close();
}

int16_t FactorWindow::ShownCount() const {
    if (list->currentIndex() < 0) return 0;
    return CInt16(Val(list->currentText().toStdString()));
}

void FactorWindow::QueryClose() {
    // Ticked with no count shown (nothing to choose) reduces nothing.
    st_.nFactors = check->isChecked() ? ShownCount() : 0;
}

void FactorWindow::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    OnActivate();
}

void FactorWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        KeyDown(27);
        return;
    }
    QDialog::keyPressEvent(e);
}

void FactorWindow::done(int result) {
    // Every way of closing a dialog ends here (close button, Esc, close()).
    QueryClose();
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
