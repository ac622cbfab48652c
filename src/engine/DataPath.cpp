#include "engine/DataPath.h"

#include <filesystem>

namespace lumora {

namespace fs = std::filesystem;

std::vector<std::string> BundledDataFolders() {
    std::vector<std::string> dirs;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        dirs.push_back((exe.parent_path() / "data").string());
        dirs.push_back((exe.parent_path() / "data" / "systems").string());
    }
#ifdef LUMORA_DATA_DIR
    dirs.emplace_back(LUMORA_DATA_DIR);
    dirs.push_back((fs::path(LUMORA_DATA_DIR) / "systems").string());
#endif
    return dirs;
}

std::string ResolveDataPath(const std::string& path, const std::string& baseDir) {
    if (path.empty()) return path;
    std::error_code ec;
    const fs::path p(path);
    if (p.is_absolute()) return path;
    if (!baseDir.empty()) {
        const fs::path c = fs::path(baseDir) / p;
        if (fs::is_regular_file(c, ec)) return c.lexically_normal().string();
    }
    if (fs::is_regular_file(p, ec)) return path;
    for (const std::string& dir : BundledDataFolders()) {
        const fs::path c = fs::path(dir) / p;
        if (fs::is_regular_file(c, ec)) return c.lexically_normal().string();
    }
    return path;
}

std::string NotARegularFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    switch (st.type()) {
    case fs::file_type::regular:
    case fs::file_type::not_found:
    case fs::file_type::none:
        return {};
    case fs::file_type::directory:
        return "not a regular file (a folder)";
    case fs::file_type::fifo:
        return "not a regular file (a FIFO)";
    case fs::file_type::character:
    case fs::file_type::block:
        return "not a regular file (a device)";
    case fs::file_type::socket:
        return "not a regular file (a socket)";
    default:
        return "not a regular file";
    }
}

} // namespace lumora
