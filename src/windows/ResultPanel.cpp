#include "windows/ResultPanel.h"

#include "base/NumText.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace lumora {

namespace {

enum Column { kName, kInitial, kResult, kPm, kLo, kHi, kLogK, kLogKPm, kColumns };
const char* const kHeaders[kColumns] = {"Species", "Initial", "Result", " \u00b1",
                                        "lo",      "hi",      "log K",  " \u00b1"};
constexpr int kRowHeight = 18;

QString Energy(double x) {
    return QString::fromStdString(FormatNumber(x, "0.000"));
}

QTableWidgetItem* Item(const QString& text, bool number = true) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(number ? Qt::AlignRight | Qt::AlignVCenter
                                  : Qt::AlignLeft | Qt::AlignVCenter);
    return item;
}

QTableWidget* CompactTable(QWidget* parent) {
    auto* t = new QTableWidget(parent);
    t->verticalHeader()->setVisible(false);
    t->verticalHeader()->setDefaultSectionSize(kRowHeight);
    t->horizontalHeader()->setMinimumSectionSize(30);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return t;
}

int TableHeight(const QTableWidget* t) {
    return t->isHidden() ? 0
                         : t->horizontalHeader()->sizeHint().height() + kRowHeight * t->rowCount() +
                               2 * t->frameWidth() + 2;
}

} // namespace

ResultPanel::ResultPanel(QWidget* parent) : QWidget(parent) {
    species_ = CompactTable(this);
    species_->setColumnCount(kColumns);
    for (int c = 0; c < kColumns; ++c)
        species_->setHorizontalHeaderItem(c, new QTableWidgetItem(kHeaders[c]));
    correlation_ = CompactTable(this);
    correlation_->setToolTip("Correlations of the refined Gibbs energies");
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(species_);
    layout->addWidget(summary_);
    layout->addWidget(correlation_);
    correlation_->hide();
}

void ResultPanel::Show(const FitReport& report) {
    hasResults_ = !report.species.empty();
    FillSpecies(report);
    FillCorrelation(report);
    FillSummary(report);
    species_->setVisible(hasResults_);
}

void ResultPanel::FillSpecies(const FitReport& report) {
    species_->setRowCount(static_cast<int>(report.species.size()));
    bool bounds = false, logK = false;
    for (int i = 0; i < static_cast<int>(report.species.size()); ++i) {
        const FitReport::Species& sp = report.species[static_cast<size_t>(i)];
        auto* name = Item(QString::fromStdString(sp.name), false);
        name->setToolTip(sp.free ? "Refined by Optimize" : "Fixed by its Result cell");
        if (!sp.free) name->setForeground(QColor(110, 110, 120));
        species_->setItem(i, kName, name);
        species_->setItem(i, kInitial, Item(Energy(sp.initial)));
        species_->setItem(i, kResult, Item(Energy(sp.result)));
        species_->setItem(i, kPm, Item(sp.pm != 0 ? Energy(sp.pm) : QString()));
        const bool hasBounds = sp.HasProfileBounds();
        bounds = bounds || hasBounds;
        const QString nd = sp.determined ? QString() : QString("n.d.");
        species_->setItem(i, kLo, Item(sp.lo && sp.determined ? Energy(*sp.lo) : nd));
        species_->setItem(i, kHi, Item(sp.hi && sp.determined ? Energy(*sp.hi) : nd));
        logK = logK || sp.logK;
        species_->setItem(i, kLogK, Item(sp.logK ? Energy(*sp.logK) : QString()));
        species_->setItem(i, kLogKPm, Item(sp.logK_pm ? Energy(*sp.logK_pm) : QString()));
    }
    species_->setColumnHidden(kLo, !bounds);
    species_->setColumnHidden(kHi, !bounds);
    species_->setColumnHidden(kLogK, !logK);
    species_->setColumnHidden(kLogKPm, !logK);
    species_->resizeColumnsToContents();
}

void ResultPanel::FillCorrelation(const FitReport& report) {
    const auto& m = report.correlation;
    std::vector<QString> names;
    for (const auto& sp : report.species)
        if (sp.free) names.push_back(QString::fromStdString(sp.name));
    const int n = static_cast<int>(m.size());
    correlation_->setVisible(n > 1);
    correlation_->setRowCount(n);
    correlation_->setColumnCount(n + 1);
    correlation_->setHorizontalHeaderItem(0, new QTableWidgetItem("Correlation"));
    for (int i = 0; i < n; ++i) {
        const QString name =
            i < static_cast<int>(names.size()) ? names[size_t(i)] : QString::number(i + 1);
        correlation_->setHorizontalHeaderItem(i + 1, new QTableWidgetItem(name));
        correlation_->setItem(i, 0, Item(name, false));
        for (int j = 0; j < n && j < static_cast<int>(m[size_t(i)].size()); ++j)
            correlation_->setItem(
                i, j + 1,
                Item(QString::fromStdString(FormatNumber(m[size_t(i)][size_t(j)], "0.000"))));
    }
    correlation_->resizeColumnsToContents();
}

void ResultPanel::FillSummary(const FitReport& report) {
    QStringList lines;
    if (hasResults_) {
        QString mean =
            "Mean err.: " + QString::fromStdString(FormatNumber(report.RmsErr, "0.000000"));
        if (report.rms > 0)
            mean += "    rms: " + QString::fromStdString(FormatNumber(report.rms, "0.000000"));
        lines << mean;
    }
    if (!report.intervalNote.empty()) lines << QString::fromStdString(report.intervalNote);
    summary_->setText(lines.join("\n"));
    summary_->setVisible(!lines.isEmpty());
}

int ResultPanel::WantedHeight() const {
    if (!hasResults_) return 0;
    const int label = summary_->isHidden() ? 0 : summary_->sizeHint().height();
    return TableHeight(species_) + label + TableHeight(correlation_) + 8;
}

} // namespace lumora
