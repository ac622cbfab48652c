#pragma once

#include <string>

namespace lumora {

class Ui;

/// Shows the open (save = false) or save dialog. folder is the start folder in and the
/// chosen file's folder with its final "/" out; fileName is the proposed name in and
/// the bare chosen name out. An empty start folder opens the user's home folder.
/// Returns false when cancelled, leaving both texts as they were.
bool FileDialog(Ui& ui, const std::string& title, const std::string& filterName,
                const std::string& filterPattern, std::string& folder, std::string& fileName,
                bool save);

/// The user's home folder with a final "/" ("/" when unknown).
std::string HomeFolder();

} // namespace lumora
