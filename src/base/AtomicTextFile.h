#pragma once
// Writing a whole text file so that readers see either the old file or the new one:
// the text goes into a temporary file in the same folder, which then replaces the
// target by a rename. A failure leaves the old file (or none) and no temporary behind.

#include <string>

namespace lumora {

/// Writes `text` to `path` atomically; on failure returns false with the system's
/// reason (strerror) in `reason`.
bool WriteTextFileAtomically(const std::string& path, const std::string& text, std::string& reason);

} // namespace lumora
