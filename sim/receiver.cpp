#include "receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace halvexsim {

namespace {
constexpr std::uint8_t kAck = 6, kCommand = 10, kComplete = 12, kNak = 21, kRecords = 27, kRouteHeader = 29,
                       kRouteWaypoint = 30, kTrackPoint = 34, kWaypoint = 35, kPvt = 51, kRouteLink = 98,
                       kTrackHeader = 99, kProtocolArray = 253,
                       kProductRequest = 254, kProductData = 255;
constexpr std::uint16_t kAbort = 0, kRoutes = 4, kTracks = 6, kWaypoints = 7;
constexpr int kResends = 3;
constexpr std::size_t kTalkAhead = 4096; // sentences queued ahead of the line

template <typename T> void Put(Bytes &out, std::size_t at, T value)
{
    std::memcpy(out.data() + at, &value, sizeof value); // the wire is little-endian, as is this host
}
} // namespace

std::vector<ProtocolEntry> DefaultProtocols()
{
    return {{'P', 0}, {'L', 1}, {'A', 10}, {'A', 100}, {'D', 103}, {'A', 201}, {'D', 201}, {'A', 300}, {'D', 300}};
}

Receiver::Receiver(Config config)
    : config_(std::move(config)), store_(config_.store), waypointType_(config_.waypointType),
      routeHeaderType_(config_.routeHeaderType), reader_([this](const Packet &p) { OnPacket(p); }),
      sending_(config_.baud), taking_(config_.baud), random_(config_.faults.seed)
{
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

void Receiver::CountSent(ssize_t bytes)
{
    if (bytes <= 0)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    stats_.bytesSent += static_cast<std::uint64_t>(bytes);
}

void Receiver::Take(const std::uint8_t *bytes, std::size_t count)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        received_.append(reinterpret_cast<const char *>(bytes), count);
        stats_.bytesReceived += count;
    }
    reader_.Feed(bytes, count);
}

void Receiver::OnPacket(const Packet &packet)
{
    int n;
    {
        std::lock_guard<std::mutex> hold(lock_);
        n = ++stats_.framesReceived;
    }
    const Faults &f = config_.faults;
    bool hangUp = f.hangUpAfter > 0 && n >= f.hangUpAfter;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    bool dropped = f.silent || (f.silentAfter > 0 && n > f.silentAfter) || n == f.dropNth || (f.dropFraction > 0 && chance(random_) < f.dropFraction);
    if (dropped) {
        std::lock_guard<std::mutex> hold(lock_);
        stats_.framesDropped++;
    } else {
        bool isAnswer = packet.id == kAck || packet.id == kNak;
        if (!isAnswer && n == f.nakNth) {
            SendAck(packet.id, true);
        } else if (!isAnswer && f.ackDelayMs > 0) {
            delayed_.emplace_back(NowMs() + f.ackDelayMs, packet);
        } else {
            if (!isAnswer)
                SendAck(packet.id);
            Handle(packet);
        }
    }
    if (hangUp)
        hangUpRequested_ = true;
}

void Receiver::SendAck(std::uint8_t id, bool nak)
{
    SendNow(Packet{nak ? kNak : kAck, Bytes{id, 0}});
    std::lock_guard<std::mutex> hold(lock_);
    (nak ? stats_.naksSent : stats_.acksSent)++;
}

void Receiver::Handle(const Packet &packet)
{
    switch (packet.id) {
    case kAck:
        if (!packet.data.empty() && packet.data[0] == kPvt) {
            std::lock_guard<std::mutex> hold(lock_);
            stats_.pvtAcked++;
        }
        if (awaitingAck_ && !packet.data.empty() && packet.data[0] == queue_.front().packet.id) {
            queue_.erase(queue_.begin());
            awaitingAck_ = false;
            SendNextQueued();
        }
        break;
    case kNak:
        if (awaitingAck_)
            SendNow(queue_.front().packet);
        break;
    case kProductRequest: {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stats_.productRequests++;
        }
        // A new conversation: what is still queued, perhaps for a host that
        // went away, makes way for the answer.
        queue_.clear();
        awaitingAck_ = false;
        Bytes data;
        PutU16(data, config_.productId);
        PutU16(data, config_.softwareVersion);
        data.insert(data.end(), config_.description.begin(), config_.description.end());
        data.push_back(0);
        Queue(kProductData, data);
        if (config_.protocols) {
            Bytes array;
            for (const auto &[tag, number] : *config_.protocols) {
                array.push_back(static_cast<std::uint8_t>(tag));
                PutU16(array, number);
            }
            Queue(kProtocolArray, array);
        }
        break;
    }
    case kCommand: {
        std::uint16_t command = GetU16(packet.data, 0);
        if (command != kAbort && RepeatsLast(packet) && !queue_.empty())
            break; // sent again while it is being served: its ACK was lost
        if (command == kAbort) {
            queue_.clear();
            awaitingAck_ = false;
            std::lock_guard<std::mutex> hold(lock_);
            stats_.aborts++;
        } else {
            ServeDownload(command);
        }
        break;
    }
    case kRecords:
    case kWaypoint:
    case kRouteHeader:
    case kRouteWaypoint:
    case kRouteLink:
    case kTrackHeader:
    case kTrackPoint:
        TakeUploadRecord(packet);
        break;
    case kComplete:
        if (!RepeatsLast(packet))
            FinishUpload(GetU16(packet.data, 0)); // not when sent again because our ACK was lost
        break;
    default:
        break;
    }
    if (packet.id != kAck && packet.id != kNak) // not part of the host's stream of records
        lastReceived_ = packet;
}

void Receiver::ServeDownload(std::uint16_t command)
{
    Store store = StoredData();
    std::vector<Packet> packets;
    if (command == kWaypoints) {
        for (const Waypoint &w : store.waypoints)
            packets.push_back({kWaypoint, WaypointToWire(waypointType_, w)});
    } else if (command == kRoutes) {
        for (const Route &r : store.routes) {
            packets.push_back({kRouteHeader, RouteHeaderToWire(routeHeaderType_, r)});
            for (std::size_t i = 0; i < r.waypoints.size(); ++i) {
                if (i > 0 && routeLinkType_)
                    packets.push_back({kRouteLink, RouteLinkToWire(routeLinkType_)});
                packets.push_back({kRouteWaypoint, WaypointToWire(waypointType_, r.waypoints[i])});
            }
        }
    } else if (command == kTracks) {
        int track = 0;
        for (std::size_t i = 0; i < store.trackPoints.size(); ++i) {
            const TrackPoint &t = store.trackPoints[i];
            if (trackHeaderType_ && (i == 0 || t.newTrack))
                packets.push_back({kTrackHeader, TrackHeaderToWire(trackHeaderType_, ++track)});
            packets.push_back({kTrackPoint, TrackPointToWire(t, trackPointType_)});
        }
    } else {
        return;
    }
    Bytes count;
    PutU16(count, static_cast<std::uint16_t>(packets.size()));
    Queue(kRecords, count);
    for (Packet &p : packets)
        Queue(p.id, std::move(p.data));
    Bytes done;
    PutU16(done, command);
    Queue(kComplete, done);
}

bool Receiver::RepeatsLast(const Packet &packet) const
{
    return lastReceived_ && lastReceived_->id == packet.id && lastReceived_->data == packet.data;
}

// A packet equal to the one just before it is most often the host sending
// it again because our ACK was lost; the count the host announced says how
// many such repeats are real records.
void Receiver::TakeUploadRecord(const Packet &packet)
{
    bool repeat = RepeatsLast(packet);
    if (packet.id == kRecords) {
        if (!repeat) {
            upload_.clear();
            uploadAnnounced_ = GetU16(packet.data, 0);
        }
        return;
    }
    if (repeat) {
        std::lock_guard<std::mutex> hold(lock_);
        stats_.repeatsReceived++;
    }
    upload_.emplace_back(packet, repeat);
}

void Receiver::FinishUpload(std::uint16_t command)
{
    long repeats = std::count_if(upload_.begin(), upload_.end(), [](const auto &p) { return p.second; });
    long keep = 0;
    if (uploadAnnounced_ >= 0)
        keep = std::clamp<long>(uploadAnnounced_ - (static_cast<long>(upload_.size()) - repeats), 0, repeats);
    Store taken;
    bool trackStarts = false; // a track header came: the next point starts a track
    for (const auto &[packet, repeat] : upload_) {
        if (repeat && keep-- <= 0)
            continue;
        if (packet.id == kTrackHeader)
            trackStarts = true;
        if (packet.id == kWaypoint)
            taken.waypoints.push_back(WaypointFromWire(waypointType_, packet.data));
        else if (packet.id == kRouteHeader)
            taken.routes.push_back(RouteHeaderFromWire(routeHeaderType_, packet.data));
        else if (packet.id == kRouteWaypoint && !taken.routes.empty())
            taken.routes.back().waypoints.push_back(WaypointFromWire(waypointType_, packet.data));
        else if (packet.id == kTrackPoint) {
            taken.trackPoints.push_back(TrackPointFromWire(packet.data, trackPointType_));
            taken.trackPoints.back().newTrack |= trackStarts;
            trackStarts = false;
        }
    }
    upload_.clear();
    uploadAnnounced_ = -1;
    std::lock_guard<std::mutex> hold(lock_);
    if (command == kWaypoints)
        store_.waypoints = taken.waypoints;
    else if (command == kRoutes)
        store_.routes = taken.routes;
    else if (command == kTracks)
        store_.trackPoints = taken.trackPoints;
}

void Receiver::Queue(std::uint8_t id, Bytes data, bool needsAck)
{
    queue_.push_back(Outgoing{Packet{id, std::move(data)}, needsAck});
    SendNextQueued();
}

void Receiver::SendNextQueued()
{
    if (awaitingAck_ || queue_.empty())
        return;
    SendNow(queue_.front().packet);
    awaitingAck_ = true;
    resends_ = 0;
    resendAt_ = NowMs() + config_.faults.resendMs;
}

void Receiver::SendNow(const Packet &packet)
{
    const Faults &f = config_.faults;
    if (fd_ < 0 || (f.muteAfter > 0 && sentFrames_ >= f.muteAfter))
        return;
    std::uniform_int_distribution<int> noise(0x20, 0x7E); // never a DLE
    for (int i = 0; i < f.noiseBytes; ++i)
        output_.push_back(static_cast<std::uint8_t>(noise(random_)));
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    bool corrupt = ++sentFrames_ == f.corruptNth || (f.corruptFraction > 0 && chance(random_) < f.corruptFraction);
    Bytes frame = EncodePacket(packet.id, packet.data, corrupt);
    output_.insert(output_.end(), frame.begin(), frame.end());
    std::lock_guard<std::mutex> hold(lock_);
    stats_.framesSent++;
    stats_.framesCorrupted += corrupt;
    stats_.lastSentMs = NowMs();
}

void Receiver::Talk(long long now)
{
    const NmeaConfig &n = config_.nmea;
    if (!n.enabled || fd_ < 0 || now < silentUntil_)
        return;
    // Unpaced, keep the line busy; paced, one sentence at each period.
    while (output_.size() < kTalkAhead && now >= nextSentenceAt_) {
        std::uint64_t i;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (n.count && sentences_ >= n.count)
                return;
            i = sentences_++;
        }
        std::string sentence = n.replay.empty() ? GeneratedSentence(i) : n.replay[i % n.replay.size()];
        output_.insert(output_.end(), sentence.begin(), sentence.end());
        if (n.perSecond > 0)
            nextSentenceAt_ = now + static_cast<long long>(1000.0 / n.perSecond);
    }
}

void Receiver::Flush()
{
    if (fd_ >= 0 && config_.baud > 0) {
        // Bytes reach the host once the line has carried them; a pty with
        // no room keeps what arrived for the next pass.
        long long nowUs = PacedLine::NowUs();
        // Bytes that have arrived make room for more, and a line catching up
        // after a late wake-up carries those at once too: output never waits
        // with nothing in flight to wake us.
        for (;;) {
            std::vector<std::uint8_t> arrived = sending_.Arrived(nowUs);
            arrivedOut_.insert(arrivedOut_.end(), arrived.begin(), arrived.end());
            if (output_.empty() || sending_.Room() == 0)
                break;
            std::size_t n = std::min(output_.size(), sending_.Room());
            sending_.Put(nowUs, output_.data(), n, sendWaited_);
            sendWaited_ = true;
            output_.erase(output_.begin(), output_.begin() + static_cast<long>(n));
        }
        ssize_t sent = arrivedOut_.empty() ? 0 : write(fd_, arrivedOut_.data(), arrivedOut_.size());
        CountSent(sent);
        if (sent > 0)
            arrivedOut_.erase(arrivedOut_.begin(), arrivedOut_.begin() + sent);
        sendWaited_ = !output_.empty(); // what is left waits for room
        return;
    }
    while (fd_ >= 0 && !output_.empty() && NowMs() >= nextWriteAt_) {
        std::size_t n = output_.size();
        if (config_.faults.chunkSize > 0)
            n = std::min(n, static_cast<std::size_t>(config_.faults.chunkSize));
        ssize_t sent = write(fd_, output_.data(), n);
        CountSent(sent);
        if (sent <= 0)
            return; // the line is full: poll says when there is room
        output_.erase(output_.begin(), output_.begin() + sent);
        if (config_.faults.chunkSize > 0)
            nextWriteAt_ = NowMs() + 1; // let each piece arrive on its own
    }
}

Bytes Receiver::PvtRecord() const
{
    const PvtConfig &p = config_.pvt;
    const double radiansPerDegree = M_PI / 180.0;
    Bytes record(64, 0);
    Put<float>(record, 0, p.altitude);
    Put<float>(record, 4, 3.0f);  // estimated position error
    Put<float>(record, 8, 2.0f);  // horizontal
    Put<float>(record, 12, 2.5f); // vertical
    Put<std::int16_t>(record, 16, 4); // a 3-D fix
    Put<double>(record, 18, p.seconds);
    Put<double>(record, 26, p.latitude * radiansPerDegree);
    Put<double>(record, 34, p.longitude * radiansPerDegree);
    Put<float>(record, 42, p.east);
    Put<float>(record, 46, p.north);
    Put<float>(record, 50, p.up);
    Put<float>(record, 54, p.heightAboveSea);
    Put<std::int16_t>(record, 58, p.leapSeconds);
    Put<std::int32_t>(record, 60, p.days);
    return record;
}

} // namespace halvexsim
