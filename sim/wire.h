// The receiver's side of the link framing, written independently of the
// library's codec so that neither can hide a mistake of the other.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace halvexsim {

using Bytes = std::vector<std::uint8_t>;

// Packet ids, and the command words of packet 10.
constexpr std::uint8_t kAck = 6, kCommand = 10, kComplete = 12, kDateTime = 14, kNak = 21, kRecords = 27, kRouteHeader = 29,
                       kRouteWaypoint = 30, kTrackPoint = 34, kWaypoint = 35, kPvt = 51, kRouteLink = 98,
                       kTrackHeader = 99, kProtocolArray = 253, kProductRequest = 254, kProductData = 255;
constexpr std::uint16_t kAbort = 0, kRoutes = 4, kTime = 5, kTracks = 6, kWaypoints = 7, kStartReports = 49, kStopReports = 50;

struct Packet {
    std::uint8_t id = 0;
    Bytes data;
};

// The packet as it goes on the wire; a corrupted frame carries a wrong checksum.
Bytes EncodePacket(std::uint8_t id, const Bytes &data, bool corrupt = false);

// Turns a byte stream into packets with a valid checksum; bad frames are dropped.
class PacketReader {
public:
    explicit PacketReader(std::function<void(const Packet &)> onPacket) : onPacket_(std::move(onPacket)) {}
    void Feed(const std::uint8_t *bytes, std::size_t count);

private:
    void Finish();
    std::function<void(const Packet &)> onPacket_;
    Bytes body_; // id, size, data, checksum, unescaped
    bool inFrame_ = false;
    bool escape_ = false;
};

// Little-endian helpers for packet data.
void PutU16(Bytes &out, std::uint16_t value);
void PutU32(Bytes &out, std::uint32_t value);
std::uint16_t GetU16(const Bytes &in, std::size_t at);

} // namespace halvexsim
