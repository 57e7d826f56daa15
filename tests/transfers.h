// The transfers' end-to-end fixture: a receiver of chosen data types,
// identified, and host callbacks that record what the library hands over.
#ifndef HALVEX_TEST_TRANSFERS_H
#define HALVEX_TEST_TRANSFERS_H

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <mutex>

#include "e2e.h"
#include "engine/enginelock.h"
#include "host.h"
#include "link/link.h"
#include "nmea/nmea.h"
#include "port/session.h"
#include "transfer/waypointtypes.h"

namespace transfers {

struct Heard {
    std::mutex lock;
    std::vector<std::pair<int, int>> uploads;
    int downloads = 0;
    bool nullArray = false;
    std::vector<Waypoint> waypoints;
    std::vector<HostRoute> routes; // strings replaced by the two below
    std::vector<std::string> routeComments, routeIdents;
    std::vector<std::pair<int, HostTrackPoint>> points;
    int stopAfter = 0; // track points to accept before returning 0
    int finals = 0;    // final callbacks of any transfer
    long long lastFinalMs = 0; // steady clock, as the simulator keeps it
    int finalsBeforeLineLost = -1; // when the host heard that the line was lost
    int32_t why = -1; // HalvexGetLastError() in the last final callback
};
inline Heard heard;

// This computer's UTC clock as an OLE Automation date.
inline double OleNow() { return 25569 + std::time(nullptr) / 86400.0; }

inline long long SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Called with heard.lock held.
inline void Final()
{
    heard.why = HalvexGetLastError();
    heard.finals++;
    heard.lastFinalMs = SteadyMs();
}

inline void HALVEX_CALL OnLine(int32_t code, int32_t value)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    if (code == 2 && value == 0)
        heard.finalsBeforeLineLost = heard.finals;
}

inline void HALVEX_CALL OnUpload(int32_t status, int32_t zero)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.uploads.emplace_back(status, zero);
    Final();
}

inline void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.downloads++;
    heard.nullArray = *array == nullptr;
    heard.waypoints = Read(*array);
    Final();
}

inline void HALVEX_CALL OnRoutes(int32_t status, int32_t value, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.downloads++;
    Final();
    heard.uploads.emplace_back(status, value);
    heard.nullArray = *routes == nullptr;
    heard.waypoints = Read(*waypoints);
    heard.routes.clear();
    heard.routeComments.clear();
    heard.routeIdents.clear();
    if (!*routes)
        return;
    auto *r = static_cast<HostRoute *>((*routes)->pvData);
    for (ULONG i = 0; i < (*routes)->rgsabound[0].cElements; i++) {
        heard.routes.push_back(r[i]);
        heard.routeComments.push_back(Text(r[i].comment));
        heard.routeIdents.push_back(Text(r[i].ident));
    }
}

inline int16_t HALVEX_CALL OnTrackPoint(int32_t, int32_t value, HostTrackPoint *point)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.points.emplace_back(value, *point);
    if (value == -1)
        Final();
    if (heard.stopAfter && static_cast<int>(heard.points.size()) >= heard.stopAfter)
        return 0;
    return -1;
}

inline void HALVEX_CALL OnProduct(int32_t, int32_t, HostProductInfo *) {}

// What a waypoint of this type comes back as: fixed types keep 6 upper-case
// characters and 40 of comment, padded; D105 and D106 the identifier alone;
// D108 to D110 the identifier upper-cased and 51 characters of comment.
inline Waypoint Normalised(int type, const Waypoint &w)
{
    auto upper = [](std::string text) {
        for (char &c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    auto fixed = [&](const std::string &text, size_t width) {
        std::string kept = upper(text.substr(0, width));
        return kept + std::string(width - kept.size(), ' ');
    };
    if (type == 105 || type == 106)
        return {w.ident, w.latitude, w.longitude, ""};
    if (type >= 108 && type <= 110)
        return {upper(w.ident), w.latitude, w.longitude, w.comment.substr(0, 51)};
    return {fixed(w.ident, 6), w.latitude, w.longitude, fixed(w.comment, 40)};
}

inline const std::vector<Waypoint> sample = {
    {"home", 51.477928, -0.001545, "the meridian"},
    {"Summit-Peak", -33.865143, 151.2099, "a comment that is rather longer than forty characters"},
    {"x", 89.999999, -179.999999, ""},
};

class Transfers : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.uploads.clear();
        heard.downloads = 0;
        heard.waypoints.clear();
        heard.points.clear();
        heard.stopAfter = 0;
        heard.finals = 0;
        heard.finalsBeforeLineLost = -1;
        heard.why = -1;
    }
    // Connects to a receiver of these types and identifies it.
    // Within the time given, which a faulty line may need.
    PortSession *Ready(halvexsim::Config config, int milliseconds = 3000, HalvexPortCallback *onLine = nullptr)
    {
        config.productId = 9000; // not in the table: the array names the types
        PortSession *session = Connect(config, 9600, onLine);
        HalvexProductCallback identified = OnProduct;
        EXPECT_EQ(HalvexGetProductInfoInit(session, &identified), 1);
        EXPECT_TRUE(WaitUntil([&] { return Objective(session) == ObjectiveReady; }, milliseconds));
        return session;
    }
    halvexsim::Config Types(int waypointType, int routeType = 201)
    {
        halvexsim::Config config;
        config.protocols = std::vector<halvexsim::ProtocolEntry>{
            {'P', 0},   {'L', 1},   {'A', 100}, {'D', static_cast<uint16_t>(waypointType)},
            {'A', 201}, {'D', static_cast<uint16_t>(routeType)}, {'A', 300}, {'D', 300}};
        return config;
    }
    int Objective(PortSession *session)
    {
        LockEngine();
        int objective = LinkObjective(session);
        UnlockEngine();
        return objective;
    }
    bool InNmea(PortSession *session)
    {
        LockEngine();
        bool nmea = NmeaOf(session) != nullptr;
        UnlockEngine();
        return nmea;
    }
    size_t Uploads()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.uploads.size();
    }
    size_t Points()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.points.size();
    }
    int Finals()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.finals;
    }
    int Downloads()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.downloads;
    }
    // A route download after an upload: the upload's report cleared, so
    // that heard.uploads holds the download's status alone.
    bool DownloadRoutes(PortSession *session)
    {
        {
            std::lock_guard<std::mutex> hold(heard.lock);
            heard.uploads.clear();
        }
        int before = Downloads();
        return HalvexDownloadRouteInit(session, &routeDownload) == 1 &&
               WaitUntil([&] { return Downloads() == before + 1; }, 5000);
    }
    // Uploads the sample waypoints; the receiver then holds them as its
    // waypoint type keeps them.
    void UploadSample(PortSession *session, int type)
    {
        HostArray<HostWaypoint> array(sample);
        ASSERT_EQ(HalvexUploadWayPtInit(session, &array.array, &upload), 1);
        ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
        EXPECT_EQ(heard.uploads[0], std::make_pair(0, 0));
        halvexsim::Store stored = receiver->StoredData();
        ASSERT_EQ(stored.waypoints.size(), sample.size());
        for (size_t i = 0; i < sample.size(); i++) {
            Waypoint expected = Normalised(type, sample[i]);
            EXPECT_EQ(stored.waypoints[i].ident, expected.ident);
            EXPECT_EQ(stored.waypoints[i].comment, expected.comment);
            EXPECT_EQ(stored.waypoints[i].latitude, DegreesToSemicircles(sample[i].latitude));
        }
    }
    HalvexUploadCallback upload = OnUpload;
    HalvexWaypointCallback waypointDownload = OnWaypoints;
    HalvexRouteCallback routeDownload = OnRoutes;
    HalvexTrackCallback trackDownload = OnTrackPoint;
    HalvexPortCallback onLine = OnLine;
};

} // namespace transfers

#endif
