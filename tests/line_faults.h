// Transfers over a faulty line: records of each kind as the simulated
// receiver keeps them, transfers started the same way for each kind, and the
// checks that what arrived is exactly what was sent.
#ifndef HALVEX_TEST_LINE_FAULTS_H
#define HALVEX_TEST_LINE_FAULTS_H

#include <cmath>
#include <ostream>

#include "transfer/waypointtypes.h"
#include "transfers.h"

namespace transfers {

using halvexsim::Store;

enum class Kind { Waypoints, Routes, Tracks };

struct Cell {
    const char *name;
    Kind kind;
    int waypointType, routeType;
    unsigned seed;
    const char *protocols = nullptr; // the receiver's own array, else one of the two types
};

// A receiver of variable-length waypoints, linked routes and headed tracks.
inline constexpr const char *kLaterReceiver = "P000,L001,A010,A100,D108,A201,D202,D108,D210,A301,D310,D301";

inline void PrintTo(const Cell &cell, std::ostream *out) { *out << cell.name; }

inline std::string Padded(const std::string &text, size_t width) { return text + std::string(width - text.size(), ' '); }

// Records as the receiver keeps them in its types, distinct neighbours.
inline halvexsim::Waypoint StoredWaypoint(int type, int i)
{
    std::string ident = "W" + std::to_string(10000 + i), comment = "Comment " + std::to_string(i);
    bool strings = type == 105;
    bool later = type >= 108 && type <= 110;
    return {strings || later ? ident : Padded(ident, 6), halvexsim::Semicircles(40.0 + i * 0.013),
            halvexsim::Semicircles(-3.0 - i * 0.021), strings ? "" : later ? comment : Padded("COMMENT " + std::to_string(i), 40)};
}

inline Store Sample(const Cell &cell, int records, int first)
{
    Store store;
    if (cell.kind == Kind::Waypoints) {
        for (int i = 0; i < records; i++)
            store.waypoints.push_back(StoredWaypoint(cell.waypointType, first + i));
    } else if (cell.kind == Kind::Routes) {
        for (int r = 0; records > 0; r++) {
            halvexsim::Route route;
            route.number = cell.routeType == 202 ? 0 : (first + r) % 256;
            route.comment = cell.routeType == 201 ? Padded("ROUTE " + std::to_string(first + r), 20) : "";
            route.ident = cell.routeType == 202 ? "Route " + std::to_string(first + r) : "";
            records--;
            for (int k = 0; k < r % 5 && records > 0; k++, records--)
                route.waypoints.push_back(StoredWaypoint(cell.waypointType, first + 10 * r + k));
            store.routes.push_back(route);
        }
    } else {
        for (int i = 0; i < records; i++)
            store.trackPoints.push_back({halvexsim::Semicircles(45 + (first + i) * 1e-4),
                                         halvexsim::Semicircles(7 - i * 1e-4),
                                         800000000u + 7 * static_cast<uint32_t>(first + i), i % 50 == 0});
    }
    return store;
}

inline bool SameWaypoint(const Waypoint &host, const halvexsim::Waypoint &stored)
{
    return host.ident == stored.ident && host.comment == stored.comment &&
           DegreesToSemicircles(host.latitude) == stored.latitude &&
           DegreesToSemicircles(host.longitude) == stored.longitude;
}

// What the host was handed equals what the receiver holds, record for record.
inline bool HostHolds(const Cell &cell, const Store &store)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    if (cell.kind == Kind::Tracks) {
        if (heard.points.size() != store.trackPoints.size() + 1)
            return false;
        for (size_t i = 0; i < store.trackPoints.size(); i++) {
            const HostTrackPoint &p = heard.points[i].second;
            const halvexsim::TrackPoint &s = store.trackPoints[i];
            if (DegreesToSemicircles(p.latitude) != s.latitude || DegreesToSemicircles(p.longitude) != s.longitude ||
                std::llround((p.time - 32875.0) * 86400.0) != s.time || (p.newTrack != 0) != s.newTrack)
                return false;
        }
        return heard.points.back().first == -1;
    }
    std::vector<halvexsim::Waypoint> waypoints = store.waypoints;
    if (cell.kind == Kind::Routes) {
        waypoints.clear();
        if (heard.routes.size() != store.routes.size())
            return false;
        for (size_t r = 0; r < store.routes.size(); r++) {
            const halvexsim::Route &s = store.routes[r];
            if (heard.routes[r].number != s.number || heard.routeComments[r] != s.comment ||
                heard.routeIdents[r] != s.ident || heard.routes[r].firstWaypoint != static_cast<int>(waypoints.size()) ||
                heard.routes[r].waypointCount != static_cast<int>(s.waypoints.size()))
                return false;
            waypoints.insert(waypoints.end(), s.waypoints.begin(), s.waypoints.end());
        }
    }
    if (heard.waypoints.size() != waypoints.size())
        return false;
    for (size_t i = 0; i < waypoints.size(); i++)
        if (!SameWaypoint(heard.waypoints[i], waypoints[i]))
            return false;
    return true;
}

class LineFaults : public Transfers {
protected:
    halvexsim::Config Faulty(const Cell &cell, Store store, double drop = 0.10, double corrupt = 0.05)
    {
        halvexsim::Config config = Types(cell.waypointType, cell.routeType);
        if (cell.protocols)
            config.protocols = halvexsim::ParseProtocols(cell.protocols);
        config.store = std::move(store);
        config.faults.dropFraction = drop;
        config.faults.corruptFraction = corrupt;
        config.faults.seed = cell.seed;
        // Well above the host's time to answer, even under a sanitizer with
        // three suites' tests to a core: an ACK that came after the frame was
        // sent again would be taken for the ACK of the next frame, as on any
        // line without sequence numbers.
        config.faults.resendMs = 1000;
        return config;
    }
    int StartDownload(const Cell &cell, PortSession *session)
    {
        switch (cell.kind) {
        case Kind::Waypoints: return HalvexDownloadWayPtInit(session, &waypointDownload);
        case Kind::Routes: return HalvexDownloadRouteInit(session, &routeDownload);
        default: return HalvexDownloadTrackInit(session, &trackDownload);
        }
    }
    bool DownloadFailed(const Cell &cell)
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        switch (cell.kind) {
        case Kind::Waypoints: return heard.nullArray;
        case Kind::Routes: return heard.uploads.back().first == 2;
        default: return Log().find("Track download request failed\n") != std::string::npos;
        }
    }
    // Uploads the records in the host's form; the waypoints' positions go as
    // degrees, so what was sent is their conversion, which is kept in store.
    int StartUpload(const Cell &cell, PortSession *session, Store &store)
    {
        if (cell.kind == Kind::Tracks) {
            HostArray<HostTrackPoint> points(store.trackPoints.size());
            for (size_t i = 0; i < store.trackPoints.size(); i++) {
                halvexsim::TrackPoint &s = store.trackPoints[i];
                points[i] = {32875.0 + s.time / 86400.0, halvexsim::Degrees(s.latitude),
                             halvexsim::Degrees(s.longitude), 0, {}};
                s.newTrack = i == 0; // an upload is one track
                s.latitude = DegreesToSemicircles(points[i].latitude);
                s.longitude = DegreesToSemicircles(points[i].longitude);
            }
            return HalvexUploadTrackInit(session, &points.array, &upload);
        }
        std::vector<halvexsim::Waypoint *> all;
        for (halvexsim::Waypoint &w : store.waypoints)
            all.push_back(&w);
        for (halvexsim::Route &r : store.routes)
            for (halvexsim::Waypoint &w : r.waypoints)
                all.push_back(&w);
        HostArray<HostWaypoint> waypoints(all.size());
        for (size_t i = 0; i < all.size(); i++) {
            Fill(waypoints[i], {all[i]->ident, halvexsim::Degrees(all[i]->latitude),
                                halvexsim::Degrees(all[i]->longitude), all[i]->comment});
            all[i]->latitude = DegreesToSemicircles(waypoints[i].latitude);
            all[i]->longitude = DegreesToSemicircles(waypoints[i].longitude);
        }
        if (cell.kind == Kind::Waypoints)
            return HalvexUploadWayPtInit(session, &waypoints.array, &upload);
        HostArray<HostRoute> routes(store.routes.size());
        int first = 0;
        for (size_t r = 0; r < store.routes.size(); r++) {
            const halvexsim::Route &s = store.routes[r];
            int count = static_cast<int>(s.waypoints.size());
            routes[r] = {first, static_cast<int16_t>(count), static_cast<int16_t>(s.number), Bstr(s.comment),
                         Bstr(s.ident)};
            first += count;
        }
        return HalvexUploadRouteInit(session, &routes.array, &waypoints.array, &upload);
    }
    static bool SameStore(const Cell &cell, const Store &a, const Store &b)
    {
        if (cell.kind == Kind::Waypoints)
            return a.waypoints == b.waypoints;
        if (cell.kind == Kind::Tracks) {
            if (a.trackPoints.size() != b.trackPoints.size())
                return false;
            for (size_t i = 0; i < a.trackPoints.size(); i++) {
                const halvexsim::TrackPoint &p = a.trackPoints[i], &q = b.trackPoints[i];
                if (p.latitude != q.latitude || p.longitude != q.longitude || p.time != q.time || p.newTrack != q.newTrack)
                    return false;
            }
            return true;
        }
        if (a.routes.size() != b.routes.size())
            return false;
        for (size_t r = 0; r < a.routes.size(); r++)
            if (a.routes[r].number != b.routes[r].number || a.routes[r].comment != b.routes[r].comment ||
                a.routes[r].ident != b.routes[r].ident || a.routes[r].waypoints != b.routes[r].waypoints)
                return false;
        return true;
    }
    void ClearHeard()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.points.clear();
        heard.uploads.clear();
    }
    enum Outcome { Mismatch = -1, Failed = 0, Exact = 1 };
    // One download of what the receiver holds, or one upload of records
    // records, which the receiver then holds.
    Outcome Transfer(const Cell &cell, PortSession *session, bool isUpload, Store &held, int records)
    {
        ClearHeard();
        int before = Finals();
        Store sent = Sample(cell, records, 500);
        if ((isUpload ? StartUpload(cell, session, sent) : StartDownload(cell, session)) != 1) {
            ADD_FAILURE() << "the transfer was refused: error " << HalvexGetLastError();
            return Mismatch;
        }
        // Nothing here waits long: a stalled transfer fails within 12 s.
        if (!WaitUntil([&] { return Finals() == before + 1; }, 600000)) {
            ADD_FAILURE() << "no final callback";
            return Mismatch;
        }
        if (isUpload) {
            std::lock_guard<std::mutex> hold(heard.lock);
            if (heard.uploads.back().first != 0)
                return Failed;
        } else if (DownloadFailed(cell)) {
            return Failed;
        }
        if (!isUpload) {
            if (HostHolds(cell, held))
                return Exact;
            std::lock_guard<std::mutex> hold(heard.lock);
            ADD_FAILURE() << "a download reported as done gave other data: " << heard.waypoints.size()
                          << " waypoints, " << heard.routes.size() << " routes, " << heard.points.size()
                          << " track points";
            return Mismatch;
        }
        held = sent;
        return SameStore(cell, receiver->StoredData(), held) ? Exact : Mismatch;
    }
};

} // namespace transfers

#endif
