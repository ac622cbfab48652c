#pragma once
// What identifies one version of a file on disk: device, inode, size and
// modification time. A save by another program changes at least one of them.

#include <cstdint>
#include <optional>
#include <string>

namespace lumora {

struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    /// Modification time (ns since the epoch)
    int64_t mtimeNs = 0;

    bool operator==(const FileStamp&) const = default;

    /// Stamp of the file at path; nothing when it cannot be looked at.
    static std::optional<FileStamp> Of(const std::string& path);
};

} // namespace lumora
