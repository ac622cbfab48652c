#include "base/AtomicTextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumora {

bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string& reason) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.data());
        reason = std::strerror(err);
        return false;
    };
    // mkstemp creates the file private to its owner; a text file is for everyone to read.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.data());
        reason = std::strerror(err);
        return false;
    }
    if (::rename(temp.data(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.data());
        reason = std::strerror(err);
        return false;
    }
    return true;
}

} // namespace lumora
