#include "receiver/rendezvous.h"

#include <signal.h>

#include <atomic>
#include <chrono>

#include "receiver/hostrecords.h"

namespace halvex {

Rendezvous rendezvous;

namespace {

void Finish(int status, int value)
{
    int32_t why = HalvexGetLastError(); // read in the callback, where it says why
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.why = why;
    rendezvous.status = status;
    rendezvous.value = value;
    rendezvous.done = true;
    rendezvous.changed.notify_all();
}

} // namespace

void HALVEX_CALL OnProduct(int32_t code, int32_t value, HostProductInfo *info)
{
    if (code == HalvexProductLineError)
        return; // the request goes on
    if (code == HalvexProductIdentified) {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.product = Product();
        rendezvous.product.id = static_cast<uint16_t>(info->productId);
        rendezvous.product.version = info->softwareVersion;
        rendezvous.product.description = Text(info->description);
    }
    Finish(code, value);
}

void HALVEX_CALL OnUpload(int32_t status, int32_t) { Finish(status, 0); }

void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        if (*array)
            rendezvous.waypoints = ReadWaypoints(static_cast<HostWaypointEx *>((*array)->pvData),
                                                 (*array)->rgsabound[0].cElements);
    }
    Finish(*array ? HalvexTransferDone : HalvexUploadAborted, 0); // a null array is the failure report
}

void HALVEX_CALL OnRoutes(int32_t status, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    if (*routes && *waypoints) {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.routes = ReadRoutes(*routes, *waypoints);
    }
    Finish(status, 0);
}

int16_t HALVEX_CALL OnTrackPoint(int32_t, int32_t value, HostTrackPointEx *point)
{
    if (value == HalvexDownloadEnd) {
        Finish(HalvexTransferDone, 0);
        return 0;
    }
    ProgressFn progress;
    int done;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.announced = value;
        rendezvous.track.push_back(ReadTrackPoint(*point));
        progress = rendezvous.progress;
        done = static_cast<int>(rendezvous.track.size());
    }
    if (progress)
        progress(done, value);
    return -1;
}

int16_t HALVEX_CALL OnNmea(int32_t code, int32_t, BSTR *text)
{
    if (code == HalvexNmeaSentence) {
        std::function<void(const std::string &)> deliver;
        {
            std::lock_guard<std::mutex> hold(rendezvous.lock);
            deliver = rendezvous.onSentence;
        }
        if (deliver)
            deliver(Text(*text));
    }
    return -1; // keep reporting silence
}

void HALVEX_CALL OnFix(int32_t, HostPosition *fix)
{
    std::function<void(const HostPosition &)> deliver;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        deliver = rendezvous.onFix;
    }
    if (deliver)
        deliver(*fix);
}

void HALVEX_CALL OnClock(int32_t code, HostClock *clock)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.clock = *clock;
    }
    Finish(code == HalvexClockRead ? HalvexTransferDone : code, 0);
}

void HALVEX_CALL OnLine(int32_t code, int32_t)
{
    if (code != HalvexPortLost)
        return; // modem lines changed: nothing to us
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.lineLost = true;
    rendezvous.changed.notify_all();
}

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

} // namespace

InterruptWatch::InterruptWatch()
{
    interrupted = false;
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
}

InterruptWatch::~InterruptWatch()
{
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

bool Interrupted() { return interrupted; }

bool Await(double seconds, const std::function<void()> &tick)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    std::unique_lock<std::mutex> hold(rendezvous.lock);
    for (;;) {
        // A signal cannot wake the wait: it is looked at five times a second.
        auto wake = Clock::now() + std::chrono::milliseconds(200);
        if (seconds > 0 && deadline < wake)
            wake = deadline;
        if (rendezvous.changed.wait_until(hold, wake, [] { return rendezvous.done || rendezvous.lineLost; }))
            return true;
        if (interrupted || (seconds > 0 && Clock::now() >= deadline))
            return false;
        if (Clock::now() < nextTick)
            continue;
        nextTick += std::chrono::seconds(1);
        if (tick) {
            hold.unlock();
            tick();
            hold.lock();
        }
    }
}

void Begin()
{
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.done = false;
    rendezvous.status = rendezvous.value = rendezvous.why = 0;
    rendezvous.announced = -1;
    rendezvous.waypoints.clear();
    rendezvous.routes.clear();
    rendezvous.track.clear();
}

} // namespace halvex
