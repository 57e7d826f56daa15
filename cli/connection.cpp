#include "connection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "errors.h"
#include "sample.h"
#include "terminal.h"

namespace halvex {

namespace {

// The library calls back on its own thread with no context of ours, so one
// rendezvous serves the one operation a connection runs at a time.
struct Rendezvous {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    bool lineLost = false; // the device went away
    int status = 0, value = 0;
    int announced = -1; // track points the receiver said it would send
    Product product;
    std::vector<GpxPoint> waypoints;
    std::vector<GpxRoute> routes;
    std::vector<GpxTrackPoint> track;
    ProgressFn progress;
    std::function<void(const std::string &)> onSentence;
} rendezvous;

std::string Text(BSTR b)
{
    std::string out;
    for (UINT i = 0; i < SysStringLen(b); ++i)
        out += static_cast<char>(b[i] & 0xFF);
    return out;
}

// A receiver pads its fixed-width fields with spaces; the padding is no part
// of the name or comment.
std::string Field(BSTR b)
{
    std::string text = Text(b);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

BSTR Bstr(const std::string &text)
{
    std::u16string units;
    for (unsigned char c : text)
        units += static_cast<char16_t>(c);
    return SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

// OLE Automation dates (days since 1899-12-30) and seconds since 1970.
double UnixFromOle(double date) { return (date - 25569.0) * 86400.0; }
double OleFromUnix(double seconds) { return seconds / 86400.0 + 25569.0; }

// The library dates track points as receiver seconds counted from 1990-01-02
// (its contract with existing hosts), while receivers count them from
// 1989-12-31 00:00 UTC, as their position reports do: two days apart.
constexpr double kTrackDateSkew = 2 * 86400.0;
double UnixFromTrackDate(double date) { return UnixFromOle(date) - kTrackDateSkew; }
double TrackDateFromUnix(double seconds) { return OleFromUnix(seconds + kTrackDateSkew); }

// What one transfer can carry: its records packet counts in 16 bits.
constexpr std::size_t kTransferLimit = 65535;

void CheckTransferSize(std::size_t records, const std::string &what)
{
    if (records > kTransferLimit)
        throw Failure(ExitBadData, "the GPX file holds " + std::to_string(records) + " " + what +
                                       "; one transfer carries at most " + std::to_string(kTransferLimit));
}

void Finish(int status, int value)
{
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.status = status;
    rendezvous.value = value;
    rendezvous.done = true;
    rendezvous.changed.notify_all();
}

std::vector<GpxPoint> ReadWaypoints(const HostWaypoint *elements, std::size_t count)
{
    std::vector<GpxPoint> out;
    for (std::size_t i = 0; i < count; ++i) {
        GpxPoint point;
        point.name = Field(elements[i].ident);
        point.comment = Field(elements[i].comment);
        point.latitude = elements[i].latitude;
        point.longitude = elements[i].longitude;
        out.push_back(point);
    }
    return out;
}

void HALVEX_CALL OnProduct(int32_t code, int32_t value, HostProductInfo *info)
{
    if (code == HalvexProductLineError)
        return; // the request goes on
    if (code == HalvexProductIdentified) {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.product = {static_cast<uint16_t>(info->productId), info->softwareVersion, Text(info->description)};
    }
    Finish(code, value);
}

void HALVEX_CALL OnUpload(int32_t status, int32_t) { Finish(status, 0); }

void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        if (*array)
            rendezvous.waypoints = ReadWaypoints(static_cast<HostWaypoint *>((*array)->pvData),
                                                 (*array)->rgsabound[0].cElements);
    }
    Finish(*array ? HalvexTransferDone : HalvexUploadAborted, 0); // a null array is the failure report
}

void HALVEX_CALL OnRoutes(int32_t status, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    if (*routes && *waypoints) {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        auto *points = static_cast<HostWaypoint *>((*waypoints)->pvData);
        std::size_t pointCount = (*waypoints)->rgsabound[0].cElements;
        auto *elements = static_cast<HostRoute *>((*routes)->pvData);
        for (ULONG i = 0; i < (*routes)->rgsabound[0].cElements; ++i) {
            GpxRoute route;
            route.name = Field(elements[i].ident);
            route.comment = Field(elements[i].comment);
            route.number = static_cast<uint16_t>(elements[i].number);
            std::size_t first = static_cast<std::size_t>(elements[i].firstWaypoint);
            std::size_t count = static_cast<uint16_t>(elements[i].waypointCount);
            if (first + count <= pointCount)
                route.points = ReadWaypoints(points + first, count);
            rendezvous.routes.push_back(route);
        }
    }
    Finish(status, 0);
}

int16_t HALVEX_CALL OnTrackPoint(int32_t, int32_t value, HostTrackPoint *point)
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
        rendezvous.track.push_back(
            {point->latitude, point->longitude, UnixFromTrackDate(point->time), point->newTrack != 0});
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

void HALVEX_CALL OnLine(int32_t code, int32_t)
{
    if (code != HalvexPortLost)
        return; // modem lines changed: nothing to us
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.lineLost = true;
    rendezvous.changed.notify_all();
}

// Waits for the operation's callback, for ever when seconds is 0: the
// library ends a transfer that stalls. tick, if given, runs every second of
// the wait. False when the time ran out.
bool Await(double seconds, const std::function<void()> &tick = nullptr)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::unique_lock<std::mutex> hold(rendezvous.lock);
    for (;;) {
        auto wake = Clock::now() + std::chrono::seconds(1);
        if (seconds > 0 && deadline < wake)
            wake = deadline;
        if (rendezvous.changed.wait_until(hold, wake, [] { return rendezvous.done || rendezvous.lineLost; }))
            return true;
        if (seconds > 0 && Clock::now() >= deadline)
            return false;
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
    rendezvous.status = rendezvous.value = 0;
    rendezvous.announced = -1;
    rendezvous.waypoints.clear();
    rendezvous.routes.clear();
    rendezvous.track.clear();
}

// Why a device could not be opened, as far as we can tell from outside.
std::string OpenFailure(const std::string &device)
{
    struct stat status;
    if (stat(device.c_str(), &status) != 0)
        return "cannot open " + device + ": no such device";
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot open " + device + ": " + std::strerror(errno);
    bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0;
    bool tty = isatty(fd);
    close(fd);
    if (busy)
        return "cannot open " + device + ": it is in use by another program";
    if (!tty)
        return "cannot open " + device + ": it is not a serial device";
    return "cannot open " + device + " as a serial port";
}

// Host arrays for uploads, freed with their strings.
void FreeStrings(HostWaypoint &w)
{
    SysFreeString(w.ident);
    SysFreeString(w.comment);
}
void FreeStrings(HostRoute &r)
{
    SysFreeString(r.comment);
    SysFreeString(r.ident);
}
void FreeStrings(HostTrackPoint &) {}

template <typename Element> struct HostArray {
    SAFEARRAY *array = nullptr;
    explicit HostArray(std::size_t count)
    {
        SafeArrayAllocDescriptor(1, &array);
        array->cbElements = sizeof(Element);
        array->rgsabound[0].cElements = static_cast<ULONG>(count);
        if (SafeArrayAllocData(array) != S_OK) {
            SafeArrayDestroyDescriptor(array);
            throw Failure(ExitFailure, "out of memory");
        }
    }
    ~HostArray()
    {
        for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i)
            FreeStrings(Elements()[i]);
        SafeArrayDestroyData(array);
        SafeArrayDestroyDescriptor(array);
    }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;
    Element *Elements() { return static_cast<Element *>(array->pvData); }
};

// The library truncates degrees to the receiver's semicircles (2^31 of them
// to 180 degrees). A GPX position, written to 9 decimals, lies a hair off
// its semicircle and would lose one on every trip up and back; the nearest
// semicircle's own value in degrees becomes exactly that semicircle.
double OnSemicircle(double degrees)
{
    const double semicircle = 180.0 / 2147483648.0; // exact: 45 x 2^-29
    return std::round(degrees / semicircle) * semicircle;
}

void FillWaypoint(HostWaypoint &element, const GpxPoint &point)
{
    element.ident = Bstr(point.name);
    element.latitude = OnSemicircle(point.latitude);
    element.longitude = OnSemicircle(point.longitude);
    element.comment = Bstr(point.comment);
}

} // namespace

Connection::Connection(const Options &options) : options_(options)
{
    device_ = options.port;
    if (device_.empty()) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw Failure(ExitDevice, "cannot create a pseudo-terminal for the simulator");
        device_ = ptsname(master_);
        halvexsim::Config config = options.simulator;
        if (config.store.waypoints.empty() && config.store.routes.empty() && config.store.trackPoints.empty())
            config.store = halvexsim::SampleStore(options.simulatorTrackPoints);
        simulator_ = std::make_unique<halvexsim::Receiver>(config);
        simulator_->Start(master_);
    }
    if (options.verbose)
        Say(std::string("halvex: opening ") + (simulator_ ? "the simulated receiver on " : "") + device_ + " at " +
            std::to_string(options.baud) + " baud");
    HalvexPortCallback onLine = OnLine;
    session_ = OpenCommPortEx(device_.c_str(), options.baud, &onLine);
    if (!session_)
        throw Failure(ExitDevice, OpenFailure(device_));
}

Connection::~Connection()
{
    if (session_)
        CloseCommPort(session_);
    if (simulator_)
        simulator_->Stop();
}

void Connection::NoAnswer(const std::string &what)
{
    // When the device went away the library reports the operation's failure
    // first and the lost line right after it: give that report its moment.
    std::unique_lock<std::mutex> hold(rendezvous.lock);
    rendezvous.changed.wait_for(hold, std::chrono::milliseconds(250), [] { return rendezvous.lineLost; });
    if (rendezvous.lineLost)
        throw Failure(ExitDevice, "the receiver on " + device_ + " was disconnected");
    throw Failure(ExitNoAnswer, "the receiver on " + device_ + " " + what);
}

void Connection::AwaitTransfer(const std::string &what, const std::function<void()> &tick)
{
    bool ended = Await(options_.timeout, tick);
    bool failed;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        failed = rendezvous.lineLost || rendezvous.status != HalvexTransferDone;
    }
    if (!ended)
        throw Failure(ExitNoAnswer, "the " + what + " did not finish within the " +
                                        std::to_string(static_cast<int>(options_.timeout)) + " s of --timeout");
    if (failed)
        NoAnswer("stopped answering during the " + what);
}

Product Connection::Identify()
{
    Begin();
    HalvexProductCallback callback = OnProduct;
    if (!HalvexGetProductInfoInit(session_, &callback))
        throw Failure(ExitFailure, "the library refused to identify the receiver");
    // The library gives up after four tries in 12 s, or 3 s after a reply.
    if (!Await(20) || rendezvous.lineLost || rendezvous.status != HalvexProductIdentified)
        NoAnswer("does not answer: no reply to the product request after 4 tries");
    identified_ = true;
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    if (options_.verbose)
        Say("halvex: receiver " + std::to_string(rendezvous.product.id) + " \"" + rendezvous.product.description +
            "\" identified");
    return rendezvous.product;
}

void Connection::Identified()
{
    if (!identified_)
        Identify();
    Begin();
}

std::vector<GpxPoint> Connection::DownloadWaypoints(const std::function<void()> &tick)
{
    Identified();
    HalvexWaypointCallback callback = OnWaypoints;
    if (!HalvexDownloadWayPtInit(session_, &callback))
        throw Failure(ExitFailure, "the library refused the waypoint download");
    AwaitTransfer("waypoint download", tick);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    return rendezvous.waypoints;
}

void Connection::UploadWaypoints(const std::vector<GpxPoint> &waypoints)
{
    CheckTransferSize(waypoints.size(), "waypoints");
    Identified();
    HostArray<HostWaypoint> array(waypoints.size());
    for (std::size_t i = 0; i < waypoints.size(); ++i)
        FillWaypoint(array.Elements()[i], waypoints[i]);
    HalvexUploadCallback callback = OnUpload;
    if (!HalvexUploadWayPtInit(session_, &array.array, &callback))
        throw Failure(ExitFailure, "the library refused the waypoint upload");
    AwaitTransfer("waypoint upload");
}

std::vector<GpxRoute> Connection::DownloadRoutes(const std::function<void()> &tick)
{
    Identified();
    HalvexRouteCallback callback = OnRoutes;
    if (!HalvexDownloadRouteInit(session_, &callback))
        throw Failure(ExitFailure, "the library refused the route download");
    AwaitTransfer("route download", tick);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    return rendezvous.routes;
}

void Connection::UploadRoutes(const std::vector<GpxRoute> &routes)
{
    std::size_t pointCount = 0;
    for (const GpxRoute &route : routes)
        pointCount += route.points.size();
    CheckTransferSize(routes.size() + pointCount, "routes and route points");
    Identified();
    HostArray<HostRoute> routeArray(routes.size());
    HostArray<HostWaypoint> pointArray(pointCount);
    std::size_t next = 0;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        HostRoute &element = routeArray.Elements()[i];
        element.firstWaypoint = static_cast<int32_t>(next);
        element.waypointCount = static_cast<int16_t>(routes[i].points.size());
        element.number = static_cast<int16_t>(routes[i].number);
        element.comment = Bstr(routes[i].comment);
        element.ident = Bstr(routes[i].name);
        for (const GpxPoint &point : routes[i].points)
            FillWaypoint(pointArray.Elements()[next++], point);
    }
    HalvexUploadCallback callback = OnUpload;
    if (!HalvexUploadRouteInit(session_, &routeArray.array, &pointArray.array, &callback))
        throw Failure(ExitFailure, "the library refused the route upload");
    AwaitTransfer("route upload");
}

std::vector<GpxTrackPoint> Connection::DownloadTrack(const ProgressFn &progress)
{
    Identified();
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.progress = progress;
    }
    HalvexTrackCallback callback = OnTrackPoint;
    if (!HalvexDownloadTrackInit(session_, &callback))
        throw Failure(ExitFailure, "the library refused the track download");
    AwaitTransfer("track download");
    std::vector<GpxTrackPoint> track;
    int announced;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.progress = nullptr;
        track.swap(rendezvous.track);
        announced = rendezvous.announced;
    }
    // The end call is the same for a complete track and a given-up one: the
    // count the receiver announced tells them apart.
    if (announced >= 0 && track.size() < static_cast<std::size_t>(announced))
        NoAnswer("stopped answering during the track download (" + std::to_string(track.size()) + " of " +
                 std::to_string(announced) + " points)");
    return track;
}

void Connection::UploadTrack(const std::vector<GpxTrackPoint> &points)
{
    CheckTransferSize(points.size(), "track points");
    Identified();
    HostArray<HostTrackPoint> array(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        HostTrackPoint &element = array.Elements()[i];
        element = HostTrackPoint{};
        element.time = TrackDateFromUnix(points[i].time);
        element.latitude = OnSemicircle(points[i].latitude);
        element.longitude = OnSemicircle(points[i].longitude);
        element.newTrack = points[i].startsSegment ? 1 : 0;
    }
    HalvexUploadCallback callback = OnUpload;
    if (!HalvexUploadTrackInit(session_, &array.array, &callback))
        throw Failure(ExitFailure, "the library refused the track upload");
    AwaitTransfer("track upload");
}

void Connection::StartNmea(std::function<void(const std::string &)> onSentence)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.onSentence = std::move(onSentence);
    }
    HalvexNmeaCallback callback = OnNmea;
    if (!::StartNMEA(session_, nullptr, &callback))
        throw Failure(ExitFailure, "the library refused NMEA mode");
    identified_ = false; // binary mode is left behind
    if (simulator_)
        simulator_->FallSilent(0);
}

void Connection::StopNmea()
{
    ::StopNMEA(session_);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.onSentence = nullptr;
}

void Connection::SendSentences(const std::vector<std::string> &sentences)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(sentences.size()));
    if (!array)
        throw Failure(ExitFailure, "out of memory");
    for (std::size_t i = 0; i < sentences.size(); ++i) // one byte a character, as sent
        static_cast<BSTR *>(array->pvData)[i] =
            SysAllocStringByteLen(sentences[i].data(), static_cast<UINT>(sentences[i].size()));
    int16_t sent = SendNMEAChk(session_, &array);
    SafeArrayDestroy(array);
    if (!sent)
        throw Failure(ExitFailure, "the library refused to send on " + device_);
}

} // namespace halvex
