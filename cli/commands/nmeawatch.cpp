#include "commands/nmeawatch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <sys/time.h>
#include <thread>

#include "terminal/errors.h"
#include "receiver/rendezvous.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

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

Sentence SentenceToSend(const std::string &given)
{
    if (given.find_first_not_of(" \t") == std::string::npos)
        throw Failure(ExitUsage, "nmea send: a sentence cannot be empty");
    std::string text = given[0] == '$' || given[0] == '!' ? given : "$" + given;
    std::size_t star = text.rfind('*');
    if (star == std::string::npos || star + 3 != text.size())
        return {text, false};
    if (ChecksumState(text) != "ok") {
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i)
            sum ^= static_cast<unsigned char>(text[i]);
        char right[8];
        std::snprintf(right, sizeof right, "*%02X", sum);
        throw Failure(ExitUsage, "nmea send: the checksum of " + text + " is wrong: it would be " + right);
    }
    return {text, true};
}

namespace {

// On a terminal, while nothing comes: what the tool waits for, and after a
// while the speeds receivers commonly talk at. told counts what was said.
void WaitingNotice(const WatchOptions &options, const std::string &device, double waited, int &told)
{
    if (!StderrIsTerminal())
        return;
    if (told == 0)
        Say("halvex: waiting for sentences at " + std::to_string(options.baud) + " baud on " + device + "...");
    if (told < 2 && waited >= 5)
        Say("halvex: nothing for 5 s at " + std::to_string(options.baud) +
            " baud; receivers commonly talk at 4800, 9600, 19200 or 38400 (--baud)");
    told = waited >= 5 ? 2 : 1;
}

} // namespace

void WatchNmea(Connection &connection, const WatchOptions &options)
{
    bool colour = StdoutIsTerminal() && !options.raw;
    const std::vector<std::string> &kinds = options.kinds;
    std::mutex lock;
    std::map<std::string, std::pair<std::string, std::string>> latest; // kind -> time, sentence
    std::map<std::string, bool> wanted;
    for (const std::string &kind : kinds)
        wanted[kind] = true;
    std::atomic<long> received{0};

    InterruptWatch watch; // Ctrl-C ends the command as --seconds would
    connection.StartNmea([&](const std::string &sentence) {
        received++;
        if (options.raw) {
            std::printf("%s\n", sentence.c_str());
            std::fflush(stdout);
            return;
        }
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
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    auto end = start + std::chrono::duration<double>(options.seconds);
    int told = 0;
    bool silent = false;
    while (!Interrupted() && (options.seconds <= 0 || Clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        double waited = std::chrono::duration<double>(Clock::now() - start).count();
        if (received == 0)
            WaitingNotice(options, connection.Device(), waited, told);
        if (received == 0 && options.timeout > 0 && waited >= options.timeout) {
            silent = true;
            break;
        }
        if (!kinds.empty() && colour)
            drawTable(true);
    }
    connection.StopNmea();
    if (silent)
        connection.NoSentence("no sentence came from " + connection.Device() + " within the " +
                              std::to_string(static_cast<int>(options.timeout)) + " s of --timeout");
    if (!kinds.empty() && !colour)
        drawTable(false); // not a terminal: the table once, at the end
}

} // namespace halvex
