#include "nmeawatch.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <sys/time.h>
#include <thread>

#include "terminal.h"

namespace halvex {

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

std::string ClockNow()
{
    timeval now;
    gettimeofday(&now, nullptr);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_usec / 1000));
    return text;
}

// GGA of $GPGGA,..., XYZ of $PXYZ,...
std::string Kind(const std::string &sentence)
{
    std::size_t start = sentence.size() > 1 && (sentence[1] == 'P' || sentence[1] == 'p') ? 2 : 3;
    std::size_t comma = sentence.find_first_of(",*", start);
    return start < sentence.size() ? sentence.substr(start, comma == std::string::npos ? comma : comma - start) : "";
}

} // namespace

std::string ChecksumState(const std::string &sentence)
{
    std::size_t star = sentence.rfind('*');
    if (star == std::string::npos || star + 3 != sentence.size())
        return "missing";
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(sentence[i]);
    unsigned given = 0;
    if (std::sscanf(sentence.c_str() + star + 1, "%2x", &given) != 1)
        return "bad";
    return given == sum ? "ok" : "bad";
}

void WatchNmea(Connection &connection, double seconds, const std::vector<std::string> &kinds)
{
    bool colour = StdoutIsTerminal();
    std::mutex lock;
    std::map<std::string, std::pair<std::string, std::string>> latest; // kind -> time, sentence
    std::map<std::string, bool> wanted;
    for (const std::string &kind : kinds)
        wanted[kind] = true;

    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    connection.StartNmea([&](const std::string &sentence) {
        std::string state = ChecksumState(sentence);
        if (!kinds.empty()) {
            std::string kind = Kind(sentence);
            if (wanted.count(kind)) {
                std::lock_guard<std::mutex> hold(lock);
                latest[kind] = {ClockNow(), sentence};
            }
            return;
        }
        std::string flag = state == "ok" ? "" : state == "bad" ? "  [bad checksum]" : "  [no checksum]";
        if (colour && !flag.empty())
            flag = "\033[31m" + flag + "\033[0m";
        std::printf("%s  %s%s\n", ClockNow().c_str(), sentence.c_str(), flag.c_str());
        std::fflush(stdout);
    });

    auto drawTable = [&](bool inPlace) {
        std::lock_guard<std::mutex> hold(lock);
        if (inPlace)
            std::printf("\033[H\033[J");
        for (const std::string &kind : kinds) {
            auto entry = latest.find(kind);
            if (entry == latest.end())
                std::printf("%-6s (none yet)\n", kind.c_str());
            else
                std::printf("%-6s %s  %s\n", kind.c_str(), entry->second.first.c_str(), entry->second.second.c_str());
        }
        std::fflush(stdout);
    };
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!interrupted && (seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!kinds.empty() && colour)
            drawTable(true);
    }
    connection.StopNmea();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (!kinds.empty() && !colour)
        drawTable(false); // not a terminal: the table once, at the end
}

} // namespace halvex
