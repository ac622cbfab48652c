#include "windows/WindowPlaces.h"

#include "windows/Settings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace lumora {

namespace {

struct Places {
    std::string folder;
    QHash<QString, QRect> session; // also what the file holds, once read
};

Places& ThePlaces() {
    static Places places;
    return places;
}

std::optional<QRect> ParsePlace(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) return std::nullopt;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return std::nullopt;
    }
    if (v[2] < 1 || v[3] < 1) return std::nullopt;
    return QRect(v[0], v[1], v[2], v[3]);
}

bool OnSomeScreen(const QPoint& topLeft) {
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().contains(topLeft)) return true;
    return false;
}

/// Restores on the first show, saves on every hide.
class PlaceKeeper : public QObject {
public:
    PlaceKeeper(QWidget& w, QString key) : QObject(&w), window_(w), key_(std::move(key)) {
        w.installEventFilter(this);
    }
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (obj == &window_ && e->type() == QEvent::Show && !restored_) {
            restored_ = true;
            RestorePlace(window_, key_);
        } else if (obj == &window_ && e->type() == QEvent::Hide) {
            SavePlace(window_, key_);
        }
        return false;
    }

private:
    QWidget& window_;
    QString key_;
    bool restored_ = false;
};

} // namespace

void SetWindowPlacesFolder(const std::string& folder) {
    ThePlaces() = Places{folder, {}};
}

std::optional<QRect> SavedPlace(const QString& key) {
    Places& p = ThePlaces();
    if (const auto it = p.session.constFind(key); it != p.session.constEnd()) return *it;
    if (p.folder.empty()) return std::nullopt;
    const auto place =
        ParsePlace(QString::fromStdString(ReadSetting(p.folder, "Place." + key.toStdString())));
    if (place) p.session.insert(key, *place);
    return place;
}

void SavePlace(const QWidget& w, const QString& key) {
    // The frame's position (where the window manager puts the window), the client's size.
    const QRect place(w.pos(), w.size());
    Places& p = ThePlaces();
    const auto it = p.session.constFind(key);
    if (it != p.session.constEnd() && *it == place) return;
    p.session.insert(key, place);
    if (p.folder.empty()) return;
    const QString text = QStringLiteral("%1,%2,%3,%4")
                             .arg(place.x())
                             .arg(place.y())
                             .arg(place.width())
                             .arg(place.height());
    WriteSetting(p.folder, "Place." + key.toStdString(), text.toStdString());
}

void RestorePlace(QWidget& w, const QString& key) {
    const auto place = SavedPlace(key);
    if (!place) return;
    const QSize min = w.minimumSize(), max = w.maximumSize();
    w.resize(std::clamp(place->width(), min.width(), max.width()),
             std::clamp(place->height(), min.height(), max.height()));
    if (OnSomeScreen(place->topLeft())) w.move(place->topLeft());
}

void RememberPlace(QWidget& w, const QString& key) {
    new PlaceKeeper(w, key);
}

} // namespace lumora
