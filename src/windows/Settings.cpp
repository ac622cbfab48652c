#include "windows/Settings.h"

#include "base/AtomicTextFile.h"
#include "base/NumText.h"

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
    std::string reason;
    return WriteTextFileAtomically(SettingsPath(folder).string(), "WorkDir=" + workDir + "\n",
                                   reason);
}

} // namespace lumora
