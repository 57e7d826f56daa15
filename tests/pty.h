// A pseudo-terminal whose master side the test plays as the receiver.
#ifndef HALVEX_TEST_PTY_H
#define HALVEX_TEST_PTY_H

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            path_ = ptsname(master_);
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const char *path() const { return path_.c_str(); }
    int master() const { return master_; }
    void CloseMaster()
    {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

    // Writes all of it, waiting for room as a paced sender would.
    void Send(const std::string &bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }

    // Everything that arrives within the time given, or up to count bytes.
    std::string Receive(size_t count, int milliseconds = 1000)
    {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            char buffer[4096];
            ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

private:
    int master_ = -1;
    std::string path_;
};

#endif
