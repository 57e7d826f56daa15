// The real-driver tests' host: the line's session, and the guest's devices
// and control line.
#ifndef HALVEX_HW_SESSION_H
#define HALVEX_HW_SESSION_H

#include "guest.h"
#include "line_session.h"

namespace hw {
using namespace line;
} // namespace hw

#endif
