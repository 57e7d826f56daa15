// The data types of later receivers byte for byte: D108, D109 and D110
// waypoints, D210 route links, D301 and D302 track points, D310 and D311
// track headers, on the library's side and the simulator's.
#include <cstring>
#include <string>

#include "link/product.h"
#include "link_unit.h"
#include "records.h"
#include "transfer/records.h"
#include "transfer/transfer.h"
#include "transfer/waypointtypes.h"
#include "waypoint_codec.h"

namespace {

const Bytes kNotSet = {0x51, 0x59, 0x04, 0x69}; // 1.0e25f, little-endian
const Bytes kSubclass = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()) + Bytes{0}; }

WaypointRecord Decoded(int type, const Bytes &data, int length = -1)
{
    ProtocolCaps caps{};
    caps.protocolSlots[SlotWaypointType] = static_cast<int16_t>(type);
    WaypointRecord record{};
    DecodeWaypoint(&caps, data.data(), length < 0 ? static_cast<int>(data.size()) : length, &record);
    return record;
}

// 45 degrees north, 90 west; unknown altitude, depth and proximity; no state
// or country.
const Bytes kPosition = Bytes{0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0} + kNotSet + kNotSet + kNotSet +
                        Bytes{' ', ' ', ' ', ' '};
const Bytes kStrings = Text("ABC") + Text("Lower case kept") + Bytes{0, 0, 0, 0};

TEST(StringWaypoints, EachTypeOnBothSides)
{
    const Bytes none = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::vector<std::pair<int, Bytes>> vectors = {
        {108, Bytes{0x00, 0xFF, 0x00, 0x60, 18, 0} + kSubclass + kPosition + kStrings},
        {109, Bytes{0x01, 0x00, 0x1F, 0x70, 18, 0} + kSubclass + kPosition + none + kStrings},
        {110, Bytes{0x01, 0x00, 0x1F, 0x80, 18, 0} + kSubclass + kPosition + none + kNotSet + none + Bytes{0, 0} +
                  kStrings},
    };
    for (const auto &[type, expected] : vectors) {
        SCOPED_TRACE(type);
        EXPECT_EQ(expected.size(), (type == 108 ? 48u : type == 109 ? 52u : 62u) + kStrings.size());
        EXPECT_EQ(Encoded(type, Record("abc", 45.0, -90.0, "Lower case kept")), expected);
        halvexsim::Waypoint w{"ABC", halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), "Lower case kept"};
        EXPECT_EQ(halvexsim::WaypointToWire(type, w), expected);

        WaypointRecord back = Decoded(type, expected);
        EXPECT_STREQ(back.ident, "ABC");
        EXPECT_STREQ(back.comment, "Lower case kept");
        EXPECT_EQ(back.latitude, 45.0);
        EXPECT_EQ(back.longitude, -90.0);
        EXPECT_TRUE(halvexsim::WaypointFromWire(type, expected) == w);
    }
}

TEST(StringWaypoints, StringsAtTheirLimitsAndPacketsThatEndInsideThem)
{
    std::string comment(127, 'c');
    Bytes sent = Encoded(108, Record("x", 0, 0, comment.c_str()));
    EXPECT_EQ(sent, Encoded(108, Record("x", 0, 0, comment.substr(0, 51).c_str()))) << "comments are cut to 51";
    EXPECT_EQ(sent.size(), 48u + 2 + 52 + 4);

    // A receiver's 51-character ident fills the record's field and no more.
    Bytes head = Encoded(109, Record("", 0, 0, ""));
    head.resize(52);
    Bytes received = head + Text(std::string(51, 'I')) + Text("note") + Bytes{0, 0, 0, 0};
    WaypointRecord record = Decoded(109, received);
    EXPECT_EQ(std::string(record.ident), std::string(sizeof record.ident - 1, 'I'));
    EXPECT_STREQ(record.comment, "note");

    // Cut inside the ident, inside the comment, and before the strings.
    record = Decoded(109, received, 52 + 10);
    EXPECT_EQ(std::string(record.ident), std::string(10, 'I'));
    EXPECT_STREQ(record.comment, "");
    record = Decoded(109, received, 52 + 52 + 2);
    EXPECT_STREQ(record.comment, "no");
    record = Decoded(109, received, 20);
    EXPECT_STREQ(record.ident, "");
    EXPECT_EQ(record.latitude, 0.0) << "the position lies past the end";
}

TEST(RouteLinksAndTracks, LinkPointAndHeaderVectors)
{
    EXPECT_EQ(halvexsim::RouteLinkToWire(210), (Bytes{3, 0} + kSubclass + Bytes{0}));

    TrackPointRecord point = TrackPoint(32875.5, 45.0, -90.0, 1);
    const Bytes position = {0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0, 0xC0, 0xA8, 0x00, 0x00};
    const std::vector<std::pair<int, Bytes>> points = {
        {301, position + kNotSet + kNotSet + Bytes{1}},
        {302, position + kNotSet + kNotSet + kNotSet + Bytes{1}},
    };
    halvexsim::TrackPoint simPoint{halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), 43200, true};
    for (const auto &[type, expected] : points) {
        SCOPED_TRACE(type);
        unsigned char wire[25];
        ASSERT_EQ(EncodeTrackPointData(type, &point, wire), static_cast<int>(expected.size()));
        EXPECT_EQ(Bytes(wire, wire + expected.size()), expected);
        EXPECT_EQ(halvexsim::TrackPointToWire(simPoint, type), expected);
        TrackPointRecord back;
        DecodeTrackPoint(type, expected.data(), static_cast<int>(expected.size()), &back);
        EXPECT_EQ(back.time, 32875.5);
        EXPECT_EQ(back.newTrack, 1);
        DecodeTrackPoint(type, expected.data(), static_cast<int>(expected.size()) - 1, &back);
        EXPECT_EQ(back.newTrack, 0) << "a point cut before its flag";
    }

    unsigned char header[64];
    ASSERT_EQ(EncodeTrackHeaderData(310, 1, nullptr, header), 11);
    EXPECT_EQ(Bytes(header, header + 11), (Bytes{1, 0xFF} + Text("TRACK 01")));
    ASSERT_EQ(EncodeTrackHeaderData(311, 2, nullptr, header), 2);
    EXPECT_EQ(Bytes(header, header + 2), (Bytes{2, 0}));
    EXPECT_EQ(EncodeTrackHeaderData(399, 1, nullptr, header), 0);
}

} // namespace

namespace {

// Every field of D110 set, on both sides: the bytes a receiver gets, and
// the record it gives back.
TEST(ExtendedFields, EveryD110FieldByteForByte)
{
    WaypointRecord record = Record("cache", 45.0, -90.0, "note");
    record.set = HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsProximity | HalvexHoldsTime |
                 HalvexHoldsTemperature | HalvexHoldsSymbol | HalvexHoldsDisplay | HalvexHoldsColour |
                 HalvexHoldsCategory | HalvexHoldsClass;
    record.altitude = 2.0;
    record.depth = -1.0;
    record.proximity = 0.5;
    record.temperature = 4.0;
    record.time = 32873.0 + 1.0; // one day after the receiver's epoch
    record.symbol = 8255;
    record.display = 2;
    record.colour = 5;
    record.category = 0x0102;
    record.wptClass = 0;
    CopyText(record.city, sizeof record.city, "Bern");
    const Bytes expected = Bytes{0x01, 0x00, 5 | 2 << 5, 0x80, 0x3F, 0x20} + kSubclass +
                           Bytes{0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0} + // 45 N, 90 W
                           Bytes{0x00, 0x00, 0x00, 0x40} + Bytes{0x00, 0x00, 0x80, 0xBF} + // 2.0, -1.0
                           Bytes{0x00, 0x00, 0x00, 0x3F} + Bytes{' ', ' ', ' ', ' '} +     // 0.5
                           Bytes{0xFF, 0xFF, 0xFF, 0xFF} + Bytes{0x00, 0x00, 0x80, 0x40} + // no link time, 4.0
                           Bytes{0x80, 0x51, 0x01, 0x00} + Bytes{0x02, 0x01} +            // 86400 s, category
                           Text("CACHE") + Text("note") + Text("") + Text("Bern") + Text("") + Text("");
    EXPECT_EQ(Encoded(110, record), expected);
    halvexsim::Waypoint w{"CACHE", halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), "note"};
    w.symbol = 8255;
    w.display = 2;
    w.colour = 5;
    w.altitude = 2.0f;
    w.depth = -1.0f;
    w.proximity = 0.5f;
    w.temperature = 4.0f;
    w.time = 86400;
    w.category = 0x0102;
    w.city = "Bern";
    EXPECT_EQ(halvexsim::WaypointToWire(110, w), expected);
    EXPECT_EQ(halvexsim::WaypointFromWire(110, expected), w);

    WaypointRecord back = Decoded(110, expected);
    EXPECT_EQ(back.set, record.set | 0);
    EXPECT_EQ(back.symbol, 8255);
    EXPECT_EQ(back.display, 2);
    EXPECT_EQ(back.colour, 5);
    EXPECT_EQ(back.category, 0x0102);
    EXPECT_EQ(back.altitude, 2.0);
    EXPECT_EQ(back.depth, -1.0);
    EXPECT_EQ(back.time, 32874.0);
    EXPECT_STREQ(back.city, "Bern");
}

// What a receiver leaves unset (1.0e25, a time of all ones) is not given,
// never a value; a type without a field leaves its bit clear.
TEST(ExtendedFields, UnsetFieldsAreNotGiven)
{
    const Bytes d110 = Encoded(110, Record("a", 1, 1, ""));
    WaypointRecord back = Decoded(110, d110);
    EXPECT_EQ(back.set, HalvexHoldsSymbol | HalvexHoldsDisplay | HalvexHoldsColour | HalvexHoldsClass |
                            HalvexHoldsCategory)
        << "altitude, depth, proximity, temperature and time were 'not set'";
    EXPECT_EQ(back.symbol, 18) << "the default symbol is a value the receiver holds";

    // D103's symbol and display sit after its comment; the classic exports send zeros.
    Bytes d103 = Encoded(103, Record("a", 1, 1, ""));
    ASSERT_EQ(d103.size(), 60u);
    EXPECT_EQ(d103[58], 0);
    EXPECT_EQ(d103[59], 0);
    d103[58] = 8;
    d103[59] = 1;
    back = Decoded(103, d103);
    EXPECT_EQ(back.set, HalvexHoldsSymbol | HalvexHoldsDisplay);
    EXPECT_EQ(back.symbol, 8);
    EXPECT_EQ(Decoded(103, d103, 58).set, 0) << "a packet that ends before them gives none";
}

// Six strings of their greatest widths would pass 255 bytes: the packet is
// cut to fit, never written past.
TEST(ExtendedFields, APacketOfLongStringsStaysWithinItsBytes)
{
    WaypointRecord record = Record(std::string(51, 'I').c_str(), 1, 1, std::string(51, 'c').c_str());
    for (auto [field, size] : {std::pair{record.facility, sizeof record.facility}, {record.city, sizeof record.city},
                               {record.address, sizeof record.address}, {record.crossRoad, sizeof record.crossRoad}})
        CopyText(field, size, std::string(size - 1, 'x').c_str());
    Bytes packet = Encoded(110, record);
    EXPECT_EQ(packet.size(), 255u);
    EXPECT_EQ(packet.back(), 0) << "the last string still ends";
    WaypointRecord back = Decoded(110, packet);
    EXPECT_EQ(std::string(back.ident), std::string(51, 'I'));
    EXPECT_EQ(std::string(back.facility), std::string(31, 'x'));
}

// Track points and headers: altitude, depth, temperature and the track's
// name on both sides.
TEST(ExtendedFields, TrackPointMeasuresAndNamedHeaders)
{
    TrackPointRecord point = TrackPoint(32875.5, 45.0, -90.0, 1);
    point.set = HalvexHoldsAltitude | HalvexHoldsTemperature;
    point.altitude = 2.0;
    point.temperature = -1.0;
    unsigned char wire[25];
    ASSERT_EQ(EncodeTrackPointData(302, &point, wire), 25);
    const Bytes measures(wire + 12, wire + 24);
    EXPECT_EQ(measures, (Bytes{0x00, 0x00, 0x00, 0x40} + kNotSet + Bytes{0x00, 0x00, 0x80, 0xBF}));
    halvexsim::TrackPoint simulated = halvexsim::TrackPointFromWire(Bytes(wire, wire + 25), 302);
    EXPECT_EQ(simulated.altitude, 2.0f);
    EXPECT_EQ(simulated.temperature, -1.0f);
    EXPECT_EQ(halvexsim::TrackPointToWire(simulated, 302), Bytes(wire, wire + 25));
    TrackPointRecord back;
    DecodeTrackPoint(302, wire, 25, &back);
    EXPECT_EQ(back.set, HalvexHoldsTime | HalvexHoldsAltitude | HalvexHoldsTemperature);
    EXPECT_EQ(back.altitude, 2.0);

    point.set |= HalvexHoldsTrackName;
    point.trackColour = 3;
    point.trackDisplay = 0;
    CopyText(point.trackName, sizeof point.trackName, "Morning walk");
    unsigned char header[64];
    int length = EncodeTrackHeaderData(312, 1, &point, header);
    const Bytes expected = Bytes{0, 3} + Text("Morning walk");
    EXPECT_EQ(Bytes(header, header + length), expected);
    halvexsim::TrackPoint first;
    first.trackName = "Morning walk";
    first.trackColour = 3;
    first.trackDisplay = 0;
    EXPECT_EQ(halvexsim::TrackHeaderToWire(312, 1, first), expected);
    TrackPointRecord heading{};
    DecodeTrackHeader(312, expected.data(), static_cast<int>(expected.size()), &heading);
    EXPECT_STREQ(heading.trackName, "Morning walk");
    EXPECT_EQ(heading.trackColour, 3);
}

} // namespace
