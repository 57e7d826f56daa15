// One direction of a paced line: bytes put in come out when a UART at the
// line's rate would have carried them across, ten bits a byte. Arrival times
// are kept exactly, so the long-run rate is the line's: bytes that waited
// for room follow the ones before them back to back, and fresh bytes start
// no earlier than when they were put in.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace halvexsim {

class PacedLine {
public:
    explicit PacedLine(unsigned baud) : baud_(baud) {}
    static long long NowUs()
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    // How many more bytes may be put in now: about 10 ms of line in flight.
    std::size_t Room() const
    {
        std::size_t ahead = baud_ / 1000 + 1;
        return inFlight_.size() < ahead ? ahead - inFlight_.size() : 0;
    }
    // waited: the bytes were ready before now and only waited for room.
    void Put(long long nowUs, const std::uint8_t *bytes, std::size_t count, bool waited)
    {
        double from = waited ? lastArrivalUs_ : std::max(lastArrivalUs_, static_cast<double>(nowUs));
        for (std::size_t i = 0; i < count; i++) {
            from += 1.0e7 / baud_;
            inFlight_.emplace_back(from, bytes[i]);
        }
        lastArrivalUs_ = from;
    }
    // The bytes that have arrived by now, taken out in order.
    std::vector<std::uint8_t> Arrived(long long nowUs)
    {
        std::vector<std::uint8_t> out;
        while (!inFlight_.empty() && inFlight_.front().first <= nowUs) {
            out.push_back(inFlight_.front().second);
            inFlight_.pop_front();
        }
        return out;
    }
    // When the next byte arrives, in microseconds of the same clock (rounded
    // up); -1 when none is under way.
    long long NextArrivalUs() const
    {
        return inFlight_.empty() ? -1 : static_cast<long long>(std::ceil(inFlight_.front().first));
    }

private:
    unsigned baud_;
    double lastArrivalUs_ = 0;
    std::deque<std::pair<double, std::uint8_t>> inFlight_;
};

} // namespace halvexsim
