#include "wire.h"

namespace halvexsim {

namespace {
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::size_t kMaxBody = 1 + 1 + 255 + 1;
} // namespace

Bytes EncodePacket(std::uint8_t id, const Bytes &data, bool corrupt)
{
    Bytes body{id, static_cast<std::uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    std::uint8_t total = 0;
    for (std::uint8_t b : body)
        total = static_cast<std::uint8_t>(total + b);
    std::uint8_t checksum = static_cast<std::uint8_t>(256 - total);
    body.push_back(corrupt ? static_cast<std::uint8_t>(checksum ^ 0x5A) : checksum);

    Bytes frame{kDle};
    for (std::uint8_t b : body) {
        frame.push_back(b);
        if (b == kDle)
            frame.push_back(kDle);
    }
    frame.push_back(kDle);
    frame.push_back(kEtx);
    return frame;
}

void PacketReader::Feed(const std::uint8_t *bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = bytes[i];
        if (!inFrame_) {
            if (b == kDle) {
                inFrame_ = true;
                escape_ = false;
                body_.clear();
            }
            continue;
        }
        if (escape_) {
            escape_ = false;
            if (b == kDle) {
                body_.push_back(kDle);
            } else if (b == kEtx) {
                Finish();
                inFrame_ = false;
            } else { // a DLE that starts the next frame
                body_.assign(1, b);
            }
            continue;
        }
        if (b == kDle) {
            escape_ = true;
        } else if (body_.size() >= kMaxBody) {
            inFrame_ = false;
        } else {
            body_.push_back(b);
        }
    }
}

void PacketReader::Finish()
{
    // id, size, data, checksum: all of it sums to zero in a good frame.
    if (body_.size() < 3 || body_[1] != body_.size() - 3)
        return;
    unsigned total = 0;
    for (std::uint8_t b : body_)
        total += b;
    if (total % 256 != 0)
        return;
    Packet packet;
    packet.id = body_[0];
    packet.data.assign(body_.begin() + 2, body_.end() - 1);
    onPacket_(packet);
}

void PutU16(Bytes &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(Bytes &out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

std::uint16_t GetU16(const Bytes &in, std::size_t at)
{
    if (at + 2 > in.size())
        return 0;
    return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

} // namespace halvexsim
