#include "gpx/fitting.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "terminal/errors.h"
#include "halvex32.h"
#include "gpx/receivertext.h"
#include "terminal/terminal.h"

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
    // example: what a record had and what the receiver gets ("Home -> HOME").
    void Note(const std::string &kind, const std::string &what, int type, const std::string &example = "")
    {
        if (!Told(kind))
            return;
        Tally &tally = counts_[{kind, what, type}];
        tally.count++;
        if (!example.empty() && tally.examples.size() < 2)
            tally.examples.push_back(example);
    }
    std::string Example(const std::string &from, const std::string &to) const
    {
        return from + (strict_ ? " would be sent as " : " -> ") + to;
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
        for (const auto &[key, tally] : counts_) {
            const auto &[kind, what, type] = key;
            std::string receiver = type ? " by this receiver (D" + std::to_string(type) + ")" : "";
            // "1 waypoint", "2 waypoints"
            std::string kinds = tally.count == 1 ? kind.substr(0, kind.size() - 1) : kind;
            std::string examples;
            for (const std::string &example : tally.examples)
                examples += (examples.empty() ? " (" : ", ") + example;
            if (!examples.empty())
                examples += tally.count > static_cast<int>(tally.examples.size()) ? ", ...)" : ")";
            Say(std::to_string(tally.count) + " " + kinds + ": " + what + receiver + examples);
        }
    }
    void Strict(bool strict) { strict_ = strict; }

private:
    static void Say(const std::string &line) { halvex::Say("halvex: " + line); }
    struct Tally {
        int count = 0;
        std::vector<std::string> examples;
    };
    Records upload_;
    bool said_ = false;
    bool strict_ = false;
    std::map<std::tuple<std::string, std::string, int>, Tally> counts_;
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

// A waypoint type keeps names in upper case but for D105 and D106, which
// keep them as they are; a fixed-width comment is kept in upper case too.
bool UpperCaseNames(int type) { return type != 105 && type != 106; }
bool UpperCaseComments(int type) { return type < 108 || type > 110; }

// What each waypoint type holds beyond name and position (HalvexHolds bits),
// as the README's table gives it.
int WaypointHolds(int type)
{
    const int later = HalvexHoldsComment | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsProximity |
                      HalvexHoldsSymbol | HalvexHoldsDisplay | HalvexHoldsColour | HalvexHoldsClass |
                      HalvexHoldsPlace;
    switch (type) {
    case 103:
        return HalvexHoldsComment | HalvexHoldsSymbol | HalvexHoldsDisplay;
    case 105:
    case 106:
        return 0;
    case 108:
    case 109:
        return later;
    case 110:
        return later | HalvexHoldsTime | HalvexHoldsTemperature | HalvexHoldsCategory;
    default:
        return HalvexHoldsComment;
    }
}

// Text as the receiver keeps it: its letters, then (where the type does)
// upper case; each change counted with an example of what the record had.
std::string Kept(const std::string &text, bool upper, const std::string &kind, const std::string &element,
                 Changes &changes)
{
    std::string spelled = ReceiverText(text);
    std::string kept = upper ? Upper(spelled) : spelled;
    if (spelled != text)
        changes.Note(kind, element + " spelled in the receiver's letters", 0, changes.Example(text, kept));
    else if (kept != text)
        changes.Note(kind, element + " upper-cased", 0, changes.Example(text, kept));
    return spelled;
}

// Drops a field the receiver's type does not hold, and says so.
template <typename Field>
void Keep(Field &field, int holds, int bit, const std::string &element, const std::string &kind, int type,
          Changes &changes)
{
    if (!field || (holds & bit))
        return;
    changes.Note(kind, element + " not kept", type);
    field = Field();
}

void FitFields(PointFields &f, int type, const std::string &kind, Changes &changes)
{
    int holds = WaypointHolds(type);
    Keep(f.elevation, holds, HalvexHoldsAltitude, "<ele>", kind, type, changes);
    Keep(f.time, holds, HalvexHoldsTime, "<time>", kind, type, changes);
    Keep(f.depth, holds, HalvexHoldsDepth, "depth", kind, type, changes);
    Keep(f.proximity, holds, HalvexHoldsProximity, "proximity", kind, type, changes);
    Keep(f.temperature, holds, HalvexHoldsTemperature, "temperature", kind, type, changes);
    Keep(f.display, holds, HalvexHoldsDisplay, "display", kind, type, changes);
    Keep(f.colour, holds, HalvexHoldsColour, "colour", kind, type, changes);
    Keep(f.category, holds, HalvexHoldsCategory, "category", kind, type, changes);
    Keep(f.wptClass, holds, HalvexHoldsClass, "class", kind, type, changes);
    // D103 numbers its symbols in a byte of its own.
    if (f.symbol && type == 103 && *f.symbol > 255)
        Keep(f.symbol, 0, HalvexHoldsSymbol, "<sym>", kind, type, changes);
    Keep(f.symbol, holds, HalvexHoldsSymbol, "<sym>", kind, type, changes);
    if (!f.symbolName.empty())
        changes.Note(kind, "<sym> not a symbol the tool knows, the receiver's default sent", 0, f.symbolName);
    bool places = !f.facility.empty() || !f.city.empty() || !f.address.empty() || !f.crossRoad.empty();
    if (places && !(holds & HalvexHoldsPlace)) {
        changes.Note(kind, "facility, city, address and cross road not kept", type);
        f.facility = f.city = f.address = f.crossRoad = "";
    }
    f.facility = Kept(f.facility, false, kind, "facility", changes).substr(0, 31);
    f.city = Kept(f.city, false, kind, "city", changes).substr(0, 25);
    f.address = Kept(f.address, false, kind, "address", changes).substr(0, 51);
    f.crossRoad = Kept(f.crossRoad, false, kind, "cross road", changes).substr(0, 51);
}

// D108 to D110 send a waypoint's six strings after a fixed head in one
// record of at most 255 bytes: place texts that do not fit are cut here,
// and said, rather than by the library unseen.
void FitRecord(GpxPoint &point, int type, const std::string &kind, Changes &changes)
{
    std::size_t head = type == 108 ? 48 : type == 109 ? 52 : type == 110 ? 62 : 0;
    PointFields &f = point.fields;
    std::string *places[] = {&f.crossRoad, &f.address, &f.city, &f.facility}; // cut from the last
    std::size_t used = head + point.name.size() + point.comment.size() + 6; // six NULs
    for (const std::string *text : places)
        used += text->size();
    if (!head || used <= 255)
        return;
    changes.Note(kind, "facility, city, address and cross road cut to fit the receiver's 255-byte record", type);
    for (std::string *text : places) {
        if (used <= 255)
            break;
        std::size_t cut = std::min(used - 255, text->size());
        text->resize(text->size() - cut);
        used -= cut;
    }
}

void FitComment(std::string &comment, const Product &product, const std::string &kind, Changes &changes)
{
    comment = Kept(comment, UpperCaseComments(product.types.waypoint), kind, "<cmt>", changes);
    std::size_t width = static_cast<std::size_t>(product.commentWidth);
    if (comment.size() <= width)
        return;
    changes.Note(kind, width ? "<cmt> cut to " + std::to_string(width) + " characters" : "<cmt> not kept",
                 product.types.waypoint);
    comment.resize(width);
}

void FitWaypoints(Gpx &gpx, const Product &product, const FitOptions &options, Changes &changes)
{
    int type = product.types.waypoint;
    std::size_t width = options.nameWidth >= 0 ? static_cast<std::size_t>(options.nameWidth)
                                               : static_cast<std::size_t>(product.identWidth);
    std::string kind;
    ShortNames shortNames(options.keepNames ? 0 : width, [&](const std::string &from, const std::string &to) {
        if (!changes.Told(kind))
            return;
        changes.Said();
        Say("halvex: " + from + (options.strict ? " would be sent as " : " is sent as ") +
            (UpperCaseNames(type) ? Upper(to) : to) + ", the receiver keeping " + std::to_string(width) +
            " characters of a name");
    });
    std::set<std::string> used;
    for (const GpxPoint &point : gpx.waypoints)
        used.insert(ReceiverText(point.name));
    GeneratedNames generated(std::move(used));
    auto fit = [&](GpxPoint &point, const std::string &pointKind) {
        kind = pointKind;
        std::string name = Kept(point.name, UpperCaseNames(type), kind, "<name>", changes);
        if (name.empty()) {
            name = generated(point.latitude, point.longitude);
            changes.Note(kind, "no <name>, given one (" + name + " the last)", 0);
        }
        point.name = shortNames(name, point.latitude, point.longitude);
        // A name made distinct was said on its own line; one only cut is
        // counted, whether here or (--keep-names) by the receiver.
        if (width && name.size() > width && point.name.compare(0, width, name, 0, width) == 0)
            changes.Note(kind, "<name> cut to " + std::to_string(width) + " characters", type);
        FitComment(point.comment, product, kind, changes);
        FitFields(point.fields, type, kind, changes);
        FitRecord(point, type, kind, changes);
        changes.Unkept(kind, point.unkept, type);
    };
    for (GpxPoint &point : gpx.waypoints)
        fit(point, "waypoints");
    for (GpxRoute &route : gpx.routes)
        for (GpxPoint &point : route.points)
            fit(point, "route points");
}

// Routes are kept by number where the header has one (D200 and D201: 0 to
// 255). A number the header cannot hold, or one given twice, is refused at
// its place unless --renumber; routes without one get the lowest free.
void NumberRoutes(Gpx &gpx, int type, const FitOptions &options, Changes &changes)
{
    bool numbered = type == 200 || type == 201;
    std::set<int> taken;
    std::vector<std::string> renumbered;
    for (GpxRoute &route : gpx.routes) {
        if (!route.number)
            continue;
        std::string why = !numbered                     ? "this receiver keeps routes by name, not number (D" +
                                                           std::to_string(type) + ")"
                          : *route.number < 0 || *route.number > 255 ? "this receiver numbers routes 0 to 255 (D" +
                                                                            std::to_string(type) + ")"
                          : taken.count(*route.number) ? "another route has it"
                                                        : "";
        if (why.empty()) {
            taken.insert(*route.number);
            continue;
        }
        if (!options.renumber)
            throw Failure(ExitBadData, route.numberWhere + ": route number " + std::to_string(*route.number) +
                                           " cannot be sent: " + why + " (--renumber gives it another)");
        renumbered.push_back(std::to_string(*route.number));
        route.number.reset();
        changes.Said();
    }
    int next = 1; // route 0 is the active route on many receivers: given only when asked
    std::size_t said = 0;
    for (GpxRoute &route : gpx.routes) {
        if (route.number || !numbered)
            continue;
        while (taken.count(next))
            next++;
        if (next > 255)
            throw Failure(ExitBadData, route.where + ": more routes than the receiver's 256 numbers");
        route.number = next;
        taken.insert(next);
        if (said < renumbered.size() && changes.Told("routes"))
            Say("halvex: route number " + renumbered[said++] + " is sent as " + std::to_string(next));
    }
    for (; said < renumbered.size(); said++)
        if (changes.Told("routes"))
            Say("halvex: route number " + renumbered[said] + " not sent: this receiver keeps routes by name");
}

void FitRoutes(Gpx &gpx, const Product &product, const FitOptions &options, Changes &changes)
{
    int type = product.types.routeHeader;
    NumberRoutes(gpx, type, options, changes);
    for (GpxRoute &route : gpx.routes) {
        // D202 names a route (254 characters); D201 has a comment of 20
        // characters, which keeps the route's name (or, without one, its
        // comment); D200 has neither.
        if (type == 201 && route.name.empty())
            std::swap(route.name, route.comment);
        if (type == 201 || type == 202)
            route.name = Kept(route.name, type == 201, "routes", "<name>", changes);
        std::size_t width = type == 201 ? 20 : 254;
        if ((type == 201 || type == 202) && route.name.size() > width) {
            changes.Note("routes", "<name> cut to " + std::to_string(width) + " characters", type,
                         changes.Example(route.name, route.name.substr(0, width)));
            route.name.resize(width);
        }
        if (type != 201 && type != 202 && !route.name.empty())
            changes.Note("routes", "<name> not kept", type);
        if (!route.comment.empty())
            changes.Note("routes", "<cmt> not kept", type);
        // The library sends a D201 route's text in its comment field.
        if (type == 201) {
            route.comment = route.name;
            route.name.clear();
        } else {
            route.comment.clear();
        }
        changes.Unkept("routes", route.unkept, type);
    }
}

void FitTracks(Gpx &gpx, const Product &product, Changes &changes)
{
    int type = product.types.trackPoint;
    int header = product.types.trackHeader;
    bool named = header == 310 || header == 312;
    for (const auto &[element, tracks] : gpx.trackUnkept)
        for (int i = 0; i < tracks; i++)
            changes.Note("tracks", "<" + element + "> not kept", type);
    if (!header && gpx.tracks > 1 && changes.Told("tracks"))
        Say("halvex: " + std::to_string(gpx.tracks) + " tracks sent as segments of one track log: this receiver "
            "keeps no track names (D" + std::to_string(type) + ")");
    int holds = (type == 301 || type == 302 ? HalvexHoldsAltitude | HalvexHoldsDepth : 0) |
                (type == 302 ? HalvexHoldsTemperature : 0);
    for (GpxTrackPoint &point : gpx.trackPoints) {
        changes.Unkept("track points", point.unkept, type);
        Keep(point.elevation, holds, HalvexHoldsAltitude, "<ele>", "track points", type, changes);
        Keep(point.depth, holds, HalvexHoldsDepth, "depth", "track points", type, changes);
        Keep(point.temperature, holds, HalvexHoldsTemperature, "temperature", "track points", type, changes);
        if (point.timed && point.time != std::floor(point.time))
            changes.Note("track points", "fractions of a second not kept", type);
        if (!point.timed)
            changes.Note("track points", "sent without a time", 0);
        if (!point.startsTrack)
            continue;
        if (!header) {
            // One track log: a track becomes a segment of it.
            point.startsSegment = true;
            if (gpx.tracks == 1 && !point.trackName.empty() && point.trackName != "Track log")
                changes.Note("tracks", "<name> not kept", type);
            point.startsTrack = false;
            continue;
        }
        if (!named && !point.trackName.empty())
            changes.Note("tracks", "<name> not kept", header);
        point.trackName = named ? Kept(point.trackName, false, "tracks", "<name>", changes) : "";
        if (point.trackName.size() > 51) {
            changes.Note("tracks", "<name> cut to 51 characters", header,
                         changes.Example(point.trackName, point.trackName.substr(0, 51)));
            point.trackName.resize(51);
        }
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

void CheckSomethingToSend(const Gpx &gpx, const FitOptions &options, const std::string &file)
{
    std::string name = file == "-" ? "standard input" : file;
    if (options.upload == Records::Waypoints && gpx.waypoints.empty())
        throw Failure(ExitBadData, "no waypoints in " + name + "; nothing sent");
    if (options.upload == Records::Routes && gpx.routes.empty())
        throw Failure(ExitBadData, "no routes in " + name + "; nothing sent");
    if (options.upload == Records::Tracks && gpx.trackPoints.empty())
        throw Failure(ExitBadData, "no track points in " + name + "; nothing sent");
}

void FitForReceiver(Gpx &gpx, const Product &product, const FitOptions &options)
{
    Changes changes(options.upload);
    changes.Strict(options.strict);
    FitWaypoints(gpx, product, options, changes);
    FitRoutes(gpx, product, options, changes);
    FitTracks(gpx, product, changes);
    changes.Say();
    if (options.strict && changes.Any())
        throw Failure(ExitBadData, "--strict: nothing sent, as the receiver would not keep the file as it is");
}

} // namespace halvex
