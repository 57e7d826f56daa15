#include "fitting.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "errors.h"
#include "receivertext.h"
#include "terminal.h"

namespace halvex {

namespace {

// The changes made, by kind of record and what happened to it.
class Changes {
public:
    // Only the changes to what goes up are said: waypoints are fitted for a
    // route upload too, so that its points get the waypoints' names.
    explicit Changes(Records upload) : upload_(upload) {}
    bool Told(const std::string &kind) const
    {
        Records records = kind == "waypoints" ? Records::Waypoints
                          : kind == "routes" || kind == "route points" ? Records::Routes
                                                                       : Records::Tracks;
        return records == upload_;
    }
    void Note(const std::string &kind, const std::string &what, int type)
    {
        if (Told(kind))
            counts_[{kind, what, type}]++;
    }
    // A change said on its own line already.
    void Said() { said_ = true; }
    void Unkept(const std::string &kind, const halvex::Unkept &elements, int type)
    {
        for (const std::string &element : elements)
            Note(kind, "<" + element + "> not kept", type);
    }
    bool Any() const { return said_ || !counts_.empty(); }
    // "12 waypoints: <ele> not kept by this receiver (D103)"
    void Say() const
    {
        for (const auto &[key, count] : counts_) {
            const auto &[kind, what, type] = key;
            std::string receiver = type ? " by this receiver (D" + std::to_string(type) + ")" : "";
            // "1 waypoint", "2 waypoints"
            std::string kinds = count == 1 ? kind.substr(0, kind.size() - 1) : kind;
            Say(std::to_string(count) + " " + kinds + ": " + what + receiver);
        }
    }

private:
    static void Say(const std::string &line) { halvex::Say("halvex: " + line); }
    Records upload_;
    bool said_ = false;
    std::map<std::tuple<std::string, std::string, int>, int> counts_;
};

// Names for waypoints the file left unnamed: WPT001 and on, none that the
// file uses; one name for each place, so that a route point and the
// waypoint it is get the same.
class GeneratedNames {
public:
    explicit GeneratedNames(std::set<std::string> used) : used_(std::move(used)) {}
    std::string operator()(double latitude, double longitude)
    {
        char place[64];
        std::snprintf(place, sizeof place, "%.9f,%.9f", latitude, longitude);
        std::string &name = byPlace_[place];
        if (!name.empty())
            return name;
        char text[16];
        do
            std::snprintf(text, sizeof text, "WPT%03d", ++next_);
        while (used_.count(text));
        used_.insert(text);
        return name = text;
    }

private:
    std::set<std::string> used_;
    std::map<std::string, std::string> byPlace_;
    int next_ = 0;
};

// A name as the receiver will hold it: the library sends it upper-cased in
// every waypoint type but D105 and D106, which keep it as it is.
std::string AsTheReceiverKeepsIt(const std::string &name, int waypointType)
{
    return waypointType == 105 || waypointType == 106 ? name : Upper(name);
}

void FitComment(std::string &comment, const Product &product, const std::string &kind, Changes &changes)
{
    comment = ReceiverText(comment);
    std::size_t width = static_cast<std::size_t>(product.commentWidth);
    if (comment.size() <= width)
        return;
    changes.Note(kind, width ? "<cmt> cut to " + std::to_string(width) + " characters" : "<cmt> not kept",
                 product.types.waypoint);
    comment.resize(width);
}

void FitWaypoints(Gpx &gpx, const Product &product, const FitOptions &options, Changes &changes)
{
    std::size_t width = options.nameWidth >= 0 ? static_cast<std::size_t>(options.nameWidth)
                                               : static_cast<std::size_t>(product.identWidth);
    std::string kind;
    ShortNames shortNames(options.keepNames ? 0 : width, [&](const std::string &from, const std::string &to) {
        if (!changes.Told(kind))
            return;
        changes.Said();
        Say("halvex: " + from + (options.strict ? " would be sent as " : " is sent as ") +
            AsTheReceiverKeepsIt(to, product.types.waypoint) + ", the receiver keeping " + std::to_string(width) +
            " characters of a name");
    });
    std::set<std::string> used;
    for (const GpxPoint &point : gpx.waypoints)
        used.insert(ReceiverText(point.name));
    GeneratedNames generated(std::move(used));
    auto fit = [&](GpxPoint &point, const std::string &pointKind) {
        kind = pointKind;
        std::string name = ReceiverText(point.name);
        if (name.empty()) {
            name = generated(point.latitude, point.longitude);
            changes.Note(kind, "no <name>, given one (" + name + " the last)", 0);
        }
        point.name = shortNames(name, point.latitude, point.longitude);
        // A name made distinct was said on its own line; one only cut is
        // counted, whether here or (--keep-names) by the receiver.
        if (width && name.size() > width && point.name.compare(0, width, name, 0, width) == 0)
            changes.Note(kind, "<name> cut to " + std::to_string(width) + " characters", product.types.waypoint);
        FitComment(point.comment, product, kind, changes);
        changes.Unkept(kind, point.unkept, product.types.waypoint);
    };
    for (GpxPoint &point : gpx.waypoints)
        fit(point, "waypoints");
    for (GpxRoute &route : gpx.routes)
        for (GpxPoint &point : route.points)
            fit(point, "route points");
}

// Routes get numbers of their own: the file's where it gives one not taken
// yet, else the lowest free from 1. A receiver keeps routes by number.
void NumberRoutes(Gpx &gpx, Changes &changes)
{
    std::set<int> taken;
    for (GpxRoute &route : gpx.routes) {
        if (route.number > 0 && !taken.insert(route.number).second) {
            changes.Note("routes", "<number> given twice, renumbered", 0);
            route.number = 0;
        }
    }
    int next = 1;
    for (GpxRoute &route : gpx.routes) {
        if (route.number > 0)
            continue;
        while (taken.count(next))
            next++;
        route.number = next;
        taken.insert(next);
    }
}

void FitRoutes(Gpx &gpx, const Product &product, Changes &changes)
{
    NumberRoutes(gpx, changes);
    int type = product.types.routeHeader;
    for (GpxRoute &route : gpx.routes) {
        // D202 names a route (254 characters) and has no comment; D201 has
        // a comment of 20 characters and no name; D200 has neither.
        route.name = ReceiverText(route.name);
        route.comment = ReceiverText(route.comment);
        if (type != 202 && !route.name.empty())
            changes.Note("routes", "<name> not kept", type);
        if (type != 201 && !route.comment.empty())
            changes.Note("routes", "<cmt> not kept", type);
        if (type == 201 && route.comment.size() > 20) {
            changes.Note("routes", "<cmt> cut to 20 characters", type);
            route.comment.resize(20);
        }
        if (type == 202 && route.name.size() > 254) {
            changes.Note("routes", "<name> cut to 254 characters", type);
            route.name.resize(254);
        }
        changes.Unkept("routes", route.unkept, type);
    }
}

void FitTracks(Gpx &gpx, const Product &product, Changes &changes)
{
    int type = product.types.trackPoint;
    for (const auto &[element, tracks] : gpx.trackUnkept)
        for (int i = 0; i < tracks; i++)
            changes.Note("tracks", "<" + element + "> not kept", type);
    for (GpxTrackPoint &point : gpx.trackPoints) {
        changes.Unkept("track points", point.unkept, type);
        if (point.timed && point.time != std::floor(point.time))
            changes.Note("track points", "fractions of a second not kept", type);
        if (!point.timed)
            changes.Note("track points", "sent without a time", 0);
    }
}


} // namespace

void CheckTrackTimes(Gpx &gpx, const FitOptions &options)
{
    // The records packet counts in 16 bits: said at the first point beyond,
    // before the port is opened.
    if (gpx.trackPoints.size() > kTransferLimit)
        throw Failure(ExitBadData, gpx.trackPoints[kTransferLimit].where + ": track point " +
                                       std::to_string(kTransferLimit + 1) + " of " +
                                       std::to_string(gpx.trackPoints.size()) +
                                       ": one transfer carries at most " + std::to_string(kTransferLimit));
    for (GpxTrackPoint &point : gpx.trackPoints) {
        if (!point.timed) {
            if (!options.allowUntimed)
                throw Failure(ExitBadData, point.where +
                                               ": the track point has no <time>, and a receiver dates every point "
                                               "(--allow-untimed sends it without one)");
            point.time = kReceiverNoTime;
            continue;
        }
        if (point.time < kReceiverEpoch || std::floor(point.time) > kLastReceiverSecond)
            throw Failure(ExitBadData, point.where + ": the time " + IsoTime(point.time) +
                                           " is outside what a receiver can date (" + IsoDay(kReceiverEpoch) +
                                           " to " + IsoDay(kLastReceiverSecond) + ")");
    }
}

void FitForReceiver(Gpx &gpx, const Product &product, const FitOptions &options)
{
    Changes changes(options.upload);
    FitWaypoints(gpx, product, options, changes);
    FitRoutes(gpx, product, changes);
    FitTracks(gpx, product, changes);
    changes.Say();
    if (options.strict && changes.Any())
        throw Failure(ExitBadData, "--strict: nothing sent, as the receiver would not keep the file as it is");
}

} // namespace halvex
