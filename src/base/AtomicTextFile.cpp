#include "base/AtomicTextFile.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumora {

namespace {

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// The failed step with the system's reason.
bool Failed(FileError& error, std::string step) {
    error = {std::move(step), std::strerror(errno)};
    return false;
}

bool SyncPath(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

/// Takes ".XXXXXX" (six letters or digits, as mkstemp makes them) off the front of s.
bool TakeRandomSuffix(std::string_view& s) {
    if (s.size() < 7 || s[0] != '.') return false;
    for (size_t i = 1; i < 7; ++i)
        if (!std::isalnum(static_cast<unsigned char>(s[i]))) return false;
    s.remove_prefix(7);
    return true;
}

/// True for ".NAME.XXXXXX", and for the temporary that a zip writer makes of that one
/// (".NAME.XXXXXX.XXXXXX"): names that only a save of NAME creates.
bool IsTemporaryOf(std::string_view entry, const std::string& name) {
    const std::string head = "." + name;
    if (entry.substr(0, head.size()) != head) return false;
    entry.remove_prefix(head.size());
    if (!TakeRandomSuffix(entry)) return false;
    return entry.empty() || (TakeRandomSuffix(entry) && entry.empty());
}

/// Removes the temporaries of `name` in the folder that are plain files of this user.
void RemoveTemporariesOf(int folderFd, const std::string& name) {
    int fd = ::dup(folderFd);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return;
    }
    while (const dirent* e = ::readdir(dir)) {
        struct stat st {};
        if (IsTemporaryOf(e->d_name, name) &&
            ::fstatat(folderFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            ::unlinkat(folderFd, e->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

std::unique_ptr<FileReplacement> FileReplacement::Begin(const std::string& path, FileError& error) {
    std::unique_ptr<FileReplacement> out(new FileReplacement);
    out->target_ = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        out->target_ = real;
        std::free(real);
    }
    if (!out->TakeTargetAttributes(error)) return nullptr;
    out->LockFolderAndSweep();
    const std::string folder = FolderOf(out->target_);
    out->temp_ = folder + "/." + BaseName(out->target_) + ".XXXXXX";
    out->fd_ = ::mkostemp(out->temp_.data(), O_CLOEXEC);
    if (out->fd_ < 0) {
        out->temp_.clear();
        Failed(error, "cannot create a temporary file in " + folder);
        return nullptr;
    }
    return out;
}

bool FileReplacement::TakeTargetAttributes(FileError& error) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) != 0) {
        // A new file gets what the user's mask allows.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ = 0666 & ~mask;
        return true;
    }
    // A rename would replace even a file marked read-only. The mode says what its owner
    // wants, whatever privileges the program runs with.
    if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        error = {"", "the file is read-only"};
        return false;
    }
    mode_ = st.st_mode & 07777;
    hasOwner_ = true;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    return true;
}

// Every replacement holds a shared lock on its folder while its temporary file exists.
// Whoever gets the folder exclusively therefore knows that no save is under way there,
// so the temporaries it finds were left by a save that was killed.
void FileReplacement::LockFolderAndSweep() {
    folderFd_ = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) return;
    if (::flock(folderFd_, LOCK_EX | LOCK_NB) == 0)
        RemoveTemporariesOf(folderFd_, BaseName(target_));
    // Without locks (some network file systems) nothing is swept, and saves go on.
    (void)::flock(folderFd_, LOCK_SH);
}

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) ::close(fd_);
    if (!replaced_ && !temp_.empty()) ::unlink(temp_.c_str());
    if (folderFd_ >= 0) ::close(folderFd_);
}

bool FileReplacement::Write(std::string_view bytes, FileError& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Failed(error, "cannot write the temporary file");
        done += static_cast<size_t>(n);
    }
    return true;
}

bool FileReplacement::Finish(FileError& error) {
    if (fd_ >= 0 && ::close(std::exchange(fd_, -1)) != 0)
        return Failed(error, "cannot write the temporary file");
    // The owner first: changing it may clear set-id bits that the mode then restores.
    if (hasOwner_ && ::chown(temp_.c_str(), uid_, gid_) != 0)
        (void)::chown(temp_.c_str(), static_cast<uid_t>(-1), gid_);
    if (::chmod(temp_.c_str(), mode_) != 0 || !SyncPath(temp_, O_RDONLY))
        return Failed(error, "cannot flush the temporary file");
    return true;
}

bool FileReplacement::Replace(FileError& error) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return Failed(error, "cannot replace the file");
    replaced_ = true;
    SyncPath(FolderOf(target_), O_RDONLY | O_DIRECTORY);
    return true;
}

bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string& reason) {
    FileError error;
    auto out = FileReplacement::Begin(path, error);
    if (out && out->Write(text, error) && out->Finish(error) && out->Replace(error)) return true;
    reason = error.cause;
    return false;
}

} // namespace lumora
