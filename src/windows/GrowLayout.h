#pragma once
// A twips layout that follows its window's size: one control (the chart, or the box
// holding it) takes up every pixel the window gains over its first size; controls
// below it keep their distance from the bottom edge and, across, stay with the
// nearer side or in the middle.

#include <QObject>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

namespace lumora {

class GrowLayout : public QObject {
public:
    /// Follows `window`'s resizes from now on (a child of the window).
    GrowLayout(QWidget& window, QWidget& grower);
    /// Takes the controls' places as those of the window's size `reference`, which
    /// becomes its minimum.
    void Capture(QSize reference);
    /// Places the controls for the window's current size.
    void Apply();

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    struct Place {
        QWidget* widget;
        QRect rect;
    };
    QWidget& window_;
    QWidget& grower_;
    QSize reference_;
    int growerBottom_ = 0;
    std::vector<Place> places_;
};

} // namespace lumora
