// A host of the library on a line to a receiver simulator in another
// process (a real driver in a qemu guest, a COM port under Wine): what its
// callbacks heard, and the steps every test takes (open, identify, move
// waypoints).
#ifndef HALVEX_TEST_LINE_SESSION_H
#define HALVEX_TEST_LINE_SESSION_H

#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "engine_fixture.h"
#include "halvex32.h"
#include "host.h"

namespace line {

struct Heard {
    std::mutex lock;
    int identified = -1; // the product callback's code
    int uploaded = -1;   // the upload callback's status
    bool nullArray = false;
    std::vector<Waypoint> waypoints;
    std::vector<std::pair<int, int>> port; // portCallback (code, value)
    std::vector<int> nmeaErrors; // the flags of each line error in NMEA mode
    int finals = 0;
    int finalsBeforeLost = -1;
    int32_t why = -1; // HalvexGetLastError() in the last final callback
};
inline Heard heard;

inline void Final()
{
    heard.why = HalvexGetLastError();
    heard.finals++;
}

inline void HALVEX_CALL OnProduct(int32_t code, int32_t, HostProductInfo *)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.identified = code;
    Final();
}

inline void HALVEX_CALL OnUpload(int32_t status, int32_t)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.uploaded = status;
    Final();
}

inline void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.nullArray = *array == nullptr;
    heard.waypoints = Read(*array);
    Final();
}

inline void HALVEX_CALL OnPort(int32_t code, int32_t value)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.port.emplace_back(code, value);
    if (code == HalvexPortLost)
        heard.finalsBeforeLost = heard.finals;
}

inline int16_t HALVEX_CALL OnNmea(int32_t code, int32_t value, BSTR *)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    if (code == HalvexNmeaLineError)
        heard.nmeaErrors.push_back(value);
    return -1;
}

// 200 waypoints of names as long as D108 keeps, in upper case as it keeps
// them, spread over the globe.
inline std::vector<Waypoint> ManyWaypoints()
{
    std::vector<Waypoint> out;
    for (int i = 0; i < 200; i++) {
        char ident[64];
        std::snprintf(ident, sizeof ident, "WAYPOINT %03d OF A LONG RUN ON A REAL LINE", i);
        out.push_back({ident, -89.5 + i * 0.895, -179.5 + i * 1.795, "comment " + std::to_string(i)});
    }
    return out;
}

class RealLine : public EngineRunning {
protected:
    void SetUp() override
    {
        EngineRunning::SetUp();
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.identified = heard.uploaded = -1;
        heard.finals = 0;
        heard.finalsBeforeLost = -1;
        heard.port.clear();
        heard.nmeaErrors.clear();
        heard.waypoints.clear();
    }
    void TearDown() override
    {
        if (session)
            CloseCommPort(session);
        EngineRunning::TearDown();
    }
    // Waits until done holds, read under the lock of what the callbacks
    // record (heard's, unless another).
    template <typename Predicate>
    static bool Hears(Predicate done, int milliseconds = 20000, std::mutex &lock = heard.lock)
    {
        return WaitUntil(
            [&] {
                std::lock_guard<std::mutex> hold(lock);
                return done();
            },
            milliseconds);
    }
    // Opens the device as a host that hears of line events, and identifies
    // the receiver on it.
    bool OpenAndIdentify(const std::string &device)
    {
        session = OpenCommPortEx(device.c_str(), 115200, &portCallback);
        if (!session)
            return false;
        HalvexProductCallback identified = OnProduct;
        return HalvexGetProductInfoInit(session, &identified) == 1 && Hears([] { return heard.finals == 1; }) &&
               heard.identified == HalvexProductIdentified;
    }
    bool Upload(const std::vector<Waypoint> &waypoints, int milliseconds = 20000)
    {
        HostArray<HostWaypoint> array(waypoints);
        int before = heard.finals;
        HalvexUploadCallback uploaded = OnUpload;
        return HalvexUploadWayPtInit(session, &array.array, &uploaded) == 1 &&
               Hears([&] { return heard.finals == before + 1; }, milliseconds) && heard.uploaded == HalvexTransferDone;
    }
    // Starts a download; true when its final callback came.
    bool Download(int milliseconds = 30000)
    {
        int before = heard.finals;
        HalvexWaypointCallback downloaded = OnWaypoints;
        return HalvexDownloadWayPtInit(session, &downloaded) == 1 &&
               Hears([&] { return heard.finals == before + 1; }, milliseconds);
    }
    static void ExpectSame(const std::vector<Waypoint> &got, const std::vector<Waypoint> &sent)
    {
        ASSERT_EQ(got.size(), sent.size());
        for (size_t i = 0; i < sent.size(); i++) {
            EXPECT_EQ(got[i].ident, sent[i].ident);
            EXPECT_EQ(got[i].comment, sent[i].comment);
            EXPECT_NEAR(got[i].latitude, sent[i].latitude, 1e-6) << sent[i].ident;
            EXPECT_NEAR(got[i].longitude, sent[i].longitude, 1e-6) << sent[i].ident;
        }
    }

    PortSession *session = nullptr;
    HalvexPortCallback portCallback = OnPort;
};

} // namespace line

#endif
