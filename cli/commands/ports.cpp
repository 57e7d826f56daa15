#include "commands/ports.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <set>

#include "receiver/detect.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

std::vector<std::string> Glob(const char *pattern)
{
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern, 0, nullptr, &found) == 0)
        paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    return paths;
}

std::string RealPath(const std::string &path)
{
    char *real = realpath(path.c_str(), nullptr);
    std::string out = real ? real : path;
    std::free(real);
    return out;
}

// What a device is to the user: "" when it is no serial port at all.
std::string PortState(const std::string &path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            return "no permission to open it (is the user in the dialout group?)";
        if (errno == EBUSY)
            return "serial port, in use by another program";
        if (errno == ENOENT)
            return "no such device";
        return "";
    }
    termios settings;
    bool serial = tcgetattr(fd, &settings) == 0;
    // A UART the kernel reserved a name for but found no chip behind.
    serial_struct uart{};
    if (serial && ioctl(fd, TIOCGSERIAL, &uart) == 0 && uart.type == PORT_UNKNOWN)
        serial = false;
    bool held = serial && flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    if (!serial)
        return "";
    return held ? "serial port, in use by another program" : "serial port";
}

} // namespace

int ListPorts(const std::vector<std::string> &given, bool probe)
{
    std::set<std::string> named; // devices a by-id link names
    for (const std::string &link : Glob("/dev/serial/by-id/*")) {
        std::string device = RealPath(link);
        named.insert(device);
        std::printf("%s -> %s\n", link.c_str(), device.c_str());
    }
    std::vector<std::string> candidates = given;
    for (const char *pattern : {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"})
        for (const std::string &path : Glob(pattern))
            candidates.push_back(path);
    int shown = 0;
    for (const std::string &path : candidates) {
        std::string state = PortState(path);
        if (state == "no such device" && std::find(given.begin(), given.end(), path) == given.end())
            continue; // gone since it was listed
        if (state.empty()) {
            if (std::find(given.begin(), given.end(), path) != given.end())
                std::printf("%-20s not a serial port\n", path.c_str());
            continue;
        }
        if (probe && state == "serial port") {
            DetectOptions careful;
            careful.careful = true;
            state = Detect(path, careful).Sentence();
        }
        std::printf("%-20s %s\n", path.c_str(), state.c_str());
        std::fflush(stdout);
        shown++;
    }
    if (shown == 0 && named.empty())
        Say("halvex: no serial ports found (a USB adapter shows as /dev/ttyUSB0 or /dev/ttyACM0 once plugged in)");
    return 0;
}

} // namespace halvex
