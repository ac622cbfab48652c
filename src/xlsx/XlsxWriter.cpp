#include "xlsx/XlsxWriter.h"

#include "base/RuntimeError.h"
#include "xlsx/GridWorkbook.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace lumora {

namespace {

namespace fs = std::filesystem;

bool WriteBook(const std::string& path, const std::vector<NewSheet>& sheets, std::string& error) {
    GridWorkbook book(path);
    try {
        for (const auto& s : sheets) {
            GridSheet* sheet = book.AddSheet(s.name);
            sheet->SetBlock(1, 1, s.rows);
            for (const auto& c : s.comments) sheet->SetComment(c.row, c.col, c.text);
        }
    } catch (const RuntimeError& e) {
        error = "Cannot write " + path + ": " + e.Description();
        return false;
    }
    book.SetActiveSheet(1);
    return book.Save(error);
}

/// A name beside path that nothing holds yet.
std::string FreeNameBeside(const fs::path& path) {
    for (int n = 0;; ++n) {
        fs::path candidate =
            path.parent_path() / ("." + path.filename().string() + ".new" +
                                  std::to_string(getpid()) + "-" + std::to_string(n));
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate.string();
    }
}

/// Moves from to to unless something is at to; renameat2 decides atomically, and a
/// hard link stands in on file systems without it.
bool MoveWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    int rc = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        rc = link(from.c_str(), to.c_str());
        if (rc == 0) unlink(from.c_str());
    }
    if (rc == 0) return true;
    error = errno == EEXIST ? "Cannot write " + to + ": the file exists; it is left as it is"
                            : "Cannot write " + to + ": " + std::strerror(errno);
    unlink(from.c_str());
    return false;
}

} // namespace

bool WriteNewXlsx(const std::string& path, const std::vector<NewSheet>& sheets, std::string& error,
                  ExistingFile existing) {
    if (sheets.empty()) {
        error = "Cannot write " + path + ": a workbook needs at least one sheet";
        return false;
    }
    if (existing == ExistingFile::Replace) return WriteBook(path, sheets, error);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
        error = "Cannot write " + path + ": the file exists; it is left as it is";
        return false;
    }
    const std::string temp = FreeNameBeside(fs::absolute(path, ec));
    if (!WriteBook(temp, sheets, error)) {
        unlink(temp.c_str());
        // The reason names the temporary file; the user knows the file asked for.
        const std::string tempName = fs::path(temp).filename().string();
        for (size_t at; (at = error.find(tempName)) != std::string::npos;)
            error.replace(at, tempName.size(), fs::path(path).filename().string());
        return false;
    }
    return MoveWithoutReplacing(temp, path, error);
}

} // namespace lumora
