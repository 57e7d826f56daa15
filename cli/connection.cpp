#include "connection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "errors.h"
#include "hostrecords.h"
#include "rendezvous.h"
#include "sample.h"
#include "terminal.h"

namespace halvex {

namespace {

// What one transfer can carry: its records packet counts in 16 bits.
constexpr std::size_t kTransferLimit = 65535;

void CheckTransferSize(std::size_t records, const std::string &what)
{
    if (records > kTransferLimit)
        throw Failure(ExitBadData, "the GPX file holds " + std::to_string(records) + " " + what +
                                       "; one transfer carries at most " + std::to_string(kTransferLimit));
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

void Connection::RunTransfer(const std::string &what, const std::function<int32_t()> &start,
                             const std::function<void()> &tick)
{
    Identified();
    if (!start())
        throw Failure(ExitFailure, "the library refused the " + what);
    AwaitTransfer(what, tick);
}

template <typename Init, typename Callback, typename Result>
Result Connection::Download(const std::string &what, Init init, Callback callback, Result Rendezvous::*collected,
                            const std::function<void()> &tick)
{
    RunTransfer(what, [&] { return init(session_, &callback); }, tick);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    return rendezvous.*collected;
}

template <typename Element, typename Item, typename Init>
void Connection::Upload(const std::string &what, const std::vector<Item> &items, const std::string &records, Init init)
{
    CheckTransferSize(items.size(), records);
    HostArray<Element> array(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        Fill(array.Elements()[i], items[i]);
    HalvexUploadCallback callback = OnUpload;
    RunTransfer(what, [&] { return init(session_, &array.array, &callback); });
}

std::vector<GpxPoint> Connection::DownloadWaypoints(const std::function<void()> &tick)
{
    return Download("waypoint download", HalvexDownloadWayPtInit, HalvexWaypointCallback(OnWaypoints),
                    &Rendezvous::waypoints, tick);
}

void Connection::UploadWaypoints(const std::vector<GpxPoint> &waypoints)
{
    Upload<HostWaypoint>("waypoint upload", waypoints, "waypoints", HalvexUploadWayPtInit);
}

std::vector<GpxRoute> Connection::DownloadRoutes(const std::function<void()> &tick)
{
    return Download("route download", HalvexDownloadRouteInit, HalvexRouteCallback(OnRoutes), &Rendezvous::routes,
                    tick);
}

void Connection::UploadRoutes(const std::vector<GpxRoute> &routes)
{
    std::size_t pointCount = 0;
    for (const GpxRoute &route : routes)
        pointCount += route.points.size();
    CheckTransferSize(routes.size() + pointCount, "routes and route points");
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
            Fill(pointArray.Elements()[next++], point);
    }
    HalvexUploadCallback callback = OnUpload;
    RunTransfer("route upload",
                [&] { return HalvexUploadRouteInit(session_, &routeArray.array, &pointArray.array, &callback); });
}

std::vector<GpxTrackPoint> Connection::DownloadTrack(const ProgressFn &progress)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.progress = progress;
    }
    HalvexTrackCallback callback = OnTrackPoint;
    RunTransfer("track download", [&] { return HalvexDownloadTrackInit(session_, &callback); });
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
    Upload<HostTrackPoint>("track upload", points, "track points", HalvexUploadTrackInit);
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
