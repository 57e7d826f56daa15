// halvex identify: what the receiver is and the data types it is spoken to
// in, as text or JSON.
#pragma once

#include "receiver/connection.h"

namespace halvex {

int Identify(const Options &options, bool json);

} // namespace halvex
