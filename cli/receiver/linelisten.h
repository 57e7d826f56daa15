// Listening to a serial line at a given speed without sending anything:
// what detection hears before it asks a receiver anything.
#pragma once

#include <string>

namespace halvex {

// The bytes that arrive on device at baud within seconds (the device set to
// raw mode, what arrived before discarded). Throws Failure (ExitDevice)
// when the device cannot be opened, with the reason in the user's words.
std::string Listen(const std::string &device, int baud, double seconds);

// Why device cannot be opened for listening, or empty when it can.
std::string CannotOpen(const std::string &device);

} // namespace halvex
