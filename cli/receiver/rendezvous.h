// Where the tool meets the library's callbacks. The library calls back on
// its own thread with no context of ours, so one rendezvous serves the one
// operation a connection runs at a time.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/connection.h"
#include "halvex32.h"

namespace halvex {

struct Rendezvous {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    bool lineLost = false; // the device went away
    int status = 0, value = 0;
    int32_t why = 0; // the library's word on why the operation ended, 0 when it ended well
    int announced = -1; // track points the receiver said it would send
    Product product;
    std::vector<GpxPoint> waypoints;
    std::vector<GpxRoute> routes;
    std::vector<GpxTrackPoint> track;
    ProgressFn progress;
    std::function<void(const std::string &)> onSentence;
    std::function<void(const HostPosition &)> onFix;
    HostClock clock{};
};
extern Rendezvous rendezvous;

// Clears what the operation before left.
void Begin();
// Waits for the operation's callback, for ever when seconds is 0: the
// library ends a transfer that stalls. tick, if given, runs every second of
// the wait. False when the time ran out, or when Ctrl-C came while an
// InterruptWatch was in place (Interrupted() tells).
bool Await(double seconds, const std::function<void()> &tick = nullptr);

// While one lives, Ctrl-C (or SIGTERM) ends the wait instead of the process,
// so that the command can say what was done.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;
};
bool Interrupted();

void HALVEX_CALL OnProduct(int32_t code, int32_t value, HostProductInfo *info);
void HALVEX_CALL OnUpload(int32_t status, int32_t);
void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array);
void HALVEX_CALL OnRoutes(int32_t status, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints);
int16_t HALVEX_CALL OnTrackPoint(int32_t, int32_t value, HostTrackPointEx *point);
int16_t HALVEX_CALL OnNmea(int32_t code, int32_t, BSTR *text);
void HALVEX_CALL OnFix(int32_t code, HostPosition *fix);
void HALVEX_CALL OnClock(int32_t code, HostClock *clock);
void HALVEX_CALL OnLine(int32_t code, int32_t);

} // namespace halvex
