#pragma once
// Window layouts are given in twips; these convert them with the screen's twips per
// pixel, and turn a pixel of a chart into the screen position in twips the tip wants.

#include <QFont>
#include <QRect>

#include <cstdint>

class QWidget;

namespace lumora {

struct State;

/// The font of every window: the system sans-serif at 8 points, the dialog font the
/// twips layouts are made for.
QFont DialogFont();

/// Pixels of a length in twips (rounded to nearest); a twips-per-pixel that is not
/// positive counts as 15 (96 dpi).
int TwipsToPixels(double twips, float twipsPerPixel);

/// Width a window needs for its whole caption in the title bar: the text in the
/// title font plus room for the icon and the buttons.
int CaptionWidth(const QWidget& window);
/// Widens the window (never narrows it) so that its caption is not cut.
void FitCaption(QWidget& window);

/// A rectangle given in twips, in pixels.
QRect TwipsRect(const State& st, int left, int top, int width, int height);

/// Screen position in twips of pixel (X, Y) of a chart: the chart's place on the
/// screen plus the pixel offset, each in twips, rounded to nearest (ties to even).
void ChartPointToScreenTwips(const State& st, const QWidget& chart, int X, int Y, int32_t& x,
                             int32_t& y);

} // namespace lumora
