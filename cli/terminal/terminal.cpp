#include "terminal/terminal.h"

#include <unistd.h>

#include <cstdio>

namespace halvex {

bool StderrIsTerminal() { return isatty(STDERR_FILENO); }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO); }

Progress::Progress(std::string what)
    : what_(std::move(what)), shown_(StderrIsTerminal()), start_(std::chrono::steady_clock::now())
{
    if (shown_)
        std::fprintf(stderr, "%s...", what_.c_str());
}

Progress::~Progress()
{
    if (shown_)
        std::fprintf(stderr, "\n");
}

void Progress::Update(int done, int total)
{
    auto now = std::chrono::steady_clock::now();
    if (!shown_ || (now - lastDrawn_ < std::chrono::milliseconds(50) && done != total))
        return;
    lastDrawn_ = now;
    if (total > 0)
        std::fprintf(stderr, "\r\033[K%s: %d of %d points (%d%%)", what_.c_str(), done, total, 100 * done / total);
    else
        std::fprintf(stderr, "\r\033[K%s: %d points", what_.c_str(), done);
    std::fflush(stderr);
}

void Progress::Running()
{
    if (!shown_)
        return;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_);
    std::fprintf(stderr, "\r\033[K%s: running, %lld s", what_.c_str(), static_cast<long long>(seconds.count()));
    std::fflush(stderr);
}

void Progress::Done(const std::string &result)
{
    if (!shown_)
        return;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r\033[K%s: %s in %.2f s", what_.c_str(), result.c_str(), seconds);
    std::fflush(stderr);
}

void Say(const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); }

} // namespace halvex
