#include "windows/TipWindow.h"

#include "model/State.h"
#include "windows/ViewGeometry.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <climits>
#include <cmath>

namespace lumora {

namespace {
QPointer<TipWindow> g_tip;

std::string TrimBlanks(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
} // namespace

TipWindow::TipWindow(float twipsX, float twipsY)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::NoFocus);
    setFont(DialogFont());
    // Design size 870 x 210 twips inside a one-pixel border; every show resizes it.
    resize(TwipsToPixels(870, twipsX) + 2, TwipsToPixels(210, twipsY) + 2);
    Timer.setInterval(0);
    connect(&Timer, &QTimer::timeout, this, [this] { close(); });
}

void TipWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::ToolTipBase));
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawRect(rect().adjusted(0, 0, -1, -1)); // the single border
    // Three pixels from the left inside the border, at the top.
    const QFontMetrics fm(font());
    p.drawText(1 + 3, 1 + fm.ascent(), text_);
}

void TipWindow::closeEvent(QCloseEvent* event) {
    OnUnload();
    if (g_tip == this) g_tip = nullptr; // the next tip makes a new window
    QWidget::closeEvent(event);
}

void TipWindow::OnUnload() {
    Timer.stop();
    Timer.setInterval(0);
}

void TipOrigin(int32_t X, int32_t Y, double W, double H, int32_t& left, int32_t& top) {
    const long w = std::lrint(W); // ties to even
    left = static_cast<int32_t>(X - w / 2);
    top = static_cast<int32_t>(std::lrint(Y - H));
}

void ShowTip(State& st, int32_t X, int32_t Y, const std::string& Text, float Seconds) {
    if (TrimBlanks(Text).empty()) return;
    if (!g_tip) g_tip = new TipWindow(st.TwipsX, st.TwipsY);
    TipWindow& tip = *g_tip;
    tip.text_ = QString::fromStdString(Text);

    // Outer size: the text, three pixels either side and the one-pixel border.
    const QFontMetrics fm(tip.font());
    tip.resize(8 + fm.horizontalAdvance(tip.text_), 2 + fm.height());

    // The size as the window holds it, back in twips.
    const double W = tip.width() * static_cast<double>(st.TwipsX);
    const double H = tip.height() * static_cast<double>(st.TwipsY);
    int32_t left = 0, top = 0;
    TipOrigin(X, Y, W, H, left, top);
    tip.move(TwipsToPixels(left, st.TwipsX), TwipsToPixels(top, st.TwipsY));
    tip.update();
    tip.show();
    tip.raise();

    // A lifetime that is no positive number of milliseconds leaves the timer alone
    // rather than closing the tip at once.
    if (Seconds != 0 && std::isfinite(Seconds)) {
        const double ms = std::min<double>(std::nearbyint(Seconds * 1000.0), INT_MAX);
        if (ms > 0) tip.Timer.start(static_cast<int>(ms));
    }
}

TipWindow* CurrentTip() {
    return g_tip.data();
}

} // namespace lumora
