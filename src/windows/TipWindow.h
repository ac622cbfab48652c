#pragma once
// The floating name tip over the chart windows: a small label just above the mouse
// pointer that stays on top without taking the focus and closes itself after a while.

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>

namespace lumora {

struct State;

class TipWindow : public QWidget {
    Q_OBJECT
public:
    /// twipsX, twipsY: twips per pixel, for the design size.
    TipWindow(float twipsX, float twipsY);

    /// The text drawn; the interval of the closing timer (0: stays open).
    const QString& Text() const { return text_; }
    int Interval() const { return Timer.interval(); }
    bool TimerActive() const { return Timer.isActive(); }

    QTimer Timer;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend void ShowTip(State& st, int32_t X, int32_t Y, const std::string& Text, float Seconds);
    void OnUnload();

    QString text_;
};

/// Left and top edge (twips) of a tip W x H twips wide that is centred on X and ends
/// just above Y: the width is rounded to a whole number before it is halved.
void TipOrigin(int32_t X, int32_t Y, double W, double H, int32_t& left, int32_t& top);

/// Shows Text at screen position (X, Y) in twips for Seconds (0: the timer keeps its
/// interval). A blank text shows nothing. The window is created on first use and again
/// after its timer closed it.
void ShowTip(State& st, int32_t X, int32_t Y, const std::string& Text, float Seconds);

/// The tip window while it exists (nullptr before the first tip and after it closed).
TipWindow* CurrentTip();

} // namespace lumora
