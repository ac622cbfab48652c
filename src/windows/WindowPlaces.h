#pragma once
// Windows that remember where the user left them: size and position are saved in the
// settings file whenever a window is hidden and given back when it is first shown.

#include <QRect>
#include <QString>

#include <optional>
#include <string>

class QWidget;

namespace lumora {

/// Folder of the settings file the places are kept in. "" (the start) keeps them for
/// the session only, as tests want.
void SetWindowPlacesFolder(const std::string& folder);

/// The place saved under `key` ("x,y,width,height"), if any.
std::optional<QRect> SavedPlace(const QString& key);
/// Saves the window's place under `key`.
void SavePlace(const QWidget& w, const QString& key);
/// Gives the window the saved size (not below its minimum) and, when that still lies
/// on a screen, the saved position; nothing without a saved place.
void RestorePlace(QWidget& w, const QString& key);

/// Restores the window's place on its first show and saves it on every hide.
void RememberPlace(QWidget& w, const QString& key);

} // namespace lumora
