#pragma once
// "Lumora.ini": one line "WorkDir=" followed by the working folder.

#include <string>

namespace lumora {

inline constexpr const char* kSettingsFile = "Lumora.ini";

/// Reads the first line of the settings file in `folder`; returns the working folder,
/// or "" when the file is missing, empty, unreadable or does not start with "WorkDir="
/// (exact case). Blanks around the folder are removed.
std::string ReadWorkDir(const std::string& folder);
/// Rewrites the settings file with the single line "WorkDir=" + workDir, making the
/// folder when needed; false on failure.
bool WriteWorkDir(const std::string& folder, const std::string& workDir);

/// The user's configuration folder for the settings file.
std::string SettingsFolder();

/// Older versions kept the settings file in the working folder `legacyFolder`: when
/// `folder` has none yet, the old one's working folder is taken over, once.
void AdoptLegacySettings(const std::string& folder, const std::string& legacyFolder);

} // namespace lumora
