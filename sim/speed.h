// A receiver at one line speed heard by a host at another. On a
// pseudo-terminal every speed "works", so the simulator makes what a UART
// at the host's speed would make of its output: bytes, fewer of them when
// the host is slower, none of which can start an NMEA sentence, a binary
// frame or a line of text.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "wire.h"

namespace halvexsim {

// The bits a second of a termios speed; 0 for one not in the table.
unsigned BaudOf(speed_t speed);

// What a host at hostBaud receives of count bytes sent at ownBaud: the same
// every time for the same bytes and speeds. at numbers the first byte in
// the stream, so that runs of equal bytes still differ.
Bytes Misheard(const std::uint8_t *bytes, std::size_t count, unsigned hostBaud, unsigned ownBaud, std::uint64_t at);

} // namespace halvexsim
