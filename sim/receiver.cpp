#include "receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "path.h"
#include "sample.h"

namespace halvexsim {

namespace {
constexpr int kResends = 3;
} // namespace

std::vector<ProtocolEntry> DefaultProtocols()
{
    return {{'P', 0},   {'L', 1},   {'A', 10},  {'A', 100}, {'D', 103}, {'A', 201},
            {'D', 201}, {'A', 300}, {'D', 300}, {'A', 600}, {'D', 600}};
}

Receiver::Receiver(Config config)
    : config_(std::move(config)), store_(config_.store), waypointType_(config_.waypointType),
      routeHeaderType_(config_.routeHeaderType), reader_([this](const Packet &p) { OnPacket(p); }),
      sending_(config_.baud), taking_(config_.baud), random_(config_.faults.seed)
{
    RecordAcrossRollover(store_.trackPoints, config_.weekRollovers, UtcNow());
    // The types it announces are the types it speaks; a data type belongs
    // to the application protocol before it (D210 links A201 routes, D31x
    // heads A301/A302 tracks).
    if (config_.protocols) {
        int application = 0;
        for (const auto &[tag, number] : *config_.protocols) {
            if (tag == 'A')
                application = number;
            if (tag != 'D')
                continue;
            if (number >= 100 && number < 200)
                waypointType_ = number;
            else if (number >= 200 && number < 210)
                routeHeaderType_ = number;
            else if (number >= 210 && number < 220 && application == 201)
                routeLinkType_ = number;
            else if (number >= 300 && number < 310)
                trackPointType_ = number;
            else if (number >= 310 && number < 320 && (application == 301 || application == 302))
                trackHeaderType_ = number;
        }
    }
}

Receiver::~Receiver() { Stop(); }

long long Receiver::NowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Receiver::Start(int fd)
{
    fd_ = fd;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    // Holding the slave open ourselves keeps the master from reporting a
    // hang-up each time the host closes the port.
    if (const char *slave = ptsname(fd_))
        slaveFd_ = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (config_.pvt.periodMs > 0)
        nextPvtAt_ = NowMs() + config_.pvt.periodMs;
    if (config_.nmea.held)
        silentUntil_ = std::numeric_limits<long long>::max();
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void Receiver::Stop()
{
    if (!running_.exchange(false))
        return;
    std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
    }
    thread_.join();
    close(wakeFd_);
    if (slaveFd_ >= 0)
        close(slaveFd_);
    slaveFd_ = -1;
}

void Receiver::FallSilent(int milliseconds)
{
    silentUntil_ = NowMs() + milliseconds;
    std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
    }
}

std::string Receiver::Received() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

std::uint64_t Receiver::SentencesSent() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return sentences_;
}

Store Receiver::StoredData() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return store_;
}

Stats Receiver::Statistics() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return stats_;
}

void Receiver::CloseLine()
{
    if (fd_ >= 0)
        close(fd_);
    if (slaveFd_ >= 0)
        close(slaveFd_);
    fd_ = slaveFd_ = -1;
    output_.clear();
}

void Receiver::Run()
{
    while (running_) {
        if (hangUpRequested_.exchange(false))
            CloseLine();
        long long now = NowMs();
        RunTimers(now);
        Talk(now);
        Flush();
        WaitAndRead(now, NextWakeUs(now));
    }
    CloseLine();
}

// Delayed answers, retransmission, position reports.
void Receiver::RunTimers(long long now)
{
    for (std::size_t i = 0; i < delayed_.size();) {
        if (delayed_[i].first <= now) {
            Packet packet = delayed_[i].second;
            delayed_.erase(delayed_.begin() + static_cast<long>(i));
            SendAck(packet.id);
            Handle(packet);
        } else {
            ++i;
        }
    }
    if (awaitingAck_ && now >= resendAt_) {
        if (resends_++ < kResends) {
            SendNow(queue_.front().packet);
            resendAt_ = now + config_.faults.resendMs;
            std::lock_guard<std::mutex> hold(lock_);
            stats_.framesResent++;
        } else { // the host is gone: give the transfer up
            queue_.clear();
            awaitingAck_ = false;
        }
    }
    if (liveReports_ && liveClock_.Due(now) && fd_ >= 0) {
        SendNow(Packet{kPvt, LiveRecord(liveClock_.Take(now))});
        std::lock_guard<std::mutex> hold(lock_);
        stats_.pvtSent++;
    }
    if (config_.pvt.periodMs > 0 && now >= nextPvtAt_ && fd_ >= 0) {
        SendNow(Packet{kPvt, PvtRecord()});
        std::lock_guard<std::mutex> hold(lock_);
        stats_.pvtSent++;
        nextPvtAt_ += config_.pvt.periodMs;
    }
}

// When something is next due, in microseconds of the steady clock: a paced
// line's bytes arrive between milliseconds, and waking late on each frame
// would slow the line. -1: nothing is due.
long long Receiver::NextWakeUs(long long now) const
{
    long long wakeAtUs = -1;
    auto earliestUs = [&](long long atUs) { wakeAtUs = wakeAtUs < 0 ? atUs : std::min(wakeAtUs, atUs); };
    auto earliest = [&](long long atMs) { // "never" (the largest time) stays never
        if (atMs < std::numeric_limits<long long>::max() / 1000)
            earliestUs(atMs * 1000);
    };
    for (const auto &d : delayed_)
        earliest(d.first);
    if (awaitingAck_)
        earliest(resendAt_);
    if (config_.pvt.periodMs > 0 && fd_ >= 0)
        earliest(nextPvtAt_);
    if (liveReports_ && fd_ >= 0)
        earliest(liveClock_.DueAtMs());
    if (!output_.empty() && nextWriteAt_ > now)
        earliest(nextWriteAt_);
    for (const PacedLine *direction : {&sending_, &taking_})
        if (direction->NextArrivalUs() >= 0)
            earliestUs(direction->NextArrivalUs());
    if (config_.nmea.enabled && fd_ >= 0 && output_.size() < kTalkAhead) {
        const NmeaConfig &n = config_.nmea;
        if (!(n.count && SentencesSent() >= n.count))
            earliest(std::max({nextSentenceAt_, silentUntil_.load(), now}));
    }
    return wakeAtUs;
}

// Sleeps until the line or a wake-up has something, or wakeAtUs; then takes
// what the host sent, no faster than a UART would on a paced line.
void Receiver::WaitAndRead(long long now, long long wakeAtUs)
{
    timespec timeout{};
    if (wakeAtUs >= 0) {
        long long waitUs = std::max(0LL, wakeAtUs - PacedLine::NowUs());
        timeout = {static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
    }
    bool paced = config_.baud > 0;
    std::size_t room = paced ? taking_.Room() : 4096;
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, static_cast<short>(room ? POLLIN : 0), 0}};
    if (!output_.empty() && nextWriteAt_ <= now && !paced)
        fds[1].events |= POLLOUT;
    ppoll(fds, fd_ >= 0 ? 2 : 1, wakeAtUs < 0 ? nullptr : &timeout, nullptr);
    if (fds[0].revents) {
        std::uint64_t drained;
        if (read(wakeFd_, &drained, sizeof drained) < 0) {
        }
    }
    if (fd_ >= 0 && (fds[1].revents & POLLIN)) {
        std::uint8_t buffer[4096];
        ssize_t got = read(fd_, buffer, std::min(sizeof buffer, room));
        if (got > 0 && paced) {
            taking_.Put(PacedLine::NowUs(), buffer, static_cast<std::size_t>(got), takeWaited_);
            int waiting = 0; // bytes still in the pty were sent beside these
            takeWaited_ = ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0;
        } else if (got > 0) {
            Take(buffer, static_cast<std::size_t>(got));
        }
    }
    if (paced) {
        std::vector<std::uint8_t> arrived = taking_.Arrived(PacedLine::NowUs());
        if (!arrived.empty())
            Take(arrived.data(), arrived.size());
    }
}

} // namespace halvexsim
