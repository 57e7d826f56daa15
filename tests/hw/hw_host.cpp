// The host side of the real-driver tests: a 16550's socket joined to one
// receiver simulator, the modelled USB adapter joined to another, and the
// control line on which the test in the guest asks for line changes. Each
// request is answered once it has been done, so that the guest never has to
// guess how long to wait.
//
//   halvex-hw-host DIR UART_LINE ADAPTER_LINE
//
// listens on DIR/uart.sock, DIR/adapter.sock and DIR/control.sock, says
// "ready" on standard output, and runs until qemu goes away.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "ftdi_model.h"
#include "hostio.h"
#include "uart_bridge.h"

using namespace hwhost;

namespace {

int Listen(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
        std::perror(("halvex-hw-host: " + path).c_str());
        std::exit(1);
    }
    return fd;
}

int Accept(int listening)
{
    int fd = accept(listening, nullptr, nullptr);
    close(listening);
    if (fd < 0) {
        std::perror("halvex-hw-host: accept");
        std::exit(1);
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

int OpenLine(const char *path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0) {
        std::perror((std::string("halvex-hw-host: ") + path).c_str());
        std::exit(1);
    }
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

// One request a line; the answer is "ok", a value, or "error: ...".
class Control {
public:
    Control(int fd, FtdiModel &adapter, UartBridge &uart) : fd_(fd), adapter_(adapter), uart_(uart) {}
    int fd() const { return fd_; }
    void FromGuest()
    {
        char bytes[256];
        ssize_t got = read(fd_, bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; i++) {
            if (bytes[i] != '\n') {
                pending_ += bytes[i];
                continue;
            }
            Handle(pending_);
            pending_.clear();
        }
    }
    // An adapter request is answered once its packet has gone to the guest.
    void AnswerWhenDone()
    {
        if (waiting_ && !adapter_.Pending()) {
            waiting_ = false;
            Answer("ok");
        }
    }

private:
    void Handle(const std::string &request)
    {
        static const std::map<std::string, uint8_t> lines{
            {"cts", ModemCts}, {"dsr", ModemDsr}, {"ri", ModemRi}, {"dcd", ModemDcd}};
        static const std::map<std::string, uint8_t> errors{
            {"frame", LineFrame}, {"parity", LineParity}, {"overrun", LineOverrun}, {"break", LineBreak}};
        std::istringstream words(request);
        std::string verb, what;
        long number = 0;
        words >> verb >> what;
        std::istringstream(what) >> number;
        if (verb == "line" && lines.count(what) && words >> number) {
            adapter_.SetModemLine(lines.at(what), number != 0);
            waiting_ = true;
        } else if (verb == "error" && errors.count(what)) {
            adapter_.RaiseLineError(errors.at(what));
            waiting_ = true;
        } else if (verb == "latency") {
            Answer("latency " + std::to_string(adapter_.latency()));
        } else if (verb == "unplug") {
            adapter_.UnplugAfter(number);
            Answer("ok");
        } else if (verb == "plug") {
            adapter_.Plug();
            Answer("ok");
        } else if (verb == "mute") {
            uart_.Mute(number != 0);
            Answer("ok");
        } else {
            Answer("error: unknown request '" + request + "'");
        }
    }
    void Answer(const std::string &text)
    {
        std::string line = text + "\n";
        WriteAll(fd_, reinterpret_cast<const unsigned char *>(line.data()), static_cast<long>(line.size()));
    }

    int fd_;
    FtdiModel &adapter_;
    UartBridge &uart_;
    std::string pending_;
    bool waiting_ = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: halvex-hw-host DIR UART_LINE ADAPTER_LINE\n");
        return 2;
    }
    std::string dir = argv[1];
    int uartListen = Listen(dir + "/uart.sock"), adapterListen = Listen(dir + "/adapter.sock"),
        controlListen = Listen(dir + "/control.sock");
    std::printf("ready\n");
    std::fflush(stdout);
    UartBridge uart(Accept(uartListen), OpenLine(argv[2]));
    FtdiModel adapter(Accept(adapterListen), OpenLine(argv[3]));
    Control control(Accept(controlListen), adapter, uart);
    for (;;) {
        adapter.ToGuest();
        pollfd watched[] = {{uart.guestFd(), POLLIN, 0},
                            {uart.lineFd(), POLLIN, 0},
                            {adapter.guestFd(), static_cast<short>(POLLIN | (adapter.wantsWrite() ? POLLOUT : 0)), 0},
                            {adapter.lineFd(), POLLIN, 0},
                            {control.fd(), POLLIN, 0}};
        if (poll(watched, 5, -1) < 0)
            continue;
        // A simulator that went away would otherwise wake us for ever; the
        // tests in the guest then fail on a line that no longer answers.
        for (int line : {1, 3})
            if ((watched[line].revents & (POLLHUP | POLLERR)) && !(watched[line].revents & POLLIN)) {
                std::fprintf(stderr, "halvex-hw-host: the simulator on %s hung up\n", argv[line == 1 ? 2 : 3]);
                return 1;
            }
        if ((watched[0].revents & (POLLIN | POLLHUP)) && !uart.FromGuest())
            return 0; // qemu has gone
        if (watched[1].revents & POLLIN)
            uart.FromLine();
        if ((watched[2].revents & (POLLIN | POLLHUP)) && !adapter.FromGuest())
            return 0;
        if (watched[3].revents & POLLIN)
            adapter.FromLine();
        if (watched[4].revents & POLLIN)
            control.FromGuest();
        control.AnswerWhenDone();
    }
}
