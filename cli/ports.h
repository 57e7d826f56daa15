// halvex ports: the serial devices of this machine, for a user who does not
// know what the system named a receiver's adapter.
#pragma once

#include <string>
#include <vector>

namespace halvex {

// Lists /dev/serial/by-id/* with the device each names, then the devices
// of the usual names (and those given) that answer as serial ports, each
// with whether it can be opened: held by another program, or not the
// user's to open.
int ListPorts(const std::vector<std::string> &given);

} // namespace halvex
