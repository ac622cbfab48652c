#include "dataset/FileDialog.h"

#include "base/Ui.h"

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

bool FileDialog(Ui& ui, const std::string& title, const std::string& filterName,
                const std::string& filterPattern, std::string& folder, std::string& fileName,
                bool save) {
    std::string dir = folder.empty() ? HomeFolder() : WithSlash(folder);
    std::string name = fileName;
    if (!ui.fileDialog(title, filterName, filterPattern, dir, name, save)) return false;

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
