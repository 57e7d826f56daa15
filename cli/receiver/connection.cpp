#include "receiver/connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <sstream>
#include <mutex>

#include "receiver/detect.h"
#include "terminal/errors.h"
#include "receiver/hostrecords.h"
#include "receiver/liberrors.h"
#include "receiver/rendezvous.h"
#include "sample.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

void CheckTransferSize(std::size_t records, const std::string &what)
{
    if (records > kTransferLimit)
        throw Failure(ExitBadData, "the GPX file holds " + std::to_string(records) + " " + what +
                                       "; one transfer carries at most " + std::to_string(kTransferLimit));
}

// Why the library could not open the device, in the user's words; a
// Windows error the library passes on as it came is only a number.
std::string OpenFailure(const std::string &device, int32_t why)
{
    std::string start = "cannot open " + device + ": ";
    if (const LibraryError *error = FindLibraryError(why))
        return start + error->sentence;
    return start + "the system refused it as a serial port (error " + std::to_string(why) + ")";
}

// What the library learnt of the receiver as it identified it.
void TakeReceiverInfo(Product &product, const HostReceiverInfo &info)
{
    std::istringstream protocols(std::string(info.protocols, strnlen(info.protocols, sizeof info.protocols)));
    product.protocols.assign(std::istream_iterator<std::string>(protocols), std::istream_iterator<std::string>());
    product.types = {info.waypointType, info.routeHeaderType, info.routeLinkType, info.trackHeaderType,
                     info.trackPointType};
    product.identWidth = info.identWidth;
    product.commentWidth = info.commentWidth;
    product.typesFromTable = info.typesSource == HalvexTypesFromTable;
}

} // namespace

BuiltInReceiver::BuiltInReceiver(const Options &options)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw Failure(ExitDevice, "cannot create a pseudo-terminal for the simulator");
    device_ = ptsname(master_);
    halvexsim::Config config = options.simulator;
    if (config.store.waypoints.empty() && config.store.routes.empty() && config.store.trackPoints.empty())
        config.store = halvexsim::SampleStore(options.simulatorTrackPoints);
    receiver_ = std::make_unique<halvexsim::Receiver>(config);
    receiver_->Start(master_);
}

BuiltInReceiver::~BuiltInReceiver() { receiver_->Stop(); }

Connection::Connection(const Options &options) : options_(options)
{
    device_ = options.port;
    if (device_.empty()) {
        simulator_ = std::make_unique<BuiltInReceiver>(options);
        device_ = simulator_->Device();
    }
    if (options.autoBaud)
        options_.baud = FindSpeed();
    if (options.verbose)
        Say(std::string("halvex: opening ") + (simulator_ ? "the simulated receiver on " : "") + device_ + " at " +
            std::to_string(options_.baud) + " baud");
    HalvexPortCallback onLine = OnLine;
    session_ = OpenCommPortEx(device_.c_str(), options_.baud, &onLine);
    if (!session_)
        throw Failure(ExitDevice, OpenFailure(device_, HalvexGetLastError()));
}

int Connection::FindSpeed()
{
    Detection found = Detect(device_);
    if (options_.verbose)
        Say("halvex: " + device_ + ": " + found.Sentence());
    bool fits = options_.nmeaCommand ? found.mode == "nmea" : found.mode == "binary" && found.product;
    if (!fits)
        throw Failure(ExitNoAnswer, "found on " + device_ + ": " + found.Sentence());
    return found.baud;
}

std::string Connection::HeardInstead()
{
    // The port is the library's until it is closed.
    CloseCommPort(session_);
    session_ = nullptr;
    DetectOptions listen;
    listen.speeds = {options_.baud};
    if (options_.baud != 4800)
        listen.speeds.push_back(4800);
    listen.askProduct = false;
    Detection found = Detect(device_, listen);
    if (found.mode == "silent")
        return "does not answer: no reply to the product request after 4 tries, and nothing heard at " +
               std::to_string(options_.baud) + (options_.baud != 4800 ? " or 4800" : "") + " baud";
    return "did not answer; it is sending " + found.Sentence();
}

Connection::~Connection()
{
    if (session_)
        CloseCommPort(session_);
}

bool Connection::Lost() const
{
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    return rendezvous.lineLost;
}

void Connection::Disconnected() const
{
    throw Failure(ExitDevice, "the receiver on " + device_ + " was disconnected");
}

void Connection::NoAnswer(const std::string &what)
{
    // When the device went away the library reports the operation's failure
    // first and the lost line right after it: give that report its moment.
    std::unique_lock<std::mutex> hold(rendezvous.lock);
    rendezvous.changed.wait_for(hold, std::chrono::milliseconds(250), [] { return rendezvous.lineLost; });
    if (rendezvous.lineLost)
        Disconnected();
    throw Failure(ExitNoAnswer, "the receiver on " + device_ + " " + what);
}

void Connection::Refused(const std::string &what)
{
    int32_t why = HalvexGetLastError();
    // Only the library closes a session under us: when the device went away.
    if (why == HalvexErrorBadSession)
        Disconnected();
    throw Failure(ExitFailure, "the library refused the " + what + ": " + LibrarySentence(why));
}

void Connection::TransferFailed(const std::string &what, int32_t why)
{
    // The library's own limits end the run plainly; what the receiver did
    // on the line (refused, lost records) is said as NoAnswer says a
    // silence, which also tells a device that went away.
    if (why == HalvexErrorNotSupported || why == HalvexErrorNoMemory)
        throw Failure(ExitFailure, "the " + what + " failed: " + LibrarySentence(why));
    if (why == HalvexErrorRefused || why == HalvexErrorRecordsMissing)
        NoAnswer("failed the " + what + ": " + LibrarySentence(why));
    NoAnswer("stopped answering during the " + what);
}

void Connection::AwaitTransfer(const std::string &what, const std::function<void()> &tick)
{
    bool ended;
    {
        InterruptWatch watch;
        ended = Await(options_.timeout, tick);
    }
    bool failed;
    int32_t why;
    std::size_t points;
    int announced;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        failed = rendezvous.lineLost || rendezvous.status != HalvexTransferDone;
        why = rendezvous.why;
        points = rendezvous.track.size();
        announced = rendezvous.announced;
    }
    if (!ended && Interrupted()) {
        // Closing the port (as the command ends) cuts the transfer off.
        bool upload = what.find("upload") != std::string::npos;
        std::string done = announced > 0 ? " after " + std::to_string(points) + " of " + std::to_string(announced) +
                                               " points"
                                         : " during the " + what;
        throw Failure(ExitInterrupted, "interrupted" + done +
                                           (upload ? "; the receiver keeps what it acknowledged"
                                                   : "; nothing was written"));
    }
    if (!ended)
        throw Failure(ExitNoAnswer, "the " + what + " did not finish within the " +
                                        std::to_string(static_cast<int>(options_.timeout)) + " s of --timeout");
    if (failed)
        TransferFailed(what, why);
}

Product Connection::Identify()
{
    if (identified_)
        return product_;
    Begin();
    HalvexProductCallback callback = OnProduct;
    if (!HalvexGetProductInfoInit(session_, &callback))
        Refused("identification");
    // The library gives up after four tries in 12 s, or 3 s after a reply.
    bool limited = options_.timeout > 0 && options_.timeout < 20;
    bool ended = Await(limited ? options_.timeout : 20);
    if (!ended && limited)
        throw Failure(ExitNoAnswer, "the receiver on " + device_ + " was not identified within the " +
                                        std::to_string(static_cast<int>(options_.timeout)) + " s of --timeout");
    if (!ended || rendezvous.lineLost || rendezvous.status != HalvexProductIdentified) {
        if (!Lost())
            NoAnswer(HeardInstead());
        NoAnswer("does not answer: no reply to the product request after 4 tries");
    }
    identified_ = true;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        product_ = rendezvous.product;
    }
    HostReceiverInfo info;
    if (HalvexGetReceiverInfo(session_, &info))
        TakeReceiverInfo(product_, info);
    if (options_.verbose)
        Say("halvex: receiver " + std::to_string(product_.id) + " \"" + product_.description + "\" identified");
    return product_;
}

void Connection::Identified()
{
    Identify();
    Begin();
}

void Connection::RunTransfer(const std::string &what, const std::function<int32_t()> &start,
                             const std::function<void()> &tick)
{
    Identified();
    if (!start())
        Refused(what);
    AwaitTransfer(what, tick);
}

void Connection::NoSentence(const std::string &nothing) const
{
    std::optional<HostLineCounts> counts = LineCounts();
    if (counts && counts->sentences == 0 && counts->bytesReceived > 0)
        throw Failure(ExitNoAnswer, "bytes arrive but no NMEA sentence: is --baud right?");
    throw Failure(ExitNoAnswer, nothing);
}

std::optional<HostLineCounts> Connection::LineCounts() const
{
    HostLineCounts counts{};
    if (!HalvexGetLineCounts(session_, &counts))
        return std::nullopt;
    return counts;
}

void Connection::RunUpload(const std::string &what, std::size_t records, const std::function<int32_t()> &start,
                           const std::function<void()> &tick)
{
    Identified();
    std::optional<HostLineCounts> before = LineCounts();
    try {
        RunTransfer(what, start, tick);
    } catch (const Failure &failure) {
        std::optional<HostLineCounts> after = LineCounts();
        if (!before || !after)
            throw;
        // The first ACK is the records count's; the rest are the records'
        // (and at last the transfer complete's).
        long acked = std::clamp<long>(after->acks - before->acks - 1, 0, static_cast<long>(records));
        throw Failure(failure.code(), std::string(failure.what()) + " (" + std::to_string(acked) + " of " +
                                          std::to_string(records) + " records acknowledged)");
    }
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
void Connection::Upload(const std::string &what, const std::vector<Item> &items, const std::string &records, Init init,
                        const std::function<void()> &tick)
{
    CheckTransferSize(items.size(), records);
    HostArray<Element> array(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        Fill(array.Elements()[i], items[i]);
    HalvexUploadCallback callback = OnUpload;
    RunUpload(what, items.size(), [&] { return init(session_, &array.array, &callback); }, tick);
}

std::vector<GpxPoint> Connection::DownloadWaypoints(const std::function<void()> &tick)
{
    return Download("waypoint download", HalvexDownloadWayPtExInit, HalvexWaypointExCallback(OnWaypoints),
                    &Rendezvous::waypoints, tick);
}

void Connection::UploadWaypoints(const std::vector<GpxPoint> &waypoints, const std::function<void()> &tick)
{
    Upload<HostWaypointEx>("waypoint upload", waypoints, "waypoints", HalvexUploadWayPtExInit, tick);
}

std::vector<GpxRoute> Connection::DownloadRoutes(const std::function<void()> &tick)
{
    return Download("route download", HalvexDownloadRouteExInit, HalvexRouteExCallback(OnRoutes), &Rendezvous::routes,
                    tick);
}

void Connection::UploadRoutes(const std::vector<GpxRoute> &routes, const std::function<void()> &tick)
{
    std::size_t pointCount = 0;
    for (const GpxRoute &route : routes)
        pointCount += route.points.size();
    CheckTransferSize(routes.size() + pointCount, "routes and route points");
    HostArray<HostRoute> routeArray(routes.size());
    HostArray<HostWaypointEx> pointArray(pointCount);
    std::size_t next = 0;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        HostRoute &element = routeArray.Elements()[i];
        element.firstWaypoint = static_cast<int32_t>(next);
        element.waypointCount = static_cast<int16_t>(routes[i].points.size());
        element.number = static_cast<int16_t>(routes[i].number.value_or(0));
        element.comment = Bstr(routes[i].comment);
        element.ident = Bstr(routes[i].name);
        for (const GpxPoint &point : routes[i].points)
            Fill(pointArray.Elements()[next++], point);
    }
    HalvexUploadCallback callback = OnUpload;
    RunUpload("route upload", routes.size() + pointCount,
                [&] { return HalvexUploadRouteExInit(session_, &routeArray.array, &pointArray.array, &callback); },
                tick);
}

std::vector<GpxTrackPoint> Connection::DownloadTrack(const ProgressFn &progress)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.progress = progress;
    }
    HalvexTrackExCallback callback = OnTrackPoint;
    RunTransfer("track download", [&] { return HalvexDownloadTrackExInit(session_, &callback); });
    std::vector<GpxTrackPoint> track;
    int announced;
    int32_t why;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.progress = nullptr;
        track.swap(rendezvous.track);
        announced = rendezvous.announced;
        why = rendezvous.why;
    }
    // The end call is the same for a complete track and a given-up one: the
    // library's reason, or the count the receiver announced, tells them apart.
    if (why != HalvexErrorNone || (announced >= 0 && track.size() < static_cast<std::size_t>(announced)))
        TransferFailed("track download" + (announced >= 0 ? " (" + std::to_string(track.size()) + " of " +
                                                                std::to_string(announced) + " points)"
                                                          : std::string()),
                       why);
    return track;
}

void Connection::UploadTrack(const std::vector<GpxTrackPoint> &points, const std::function<void()> &tick)
{
    Upload<HostTrackPointEx>("track upload", points, "track points", HalvexUploadTrackExInit, tick);
}

std::optional<HostClock> Connection::ReadClock()
{
    Identified();
    HalvexTimeCallback callback = OnClock;
    if (!HalvexGetTimeInit(session_, &callback)) {
        if (HalvexGetLastError() == HalvexErrorNotSupported)
            return std::nullopt;
        Refused("clock request");
    }
    // Four tries of the command in 12 s, then 3 s for the answer.
    if (!Await(20))
        NoAnswer("did not tell its time");
    bool lost, failed;
    int32_t why;
    HostClock clock;
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        lost = rendezvous.lineLost;
        failed = rendezvous.status != HalvexTransferDone;
        why = rendezvous.why;
        clock = rendezvous.clock;
    }
    if (lost)
        Disconnected();
    if (failed && why == HalvexErrorRecordsMissing)
        throw Failure(ExitNoAnswer, "the receiver on " + device_ + " answered with a date that is no date");
    if (failed)
        TransferFailed("clock request", why);
    return clock;
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
        Simulator()->FallSilent(0);
}

void Connection::StopNmea()
{
    ::StopNMEA(session_);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.onSentence = nullptr;
}

void Connection::StartPosition(std::function<void(const HostPosition &)> onFix)
{
    {
        std::lock_guard<std::mutex> hold(rendezvous.lock);
        rendezvous.onFix = std::move(onFix);
    }
    HalvexPositionCallback callback = OnFix;
    if (!HalvexStartPosition(session_, &callback))
        Refused("position stream");
}

void Connection::StopPosition()
{
    HalvexStopPosition(session_);
    std::lock_guard<std::mutex> hold(rendezvous.lock);
    rendezvous.onFix = nullptr;
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

void Connection::SendAsIs(const std::string &text)
{
    std::string line = text + "\r\n";
    BSTR bytes = SysAllocStringByteLen(line.data(), static_cast<UINT>(line.size())); // one byte a character
    int16_t sent = SendNMEA(session_, &bytes);
    SysFreeString(bytes);
    if (!sent)
        throw Failure(ExitFailure, "the library refused to send on " + device_);
}

} // namespace halvex
