#include "speed.h"

namespace halvexsim {

unsigned BaudOf(speed_t speed)
{
    static const std::pair<speed_t, unsigned> speeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},   {B19200, 19200},
        {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    };
    for (auto [code, baud] : speeds)
        if (code == speed)
            return baud;
    return 0;
}

Bytes Misheard(const std::uint8_t *bytes, std::size_t count, unsigned hostBaud, unsigned ownBaud, std::uint64_t at)
{
    // A slower host takes in fewer characters than were sent; a faster one
    // sees about one for each, the line idling between them.
    std::size_t heard = hostBaud < ownBaud ? count * hostBaud / ownBaud : count;
    if (heard == 0 && count)
        heard = 1;
    Bytes out;
    out.reserve(heard);
    for (std::size_t i = 0; i < heard; ++i) {
        std::uint8_t from = bytes[i * count / heard];
        std::uint64_t k = at + i;
        // Always 0x80 and above: never "$", the frame's DLE, or text.
        out.push_back(static_cast<std::uint8_t>(0x80 | ((from * 151u + k * 29u + hostBaud / 100u) & 0x7F)));
    }
    return out;
}

} // namespace halvexsim
