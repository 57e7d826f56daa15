// The receiver's side of the link protocol: packets taken, answered and
// served.
#include "receiver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "path.h"

namespace halvexsim {

namespace {
template <typename T> void Put(Bytes &out, std::size_t at, T value)
{
    std::memcpy(out.data() + at, &value, sizeof value); // the wire is little-endian, as is this host
}

// As a receiver keeps what is uploaded: a record with the key of one it
// holds replaces it, any other is added (or, replacing, the upload is all).
template <typename Record, typename SameKey>
void Keep(std::vector<Record> &held, const std::vector<Record> &taken, bool replace, SameKey same)
{
    if (replace)
        held.clear();
    for (const Record &record : taken) {
        auto found = replace ? held.end()
                             : std::find_if(held.begin(), held.end(), [&](const Record &h) { return same(h, record); });
        if (found != held.end())
            *found = record;
        else
            held.push_back(record);
    }
}
} // namespace

void Receiver::Take(const std::uint8_t *bytes, std::size_t count)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        received_.append(reinterpret_cast<const char *>(bytes), count);
        stats_.bytesReceived += count;
    }
    if (MismatchedHostBaud())
        return; // sent at another speed: nothing a UART here makes sense of
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
        } else if (command == kTime) {
            Queue(kDateTime, DateTimeRecord(UtcNow() - DateLag()));
        } else if (command == kStartReports || command == kStopReports) {
            liveReports_ = command == kStartReports;
            liveClock_.Start(NowMs());
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
            if (trackHeaderType_ && (i == 0 || (t.newTrack && !t.continuesTrack)))
                packets.push_back({kTrackHeader, TrackHeaderToWire(trackHeaderType_, ++track, t)});
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
    TrackPoint heading;       // its name, colour and display
    for (const auto &[packet, repeat] : upload_) {
        if (repeat && keep-- <= 0)
            continue;
        if (packet.id == kTrackHeader) {
            trackStarts = true;
            heading = TrackPoint{};
            TrackHeaderFromWire(trackHeaderType_, packet.data, heading);
        }
        if (packet.id == kWaypoint)
            taken.waypoints.push_back(WaypointFromWire(waypointType_, packet.data));
        else if (packet.id == kRouteHeader)
            taken.routes.push_back(RouteHeaderFromWire(routeHeaderType_, packet.data));
        else if (packet.id == kRouteWaypoint && !taken.routes.empty())
            taken.routes.back().waypoints.push_back(WaypointFromWire(waypointType_, packet.data));
        else if (packet.id == kTrackPoint) {
            TrackPoint point = TrackPointFromWire(packet.data, trackPointType_);
            if (trackStarts) {
                point.trackName = heading.trackName;
                point.trackColour = heading.trackColour;
                point.trackDisplay = heading.trackDisplay;
            } else if (trackHeaderType_ && point.newTrack) {
                point.continuesTrack = true; // a new segment of the same track
            }
            point.newTrack |= trackStarts;
            taken.trackPoints.push_back(point);
            trackStarts = false;
        }
    }
    upload_.clear();
    uploadAnnounced_ = -1;
    std::lock_guard<std::mutex> hold(lock_);
    bool replace = config_.uploadsReplace;
    if (command == kWaypoints)
        Keep(store_.waypoints, taken.waypoints, replace, [](const Waypoint &a, const Waypoint &b) { return a.ident == b.ident; });
    else if (command == kRoutes)
        // A D202 header holds a name and no number.
        Keep(store_.routes, taken.routes, replace, [this](const Route &a, const Route &b) {
            return routeHeaderType_ == 202 ? a.ident == b.ident : a.number == b.number;
        });
    else if (command == kTracks)
        store_.trackPoints = taken.trackPoints; // the track log is one: an upload is the new log
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


Bytes Receiver::PvtRecord() const
{
    PvtConfig p = config_.pvt;
    p.days -= config_.weekRollovers * kRolloverDays;
    return EncodePvt(p);
}

Bytes DateTimeRecord(double unixSeconds)
{
    std::time_t whole = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm utc{};
    gmtime_r(&whole, &utc);
    Bytes record;
    record.push_back(static_cast<std::uint8_t>(utc.tm_mon + 1));
    record.push_back(static_cast<std::uint8_t>(utc.tm_mday));
    PutU16(record, static_cast<std::uint16_t>(utc.tm_year + 1900));
    PutU16(record, static_cast<std::uint16_t>(utc.tm_hour));
    record.push_back(static_cast<std::uint8_t>(utc.tm_min));
    record.push_back(static_cast<std::uint8_t>(utc.tm_sec));
    return record;
}

// Where the path has the receiver at that (whole) second, on its clock: the
// days since 1989-12-31 and the seconds into the last, each running the leap
// seconds ahead of UTC.
Bytes Receiver::LiveRecord(double unixSeconds) const
{
    PvtConfig p = config_.pvt;
    PathFix fix = PathAt(unixSeconds, p.latitude, p.longitude);
    p.latitude = fix.latitude;
    p.longitude = fix.longitude;
    p.altitude = static_cast<float>(fix.altitude - p.heightAboveSea);
    p.east = static_cast<float>(fix.east);
    p.north = static_cast<float>(fix.north);
    p.up = static_cast<float>(fix.up);
    double receiverSeconds = unixSeconds - DateLag() - kReceiverEpoch + p.leapSeconds;
    p.days = static_cast<std::int32_t>(std::floor(receiverSeconds / 86400));
    p.seconds = receiverSeconds - p.days * 86400.0;
    return EncodePvt(p);
}

Bytes EncodePvt(const PvtConfig &p)
{
    const double radiansPerDegree = M_PI / 180.0;
    Bytes record(64, 0);
    Put<float>(record, 0, p.altitude);
    Put<float>(record, 4, 3.0f);  // estimated position error
    Put<float>(record, 8, 2.0f);  // horizontal
    Put<float>(record, 12, 2.5f); // vertical
    Put<std::int16_t>(record, 16, 3); // a 3-D fix
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
