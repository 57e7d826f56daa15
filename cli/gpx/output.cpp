#include "gpx/output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "terminal/errors.h"

namespace halvex {

namespace {

[[noreturn]] void CannotWrite(const std::string &path, const std::string &why)
{
    throw Failure(ExitFailure, "cannot write " + path + ": " + why);
}

std::string Directory(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a chain of symbolic links leads to, the last of which may name a
// file that does not exist yet.
std::string FollowLinks(const std::string &named)
{
    std::string path = named;
    for (int hops = 0; hops < 40; hops++) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0)
            CannotWrite(named, std::strerror(errno));
        target[length] = '\0';
        path = target[0] == '/' ? std::string(target) : Directory(path) + "/" + target;
    }
    CannotWrite(named, std::strerror(ELOOP));
}

void WriteAll(int fd, const std::string &text, const std::string &path)
{
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            close(fd);
            CannotWrite(path, std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
}

} // namespace

Output::Output(const std::string &path)
{
    if (path.empty() || path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1")
        return;
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            CannotWrite(path, "it is a directory");
        // access() answers for the real user, whatever the tool runs as.
        if (access(path.c_str(), W_OK) != 0)
            CannotWrite(path, std::strerror(errno));
        // A FIFO, a device, or a descriptor of ours (/dev/stdout) is written
        // where it is; only a plain file is replaced, at the end of its links.
        bool special = path.compare(0, 5, "/dev/") == 0 || path.compare(0, 6, "/proc/") == 0;
        kind_ = S_ISREG(status.st_mode) && !special ? Kind::Replace : Kind::Direct;
        path_ = kind_ == Kind::Replace ? FollowLinks(path) : path;
    } else if (errno == ENOENT) {
        kind_ = Kind::Replace;
        path_ = FollowLinks(path); // a link to a file not made yet makes it
    } else {
        CannotWrite(path, std::strerror(errno));
    }
    // The file written beside the target needs the directory.
    if (kind_ == Kind::Replace && access(Directory(path_).c_str(), W_OK | X_OK) != 0)
        CannotWrite(path, errno == ENOENT ? "no such directory" : std::strerror(errno));
}

void Output::Write(const std::string &text) const
{
    if (kind_ == Kind::Stdout) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0)
            CannotWrite("standard output", std::strerror(errno));
        return;
    }
    if (kind_ == Kind::Direct) {
        // Appending: a file behind a descriptor path keeps what it holds.
        int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            CannotWrite(path_, std::strerror(errno));
        WriteAll(fd, text, path_);
        close(fd);
        return;
    }
    struct stat old;
    bool existed = stat(path_.c_str(), &old) == 0;
    std::string temporary = path_ + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        CannotWrite(path_, std::strerror(errno));
    try {
        WriteAll(fd, text, path_);
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
    if (existed) {
        // The old owner where the user may give the file away, else its group.
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    bool synced = fsync(fd) == 0;
    int error = errno;
    close(fd);
    if (!synced || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        if (synced)
            error = errno;
        unlink(temporary.c_str());
        CannotWrite(path_, std::strerror(error));
    }
}

} // namespace halvex
