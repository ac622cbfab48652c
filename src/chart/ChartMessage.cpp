#include "chart/ChartMessage.h"

#include <QMessageBox>

namespace lumora {

namespace {
ChartMessageSink& Sink() {
    static ChartMessageSink sink;
    return sink;
}
} // namespace

void SetChartMessageSink(ChartMessageSink sink) {
    Sink() = std::move(sink);
}

void ShowChartMessage(QWidget* parent, const std::string& text) {
    if (Sink()) {
        Sink()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumora"),
                    QString::fromStdString(text) + QStringLiteral("  "), QMessageBox::Ok, parent);
    box.exec();
}

} // namespace lumora
