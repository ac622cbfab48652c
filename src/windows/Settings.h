#pragma once
// "Lumora.ini": a first line "WorkDir=" followed by the working folder, then lines
// "Key=value" for other settings (the places of the windows).

#include <string>

namespace lumora {

inline constexpr const char* kSettingsFile = "Lumora.ini";

/// Reads the first line of the settings file in `folder`; returns the working folder,
/// or "" when the file is missing, empty, unreadable or does not start with "WorkDir="
/// (exact case). Blanks around the folder are removed.
std::string ReadWorkDir(const std::string& folder);
/// Rewrites the settings file with the line "WorkDir=" + workDir followed by the other
/// settings ("Key=value" lines) it held, making the folder when needed; false on failure.
bool WriteWorkDir(const std::string& folder, const std::string& workDir);

/// The value of "Key=value" on a line after the first; "" when there is none.
std::string ReadSetting(const std::string& folder, const std::string& key);
/// Sets "Key=value" (a key of letters, digits and dots), keeping every other line;
/// false on failure, when the old file stays.
bool WriteSetting(const std::string& folder, const std::string& key, const std::string& value);

/// The user's configuration folder for the settings file.
std::string SettingsFolder();

/// Older versions kept the settings file in the working folder `legacyFolder`: when
/// `folder` has none yet, the old one's working folder is taken over, once.
void AdoptLegacySettings(const std::string& folder, const std::string& legacyFolder);

} // namespace lumora
