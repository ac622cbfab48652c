#pragma once
// Replacing a whole file so that readers see either the old file or the new one: the
// new contents go into a temporary file beside the target (".NAME.XXXXXX"), which takes
// the target's mode and owner and then replaces it by a rename. A read-only target is
// refused. A failure leaves the old file (or none) and no temporary behind; temporaries
// that a killed save left are removed by the next save of the same file.

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace lumora {

/// Why a replacement failed: the step ("cannot replace the file") and the reason.
struct FileError {
    std::string step;
    std::string cause;
    /// "step: cause", or the cause alone.
    std::string Text() const { return step.empty() ? cause : step + ": " + cause; }
};

class FileReplacement {
public:
    /// Starts replacing `path` (through a symbolic link, the file it points to); nullptr
    /// with the error when the target is read-only or no temporary file can be made.
    static std::unique_ptr<FileReplacement> Begin(const std::string& path, FileError& error);
    /// Without Replace, the temporary file goes.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    /// The file that will be replaced (links resolved).
    const std::string& Target() const { return target_; }
    /// The temporary file; others (a zip writer) may rewrite it before Finish.
    const std::string& TempPath() const { return temp_; }
    /// Appends bytes to the temporary file.
    bool Write(std::string_view bytes, FileError& error);
    /// Gives the temporary file the target's mode and owner and flushes it to disk.
    bool Finish(FileError& error);
    /// Renames the temporary file over the target.
    bool Replace(FileError& error);

private:
    FileReplacement() = default;
    bool TakeTargetAttributes(FileError& error);
    void LockFolderAndSweep();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    /// The folder, locked shared while the temporary file exists (see LockFolderAndSweep).
    int folderFd_ = -1;
    mode_t mode_ = 0644;
    bool hasOwner_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool replaced_ = false;
};

/// Writes `text` to `path` atomically; on failure returns false with the reason (the
/// system's, or "the file is read-only").
bool WriteTextFileAtomically(const std::string& path, const std::string& text, std::string& reason);

} // namespace lumora
