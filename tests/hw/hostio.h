// Writing to the host side's descriptors, which are non-blocking.
#ifndef HALVEX_HW_HOSTIO_H
#define HALVEX_HW_HOSTIO_H

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace hwhost {

// Writes all of it, waiting while the other end is full; gives up on an error.
inline void WriteAll(int fd, const unsigned char *bytes, long count)
{
    while (count > 0) {
        ssize_t put = write(fd, bytes, static_cast<size_t>(count));
        if (put < 0 && errno == EAGAIN) {
            pollfd writable{fd, POLLOUT, 0};
            poll(&writable, 1, 100);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        bytes += put;
        count -= put;
    }
}

} // namespace hwhost

#endif
