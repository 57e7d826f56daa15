// Waypoint data types, route headers, track points and host strings, byte
// for byte, on the library's side and the simulator's.
#include <cmath>
#include <cstring>
#include <string>

#include "link/product.h"
#include "link_unit.h"
#include "records.h"
#include "transfer/marshal.h"
#include "host/strings.h"
#include "transfer/transfer.h"
#include "transfer/waypointtypes.h"
#include "waypoint_codec.h"

namespace {

TEST(WaypointTypes, D103ExampleOnBothSides)
{
    Bytes expected = {'A', 'B', 'C', ' ', ' ', ' ', 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0, 0, 0, 0, 0};
    expected.insert(expected.end(), 40, ' ');
    expected.insert(expected.end(), 2, 0);
    EXPECT_EQ(Encoded(103, Record("abc", 45.0, -90.0, "")), expected);

    halvexsim::Waypoint w{"abc", halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), ""};
    EXPECT_EQ(halvexsim::WaypointToWire(103, w), expected);
    halvexsim::Waypoint back = halvexsim::WaypointFromWire(103, expected);
    EXPECT_EQ(back.ident, "ABC   ");
    EXPECT_EQ(back.comment, std::string(40, ' '));
}

TEST(WaypointTypes, SemicirclesTruncateAndSurviveTheRoundTrip)
{
    EXPECT_EQ(DegreesToSemicircles(10.0), 119304647);
    EXPECT_EQ(DegreesToSemicircles(180.0), INT32_MIN);
    EXPECT_EQ(DegreesToSemicircles(-180.0), INT32_MIN);
    EXPECT_EQ(DegreesToSemicircles(NAN), 0);
    for (int32_t s : {0, 1, -1, 119304647, INT32_MAX, INT32_MIN, 536870912, -1073741823})
        EXPECT_EQ(DegreesToSemicircles(SemicirclesToDegrees(s)), s) << s;
    // Products just below a whole number, where x87 extended precision (a
    // 32-bit build without SSE2) would truncate one lower.
    EXPECT_EQ(DegreesToSemicircles(0x1.c1fffffffffffp-21), 10);
    EXPECT_EQ(DegreesToSemicircles(0x1.eefffffffffffp-21), 11);
    EXPECT_EQ(DegreesToSemicircles(0x1.c1fffffffffffp-22), 5);
}

TEST(WaypointTypes, StringTypesKeepTheIdentifierAsItStands)
{
    Bytes d105 = Encoded(105, Record("lowerCase", 1, 2, "dropped"));
    EXPECT_EQ(d105.size(), 22u);
    EXPECT_EQ(std::string(d105.begin() + 12, d105.end() - 1), "lowerCase");
    EXPECT_EQ(d105.back(), 0);
    Bytes d106 = Encoded(106, Record("", 1, 2, ""));
    EXPECT_EQ(d106.size(), 28u);
    EXPECT_EQ(d106[26], 0);
    EXPECT_EQ(d106[27], 0);
    EXPECT_EQ(std::string(d106.begin() + 1, d106.begin() + 14), std::string(13, ' '));
    std::string longIdent(300, 'x');
    EXPECT_EQ(Encoded(105, Record(longIdent.c_str(), 0, 0, "")).size(), 13u + 51u) << "cut to the record's field";
    for (int type : {105, 106}) {
        halvexsim::Waypoint w{"lowerCase", 5, 6, ""};
        EXPECT_EQ(halvexsim::WaypointToWire(type, w), Encoded(type, Record("lowerCase", SemicirclesToDegrees(5),
                                                                          SemicirclesToDegrees(6), "")));
    }
}

TEST(WaypointTypes, EveryTypeMatchesTheSimulatorByteForByte)
{
    WaypointRecord record = Record("wp-1\t", 47.25, -122.5, "a comment of more than forty characters, cut");
    halvexsim::Waypoint w{"wp-1\t", DegreesToSemicircles(47.25), DegreesToSemicircles(-122.5),
                          "a comment of more than forty characters, cut"};
    for (int type : {100, 102, 103, 104, 105, 106, 107, 150, 151, 152, 154, 155})
        EXPECT_EQ(Encoded(type, record), halvexsim::WaypointToWire(type, w)) << "D" << type;
    Bytes d150 = Encoded(150, record);
    EXPECT_EQ(d150.size(), 117u);
    EXPECT_EQ(ReadField<int32_t>(d150.data(), 117, 9), DegreesToSemicircles(47.25));
    EXPECT_EQ(std::string(d150.begin(), d150.begin() + 6), "WP-1  ");
    EXPECT_EQ(Encoded(101, record).size(), 0u) << "no encoder";
}

class Decoding : public LinkUnit {
protected:
    void UseType(int type)
    {
        Link()->product.caps = static_cast<ProtocolCaps *>(calloc(1, sizeof(ProtocolCaps)));
        for (int16_t &slot : Link()->product.caps->protocolSlots)
            slot = -1;
        Link()->product.caps->protocolSlots[SlotWaypointType] = static_cast<int16_t>(type);
        Link()->product.caps->protocolSlots[SlotRouteHeaderType] = static_cast<int16_t>(routeType);
    }
    int routeType = 201;
};

TEST_F(Decoding, EachLayoutIsReadFromItsOwnOffsets)
{
    WaypointRecord sent = Record("abc", 45.0, -90.0, "north gate");
    for (int type : {100, 102, 103, 104, 107, 150, 151, 152, 154, 155}) {
        UseType(type);
        Bytes data = Encoded(type, sent);
        WaypointRecord got{};
        DecodeWaypoint(ReceiverCaps(session), data.data(), static_cast<int>(data.size()), &got);
        EXPECT_STREQ(got.ident, "ABC   ") << type;
        EXPECT_EQ(got.latitude, 45.0);
        EXPECT_EQ(got.longitude, -90.0);
        EXPECT_EQ(std::string(got.comment), "NORTH GATE" + std::string(30, ' '));
        free(Link()->product.caps);
        Link()->product.caps = nullptr;
    }
}

TEST_F(Decoding, ShortOrUnknownPacketsAreNeverReadPast)
{
    UseType(103);
    Bytes data = Encoded(103, Record("abc", 45.0, -90.0, "x"));
    WaypointRecord got{};
    DecodeWaypoint(ReceiverCaps(session), data.data(), 8, &got); // the sanitizer watches the rest
    EXPECT_STREQ(got.ident, "ABC   ");
    EXPECT_EQ(got.longitude, 0.0);
    EXPECT_STREQ(got.comment, "");
    free(Link()->product.caps);
    UseType(106);
    Bytes longName(26, 0);
    longName.insert(longName.end(), 60, 'n'); // no NUL before the end
    DecodeWaypoint(ReceiverCaps(session), longName.data(), static_cast<int>(longName.size()), &got);
    EXPECT_EQ(std::strlen(got.ident), 51u);
    free(Link()->product.caps);
    UseType(101);
    WaypointRecord untouched{};
    DecodeWaypoint(ReceiverCaps(session), data.data(), static_cast<int>(data.size()), &untouched);
    EXPECT_STREQ(untouched.ident, "");
}

// The data of the frame that the session last sent, DLE doubling undone.
Bytes SentData(const PortSession *session)
{
    Bytes out;
    const PendingFrame &sent = LinkOf(session)->pending;
    const unsigned char *f = sent.frame;
    for (int i = 1; i < sent.length - 2; i++) {
        out.push_back(f[i]);
        if (f[i] == 0x10)
            i++;
    }
    return Bytes(out.begin() + 2, out.end() - 1); // past id and size, before the checksum
}

TEST_F(Decoding, RouteHeadersInEachType)
{
    RouteRecord route{};
    route.number = 258;
    CopyText(route.comment, sizeof route.comment, "north loop");
    routeType = 201;
    UseType(103);
    ASSERT_EQ(EncodeRouteHeader(session, &route), 1);
    Bytes expected = {2};
    std::string text = "NORTH LOOP" + std::string(10, ' ');
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(SentData(session), expected);
    halvexsim::Route simRoute;
    simRoute.number = 258;
    simRoute.comment = "north loop";
    EXPECT_EQ(halvexsim::RouteHeaderToWire(201, simRoute), expected);

    free(Link()->product.caps);
    routeType = 202;
    UseType(103);
    route = RouteRecord{};
    route.number = 3;
    EncodeRouteHeader(session, &route);
    Bytes route3 = {'R', 'o', 'u', 't', 'e', ' ', '3', 0};
    EXPECT_EQ(SentData(session), route3);
    std::string longIdent(300, 'i');
    CopyText(route.ident, sizeof route.ident, longIdent.c_str());
    EncodeRouteHeader(session, &route);
    EXPECT_EQ(SentData(session).size(), 255u) << "254 characters and the NUL";
    RouteRecord back;
    Bytes sent = SentData(session);
    DecodeRouteHeader(ReceiverCaps(session), sent.data(), static_cast<int>(sent.size()), &back);
    EXPECT_EQ(std::strlen(back.ident), 254u);
    EXPECT_EQ(back.number, 0);

    free(Link()->product.caps);
    routeType = 200;
    UseType(103);
    Bytes one = {7};
    DecodeRouteHeader(ReceiverCaps(session), one.data(), 1, &back);
    EXPECT_EQ(back.number, 7);
    EXPECT_STREQ(back.comment, "");
    routeType = 299;
    free(Link()->product.caps);
    UseType(103);
    EXPECT_EQ(EncodeRouteHeader(session, &route), 0) << "an unknown header type sends nothing";
}

TEST_F(Decoding, ARouteWaypointBeforeAnyHeaderIsIgnored)
{
    UseType(103);
    auto *list = static_cast<RouteList *>(calloc(1, sizeof(RouteList)));
    TransferState work{};
    work.records.routes = list;
    work.recordsAnnounced = -1;
    Link()->objective = ObjectiveRouteDownload;
    Link()->transfer = &work;
    Bytes waypoint = Encoded(103, Record("abc", 1, 2, ""));
    RouteDownloadStep(session, &work, 30 + 4, waypoint.data(), static_cast<int>(waypoint.size()));
    EXPECT_EQ(list->routeCount, 0);
    EXPECT_EQ(list->totalWaypoints, 0);
    Bytes header = {9};
    RouteDownloadStep(session, &work, 29 + 4, header.data(), 1);
    RouteDownloadStep(session, &work, 30 + 4, waypoint.data(), static_cast<int>(waypoint.size()));
    ASSERT_EQ(list->routeCount, 1);
    EXPECT_EQ(list->routes[0].number, 9);
    EXPECT_EQ(list->routes[0].waypointCount, 1);
    EXPECT_EQ(list->totalWaypoints, 1);
    /* The download was never started, so the record is the test's to free. */
    Link()->transfer = nullptr;
    DisarmTimer(&work.stallTimer);
    FreeRouteList(list);
}

TEST(TrackPoints, TimesFromTheEpochOfTheTrackLog)
{
    Bytes data(16, 0);
    TrackPointRecord point;
    DecodeTrackPoint(300, data.data(), 16, &point);
    EXPECT_EQ(point.time, 32875.0);
    WriteField<int32_t>(data.data() + 8, 43200);
    data[12] = 2;
    DecodeTrackPoint(300, data.data(), 16, &point);
    EXPECT_EQ(point.time, 32875.5);
    EXPECT_EQ(point.newTrack, 2);

    TrackPointRecord out = TrackPoint(32875.5, 45.0, 0, 1);
    unsigned char wire[25];
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), 43200);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 0), 536870912);
    EXPECT_EQ(wire[12], 1);
    out.time = 32875.5 + 2 / 86400.0; // not exactly 43202 seconds in a double
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), 43202);
    out.time = 32875.5 + 0.75 / 86400.0; // a real fraction is still cut
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), 43200);
    out.time = 32875.0 + 43200.9996 / 86400.0; // even one close to the next second
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), 43200);
    out.time = 32875.0 - 0.9996 / 86400.0; // toward zero, also before the epoch
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), 0);
    out.time = 32874.0; // a day before the epoch: -86400, sent as its low 32 bits
    EncodeTrackPointData(300, &out, wire);
    EXPECT_EQ(ReadField<int32_t>(wire, 16, 8), -86400);
    halvexsim::TrackPoint simPoint{536870912, 0, static_cast<uint32_t>(-86400), true};
    EXPECT_EQ(halvexsim::TrackPointToWire(simPoint), Bytes(wire, wire + 16));
}

TEST(HostStrings, BstrsAndDeviceText)
{
    BSTR b = nullptr;
    BstrFromText(&b, "caf\xE9");
    EXPECT_EQ(SysStringLen(b), 4u);
    EXPECT_EQ(b[3], 0xFFE9);
    char *text = TextFromBstr(b);
    EXPECT_STREQ(text, "caf\xE9");
    free(text);
    BstrFromText(&b, ""); // the old string is freed first
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 0u);
    SysFreeString(b);

    BSTR odd = SysAllocStringByteLen("abcdefg", 7);
    char *bytes;
    EXPECT_EQ(BytesFromBstr(odd, &bytes), 7);
    EXPECT_STREQ(bytes, "abcdefg");
    free(bytes);
    text = TextFromBstr(odd);
    EXPECT_EQ(std::strlen(text), 3u);
    free(text);
    SysFreeString(odd);
    EXPECT_EQ(BytesFromBstr(nullptr, &bytes), 0);
    EXPECT_EQ(bytes, nullptr);

    char field[7] = {};
    PadDeviceText(field, "wp-1", 6);
    EXPECT_STREQ(field, "WP-1  ");
    PadDeviceText(field, "a\tb\x80", 6);
    EXPECT_STREQ(field, "A B   ");
    PadDeviceText(field, "toolongname", 6);
    EXPECT_STREQ(field, "TOOLON");
}

TEST(HostArrays, RouteArraysNameTheirWaypointRuns)
{
    RouteRecord routes[3] = {};
    WaypointRecord two[2] = {Record("a", 1, 1, ""), Record("b", 2, 2, "")};
    WaypointRecord three[3] = {Record("c", 3, 3, ""), Record("d", 4, 4, ""), Record("e", 5, 5, "")};
    routes[0].waypointCount = 2;
    routes[0].waypoints = two;
    routes[2].waypointCount = 3;
    routes[2].waypoints = three;
    RouteList list{3, 5, routes};
    SAFEARRAY *routeArray = nullptr, *waypointArray = nullptr;
    BuildRouteArrays(&routeArray, &waypointArray, &list, &ClassicWaypoints, 0);
    ASSERT_NE(routeArray, nullptr);
    EXPECT_EQ(routeArray->cbElements, sizeof(HostRoute));
    EXPECT_EQ(waypointArray->rgsabound[0].cElements, 5u);
    auto *r = static_cast<HostRoute *>(routeArray->pvData);
    EXPECT_EQ(r[0].firstWaypoint, 0);
    EXPECT_EQ(r[1].firstWaypoint, 2);
    EXPECT_EQ(r[1].waypointCount, 0);
    EXPECT_EQ(r[2].firstWaypoint, 2);
    auto *w = static_cast<HostWaypoint *>(waypointArray->pvData);
    EXPECT_EQ(w[4].latitude, 5);
    FreeRouteArray(&routeArray);
    FreeWaypointArray(&waypointArray, &ClassicWaypoints);
    EXPECT_EQ(routeArray, nullptr);

    RouteList empty{0, 0, nullptr};
    BuildRouteArrays(&routeArray, &waypointArray, &empty, &ClassicWaypoints, 0);
    ASSERT_NE(routeArray, nullptr);
    EXPECT_EQ(routeArray->rgsabound[0].cElements, 0u);
    EXPECT_EQ(waypointArray->rgsabound[0].cElements, 0u);
    FreeRouteArray(&routeArray);
    FreeWaypointArray(&waypointArray, &ClassicWaypoints);
}

TEST(HostArrays, UnreadableArraysAreRefused)
{
    SAFEARRAY *array = nullptr;
    void *data;
    uint32_t count;
    EXPECT_TRUE(HostArrayElements(&array, 24, &data, &count)) << "a null array is empty";
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(HostArrayElements(nullptr, 24, &data, &count));
    ASSERT_EQ(SafeArrayAllocDescriptor(1, &array), S_OK);
    array->rgsabound[0].cElements = 3; // counted, but no data
    EXPECT_FALSE(HostArrayElements(&array, 24, &data, &count));
    int dummy;
    array->pvData = &dummy;
    array->rgsabound[0].cElements = 0xFFFFFFFF;
    EXPECT_FALSE(HostArrayElements(&array, 24, &data, &count));
    array->pvData = nullptr;
    SafeArrayDestroyDescriptor(array);
}

} // namespace
