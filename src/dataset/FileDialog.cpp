#include "dataset/FileDialog.h"

#include <cstdlib>

namespace lumora {

namespace {
std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}
} // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return WithSlash(home && *home ? std::string(home) : std::string());
}

bool FileDialog(const OpenDialog& dialog, const std::string& title, const std::string& filterName,
                const std::string& filterPattern, std::string& folder, std::string& fileName,
                bool save) {
    if (!dialog) return false;
    std::string dir = folder.empty() ? HomeFolder() : WithSlash(folder);
    std::string name = fileName;
    if (!dialog(title, filterName, filterPattern, dir, name, save)) return false;

    // Whatever the dialog hands back, split it into the folder with its final "/" and
    // the bare name.
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
        dir = name.substr(0, slash + 1);
        name = name.substr(slash + 1);
    }
    if (name.empty()) return false;
    folder = WithSlash(dir);
    fileName = name;
    return true;
}

} // namespace lumora
