// halvex demo: a tour of the library against the built-in simulator.
#pragma once

#include <string>

#include "receiver/connection.h"

namespace halvex {

// Runs the tour, writing its GPX files into folder (created); 0 on success.
int RunDemo(Options options, const std::string &folder);

} // namespace halvex
