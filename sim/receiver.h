// A simulated GPS receiver on the far end of a serial line: it answers the
// binary link protocol as a receiver does, stores what is uploaded, serves
// downloads, sends position reports, and misbehaves on request.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "nmea.h"
#include "path.h"
#include "pace.h"
#include "records.h"
#include "wire.h"

namespace halvexsim {

struct PvtConfig {
    int periodMs = 0; // 0: no position reports
    double latitude = 51.477928, longitude = -0.001545; // degrees
    float altitude = 45.0f, heightAboveSea = 47.0f;
    float east = 0.0f, north = 0.0f, up = 0.0f; // metres per second
    double seconds = 302400.0;                  // seconds into the day count below
    std::int16_t leapSeconds = 18;
    std::int32_t days = 12784; // whole days since the receiver's epoch
};

// A position report's 64 bytes as a receiver sends them.
Bytes EncodePvt(const PvtConfig &p);

struct Faults {
    int dropNth = 0;          // ignore the n-th frame received (1-based), 0: none
    double dropFraction = 0;  // ignore this share of received frames, seeded
    unsigned seed = 1;
    int corruptNth = 0;       // send the n-th frame with a bad checksum
    double corruptFraction = 0; // send this share of frames with a bad checksum, seeded
    int muteAfter = 0;        // send nothing after the n-th frame sent
    int resendMs = 3000;      // time-out before a frame is sent again
    int nakNth = 0;           // answer the n-th frame received with a NAK
    int ackDelayMs = 0;       // wait this long before each ACK
    bool silent = false;      // never answer anything
    int silentAfter = 0;      // answer nothing after the n-th frame received
    int noiseBytes = 0;       // this much line noise before every frame sent
    int chunkSize = 0;        // write in pieces of this many bytes, 0: whole
    int hangUpAfter = 0;      // hang up after the n-th frame received
};

using ProtocolEntry = std::pair<char, std::uint16_t>;

struct Store {
    std::vector<Waypoint> waypoints;
    std::vector<Route> routes;
    std::vector<TrackPoint> trackPoints;
};

std::vector<ProtocolEntry> DefaultProtocols();

struct Config {
    std::uint16_t productId = 4242;
    std::uint16_t softwareVersion = 310;
    std::string description = "Halvex Trail 12 Software Version 3.10";
    // The protocol array it sends after the product data, if any; its last
    // D1xx and D2xx entries set the data types below.
    std::optional<std::vector<ProtocolEntry>> protocols = DefaultProtocols();
    int waypointType = 103;
    int routeHeaderType = 201;
    unsigned baud = 0; // pace the bytes as a UART at this rate; 0: as fast as the line takes
    // The receiver's own line speed: while the host's end of a
    // pseudo-terminal is set to another, it hears garbage from the receiver
    // and the receiver understands nothing it sends. 0: every speed works.
    unsigned lineBaud = 0;
    PvtConfig pvt;
    Faults faults;
    Store store; // what downloads serve
    NmeaConfig nmea;
    // Its GPS week count has rolled over this many times since its firmware
    // was made: every date it reports (position reports, NMEA dates, its
    // clock, the track log it starts with) is this many 1024-week periods
    // early.
    int weekRollovers = 0;
    // Each upload replaces what the receiver held of its kind, instead of
    // being kept as a receiver keeps it (by ident, by number).
    bool uploadsReplace = false;
};

// 1024 weeks, in seconds and in days.
constexpr double kRolloverSeconds = 1024.0 * 7 * 86400;
constexpr int kRolloverDays = 1024 * 7;

// The date-and-time record of packet 14 for a UTC moment.
Bytes DateTimeRecord(double unixSeconds);

struct Stats {
    int framesReceived = 0; // with a good checksum
    int acksSent = 0;
    int naksSent = 0;
    int productRequests = 0;
    int pvtSent = 0;
    int pvtAcked = 0; // ACKs the host sent for position reports
    int aborts = 0;
    int framesSent = 0;      // first sends and resends alike
    int framesResent = 0;
    int framesCorrupted = 0;
    int framesDropped = 0;   // frames from the host never seen
    int repeatsReceived = 0; // records the host sent again
    long long lastSentMs = 0; // steady clock, when the last frame went out
    std::uint64_t bytesReceived = 0, bytesSent = 0; // on the line, noise and NMEA included
};

class Receiver {
public:
    explicit Receiver(Config config);
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // Serves the line on fd (a pseudo-terminal's master, or any descriptor).
    void Start(int fd);
    void Stop();
    // Sends no NMEA sentence for this long, from now.
    void FallSilent(int milliseconds);

    // Every byte the host has sent.
    std::string Received() const;
    std::uint64_t SentencesSent() const;

    Store StoredData() const;
    Stats Statistics() const;

private:
    static constexpr std::size_t kTalkAhead = 4096; // sentences queued ahead of the line
    struct Outgoing {
        Packet packet;
        bool needsAck;
    };
    void Run();
    void OnPacket(const Packet &packet);
    void RunTimers(long long now);
    long long NextWakeUs(long long now) const;
    void WaitAndRead(long long now, long long wakeAtUs);
    void Handle(const Packet &packet);
    void Queue(std::uint8_t id, Bytes data, bool needsAck = true);
    void SendNow(const Packet &packet);
    void SendNextQueued();
    void SendAck(std::uint8_t id, bool nak = false);
    void ServeDownload(std::uint16_t command);
    void FinishUpload(std::uint16_t command);
    void TakeUploadRecord(const Packet &packet);
    bool RepeatsLast(const Packet &packet) const;
    Bytes PvtRecord() const;
    Bytes LiveRecord(double unixSeconds) const;
    // How far its dates trail UTC, in seconds.
    double DateLag() const { return config_.weekRollovers * kRolloverSeconds; }
    void Flush();
    // The host's speed when it differs from the receiver's own, else 0.
    unsigned MismatchedHostBaud() const;
    // Turns what is queued and not yet turned into what the host hears.
    void Mishear();
    void Consume(std::size_t sent);
    void Take(const std::uint8_t *bytes, std::size_t count);
    void CountSent(ssize_t bytes);
    void Talk(long long now);
    void CloseLine();
    long long NowMs() const;

    Config config_;
    int fd_ = -1;
    int slaveFd_ = -1; // keeps a pseudo-terminal up between host opens
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> hangUpRequested_{false};
    std::atomic<long long> silentUntil_{0};

    mutable std::mutex lock_; // store and statistics, read by other threads
    Store store_;
    Stats stats_;
    std::string received_;
    std::uint64_t sentences_ = 0;
    int waypointType_;
    int routeHeaderType_;
    int routeLinkType_ = 0;   // 0: routes without links
    int trackPointType_ = 300;
    int trackHeaderType_ = 0; // 0: tracks without headers

    // The serving thread's own state.
    PacketReader reader_;
    std::vector<Outgoing> queue_; // sent one at a time, each after the last one's ACK
    bool awaitingAck_ = false;
    long long resendAt_ = 0;
    int resends_ = 0;
    Bytes output_;
    std::size_t misheard_ = 0;    // output_ up to here is what a host at the wrong speed hears
    std::uint64_t misheardAt_ = 0; // bytes turned so far
    long long nextWriteAt_ = 0; // an unpaced line in chunks: the next piece
    PacedLine sending_, taking_; // the two directions of a paced line
    Bytes arrivedOut_;           // carried across, not yet taken by the pty
    bool sendWaited_ = false, takeWaited_ = false; // bytes held back for room
    long long nextPvtAt_ = 0;
    bool liveReports_ = false; // once a second from the path, as the host asked
    EpochClock liveClock_, nmeaClock_;
    long long nextSentenceAt_ = 0;
    std::vector<std::pair<long long, Packet>> delayed_; // answered once the ACK delay is over
    int sentFrames_ = 0;
    std::mt19937 random_;
    // An upload under way, packet by packet as taken, each marked when it
    // repeats the one before it; decoded once the transfer completes.
    std::vector<std::pair<Packet, bool>> upload_;
    int uploadAnnounced_ = -1;
    std::optional<Packet> lastReceived_;
};

} // namespace halvexsim
