// halvex ports: the serial devices of this machine, for a user who does not
// know what the system named a receiver's adapter.
#pragma once

#include <string>
#include <vector>

namespace halvex {

// Lists /dev/serial/by-id/* with the device each names, then the devices
// of the usual names (and those given) that answer as serial ports, each
// with whether it can be opened: held by another program, or not the
// user's to open. probe: what is on each port that can be opened, a line
// each, as detect finds it.
int ListPorts(const std::vector<std::string> &given, bool probe = false);

} // namespace halvex
