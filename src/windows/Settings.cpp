#include "windows/Settings.h"

#include "base/AtomicTextFile.h"
#include "base/NumText.h"

#include <QStandardPaths>

#include <algorithm>
#include <cctype>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace lumora {

namespace {
std::filesystem::path SettingsPath(const std::string& folder) {
    return std::filesystem::path(folder.empty() ? "." : folder) / kSettingsFile;
}

/// The file's lines without their line ends; none when it is missing or unreadable.
std::vector<std::string> ReadLines(const std::string& folder) {
    std::vector<std::string> lines;
    std::ifstream in(SettingsPath(folder), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool WriteLines(const std::string& folder, const std::vector<std::string>& lines) {
    // A failed write keeps the old file.
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    std::string text, reason;
    for (const std::string& line : lines) text += line + "\n";
    return WriteTextFileAtomically(SettingsPath(folder).string(), text, reason);
}

constexpr const char* kWorkDirKey = "WorkDir=";

/// "Key=value" with a key of letters, digits and dots.
bool IsSetting(const std::string& line) {
    const size_t eq = line.find('=');
    if (eq == 0 || eq == std::string::npos) return false;
    return std::all_of(line.begin(), line.begin() + static_cast<ptrdiff_t>(eq),
                       [](unsigned char c) { return std::isalnum(c) || c == '.'; });
}

bool HasKey(const std::string& line, const std::string& key) {
    return line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
           line[key.size()] == '=';
}
} // namespace

std::string ReadWorkDir(const std::string& folder) {
    const std::vector<std::string> lines = ReadLines(folder);
    if (lines.empty()) return {};
    const std::string key = kWorkDirKey;
    if (lines[0].compare(0, key.size(), key) != 0) return {};
    return Trim(lines[0].substr(key.size()));
}

bool WriteWorkDir(const std::string& folder, const std::string& workDir) {
    // Settings lines stay; anything else after the first line goes, as it always did.
    std::vector<std::string> lines{kWorkDirKey + workDir};
    const std::vector<std::string> old = ReadLines(folder);
    for (size_t i = 1; i < old.size(); ++i)
        if (IsSetting(old[i])) lines.push_back(old[i]);
    return WriteLines(folder, lines);
}

std::string ReadSetting(const std::string& folder, const std::string& key) {
    const std::vector<std::string> lines = ReadLines(folder);
    for (size_t i = 1; i < lines.size(); ++i)
        if (HasKey(lines[i], key)) return lines[i].substr(key.size() + 1);
    return {};
}

bool WriteSetting(const std::string& folder, const std::string& key, const std::string& value) {
    if (!IsSetting(key + "=") || value.find_first_of("\r\n") != std::string::npos) return false;
    std::vector<std::string> lines = ReadLines(folder);
    // The first line stays the working folder's, even while there is none.
    if (lines.empty() || lines[0].compare(0, 8, kWorkDirKey) != 0)
        lines.insert(lines.begin(), kWorkDirKey);
    const auto it = std::find_if(lines.begin() + 1, lines.end(),
                                 [&](const std::string& l) { return HasKey(l, key); });
    if (it != lines.end())
        *it = key + "=" + value;
    else
        lines.push_back(key + "=" + value);
    return WriteLines(folder, lines);
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
