#pragma once
// The results under the main window's buttons: each species' Initial and Result
// energies with their intervals, the mean error and, when the fit gave them, profile
// bounds, formation constants and the correlations of the refined energies.

#include "dataset/FitReport.h"

#include <QWidget>

class QLabel;
class QTableWidget;

namespace lumora {

class ResultPanel : public QWidget {
    Q_OBJECT
public:
    explicit ResultPanel(QWidget* parent = nullptr);

    /// Shows a report; one without species (a failed read) empties the panel.
    void Show(const FitReport& report);
    bool HasResults() const { return hasResults_; }
    /// Height that shows every row.
    int WantedHeight() const;

    QTableWidget* SpeciesTable() const { return species_; }
    QTableWidget* CorrelationTable() const { return correlation_; }
    QLabel* Summary() const { return summary_; }

private:
    void FillSpecies(const FitReport& report);
    void FillCorrelation(const FitReport& report);
    void FillSummary(const FitReport& report);

    QTableWidget* species_ = nullptr;
    QTableWidget* correlation_ = nullptr;
    QLabel* summary_ = nullptr;
    bool hasResults_ = false;
};

} // namespace lumora
