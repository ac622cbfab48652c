#include "windows/Settings.h"

#include "base/AtomicTextFile.h"
#include "base/NumText.h"

#include <QStandardPaths>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace lumora {

namespace {
std::filesystem::path SettingsPath(const std::string& folder) {
    return std::filesystem::path(folder.empty() ? "." : folder) / kSettingsFile;
}
} // namespace

std::string ReadWorkDir(const std::string& folder) {
    std::ifstream in(SettingsPath(folder), std::ios::binary);
    if (!in) return {};
    std::string line;
    if (!std::getline(in, line)) return {};
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string key = "WorkDir=";
    if (line.compare(0, key.size(), key) != 0) return {};
    return Trim(line.substr(key.size()));
}

bool WriteWorkDir(const std::string& folder, const std::string& workDir) {
    // A failed write keeps the old file.
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    std::string reason;
    return WriteTextFileAtomically(SettingsPath(folder).string(), "WorkDir=" + workDir + "\n",
                                   reason);
}

std::string SettingsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
}

void AdoptLegacySettings(const std::string& folder, const std::string& legacyFolder) {
    std::error_code ec;
    if (std::filesystem::exists(SettingsPath(folder), ec) ||
        !std::filesystem::is_regular_file(SettingsPath(legacyFolder), ec))
        return;
    WriteWorkDir(folder, ReadWorkDir(legacyFolder));
}

} // namespace lumora
