#include "Settings.h"

#include "NumText.h"

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
    // Written beside the old file and renamed over it, so a failed write keeps the old one.
    const auto path = SettingsPath(folder);
    auto tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << "WorkDir=" << workDir << '\n';
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return true;
}

} // namespace lumora
