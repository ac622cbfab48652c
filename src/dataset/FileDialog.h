#pragma once
// The file-name side of the open and save dialogs: start folder, and the split of
// whatever the dialog returns into a folder and a bare name.

#include <functional>
#include <string>

namespace lumora {

/// A file dialog as the windows show it: folder is the start folder in and the chosen
/// folder out, fileName the proposed name in and the chosen name (possibly with a
/// folder) out; false when cancelled.
using OpenDialog = std::function<bool(const std::string& title, const std::string& filterName,
                                      const std::string& filterPattern, std::string& folder,
                                      std::string& fileName, bool save)>;

/// Shows the open (save = false) or save dialog. folder is the start folder in and the
/// chosen file's folder with its final "/" out; fileName is the proposed name in and
/// the bare chosen name out. An empty start folder opens the user's home folder.
/// Returns false when cancelled or when there is no dialog, leaving both texts as they were.
bool FileDialog(const OpenDialog& dialog, const std::string& title, const std::string& filterName,
                const std::string& filterPattern, std::string& folder, std::string& fileName,
                bool save);

/// The user's home folder with a final "/" ("/" when unknown).
std::string HomeFolder();

} // namespace lumora
