#include "windows/GrowLayout.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace lumora {

GrowLayout::GrowLayout(QWidget& window, QWidget& grower)
    : QObject(&window), window_(window), grower_(grower) {
    window.installEventFilter(this);
}

void GrowLayout::Capture(QSize reference) {
    reference_ = reference;
    places_.clear();
    for (QWidget* w : window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!w->isWindow()) places_.push_back({w, w->geometry()});
    growerBottom_ = grower_.geometry().bottom();
    window_.setMinimumSize(reference);
    Apply();
}

void GrowLayout::Apply() {
    if (places_.empty()) return;
    const int dw = std::max(0, window_.width() - reference_.width());
    const int dh = std::max(0, window_.height() - reference_.height());
    for (const Place& p : places_) {
        QRect r = p.rect;
        if (p.widget == &grower_) {
            r.setSize(r.size() + QSize(dw, dh));
        } else if (r.top() >= growerBottom_) {
            // Below the chart: with the bottom edge; across, a wide control grows, a
            // narrow one stays with the nearer side or in the middle.
            const int centre = r.center().x(), w = reference_.width();
            if (2 * r.width() > w)
                r.setWidth(r.width() + dw);
            else
                r.translate(centre < w / 3 ? 0 : (centre > 2 * w / 3 ? dw : dw / 2), 0);
            r.translate(0, dh);
        }
        if (p.widget->geometry() != r) p.widget->setGeometry(r);
    }
}

bool GrowLayout::eventFilter(QObject* obj, QEvent* e) {
    if (obj == &window_ && e->type() == QEvent::Resize) Apply();
    return false;
}

} // namespace lumora
