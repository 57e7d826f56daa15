// The real-driver tests run in a qemu guest, on the kernel's own serial
// drivers: a 16550 UART (8250) and USB adapters (ftdi_sio), each joined on
// the host to a receiver simulator. Changes to modem lines, line errors and
// unplugging are asked for on a control line (a second 16550) and answered
// once they have been done.
#ifndef HALVEX_HW_GUEST_H
#define HALVEX_HW_GUEST_H

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

namespace hw {

inline std::string Env(const char *name, const char *otherwise)
{
    const char *value = std::getenv(name);
    return value && *value ? value : otherwise;
}

inline std::string Uart() { return Env("HALVEX_HW_UART", "/dev/ttyS1"); }
inline std::string Tool() { return Env("HALVEX_TOOL", "/bin/halvex"); }

// The products the USB adapters name themselves.
inline const char *const QemuAdapter = "QEMU USB SERIAL";
inline const char *const ModelledAdapter = "halvex adapter model";

// The control line: one request, one answer.
class Control {
public:
    static std::string Ask(const std::string &request, int milliseconds = 10000)
    {
        static Control line;
        std::string out = request + "\n";
        if (write(line.fd_, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
            return "error: cannot write the control line";
        std::string answer;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        char c;
        while (std::chrono::steady_clock::now() < deadline) {
            ssize_t got = read(line.fd_, &c, 1);
            if (got == 1 && c == '\n')
                return answer;
            if (got == 1)
                answer += c;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return "error: no answer to '" + request + "'";
    }

private:
    Control()
    {
        fd_ = open(Env("HALVEX_HW_CONTROL", "/dev/ttyS2").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        cfsetspeed(&raw, B115200);
        raw.c_cflag |= CLOCAL;
        tcsetattr(fd_, TCSANOW, &raw);
    }
    int fd_;
};

inline std::string ReadFirstLine(const std::string &path)
{
    char text[256] = {};
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t got = fd >= 0 ? read(fd, text, sizeof text - 1) : 0;
    if (fd >= 0)
        close(fd);
    std::string line(text, got > 0 ? static_cast<size_t>(got) : 0);
    return line.substr(0, line.find('\n'));
}

// The device of the USB adapter that names itself so, waited for as long as
// it takes to be enumerated; "" if it does not come.
inline std::string FindAdapter(const std::string &product, int milliseconds = 10000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        if (DIR *ttys = opendir("/sys/class/tty")) {
            while (dirent *entry = readdir(ttys)) {
                std::string name = entry->d_name;
                char device[PATH_MAX];
                if (name.rfind("ttyUSB", 0) != 0 ||
                    !realpath(("/sys/class/tty/" + name + "/device").c_str(), device))
                    continue;
                // .../1-1/1-1:1.0/ttyUSB0: the USB device is two levels up.
                std::string usb = device;
                usb = usb.substr(0, usb.rfind('/'));
                usb = usb.substr(0, usb.rfind('/'));
                if (ReadFirstLine(usb + "/product") == product && access(("/dev/" + name).c_str(), F_OK) == 0) {
                    closedir(ttys);
                    return "/dev/" + name;
                }
            }
            closedir(ttys);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return "";
}

// The driver's low-latency flag, read and set through a second open of the
// device (root passes the exclusive open); -1 when it cannot be read.
inline int LowLatency(const std::string &device)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct settings{};
    int flag = fd >= 0 && ioctl(fd, TIOCGSERIAL, &settings) == 0 ? (settings.flags & ASYNC_LOW_LATENCY) != 0 : -1;
    if (fd >= 0)
        close(fd);
    return flag;
}

inline bool SetLowLatency(const std::string &device, bool on)
{
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct settings{};
    bool done = fd >= 0 && ioctl(fd, TIOCGSERIAL, &settings) == 0;
    if (done) {
        settings.flags = on ? settings.flags | ASYNC_LOW_LATENCY : settings.flags & ~ASYNC_LOW_LATENCY;
        done = ioctl(fd, TIOCSSERIAL, &settings) == 0;
    }
    if (fd >= 0)
        close(fd);
    return done;
}

} // namespace hw

#endif
