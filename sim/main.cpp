// halvex-sim: a simulated GPS receiver on a pseudo-terminal. It prints the
// terminal's path and serves until interrupted, so that any host program can
// be tried without hardware.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "options.h"

int main(int argc, char **argv)
{
    halvexsim::Config config;
    CLI::App app{"A simulated GPS receiver on a pseudo-terminal: prints the terminal's path, then answers the "
                 "binary link protocol there until interrupted."};
    std::string link;
    app.add_option("--link", link, "also make this path a symbolic link to the terminal");
    halvexsim::AddOptions(app, config);
    config.lineBaud = 9600;
    app.add_option("--baud", config.lineBaud,
                   "the receiver's own line speed: a host at another hears garbage and is not understood "
                   "(0: every speed works)")
        ->capture_default_str();
    app.add_flag("--version", "print the simulator's version");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &help) {
        return app.exit(help);
    } catch (const CLI::ParseError &error) {
        std::cerr << "halvex-sim: " << error.what() << std::endl; // every mistake of the command line is 2
        return 2;
    }
    if (app.count("--version")) {
        std::cout << "halvex-sim " << HALVEX_VERSION << std::endl;
        return 0;
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("halvex-sim: cannot create a pseudo-terminal");
        return 1;
    }
    std::string path = ptsname(master);
    if (!link.empty()) {
        // Only a link to a pseudo-terminal, such as an earlier run left, is
        // replaced: a user's file is never taken for it.
        char target[256] = "";
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        struct stat status {};
        bool ours = length > 0 && std::string(target, static_cast<std::size_t>(length)).rfind("/dev/pts/", 0) == 0;
        if (!ours && lstat(link.c_str(), &status) == 0) {
            std::cerr << "halvex-sim: --link " << link << " exists and is not a link to a terminal: not replaced"
                      << std::endl;
            return 2;
        }
        unlink(link.c_str());
        if (symlink(path.c_str(), link.c_str()) != 0) {
            std::perror(("halvex-sim: cannot link " + link).c_str());
            return 1;
        }
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGUSR1); // prints the bytes the line has carried so far
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // the serving thread inherits the mask

    halvexsim::Receiver receiver(config);
    receiver.Start(master);
    std::cout << path << std::endl;
    int signal;
    while (sigwait(&stop, &signal) == 0 && signal == SIGUSR1) {
        halvexsim::Stats stats = receiver.Statistics();
        std::cerr << "bytes received " << stats.bytesReceived << ", sent " << stats.bytesSent << std::endl;
    }
    receiver.Stop();
    char target[256] = "";
    ssize_t length = link.empty() ? -1 : readlink(link.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == path)
        unlink(link.c_str()); // still the link made here

    return 0;
}
