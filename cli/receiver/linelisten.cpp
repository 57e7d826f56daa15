#include "receiver/linelisten.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "terminal/errors.h"
#include "halvex32.h"
#include "receiver/liberrors.h"

namespace halvex {

namespace {

speed_t SpeedCode(int baud)
{
    switch (baud) {
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        throw Failure(ExitUsage, "cannot listen at " + std::to_string(baud) + " baud");
    }
}

// The device open as a terminal; -1 with errno.
int OpenLine(const std::string &device)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    // Held by another program (the library holds its ports so): not ours to touch.
    int why = fd < 0                           ? errno
              : tcgetattr(fd, &settings) != 0 ? errno
              : flock(fd, LOCK_EX | LOCK_NB) != 0 ? EBUSY
                                                 : 0;
    if (why && fd >= 0)
        close(fd);
    errno = why;
    return why ? -1 : fd;
}

// The system's refusal said as the library's open says it.
std::string Reason(const std::string &device, int why)
{
    std::string start = "cannot open " + device + ": ";
    switch (why) {
    case ENOENT: return start + LibrarySentence(HalvexErrorNoDevice);
    case EACCES:
    case EPERM: return start + LibrarySentence(HalvexErrorPermission);
    case EBUSY: return start + LibrarySentence(HalvexErrorInUse);
    case ENOTTY: return start + LibrarySentence(HalvexErrorNotSerial);
    default: return start + std::strerror(why);
    }
}

} // namespace

std::string CannotOpen(const std::string &device)
{
    int fd = OpenLine(device);
    if (fd < 0)
        return Reason(device, errno);
    close(fd);
    return {};
}

std::string Listen(const std::string &device, int baud, double seconds)
{
    int fd = OpenLine(device);
    if (fd < 0)
        throw Failure(ExitDevice, Reason(device, errno));
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, SpeedCode(baud));
    cfsetospeed(&settings, SpeedCode(baud));
    tcsetattr(fd, TCSANOW, &settings);
    tcflush(fd, TCIFLUSH); // what came before was heard at another speed
    std::string heard;
    using Clock = std::chrono::steady_clock;
    Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        pollfd wait = {fd, POLLIN, 0};
        int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1;
        if (poll(&wait, 1, ms) <= 0)
            continue;
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0)
            heard.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break; // hung up
    }
    close(fd);
    return heard;
}

} // namespace halvex
