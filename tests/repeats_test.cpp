// Frames the receiver sends again when our ACK is lost, and ACKs that settle
// nothing: fed to the link layer byte for byte, as the line delivers them.
#include <cmath>

#include "link/product.h"
#include "link_unit.h"
#include "transfer/transfer.h"
#include "transfer/waypointtypes.h"
#include "wire.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::vector<std::string> idents;      // waypoints handed over, in order
std::vector<std::pair<int, int>> runs; // each route's first waypoint and count
std::vector<double> latitudes;         // track points handed over; NaN for the end call

void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    if (!*array) {
        idents.push_back("(failed " + std::to_string(HalvexGetLastError()) + ")");
        return;
    }
    auto *elements = static_cast<HostWaypoint *>((*array)->pvData);
    for (ULONG i = 0; i < (*array)->rgsabound[0].cElements; i++)
        idents.push_back(std::string(elements[i].ident, elements[i].ident + SysStringLen(elements[i].ident)));
}

void HALVEX_CALL OnRoutes(int32_t, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    OnWaypoints(0, 0, waypoints);
    auto *elements = static_cast<HostRoute *>((*routes)->pvData);
    for (ULONG i = 0; i < (*routes)->rgsabound[0].cElements; i++)
        runs.emplace_back(elements[i].firstWaypoint, elements[i].waypointCount);
}

int16_t HALVEX_CALL OnPoint(int32_t, int32_t value, HostTrackPoint *point)
{
    latitudes.push_back(value == -1 ? NAN : point->latitude);
    return -1;
}

void HALVEX_CALL OnUpload(int32_t, int32_t) {}

class Repeats : public LinkUnit {
protected:
    void SetUp() override
    {
        LinkUnit::SetUp();
        idents.clear();
        runs.clear();
        latitudes.clear();
        Link()->product.caps = static_cast<ProtocolCaps *>(calloc(1, sizeof(ProtocolCaps)));
        for (int16_t &slot : Link()->product.caps->protocolSlots)
            slot = -1;
        Link()->product.caps->protocolSlots[SlotWaypointType] = 105; // the identifier alone
        Link()->product.caps->protocolSlots[SlotRouteHeaderType] = 200;
    }
    void Send(int id, const Bytes &data) { Feed(halvexsim::EncodePacket(static_cast<uint8_t>(id), data)); }
    void Records(int count) { Send(27, {static_cast<unsigned char>(count), 0}); }
    void Waypoint(int id, const std::string &ident)
    {
        Bytes data(12, 0); // D105: position, symbol, then the identifier
        for (char c : ident + '\0')
            data.push_back(static_cast<unsigned char>(c));
        Send(id, data);
    }
    void Point(unsigned char semicircles) { Send(34, {semicircles, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}); }
    void Done(int command) { Send(12, {static_cast<unsigned char>(command), 0}); }
    // Starts with the export and acknowledges the command, as the receiver does.
    template <typename Callback>
    void StartDownload(int32_t(HALVEX_CALL *start)(PortSession *, Callback *), Callback callback)
    {
        static Callback slot;
        slot = callback;
        ASSERT_EQ(start(session, &slot), 1);
        Send(6, {10, 0});
    }
    uint8_t Pending() { return Link()->pending.frame ? Link()->pending.frame[1] : 0; }
};

TEST_F(Repeats, AWaypointSentAgainIsTakenOnceUnlessTheCountSaysOtherwise)
{
    StartDownload(HalvexDownloadWayPtInit, &OnWaypoints);
    Records(3);
    Waypoint(35, "A");
    Waypoint(35, "A"); // our ACK was lost
    Waypoint(35, "B");
    Send(6, {10, 0}); // an ACK between a record and its repeat: not a record
    Waypoint(35, "B");
    Waypoint(35, "C");
    Done(7);
    EXPECT_EQ(idents, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(Count("Records announced"), 0);

    idents.clear();
    StartDownload(HalvexDownloadWayPtInit, &OnWaypoints);
    Records(3);
    Waypoint(35, "A");
    Waypoint(35, "A"); // the receiver really holds two
    Waypoint(35, "B");
    Done(7);
    EXPECT_EQ(idents, (std::vector<std::string>{"A", "A", "B"}));

    idents.clear();
    StartDownload(HalvexDownloadWayPtInit, &OnWaypoints);
    Records(4);
    Waypoint(35, "A");
    Records(4); // a repeat of the count changes nothing
    Waypoint(35, "B");
    Waypoint(35, "B");
    Done(7);
    EXPECT_EQ(idents, (std::vector<std::string>{"(failed " + std::to_string(HalvexErrorRecordsMissing) + ")"}))
        << "a record went missing on the line, and the host is told so";
    EXPECT_EQ(Count("Records announced 4, received 3\n"), 1);
}

// Our ACK of a download's transfer complete was lost: the receiver sends it
// again while the next download, of the same kind, waits for its records.
TEST_F(Repeats, ATransferCompleteLeftOverFromTheLastDownloadEndsNothing)
{
    StartDownload(HalvexDownloadWayPtInit, &OnWaypoints);
    Records(1);
    Waypoint(35, "A");
    Done(7);
    StartDownload(HalvexDownloadWayPtInit, &OnWaypoints);
    Done(7); // the old one, sent again
    EXPECT_EQ(idents, (std::vector<std::string>{"A"})) << "no empty download reported as done";
    EXPECT_EQ(Count("Xfer complete before the records count ignored\n"), 1);
    Records(1);
    Waypoint(35, "B");
    Done(7);
    EXPECT_EQ(idents, (std::vector<std::string>{"A", "B"}));
}

// Links between route waypoints and track headers count as records, and
// one sent again is taken once.
TEST_F(Repeats, LinksAndTrackHeadersSentAgainAreCountedOnce)
{
    Link()->product.caps->routeLinkType = 210;
    StartDownload(HalvexDownloadRouteInit, &OnRoutes);
    Records(4);
    Send(29, {7});
    Waypoint(30, "A");
    Send(98, {3, 0});
    Send(98, {3, 0}); // our ACK was lost
    Waypoint(30, "B");
    Done(4);
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(Count("Records announced"), 0);

    Link()->product.caps->trackHeaderType = 310;
    StartDownload(HalvexDownloadTrackInit, &OnPoint);
    Records(3);
    Send(99, {1, 0xFF, 'T', 0});
    Send(99, {1, 0xFF, 'T', 0});
    Point(1);
    Point(2);
    Done(6);
    ASSERT_EQ(latitudes.size(), 3u);
    EXPECT_TRUE(std::isnan(latitudes[2]));
    EXPECT_EQ(Count("Track download request failed"), 0);
}

TEST_F(Repeats, ARouteHeaderSentAgainKeepsItsWaypointsWithTheRouteItRepeats)
{
    StartDownload(HalvexDownloadRouteInit, &OnRoutes);
    Records(3);
    Send(29, {7});
    Send(29, {7});
    Waypoint(30, "A");
    Waypoint(30, "B");
    Waypoint(30, "B");
    Done(4);
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(idents, (std::vector<std::string>{"A", "B"}));

    idents.clear();
    runs.clear();
    StartDownload(HalvexDownloadRouteInit, &OnRoutes);
    Records(4); // two routes of the same number, the first one empty
    Send(29, {7});
    Send(29, {7});
    Waypoint(30, "A");
    Waypoint(30, "B");
    Done(4);
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{0, 0}, {0, 2}}));
}

TEST_F(Repeats, TrackPointsSentAgainAreHeldBackUntilTheCountDecides)
{
    StartDownload(HalvexDownloadTrackInit, &OnPoint);
    Records(3);
    Point(1);
    Point(1);
    Point(2);
    Point(3);
    Point(3);
    Done(6);
    ASSERT_EQ(latitudes.size(), 4u);
    EXPECT_TRUE(std::isnan(latitudes[3])) << "then the end call";
    EXPECT_EQ(latitudes[2], SemicirclesToDegrees(3));

    latitudes.clear();
    StartDownload(HalvexDownloadTrackInit, &OnPoint);
    Records(3);
    Point(1);
    Point(2);
    Point(2); // the last point twice, as the count says
    Done(6);
    ASSERT_EQ(latitudes.size(), 4u);
    EXPECT_EQ(latitudes[2], SemicirclesToDegrees(2));
}

TEST_F(Repeats, AnAckSettlesOnlyTheFrameThatWaitsForIt)
{
    Send(6, {35, 0});
    EXPECT_EQ(Count("Ack ignored: no frame awaits one\n"), 1);

    HostWaypoint elements[2] = {};
    SAFEARRAY array = {};
    array.cDims = 1;
    array.cbElements = sizeof(HostWaypoint);
    array.pvData = elements;
    array.rgsabound[0].cElements = 2;
    SAFEARRAY *handle = &array;
    HalvexUploadCallback callback = OnUpload;
    ASSERT_EQ(HalvexUploadWayPtInit(session, &handle, &callback), 1);
    ASSERT_EQ(Pending(), 27);
    Send(6, {35, 0}); // names another packet
    EXPECT_EQ(Pending(), 27) << "the records packet still waits";
    EXPECT_EQ(RunningTransfer(session)->step, 1);
    Send(6, {}); // names none: taken as the waiting frame's
    EXPECT_EQ(Pending(), 35);
    Send(6, {27, 0}); // the earlier packet's, late
    EXPECT_EQ(Pending(), 35);
    EXPECT_EQ(RunningTransfer(session)->step, 2);
    EXPECT_EQ(Count("Ack of packet 27 ignored: packet 35 awaits one\n"), 1);
    Send(6, {35, 0});
    EXPECT_EQ(RunningTransfer(session)->step, 3);
}

} // namespace
